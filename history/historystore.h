#pragma once

#include "history/readentry.h"

#include <QObject>
#include <QString>

#include <memory>

namespace vm::history {

// How long and how much history is kept. The oldest reads go first once either is passed.
struct Retention {
    qint64 maxAgeMs = qint64(90) * 24 * 3600 * 1000;  // 90 days
    qint64 maxBytes = qint64(2) * 1024 * 1024 * 1024; // 2 GiB of history in the file
};

// Keeps every read it is given in one history file (SQLite, write-ahead log). Reads are
// appended from any thread without waiting; a writer thread of the store commits them in
// batches at least every kBatchMs, so that a crash loses at most the last batch and never
// damages the file. A full disk pauses recording with a message (signal `paused`) and leaves
// everything else running; the store tries again every kRetryPausedMs or on `resume`.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    static constexpr int kBatchMs = 250;
    static constexpr int kMaxBatch = 5000;
    // Reads waiting for the disk beyond this many are dropped and counted.
    static constexpr int kMaxWaiting = 200000;
    static constexpr int kRetentionEveryMs = 60000;
    static constexpr int kRetryPausedMs = 10000;

    struct Stats {
        qint64 appended = 0;
        qint64 written = 0;
        qint64 dropped = 0; // not kept: the queue was full while the disk was
        qint64 batches = 0;
        qint64 removedByRetention = 0;
    };

    explicit HistoryStore(QObject* parent = nullptr);
    ~HistoryStore() override; // writes what is waiting, then closes

    // The history file of this user: "history.sqlite" in the program's data folder.
    static QString defaultPath();

    // Opens the file, creating it and its folder, and brings its layout up to date. False with
    // a sentence for the operator (a file of a newer program, not a history file, no access).
    bool open(const QString& path, QString* error);
    void close();
    bool isOpen() const;
    QString path() const;

    // Queues one read; returns at once. Ignored when the store is not open.
    void append(const ReadEntry& entry);
    // Waits until everything appended so far is written (or given up); false on time-out or
    // when the store is paused with reads waiting.
    bool flush(int timeoutMs = 10000);

    void setRetention(const Retention& retention);
    Retention retention() const;
    // Applies the retention limits now, on the writer thread; flush() afterwards waits for it.
    void enforceRetention();

    bool isPaused() const;
    QString pauseReason() const;
    // Tries again at once after a pause (the operator freed space).
    void resume();
    Stats stats() const;

signals:
    // Recording stopped because the file cannot grow or be written; `why` says so in full.
    void paused(const QString& why);
    void resumed();

private:
    struct Writer;
    std::unique_ptr<Writer> m_writer;
    QString m_path;
};

} // namespace vm::history
