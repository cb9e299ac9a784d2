#pragma once

// Simulated readers for tests: each on a loopback address of its own, reached over real
// sockets exactly as the program reaches a reader.
//
//     auto reader = vm::testing::startReader("Line1");
//     vm::link::Coordinator coordinator;
//     vm::testing::focusReader(coordinator, reader->address().toString());
//     vm::link::SettingsConnection conn;
//     QVERIFY(vm::testing::takeControl(conn));

#include "sim/reader.h"
#include "sim/simulator.h"

#include <QList>
#include <QString>

#include <memory>

namespace vm::link {
class Connection;
class Coordinator;
} // namespace vm::link

namespace vm::testing {

// A loopback address (127.x.y.z) that no other reader of this test program uses, so that
// the default ports never meet another test run or a simulator someone left running.
QString nextAddress();

// A reader's settings on the next address, at the default ports.
sim::ReaderConfig readerConfig(const QString& name, const QString& version = QStringLiteral("3.0.2.1"),
                               const QString& address = nextAddress());

// Starts one reader; null (with a warning that fails a test watching for warnings) when
// its ports cannot be opened.
std::unique_ptr<sim::Reader> startReader(const sim::ReaderConfig& config);
std::unique_ptr<sim::Reader> startReader(const QString& name, const QString& address = nextAddress(),
                                         const QString& version = QStringLiteral("3.0.2.1"));

// Starts readers behind a simulator whose discovery answers on a free port, and points the
// program's discovery at it, so that they are found by name.
std::unique_ptr<sim::Simulator> startSimulator(const QList<sim::ReaderConfig>& readers);

// Focuses a reader by address or name ("" for none) and sets the program-wide firmware
// level from its software version, as the main window does on every connection reset.
void focusReader(link::Coordinator& coordinator, const QString& nameOrAddress);

// A settings store of its own in this folder, installed as the program's; every Qt
// warning that is not the offscreen platform's own fails the running test.
void startWindowTest(const QString& folder);

// Takes programming control of the focused reader through a connection, as the main
// window does once the operator said yes; true when the reader granted it.
bool takeControl(link::Connection& connection);

// Empty when `tookMs` is at least the time `bytes` need on a 9,600-baud line with eight data
// bits, no parity and one stop bit (960 bytes a second); otherwise says by how much it was faster.
QString fasterThan9600Baud(qint64 bytes, qint64 tookMs);

} // namespace vm::testing
