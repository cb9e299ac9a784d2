#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

namespace vm::link {
class Connection;
class Device;
class Record;
} // namespace vm::link

namespace vm::history {

class HistoryStore;

// Hands the records of readers to a history store as they arrive: the focused reader's
// through a connection object (the program), or any number of readers' through their device
// objects (the command line). Costs the calling thread one copy of the record's words.
class Recorder : public QObject {
    Q_OBJECT
public:
    explicit Recorder(HistoryStore& store, QObject* parent = nullptr);

    void followConnection(vm::link::Connection* connection);
    void followDevice(vm::link::Device* device);

    void setEnabled(bool enabled) { m_enabled = enabled; }
    bool isEnabled() const { return m_enabled; }
    // Gives the file name of the image saved for a record, when one was saved.
    void setImageNamer(std::function<QString(const QString& reader, const vm::link::Record&)> namer);
    qint64 recorded() const { return m_recorded; }

signals:
    void recordedRead(const QString& reader, qint64 number);

private:
    void take(const vm::link::Record& record, const QString& reader, const QString& mac);

    HistoryStore& m_store;
    bool m_enabled = true;
    qint64 m_recorded = 0;
    std::function<QString(const QString&, const vm::link::Record&)> m_imageNamer;
};

} // namespace vm::history
