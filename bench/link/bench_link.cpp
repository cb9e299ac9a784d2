// Speed of the connection library against the simulated reader over loopback:
// command round trip, record delivery, discovery of many readers.
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/protocol.h"
#include "link/record.h"
#include "sim/simulator.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <cstdio>

using namespace vm::link;

namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t i = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
    return values[i];
}

long residentKiB() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename F>
bool waitFor(F done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

vm::sim::ReaderConfig readerAt(const QString& name, const QString& address) {
    vm::sim::ReaderConfig c;
    c.name = name;
    c.address = QHostAddress(address);
    c.commandPort = 0;
    c.dataPort = 0;
    return c;
}

void roundTrip(Coordinator& coord, vm::sim::Simulator& sim) {
    sim.reader(0)->cycles().setOnline(false);
    SettingsConnection conn;
    for (int i = 0; i < 200; ++i)
        conn.SendCommand(QStringLiteral("VERSION"));
    std::vector<double> us;
    const int n = 5000;
    int failures = 0;
    QElapsedTimer t;
    for (int i = 0; i < n; ++i) {
        t.start();
        const bool ok = conn.SendCommand(QStringLiteral("VERSION")).ok;
        us.push_back(double(t.nsecsElapsed()) / 1000.0);
        failures += ok ? 0 : 1;
    }
    std::printf("command round trip (VERSION, %d commands): median %.1f us, 99th percentile %.1f us, "
                "failures %d  [goal: median < 500 us]\n",
                n, percentile(us, 0.5), percentile(us, 0.99), failures);
    Q_UNUSED(coord);
}

// Records through the link at a reader rate: every record the reader finished is counted as
// received or as skipped (the reader sheds load for a client that cannot keep up, and says so);
// none may go missing silently. The run ends when the last record is accounted for.
void records(vm::sim::Simulator& sim, double rate, int seconds, bool replay, double goal) {
    vm::sim::Reader* reader = sim.reader(0);
    reader->setReplay(replay);
    ImageConnection conn;
    QHash<qint64, qint64> sentAt;
    QElapsedTimer clock;
    clock.start();
    std::vector<double> delays;
    qint64 sent = 0, received = 0, withImage = 0;
    qint64 firstNumber = -1, lastNumber = -1;
    bool counting = false;
    QObject::connect(reader, &vm::sim::Reader::recordDelivered, &conn, [&](qint64 number) {
        if (!counting)
            return;
        if (firstNumber < 0)
            firstNumber = number;
        lastNumber = number;
        sentAt.insert(number, clock.nsecsElapsed());
        ++sent;
    });
    QObject::connect(&conn, &Connection::OnNewRecord, &conn, [&](const Record& r) {
        if (firstNumber < 0 || r.Number() < firstNumber)
            return; // from before the measured stretch
        ++received;
        withImage += r.Image().IsEmpty() ? 0 : 1;
        const auto it = sentAt.constFind(r.Number());
        if (it != sentAt.constEnd()) {
            delays.push_back(double(clock.nsecsElapsed() - *it) / 1e6);
            sentAt.erase(it);
        }
    });
    reader->cycles().setRate(rate);
    reader->cycles().setOnline(true);
    runFor(1000); // settle
    const quint64 droppedBefore = reader->droppedRecords();
    counting = true;
    const long rssBefore = residentKiB();
    QElapsedTimer t;
    t.start();
    runFor(seconds * 1000);
    reader->cycles().setOnline(false);
    counting = false;
    const double elapsed = double(t.elapsed()) / 1000.0;
    auto dropped = [&] { return qint64(reader->droppedRecords() - droppedBefore); };
    // The records still in flight: until each is received or reported as skipped.
    const bool complete = waitFor([&] { return received + dropped() >= sent; }, 10000);
    const long rssAfter = residentKiB();
    std::printf("records at %.0f/s%s for %.1f s: reader finished %lld (numbers %lld..%lld), received %lld "
                "(%lld with a 659x494 image), skipped by the reader %lld%s; "
                "%.1f records/s received  [goal: >= %.0f/s, every record delivered]\n"
                "    delay send->OnNewRecord median %.2f ms, 99th %.2f ms; resident memory %ld -> %ld KiB\n",
                rate, replay ? " (replaying the last image)" : "", elapsed, sent, firstNumber, lastNumber,
                received, withImage, dropped(), complete ? "" : ", SOME RECORDS UNACCOUNTED FOR",
                double(received) / elapsed, goal, percentile(delays, 0.5), percentile(delays, 0.99),
                rssBefore, rssAfter);
    reader->setReplay(false);
}

// The limit for records: raw loopback throughput between two sockets of this process, in
// bytes per second and in full-image records per second.
void loopbackLimit() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    QTcpSocket writer;
    writer.connectToHost(QHostAddress::LocalHost, server.serverPort());
    waitFor(
        [&] { return server.hasPendingConnections() && writer.state() == QAbstractSocket::ConnectedState; },
        3000);
    QTcpSocket* reader = server.nextPendingConnection();
    if (!reader) {
        std::printf("loopback limit: no connection\n");
        return;
    }
    const QByteArray chunk(659 * 494, 'x');
    const qint64 total = qint64(chunk.size()) * 1000;
    qint64 written = 0, read = 0;
    QObject::connect(reader, &QTcpSocket::readyRead, reader, [&] { read += reader->readAll().size(); });
    QElapsedTimer t;
    t.start();
    waitFor(
        [&] {
            while (written < total && writer.bytesToWrite() < 4 * chunk.size()) {
                writer.write(chunk);
                written += chunk.size();
            }
            return read >= total;
        },
        30000);
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    std::printf("limit: loopback TCP in one thread %.0f MB/s = %.0f full-image records/s\n",
                double(read) / seconds / 1e6, double(read) / chunk.size() / seconds);
}

