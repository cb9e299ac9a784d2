// The commands that list, fetch and empty the reader's part queue.

#include "sim/partqueue.h"
#include "sim/reader.h"

namespace vm::sim {

namespace {

// A fetched file travels as base64 lines of this many characters.
constexpr qsizetype kChunkChars = 4096;

} // namespace

QStringList Reader::executePartQueue(const QStringList& args, const QString& keyword,
                                     const Station& station) {
    PartQueue& queue = *m_partQueue;
    if (keyword == QLatin1String("PARTQLIST") && args.isEmpty()) {
        QStringList out;
        out << QStringLiteral("PARTQLIST %1 %2 %3 %4")
                   .arg(queue.parts().size())
                   .arg(queue.limit())
                   .arg(queue.dropped())
                   .arg(queue.uploaded());
        for (const PartQueue::Part& p : queue.parts())
            out << QStringLiteral("PARTQITEM %1 %2 %3 %4 %5 %6")
                       .arg(p.number)
                       .arg(p.timeMs)
                       .arg(p.passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"))
                       .arg(p.passed ? QStringLiteral("-") : p.failure)
                       .arg(p.grade.isEmpty() ? QStringLiteral("-") : p.grade)
                       .arg(p.image.isNull() ? QStringLiteral("R") : QStringLiteral("Y"));
        return out + statusLine(keyword);
    }
    if (keyword == QLatin1String("PARTQGET") && args.size() == 2) {
        bool ok = false;
        const qint64 number = args[0].toLongLong(&ok);
        const QString kind = args[1].toUpper();
        if (!ok || (kind != QLatin1String("TXT") && kind != QLatin1String("BMP")))
            return statusLine(keyword, kErrorBadValue, QStringLiteral("expected PARTQGET <record> TXT|BMP"));
        const PartQueue::Part* part = queue.find(number);
        if (!part)
            return statusLine(keyword, kErrorFailed, QStringLiteral("record %1 is not queued").arg(number));
        if (kind == QLatin1String("BMP") && part->image.isNull())
            return statusLine(keyword, kErrorFailed,
                              QStringLiteral("record %1 was queued without its image").arg(number));
        const bool image = kind == QLatin1String("BMP");
        const QByteArray bytes = image ? PartQueue::bitmap(part->image) : part->result;
        const QByteArray encoded = bytes.toBase64();
        QStringList out;
        out << QStringLiteral("PARTQFILE %1 %2")
                   .arg(image ? queue.imageName(number) : queue.resultName(number))
                   .arg(bytes.size());
        for (qsizetype at = 0; at < encoded.size(); at += kChunkChars)
            out << QStringLiteral("PARTQDATA ") + QString::fromLatin1(encoded.mid(at, kChunkChars));
        return out + statusLine(keyword);
    }
    if (keyword == QLatin1String("PARTQCLEAR") && args.isEmpty()) {
        if (!hasControl(station))
            return statusLine(keyword, kErrorNoControl, QStringLiteral("no programming control"));
        queue.clear();
        return statusLine(keyword);
    }
    return statusLine(keyword, kErrorUnknown, QStringLiteral("unknown form of %1").arg(keyword));
}

} // namespace vm::sim
