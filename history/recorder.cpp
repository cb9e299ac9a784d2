#include "history/recorder.h"

#include "history/historystore.h"
#include "history/readentry.h"
#include "link/connection.h"
#include "link/device.h"

#include <QDateTime>

namespace vm::history {

Recorder::Recorder(HistoryStore& store, QObject* parent)
    : QObject(parent)
    , m_store(store) {}

void Recorder::followConnection(vm::link::Connection* connection) {
    connect(connection, &vm::link::Connection::OnNewRecord, this,
            [this, connection](const vm::link::Record& r) {
                // The reader is asked at each record: the connection follows whichever is focused.
                const vm::link::Device* device = connection->Device();
                if (device)
                    take(r, device->Name(), device->MacAddress());
            });
}

void Recorder::followDevice(vm::link::Device* device) {
    QPointer<vm::link::Device> guarded(device);
    connect(device, &vm::link::Device::recordReceived, this, [this, guarded](const vm::link::Record& r) {
        if (guarded)
            take(r, guarded->Name(), guarded->MacAddress());
    });
}

void Recorder::setImageNamer(std::function<QString(const QString&, const vm::link::Record&)> namer) {
    m_imageNamer = std::move(namer);
}

void Recorder::take(const vm::link::Record& record, const QString& reader, const QString& mac) {
    if (!m_enabled || !m_store.isOpen())
        return;
    // Calibration records conclude a command rather than read a part.
    if (record.HasCalibration())
        return;
    const QString image = m_imageNamer ? m_imageNamer(reader, record) : QString();
    m_store.append(entryFromRecord(record, reader, mac, QDateTime::currentMSecsSinceEpoch(), image));
    ++m_recorded;
    emit recordedRead(reader, record.Number());
}

} // namespace vm::history
