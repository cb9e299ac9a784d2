#pragma once

#include "link/record.h"

#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

class QThread;

namespace vm::tools {

// Writes images to files on a thread of its own, so that a reader at its top rate never
// waits for the disk on the user-interface thread. The queue holds two seconds of images,
// which covers the disk's pauses; an image that finds it full is dropped and counted, never
// waited for: once the disk is that far behind, waiting would hold the whole program, and
// the reader would then lose records (not only images) for every window. Each file is
// written whole or not at all.
class ImageRecorder : public QObject {
    Q_OBJECT
public:
    // Two seconds of images at the reader's top rate; about 80 MB of grey images.
    static constexpr int kMaxQueued = 240;

    explicit ImageRecorder(QObject* parent = nullptr);
    // Writes what is queued, then stops.
    ~ImageRecorder() override;

    // False when the image was dropped (the queue was full).
    bool enqueue(const vm::link::RecordImage& image, const QString& path);
    // Waits until every queued image is written; false when that took longer.
    bool waitIdle(int timeoutMs);

    quint64 written() const;
    quint64 failed() const;
    quint64 dropped() const;
    int queued() const;

    // The name the writing thread goes by in the system's tools (and in the tools bench).
    static constexpr const char* kThreadName = "image writer";

signals:
    // From the writing thread, delivered on the recorder's thread.
    void fileWritten(const QString& path);
    void writeFailed(const QString& path, const QString& error);

private:
    struct Job {
        vm::link::RecordImage image;
        QString path;
    };
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_room;
    std::deque<Job> m_jobs;
    bool m_writing = false;
    bool m_stop = false;
    quint64 m_written = 0;
    quint64 m_failed = 0;
    quint64 m_dropped = 0;
    std::unique_ptr<QThread> m_thread;
};

} // namespace vm::tools
