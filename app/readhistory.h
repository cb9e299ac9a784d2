#pragma once

#include "app/settingsstore.h"

#include <QObject>
#include <QString>

#include <memory>

namespace vm::link {
class ReaderConnection;
}

namespace vm::history {
class HistoryStore;
class Recorder;
} // namespace vm::history

namespace vm::app {

namespace keys {
inline constexpr char History[] = "History";
// Recording of the focused reader's reads, on unless turned off.
inline constexpr SettingKey RecordHistory{History, "Record", "1"};
// Retention: days of reads kept and megabytes of history in the file.
inline constexpr SettingKey HistoryKeepDays{History, "KeepDays", "90"};
inline constexpr SettingKey HistoryKeepMegabytes{History, "KeepMegabytes", "2048"};
} // namespace keys

// The history file the program records into and History and Trends reads: "history.sqlite"
// in the program's data folder unless a test named another.
QString historyFile();
void setHistoryFile(const QString& path);

// The program's recording of the focused reader: every record that reaches it goes into the
// history file. The file is opened on a thread of its own and written by the store's writer
// thread, so that the interface thread never waits on the disk; a full disk is told once and
// pauses recording until space is freed.
class ReadHistory : public QObject {
    Q_OBJECT
public:
    explicit ReadHistory(QObject* parent = nullptr);
    ~ReadHistory() override;

    // Follows the stored preferences: opens the file and records when recording is on, stops and
    // closes it when off; applies the retention limits.
    void applyPreferences();
    bool isRecording() const;
    // Open and taking records (the file is opened in the background after applyPreferences).
    bool isReady() const { return m_store != nullptr; }
    qint64 recorded() const;
    vm::history::HistoryStore* store() const { return m_store.get(); }

signals:
    // The file is open and recording has begun.
    void ready();
    // A sentence for the status bar: the file could not be opened, or recording paused.
    void message(const QString& text);

private:
    void opened(vm::history::HistoryStore* store, const QString& error, quint64 generation);
    void close();

    std::unique_ptr<vm::link::ReaderConnection> m_conn;
    std::unique_ptr<vm::history::HistoryStore> m_store;
    std::unique_ptr<vm::history::Recorder> m_recorder;
    bool m_wanted = false;
    bool m_opening = false;
    bool m_toldPause = false;
    quint64 m_generation = 0;
};

} // namespace vm::app
