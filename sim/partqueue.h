#pragma once

#include "sim/command.h"
#include "sim/ftpupload.h"
#include "sim/readcycle.h"

#include <QByteArray>
#include <QImage>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <deque>

namespace vm::sim {

class ParameterStore;

// The reader's part queue: the records of the parts that qualify (by result, failure kind or
// grade), each with its image when the mode keeps images, held in the reader's memory up to
// the maximum (the oldest go first) for as long as the reader runs. With an FTP path set,
// each queued part's result (.txt) and image (.bmp) go to the FTP server, oldest first; a
// part leaves the memory once its files are there, and a failed transfer is tried again
// later, the same file under the same name, so that no part is lost or sent twice.
class PartQueue : public QObject {
    Q_OBJECT
public:
    // The memory the queue may fill; the capacity figures divide it by a part's size.
    static constexpr qint64 kMemoryBytes = 64ll * 1024 * 1024;
    // What one result takes in memory, text and book-keeping together.
    static constexpr qint64 kResultBytes = 2048;
    // The waits between attempts while the FTP server cannot be reached.
    static constexpr int kFirstRetryMs = 250;
    static constexpr int kLongestRetryMs = 2000;

    struct Part {
        qint64 number = 0;
        qint64 timeMs = 0;
        bool passed = false;
        QString failure; // "LOCFL", "DECFL", "MATCHFL", "RTE"; empty for a passed part
        QString grade;   // the overall grade letter; empty when the reader did not grade
        QByteArray result;
        QImage image; // null when the mode keeps results only
        bool resultSent = false;
        bool imageSent = false;
    };

    PartQueue(ParameterStore& store, QString readerName, QObject* parent = nullptr);

    void setReaderName(const QString& name) { m_readerName = name; }
    // Offers the record of a finished cycle; it is queued when it qualifies.
    void offer(const CycleOutput& out, qint64 number, qint64 timeMs);
    // The part-queue parameters were written: the capacity is figured again and the FTP
    // transfers follow the new settings.
    void settingsChanged();

    const std::deque<Part>& parts() const { return m_parts; }
    const Part* find(qint64 number) const;
    void clear();
    // Parts dropped to make room before they reached the FTP server or were fetched.
    qint64 dropped() const { return m_dropped; }
    qint64 uploaded() const { return m_uploaded; }
    QString lastError() const { return m_lastError; }
    // How many parts fit, with images and without.
    qint64 capacityWithImages() const;
    qint64 capacityWithoutImages() const;
    // The keep limit in force: the maximum records, within what the memory holds.
    qint64 limit() const;

    // The commands that list, fetch and empty the queue: PARTQLIST, PARTQGET <record> TXT|BMP
    // (the file as base64 lines) and PARTQCLEAR.
    QStringList listCommand(const Command& c) const;
    QStringList fetchCommand(const Command& c) const;
    QStringList clearCommand(const Command& c);

    // File names of a part, as they are stored on the FTP server and fetched by command.
    QString resultName(qint64 number) const;
    QString imageName(qint64 number) const;
    static QByteArray bitmap(const QImage& image);
    // The failure kind of a failed cycle.
    static QString failureOf(const CycleOutput& out);
    // Whether a grade letter falls in a qualifier's grade range.
    static bool gradeQualifies(const QString& qualifier, const QString& grade);

signals:
    // A part's files are on the FTP server.
    void partUploaded(qint64 number);

private:
    struct Ftp {
        bool on = false;
        QString host;
        QString path;
        bool results = false;
        bool images = false;
        int maxRecords = 0; // 0: no limit on the server
    };
    Ftp ftp() const;
    bool qualifies(const CycleOutput& out, const QString& failure, const QString& grade) const;
    QByteArray resultText(const CycleOutput& out, qint64 number, qint64 timeMs, const QString& failure,
                          const QString& grade) const;
    void trim();
    void pump();
    void transferFinished(bool ok, const QString& error);

    ParameterStore& m_store;
    QString m_readerName;
    std::deque<Part> m_parts;
    QSize m_imageSize{659, 494};
    FtpTransfer m_transfer;
    QTimer m_retry;
    int m_retryMs = kFirstRetryMs;
    // What the running transfer is doing: storing a part's result or image, or deleting
    // the oldest part's files on the server.
    enum class Step { None, Result, Image, Remove } m_step = Step::None;
    qint64 m_stepNumber = 0;
    std::deque<qint64> m_onServer; // parts on the server, oldest first
    qint64 m_dropped = 0;
    qint64 m_uploaded = 0;
    QString m_lastError;
};

} // namespace vm::sim
