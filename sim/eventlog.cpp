#include "sim/eventlog.h"

#include <QDateTime>
#include <QJsonDocument>

namespace vm::sim {

bool EventLog::open(const QString& path, QString* error) {
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        if (error)
            *error = m_file.errorString();
        return false;
    }
    return true;
}

void EventLog::write(const QString& reader, const QString& kind, QJsonObject object) {
    if (!m_file.isOpen())
        return;
    object.insert(QStringLiteral("time"), QDateTime::currentMSecsSinceEpoch());
    object.insert(QStringLiteral("reader"), reader);
    object.insert(QStringLiteral("kind"), kind);
    m_file.write(QJsonDocument(object).toJson(QJsonDocument::Compact));
    m_file.write("\n");
    // Lines must reach the file even when the simulator is killed.
    m_file.flush();
}

} // namespace vm::sim
