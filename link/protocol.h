#pragma once

#include "link/fields.h" // splitFields, for the callers that split replies
#include "link/logging.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

#include <optional>

namespace vm::link {

class Record;

// Ports and limits of the reader protocol (docs/protocol.md).
inline constexpr quint16 kDiscoveryPort = 4370;
inline constexpr quint16 kDefaultCommandPort = 4371;
inline constexpr quint16 kDefaultDataPort = 4372;
inline constexpr int kDiscoveryInterval = 1000;     // ms between probes
inline constexpr int kDiscoveryMissLimit = 3;       // unanswered probes before a reader has vanished
inline constexpr int kMaxCommandLine = 4096;        // bytes, LF included
inline constexpr int kMaxReplyLines = 100000;       // data lines one command may collect
inline constexpr int kMaxReplyBytes = 8 << 20;      // bytes of data lines one command may collect
inline constexpr int kMaxReplyLineLength = 1 << 20; // a longer reply line ends its command's reply
inline constexpr qint64 kMaxImagePixels = 16 << 20; // a record image's width x height, inflated bytes
inline constexpr int kMaxImageSide = 16384;         // a record image's width or height
inline constexpr int kMaxDiscoveredReaders =
    1024; // readers discovery keeps (a plant's worth); more answers are ignored
inline constexpr int kDiscoveryForgetMs = 300000; // a vanished reader is forgotten after this
inline constexpr int kMaxReaderNameLength = 64;   // characters of a reader's name
inline constexpr quint32 kMaxFramePayload = 16u * 1024u * 1024u;
inline constexpr int kFileChunkSize = 64 * 1024;

// Time-outs (ms), readable by callers and tests.
inline constexpr int kCommandTimeoutMs = 500;    // ordinary commands
inline constexpr int kConnectTimeoutMs = 3000;   // opening a command, data or serial link
inline constexpr int kHandshakeTimeoutMs = 2000; // station, version, controller and name after connecting
inline constexpr int kFileAckTimeoutMs = 10000;  // the reader's answer after each transferred file
inline constexpr int kReconnectFirstDelayMs = 100;
inline constexpr int kReconnectMaxDelayMs = 2000;
inline constexpr int kMaxQueuedRecords = 64; // records waiting for delivery; older ones are dropped

enum class FrameType : quint16 {
    Subscribe = 1,
    Record = 2,
    Event = 3,
    FileBegin = 4,
    FileData = 5,
    FileEnd = 6,
    FileAck = 7,
};

inline constexpr int kFrameHeaderSize = 12;

struct Frame {
    quint16 type = 0;
    QByteArray payload;
};

QByteArray encodeFrame(FrameType type, const QByteArray& payload);

// Reassembles data-channel frames from a byte stream. Bad magic or an oversized
// length is skipped up to the next magic with a logged warning; the stream goes on.
class FrameDecoder {
public:
    void append(const QByteArray& bytes) { m_buffer.append(bytes); }
    std::optional<Frame> next();
    qint64 droppedBytes() const { return m_droppedBytes; }
    void clear() { m_buffer.clear(); }

private:
    void resync(qsizetype from, const char* why);

    QByteArray m_buffer;
    qint64 m_droppedBytes = 0;
    WarningLimiter m_warnings;
};

// The command's first word, upper-cased: the keyword its status line echoes.
QString commandKeyword(const QString& command);

// True for a reader name the program accepts: 1 to kMaxReaderNameLength printable
// characters (no control or direction-override characters), no path separators,
// no leading or trailing blanks, not "." or "..".
bool isAcceptableReaderName(const QString& name);
// Why the program cannot use this name, in a few words for the operator ("contains '/'");
// empty for a name it accepts.
QString readerNameProblem(const QString& name);

// Inflates qCompress output (a 4-byte big-endian size, then a zlib stream) whose
// size must be exactly expectedSize; never allocates more than that.
std::optional<QByteArray> inflateBounded(const QByteArray& compressed, qint64 expectedSize,
                                         QString* errorText = nullptr);

// One reader's answer to a discovery probe. The address is always the datagram's sender.
struct DiscoveryAnswer {
    QString name;
    QHostAddress address;
    quint16 commandPort = kDefaultCommandPort;
    quint16 dataPort = kDefaultDataPort;
    QString version;
    QString controller;
    QString mac;
    QString serial;
    // Why the name cannot be used; empty for an accepted name. Such a reader is reachable
    // only by its address, and its name (kept at most kMaxKeptRefusedName characters) is
    // only ever shown, escaped.
    QString nameProblem;
};

inline constexpr int kMaxKeptRefusedName = 256;

QByteArray discoveryProbe();
// An answer from a reader whose name the program accepts.
std::optional<DiscoveryAnswer> parseDiscoveryAnswer(const QByteArray& datagram, const QHostAddress& sender);
// Any well-formed answer, whatever its name: nameProblem tells whether the name is usable.
std::optional<DiscoveryAnswer> readDiscoveryAnswer(const QByteArray& datagram, const QHostAddress& sender);

// Decodes a RECORD payload (data channel frame or serial #RECORD block).
std::optional<Record> parseRecordPayload(const QByteArray& payload, QString* errorText = nullptr);

// True for a dotted IPv4 address of four numbers 0..255.
bool isDottedAddress(const QString& text);

} // namespace vm::link
