#include "sim/partqueue.h"

#include "sim/parameterstore.h"

#include <QBuffer>
#include <QDateTime>

namespace vm::sim {

namespace {

// A fetched file travels as base64 lines of this many characters.
constexpr qsizetype kChunkChars = 4096;

// Qualifier words that select by grade, and the grade ranges they take.
struct GradeRange {
    const char* qualifier;
    const char* grades; // grade classes: G good, F fair, P poor, X failed
};
constexpr GradeRange kGradeRanges[] = {
    {"VER_GOOD_FAIR_POOR_FAILED", "GFPX"},
    {"VER_GOOD_FAIR_POOR", "GFP"},
    {"VER_GOOD_FAIR", "GF"},
    {"VER_GOOD", "G"},
    {"VER_FAIR", "F"},
    {"VER_POOR", "P"},
    {"VER_FAILED", "X"},
    {"VER_POOR_FAILED", "PX"},
    {"VER_FAIR_POOR_FAILED", "FPX"},
};

// A grade letter's class: A good, B fair, C and D poor, F failed.
QChar gradeClass(const QString& grade) {
    const QString g = grade.trimmed().toUpper();
    if (g == QLatin1String("A"))
        return u'G';
    if (g == QLatin1String("B"))
        return u'F';
    if (g == QLatin1String("C") || g == QLatin1String("D"))
        return u'P';
    if (g == QLatin1String("F"))
        return u'X';
    return {};
}

} // namespace

PartQueue::PartQueue(ParameterStore& store, QString readerName, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_readerName(std::move(readerName)) {
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &PartQueue::pump);
    connect(&m_transfer, &FtpTransfer::finished, this, &PartQueue::transferFinished);
    settingsChanged();
}

QString PartQueue::failureOf(const CycleOutput& out) {
    if (!out.located && !out.symbolFound)
        return QStringLiteral("LOCFL");
    if (!out.symbolFound)
        return QStringLiteral("DECFL");
    if (out.match == QLatin1String("FAIL"))
        return QStringLiteral("MATCHFL");
    // Read, and matched or not matching, yet failed: the cycle itself went wrong.
    return QStringLiteral("RTE");
}

bool PartQueue::gradeQualifies(const QString& qualifier, const QString& grade) {
    const QChar c = gradeClass(grade);
    if (c.isNull())
        return false;
    for (const GradeRange& r : kGradeRanges)
        if (qualifier == QLatin1String(r.qualifier))
            return QLatin1String(r.grades).contains(c);
    return false;
}

bool PartQueue::qualifies(const CycleOutput& out, const QString& failure, const QString& grade) const {
    const QString qualifier = m_store.fields(QStringLiteral("PARTQ")).value(1);
    if (qualifier == QLatin1String("ALL"))
        return true;
    if (qualifier == QLatin1String("PASSED"))
        return out.passed;
    if (qualifier == QLatin1String("FAILED")) {
        if (out.passed)
            return false;
        const QString kind = m_store.fields(QStringLiteral("PARTQFAIL")).value(0);
        return kind.isEmpty() || kind == QLatin1String("ALL") || kind == failure;
    }
    return gradeQualifies(qualifier, grade);
}

qint64 PartQueue::capacityWithImages() const {
    // A queued image is kept as the bitmap the reader would send: header, palette, rows of
    // four-byte multiples.
    const qint64 row = (qint64(m_imageSize.width()) + 3) / 4 * 4;
    const qint64 image = 54 + 1024 + row * m_imageSize.height();
    return kMemoryBytes / (image + kResultBytes);
}

qint64 PartQueue::capacityWithoutImages() const {
    return kMemoryBytes / kResultBytes;
}

qint64 PartQueue::limit() const {
    const QStringList q = m_store.fields(QStringLiteral("PARTQ"));
    const qint64 maximum = q.value(2).toLongLong();
    const qint64 memory = q.value(0) == QLatin1String("Y") ? capacityWithImages() : capacityWithoutImages();
    return std::min(maximum, memory);
}

PartQueue::Ftp PartQueue::ftp() const {
    QStringList f = m_store.fields(QStringLiteral("PARTQFTPEX"));
    if (f.isEmpty())
        f = m_store.fields(QStringLiteral("PARTQFTP"));
    Ftp out;
    out.host = stripQuotes(f.value(0)).trimmed();
    out.path = stripQuotes(f.value(1)).trimmed();
    out.results = f.value(2) == QLatin1String("Y");
    // Images go out only while the queue keeps them.
    out.images = f.value(3) == QLatin1String("Y") &&
                 m_store.fields(QStringLiteral("PARTQ")).value(0) == QLatin1String("Y");
    out.maxRecords = f.value(4).toInt();
    out.on = !out.path.isEmpty() && !out.host.isEmpty() && (out.results || out.images);
    return out;
}

QString PartQueue::resultName(qint64 number) const {
    return QStringLiteral("%1_%2.txt").arg(m_readerName).arg(number, 9, 10, QLatin1Char('0'));
}

QString PartQueue::imageName(qint64 number) const {
    return QStringLiteral("%1_%2.bmp").arg(m_readerName).arg(number, 9, 10, QLatin1Char('0'));
}

QByteArray PartQueue::bitmap(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

QByteArray PartQueue::resultText(const CycleOutput& out, qint64 number, qint64 timeMs, const QString& failure,
                                 const QString& grade) const {
    QString t;
    t += QStringLiteral("Camera: %1\r\n").arg(m_readerName);
    t += QStringLiteral("Record: %1\r\n").arg(number);
    t += QStringLiteral("Time: %1\r\n")
             .arg(QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC).toString(Qt::ISODateWithMs));
    t += QStringLiteral("Result: %1\r\n").arg(out.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
    if (!out.passed)
        t += QStringLiteral("Failure: %1\r\n").arg(failure);
    t += QStringLiteral("Symbology: %1\r\n").arg(out.symbology);
    // The decoded text is the reader's, so it is cut to a line of bounded length.
    QString text = out.text.left(1024);
    text.replace(u'\r', u' ').replace(u'\n', u' ');
    t += QStringLiteral("Text: %1\r\n").arg(text);
    t += QStringLiteral("Status: %1\r\n").arg(out.status.left(256));
    if (!grade.isEmpty())
        t += QStringLiteral("Grade: %1\r\n").arg(grade);
    if (!out.match.isEmpty())
        t += QStringLiteral("Match: %1\r\n").arg(out.match);
    return t.toUtf8();
}

void PartQueue::offer(const CycleOutput& out, qint64 number, qint64 timeMs) {
    const QString mode = m_store.fields(QStringLiteral("PARTQ")).value(0);
    if (mode != QLatin1String("Y") && mode != QLatin1String("R"))
        return;
    if (!out.image.isNull() && out.image.size() != m_imageSize) {
        m_imageSize = out.image.size();
        settingsChanged();
    }
    const QString failure = out.passed ? QString() : failureOf(out);
    const QString grade = out.verification.value(QStringLiteral("overallGrade")).toString();
    if (!qualifies(out, failure, grade) || limit() <= 0)
        return;
    Part p;
    p.number = number;
    p.timeMs = timeMs;
    p.passed = out.passed;
    p.failure = failure;
    p.grade = grade;
    p.result = resultText(out, number, timeMs, failure, grade);
    if (mode == QLatin1String("Y"))
        p.image = out.image.isNull() ? QImage(m_imageSize, QImage::Format_Grayscale8) : out.image;
    m_parts.push_back(std::move(p));
    trim();
    pump();
}

void PartQueue::trim() {
    const qint64 keep = limit();
    while (qint64(m_parts.size()) > std::max<qint64>(keep, 0)) {
        // The part the running transfer is sending stays until the transfer ends.
        if (m_step != Step::None && m_step != Step::Remove && m_parts.front().number == m_stepNumber &&
            m_parts.size() > 1) {
            m_parts.erase(m_parts.begin() + 1);
        } else if (m_step != Step::None && m_step != Step::Remove && m_parts.front().number == m_stepNumber) {
            break;
        } else {
            m_parts.pop_front();
        }
        ++m_dropped;
    }
}

const PartQueue::Part* PartQueue::find(qint64 number) const {
    for (const Part& p : m_parts)
        if (p.number == number)
            return &p;
    return nullptr;
}

void PartQueue::clear() {
    if (m_step != Step::None && m_step != Step::Remove) {
        // The part on its way stays until its transfer ends.
        std::erase_if(m_parts, [this](const Part& p) { return p.number != m_stepNumber; });
        return;
    }
    m_parts.clear();
}

void PartQueue::settingsChanged() {
    const QStringList capacity{QString::number(capacityWithImages()),
                               QString::number(capacityWithoutImages())};
    if (m_store.fields(QStringLiteral("PARTQCAPACITY")) != capacity &&
        !m_store.fields(QStringLiteral("PARTQCAPACITY")).isEmpty())
        m_store.setFields(QStringLiteral("PARTQCAPACITY"), capacity);
    if (m_store.fields(QStringLiteral("PARTQ")).value(0) == QLatin1String("N")) {
        m_parts.clear();
        m_onServer.clear();
    }
    trim();
    // New FTP settings are tried at once rather than after the back-off.
    m_retryMs = kFirstRetryMs;
    m_retry.stop();
    pump();
}

void PartQueue::pump() {
    if (m_step != Step::None || m_retry.isActive())
        return;
    const Ftp f = ftp();
    if (!f.on) {
        // Kept in memory: nothing to send.
        m_onServer.clear();
        return;
    }
    if (f.maxRecords <= 0)
        m_onServer.clear();
    else if (qint64(m_onServer.size()) > f.maxRecords) {
        const qint64 oldest = m_onServer.front();
        m_step = Step::Remove;
        m_stepNumber = oldest;
        m_transfer.remove(f.host, f.path, {resultName(oldest), imageName(oldest)});
        return;
    }
    for (Part& p : m_parts) {
        if (f.results && !p.resultSent) {
            m_step = Step::Result;
            m_stepNumber = p.number;
            m_transfer.store(f.host, f.path, resultName(p.number), p.result);
            return;
        }
        if (f.images && !p.image.isNull() && !p.imageSent) {
            m_step = Step::Image;
            m_stepNumber = p.number;
            m_transfer.store(f.host, f.path, imageName(p.number), bitmap(p.image));
            return;
        }
    }
}

void PartQueue::transferFinished(bool ok, const QString& error) {
    const Step step = std::exchange(m_step, Step::None);
    if (!ok) {
        m_lastError = error;
        m_retry.start(m_retryMs);
        m_retryMs = std::min(m_retryMs * 2, kLongestRetryMs);
        return;
    }
    m_retryMs = kFirstRetryMs;
    m_lastError.clear();
    if (step == Step::Remove) {
        if (!m_onServer.empty() && m_onServer.front() == m_stepNumber)
            m_onServer.pop_front();
    } else {
        const Ftp f = ftp();
        for (auto it = m_parts.begin(); it != m_parts.end(); ++it) {
            if (it->number != m_stepNumber)
                continue;
            (step == Step::Result ? it->resultSent : it->imageSent) = true;
            const bool done =
                (!f.results || it->resultSent) && (!f.images || it->image.isNull() || it->imageSent);
            if (done) {
                const qint64 number = it->number;
                // On the server now: the memory is free for the next part.
                m_parts.erase(it);
                if (f.maxRecords > 0)
                    m_onServer.push_back(number);
                ++m_uploaded;
                emit partUploaded(number);
            }
            break;
        }
        trim();
    }
    pump();
}

QStringList PartQueue::listCommand(const Command& c) const {
    QStringList out;
    out << QStringLiteral("PARTQLIST %1 %2 %3 %4")
               .arg(m_parts.size())
               .arg(limit())
               .arg(m_dropped)
               .arg(m_uploaded);
    for (const Part& p : m_parts)
        out << QStringLiteral("PARTQITEM %1 %2 %3 %4 %5 %6")
                   .arg(p.number)
                   .arg(p.timeMs)
                   .arg(p.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
                   .arg(p.passed ? QStringLiteral("-") : p.failure)
                   .arg(p.grade.isEmpty() ? QStringLiteral("-") : p.grade)
                   .arg(p.image.isNull() ? QStringLiteral("R") : QStringLiteral("Y"));
    return c.ok(out);
}

QStringList PartQueue::fetchCommand(const Command& c) const {
    bool ok = false;
    const qint64 number = c.args[0].toLongLong(&ok);
    const QString kind = c.args[1].toUpper();
    if (!ok || (kind != QLatin1String("TXT") && kind != QLatin1String("BMP")))
        return c.fail(kErrorBadValue, QStringLiteral("expected PARTQGET <record> TXT|BMP"));
    const Part* part = find(number);
    if (!part)
        return c.fail(kErrorFailed, QStringLiteral("record %1 is not queued").arg(number));
    if (kind == QLatin1String("BMP") && part->image.isNull())
        return c.fail(kErrorFailed, QStringLiteral("record %1 was queued without its image").arg(number));
    const bool image = kind == QLatin1String("BMP");
    const QByteArray bytes = image ? bitmap(part->image) : part->result;
    const QByteArray encoded = bytes.toBase64();
    QStringList out;
    out << QStringLiteral("PARTQFILE %1 %2")
               .arg(image ? imageName(number) : resultName(number))
               .arg(bytes.size());
    for (qsizetype at = 0; at < encoded.size(); at += kChunkChars)
        out << QStringLiteral("PARTQDATA ") + QString::fromLatin1(encoded.mid(at, kChunkChars));
    return c.ok(out);
}

QStringList PartQueue::clearCommand(const Command& c) {
    clear();
    return c.ok();
}

} // namespace vm::sim
