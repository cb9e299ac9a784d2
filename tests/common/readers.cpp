#include "common/readers.h"

#include "app/programstate.h"
#include "app/readhistory.h"
#include "app/seriallines.h"
#include "app/settingsstore.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "shell/readerrules.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QTest>

namespace vm::testing {

QString nextAddress() {
    static int counter = 0;
    ++counter;
    const int b = 20 + int(QCoreApplication::applicationPid() % 200);
    return QStringLiteral("127.%1.%2.%3").arg(b).arg(counter / 250 + 1).arg(counter % 250 + 1);
}

sim::ReaderConfig readerConfig(const QString& name, const QString& version, const QString& address) {
    sim::ReaderConfig config;
    config.name = name;
    config.softwareVersion = version;
    config.address = QHostAddress(address);
    return config;
}

std::unique_ptr<sim::Reader> startReader(const sim::ReaderConfig& config) {
    auto reader = std::make_unique<sim::Reader>(config);
    QString error;
    if (!reader->start(&error)) {
        qWarning("cannot start the simulated reader %s: %s", qPrintable(config.name), qPrintable(error));
        return nullptr;
    }
    return reader;
}

std::unique_ptr<sim::Reader> startReader(const QString& name, const QString& address,
                                         const QString& version) {
    return startReader(readerConfig(name, version, address));
}

std::unique_ptr<sim::Simulator> startSimulator(const QList<sim::ReaderConfig>& readers) {
    sim::SimulatorConfig config;
    config.discoveryPort = 0;
    config.readers = readers;
    auto simulator = std::make_unique<sim::Simulator>(config);
    QString error;
    if (!simulator->start(&error)) {
        qWarning("cannot start the simulated readers: %s", qPrintable(error));
        return nullptr;
    }
    qputenv("VELMARROW_DISCOVERY_TARGETS",
            QStringLiteral("127.255.255.255:%1").arg(simulator->discoveryPort()).toLocal8Bit());
    return simulator;
}

void focusReader(link::Coordinator& coordinator, const QString& nameOrAddress) {
    coordinator.Focus(nameOrAddress);
    const link::Device* device = coordinator.FocusedDevice();
    app::setFirmwareLevel(
        device && !nameOrAddress.isEmpty() ? shell::FirmwareLevelOf(device->SoftwareVersion()) : 0);
}

void startWindowTest(const QString& folder) {
    QTest::failOnWarning(QRegularExpression(QStringLiteral("^(?!This plugin does not support).*")));
    auto store = std::make_unique<app::SettingsStore>(folder + QStringLiteral("/Velmarrow.ini"),
                                                      folder + QStringLiteral("/options.ini"));
    store->Open(QStringLiteral("Velmarrow"));
    app::installSettings(std::move(store));
    // The main window records the focused reader: into the test's folder, not the user's.
    app::setHistoryFile(folder + QStringLiteral("/history.sqlite"));
    // As at the program's start: serial ports open with the settings stored for them.
    app::installSerialLineLookup();
}

bool takeControl(link::Connection& connection) {
    if (!connection.Connected())
        return false;
    if (!connection.SendCommand(QStringLiteral("CONTROL")).ok)
        return false;
    return QTest::qWaitFor([&] { return connection.HasControl(); }, 5000);
}

QString fasterThan9600Baud(qint64 bytes, qint64 tookMs) {
    // The first byte may already be on its way when the clock starts.
    const qint64 least = (bytes - 1) * 1000 / 960;
    if (tookMs >= least)
        return {};
    return QStringLiteral("%1 bytes in %2 ms; 9600 baud needs %3 ms").arg(bytes).arg(tookMs).arg(least);
}

} // namespace vm::testing
