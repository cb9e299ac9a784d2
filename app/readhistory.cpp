#include "app/readhistory.h"

#include "history/historystore.h"
#include "history/recorder.h"
#include "link/connection.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>

namespace vm::app {

namespace {
QString& fileOverride() {
    static QString path;
    return path;
}
} // namespace

QString historyFile() {
    return fileOverride().isEmpty() ? vm::history::HistoryStore::defaultPath() : fileOverride();
}

void setHistoryFile(const QString& path) {
    fileOverride() = path;
}

ReadHistory::ReadHistory(QObject* parent)
    : QObject(parent) {}

ReadHistory::~ReadHistory() {
    close();
}

bool ReadHistory::isRecording() const {
    return m_store && m_recorder && m_recorder->isEnabled();
}

qint64 ReadHistory::recorded() const {
    return m_recorder ? m_recorder->recorded() : 0;
}

void ReadHistory::applyPreferences() {
    SettingsStore& store = settings();
    m_wanted = store.flag(keys::RecordHistory);
    vm::history::Retention retention;
    retention.maxAgeMs = std::max<qint64>(1, store.number(keys::HistoryKeepDays)) * 24 * 3600 * 1000;
    retention.maxBytes = std::max<qint64>(1, store.number(keys::HistoryKeepMegabytes)) * 1024 * 1024;
    if (!m_wanted) {
        close();
        return;
    }
    if (m_store) {
        m_store->setRetention(retention);
        m_store->enforceRetention();
        return;
    }
    if (m_opening)
        return;
    m_opening = true;
    const quint64 generation = ++m_generation;
    const QString path = historyFile();
    QPointer<ReadHistory> self(this);
    QThread* main = thread();
    // Opening may create the folder, bring an older file up to date and check it: disk work
    // that the interface thread does not wait for.
    QThread* opener = QThread::create([self, path, retention, generation, main] {
        auto store = std::make_unique<vm::history::HistoryStore>();
        QString error;
        if (store->open(path, &error))
            store->setRetention(retention);
        else
            store.reset();
        if (store)
            store->moveToThread(main);
        vm::history::HistoryStore* raw = store.release();
        const bool delivered = QMetaObject::invokeMethod(
            qApp,
            [self, raw, error, generation] {
                if (self)
                    self->opened(raw, error, generation);
                else
                    delete raw;
            },
            Qt::QueuedConnection);
        if (!delivered)
            delete raw;
    });
    connect(opener, &QThread::finished, opener, &QObject::deleteLater);
    opener->start();
}

void ReadHistory::opened(vm::history::HistoryStore* store, const QString& error, quint64 generation) {
    std::unique_ptr<vm::history::HistoryStore> owned(store);
    if (generation != m_generation)
        return; // turned off (or on again) meanwhile
    m_opening = false;
    if (!owned) {
        emit message(error);
        return;
    }
    if (!m_wanted)
        return;
    m_store = std::move(owned);
    m_toldPause = false;
    connect(m_store.get(), &vm::history::HistoryStore::paused, this, [this](const QString& why) {
        // Told once: the store keeps retrying, and the status bar is not to flicker with it.
        if (m_toldPause)
            return;
        m_toldPause = true;
        emit message(why);
    });
    connect(m_store.get(), &vm::history::HistoryStore::resumed, this, [this] { m_toldPause = false; });
    m_conn = std::make_unique<vm::link::ReaderConnection>();
    m_recorder = std::make_unique<vm::history::Recorder>(*m_store);
    m_recorder->followConnection(m_conn.get());
    emit ready();
}

void ReadHistory::close() {
    ++m_generation;
    m_opening = false;
    m_recorder.reset();
    m_conn.reset();
    // Closing writes what waits: on the interface thread, but only when recording is turned
    // off or the program ends.
    m_store.reset();
}

} // namespace vm::app
