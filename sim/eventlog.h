#pragma once

#include <QFile>
#include <QJsonObject>
#include <QString>

namespace vm::sim {

// `--log FILE`: every command, reply, record and event as one JSON object per line.
class EventLog {
public:
    bool open(const QString& path, QString* error);
    bool isOpen() const { return m_file.isOpen(); }
    // Adds "time" (ms since the epoch), "reader" and "kind" to the object and writes it.
    void write(const QString& reader, const QString& kind, QJsonObject object);

private:
    QFile m_file;
};

} // namespace vm::sim