void decodeCapacity() {
    // The library's own share of a full-image record: framing and decoding.
    QImage image(659, 494, QImage::Format_Grayscale8);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.scanLine(y)[x] = uchar((x * 7 + y * 3) & 0xff);
    QByteArray pixels;
    for (int y = 0; y < image.height(); ++y)
        pixels.append(reinterpret_cast<const char*>(image.constScanLine(y)), image.width());
    const QByteArray json =
        R"({"number":1,"time":0,"passed":true,"symbolFound":true,"text":"A","status":"OK",)"
        R"("decodeMs":1,"exposure":1,"gain":1,"photometryValid":true,"corners":[],)"
        R"("width":659,"height":494,"image":"raw"})";
    QByteArray payload(4, '\0');
    qToLittleEndian<quint32>(quint32(json.size()), payload.data());
    payload += json + pixels;
    const QByteArray frame = encodeFrame(FrameType::Record, payload);
    FrameDecoder decoder;
    const int n = 2000;
    QElapsedTimer t;
    t.start();
    int ok = 0;
    for (int i = 0; i < n; ++i) {
        decoder.append(frame);
        while (auto f = decoder.next())
            ok += parseRecordPayload(f->payload).has_value() ? 1 : 0;
    }
    std::printf("full-image record decoding: %.0f records/s (%d decoded)  [goal: >= 200/s end to end]\n",
                n / (double(t.nsecsElapsed()) / 1e9), ok);
}

void discovery(int count) {
    vm::sim::SimulatorConfig config;
    config.discoveryPort = 0;
    for (int i = 0; i < count; ++i)
        config.readers.append(readerAt(QStringLiteral("Bench%1").arg(i + 1),
                                       QStringLiteral("127.91.%1.%2").arg(i / 200 + 1).arg(i % 200 + 1)));
    vm::sim::Simulator sim(config);
    QString error;
    if (!sim.start(&error)) {
        std::printf("discovery: the simulator did not start: %s\n", qPrintable(error));
        return;
    }
    for (vm::sim::Reader* r : sim.readers())
        r->cycles().setOnline(false);
    qputenv("VELMARROW_DISCOVERY_TARGETS",
            QByteArray("127.255.255.255:") + QByteArray::number(sim.discoveryPort()));
    Coordinator coord;
    int found = 0;
    QObject::connect(&coord, &Coordinator::OnDeviceDiscovered, &coord, [&](Device*) { ++found; });
    QElapsedTimer t;
    t.start();
    coord.StartDiscovery();
    waitFor([&] { return found >= count; }, 5000);
    std::printf("discovery of %d readers: %d found in %.1f ms  [goal: < 1000 ms]\n", count, found,
                double(t.nsecsElapsed()) / 1e6);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qputenv("QT_LOGGING_RULES", "velmarrow.*.info=false;lumivex.*.info=false");
    {
        vm::sim::SimulatorConfig config;
        config.discoveryPort = 0;
        config.readers.append(readerAt(QStringLiteral("BenchLine"), QStringLiteral("127.90.0.1")));
        vm::sim::Simulator sim(config);
        QString error;
        if (!sim.start(&error)) {
            std::printf("the simulator did not start: %s\n", qPrintable(error));
            return 1;
        }
        qputenv("VELMARROW_DISCOVERY_TARGETS",
                QByteArray("127.255.255.255:") + QByteArray::number(sim.discoveryPort()));
        Coordinator coord;
        coord.StartDiscovery();
        waitFor([&] { return !coord.Devices().isEmpty(); }, 3000);
        if (!coord.Focus(QStringLiteral("BenchLine"))) {
            std::printf("cannot connect to the simulated reader\n");
            return 1;
        }
        roundTrip(coord, sim);
        records(sim, 60, 5, false, 60);
        records(sim, 400, 5, true, 300);
        records(sim, vm::sim::CycleDriver::kMaxRate, 3, true, 300);
        coord.Focus(QString());
    }
    decodeCapacity();
    loopbackLimit();
    discovery(50);
    return 0;
}
