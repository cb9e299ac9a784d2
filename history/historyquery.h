#pragma once

#include "history/drift.h"
#include "history/gradebands.h"
#include "history/readentry.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QIODevice;

namespace vm::history {

namespace sql {
class Database;
}

struct ReaderSummary {
    QString name;
    QString mac;
    qint64 reads = 0;
    qint64 firstMs = 0;
    qint64 lastMs = 0;
};

// Reads of one interval: what they came to.
struct CountBucket {
    qint64 startMs = 0;
    qint64 pass = 0, fail = 0, noRead = 0;
    qint64 total() const { return pass + fail + noRead; }
    // Share of reads that passed, 0 to 100 %; NaN without reads.
    double readRate() const;
};

// The graded values of one parameter in one interval.
struct ValueBucket {
    qint64 startMs = 0;
    qint64 count = 0;
    double mean = 0, min = 0, max = 0;
    int worstGrade = -1;
};

// One parameter of one reader over a time range: its values per interval, the bands they
// are drawn over and what the drift rule makes of them.
struct ParameterTrend {
    QString reader;
    QString parameter;
    qint64 fromMs = 0, toMs = 0, intervalMs = 0;
    // The value bands; without them (Decode, Minimum Reflectance) the trend follows the grade
    // (4 A to 0 F) and `onGrades` is set.
    GradeBands bands;
    bool onGrades = false;
    QList<ValueBucket> buckets;
    Drift drift;
};

struct WorstRead {
    qint64 id = 0;
    qint64 timeMs = 0;
    qint64 number = 0;
    ReadResult result = ReadResult::NoRead;
    QString failure;
    QString text;
    int overallGrade = -1;
    QString imageFile;
};

// Questions to a history file, on a connection of its own: any thread may own one, and it
// reads while a store writes.
class HistoryQuery {
public:
    HistoryQuery();
    ~HistoryQuery();

    bool open(const QString& path, QString* error);
    bool isOpen() const;

    QList<ReaderSummary> readers();
    // Parameters this reader graded within the range, in the order the reader lists them.
    QStringList parameters(const QString& reader, qint64 fromMs, qint64 toMs);
    QList<CountBucket> counts(const QString& reader, qint64 fromMs, qint64 toMs, qint64 intervalMs);
    // False when the reader or parameter has nothing in the range.
    std::optional<ParameterTrend> trend(const QString& reader, const QString& parameter, qint64 fromMs,
                                        qint64 toMs, qint64 intervalMs);
    // The drift rule over every graded parameter of the reader: flagged ones first.
    QList<Drift> drifts(const QString& reader, qint64 fromMs, qint64 toMs);
    // The worst reads: no reads first, then failures, then by overall grade; newest first within.
    QList<WorstRead> worstReads(const QString& reader, qint64 fromMs, qint64 toMs, int limit);
    // Reads with everything kept of them, oldest first (at most `limit`, 0 all).
    QList<ReadEntry> reads(const QString& reader, qint64 fromMs, qint64 toMs, int limit = 0);
    // One line per read: time, reader, MAC, number, result, failure, symbology, text, overall
    // grade, image, then value and grade of each parameter. Empty reader: every reader.
    bool exportCsv(const QString& reader, qint64 fromMs, qint64 toMs, QIODevice& out, QString* error);
    qint64 readCount();

private:
    QList<qint64> readerIds(const QString& reader);
    bool twoDimensional(const QList<qint64>& readers, qint64 fromMs, qint64 toMs);
    std::unique_ptr<sql::Database> m_db;
    QString m_path;
};

// A time range the way the command line and the window give it: "8h", "30m", "2d", "90s".
// -1 when the text is not one.
qint64 parseSpan(const QString& text);

} // namespace vm::history
