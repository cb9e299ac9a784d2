#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>

namespace vm::sim {

// Data channel frames: "LVX1", u16 type, u16 flags, u32 payload length (little-endian), payload.
enum class FrameType : quint16 {
    Subscribe = 1,
    Record = 2,
    Event = 3,
    FileBegin = 4,
    FileData = 5,
    FileEnd = 6,
    FileAck = 7,
};

constexpr int kFrameHeaderSize = 12;
constexpr qint64 kMaxFramePayload = 16 * 1024 * 1024;
constexpr int kMaxCommandLine = 4096;
constexpr int kMaxFileDataChunk = 64 * 1024;
constexpr qint64 kMaxTransferFile = 8 * 1024 * 1024;
constexpr int kMaxTransferFiles = 64;
constexpr int kMaxClientsPerChannel = 32;
// A data client that has this much unsent data gets no further records until it catches up.
constexpr qint64 kMaxPendingDataBytes = 8 * 1024 * 1024;

struct Frame {
    FrameType type = FrameType::Record;
    QByteArray payload;
};

QByteArray encodeFrame(FrameType type, const QByteArray& payload);
QByteArray encodeJsonFrame(FrameType type, const QJsonObject& object);

// Cuts frames out of a byte stream. Bad magic or an oversized length drops bytes up to the next
// magic; the buffer never holds more than one largest frame.
class FrameReader {
public:
    // Appends bytes and returns the complete frames found.
    QList<Frame> feed(const QByteArray& bytes);
    int droppedBytes() const { return m_dropped; }
    qsizetype buffered() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    int m_dropped = 0;
};

} // namespace vm::sim
