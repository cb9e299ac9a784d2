#include "tools/imagerecorder.h"

#include <QMetaObject>
#include <QThread>

#include <chrono>

namespace vm::tools {

ImageRecorder::ImageRecorder(QObject* parent)
    : QObject(parent)
    , m_thread(QThread::create([this] { run(); })) {
    m_thread->setObjectName(QString::fromLatin1(kThreadName));
    m_thread->start();
}

ImageRecorder::~ImageRecorder() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_work.notify_all();
    m_thread->wait();
}

bool ImageRecorder::enqueue(const vm::link::RecordImage& image, const QString& path) {
    std::unique_lock lock(m_mutex);
    if (int(m_jobs.size()) >= kMaxQueued) {
        ++m_dropped;
        return false;
    }
    m_jobs.push_back({image, path});
    lock.unlock();
    m_work.notify_one();
    return true;
}

bool ImageRecorder::waitIdle(int timeoutMs) {
    std::unique_lock lock(m_mutex);
    return m_room.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return m_jobs.empty() && !m_writing; });
}

quint64 ImageRecorder::written() const {
    std::lock_guard lock(m_mutex);
    return m_written;
}

quint64 ImageRecorder::failed() const {
    std::lock_guard lock(m_mutex);
    return m_failed;
}

quint64 ImageRecorder::dropped() const {
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

int ImageRecorder::queued() const {
    std::lock_guard lock(m_mutex);
    return int(m_jobs.size());
}

void ImageRecorder::run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_jobs.empty())
            return; // stopping, and everything is written
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_writing = true;
        lock.unlock();
        QString error;
        // Each file appears whole or not at all; a disk flush per image would cap the rate
        // below the reader's.
        const bool ok = job.image.SaveToFile(job.path, &error, vm::link::Durability::Unsynced);
        lock.lock();
        m_writing = false;
        if (ok)
            ++m_written;
        else
            ++m_failed;
        m_room.notify_all();
        lock.unlock();
        if (ok)
            QMetaObject::invokeMethod(
                this, [this, path = job.path] { emit fileWritten(path); }, Qt::QueuedConnection);
        else
            QMetaObject::invokeMethod(
                this, [this, path = job.path, error] { emit writeFailed(path, error); },
                Qt::QueuedConnection);
        lock.lock();
    }
}

} // namespace vm::tools
