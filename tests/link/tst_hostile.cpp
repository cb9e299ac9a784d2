// The connection library against readers that lie, flood or garble: the simulated
// reader's fault injection and a hostile fake reader, over real loopback sockets.
#include "common/hostilereader.h"
#include "common/waits.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/protocol.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <zlib.h>

#include <optional>

using namespace vm::link;
using vm::test::HostileReader;
using vm::test::residentBytes;

namespace {

constexpr qint64 kMaxGrowth = 100 * 1024 * 1024;

// A socket on 127.0.0.1 that hears every discovery probe the program sends to the simulator,
// so that a test counts the probes or answers them as a stranger would. The probe targets
// are put back when it goes.
class ProbeListener {
public:
    explicit ProbeListener(const vm::sim::Simulator& sim)
        : m_targets(qgetenv(kTargets)) {
        m_bound = m_socket.bind(QHostAddress(QStringLiteral("127.0.0.1")), 0);
        qputenv(kTargets, "127.255.255.255:" + QByteArray::number(sim.discoveryPort()) +
                              ",127.0.0.1:" + QByteArray::number(m_socket.localPort()));
    }
    ~ProbeListener() { qputenv(kTargets, m_targets); }
    ProbeListener(const ProbeListener&) = delete;
    ProbeListener& operator=(const ProbeListener&) = delete;
    bool bound() const { return m_bound; }
    QUdpSocket& socket() { return m_socket; }

private:
    static constexpr const char* kTargets = "VELMARROW_DISCOVERY_TARGETS";
    QByteArray m_targets;
    QUdpSocket m_socket;
    bool m_bound = false;
};

QString nextAddress() {
    static int counter = 0;
    ++counter;
    const int b = 20 + int((QCoreApplication::applicationPid() + 97) % 200);
    return QStringLiteral("127.%1.%2.%3").arg(b).arg(200 + counter / 250).arg(counter % 250 + 1);
}

// Counts timer ticks and the highest resident memory while a fault plays out: the
// ticks show that the event loop kept turning.
class Watch : public QObject {
public:
    Watch() {
        m_start = residentBytes();
        m_peak = m_start;
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++m_ticks;
            m_peak = qMax(m_peak, residentBytes());
        });
        m_timer.start(20);
    }
    ~Watch() override {
        qInfo("resident memory grew by at most %lld KiB; the event loop turned %d times", growth() / 1024,
              m_ticks);
    }
    int ticks() const { return m_ticks; }
    qint64 growth() const { return qMax(m_peak, residentBytes()) - m_start; }

private:
    QTimer m_timer;
    qint64 m_start = 0;
    qint64 m_peak = 0;
    int m_ticks = 0;
};

QByteArray recordPayload(const QJsonObject& header, const QByteArray& image) {
    const QByteArray json = QJsonDocument(header).toJson(QJsonDocument::Compact);
    QByteArray out(4, '\0');
    qToLittleEndian<quint32>(quint32(json.size()), out.data());
    return out + json + image;
}

QJsonObject recordHeader(qint64 number, double width, double height, const char* kind) {
    return QJsonObject{{"number", number}, {"time", 1.0e12}, {"passed", true}, {"symbolFound", false},
                       {"text", ""},       {"status", "x"},  {"width", width}, {"height", height},
                       {"image", kind},    {"gain", 1},      {"exposure", 1}};
}

// A zlib stream of 1 MiB blocks of zeros behind a qCompress size header: a few
// megabytes that inflate to gigabytes.
QByteArray zlibBomb(quint32 announced, int blocks) {
    z_stream z{};
    deflateInit(&z, Z_BEST_COMPRESSION);
    const QByteArray zeros(1 << 20, '\0');
    auto deflateOnce = [&] {
        QByteArray out(int(deflateBound(&z, uLong(zeros.size()))) + 64, Qt::Uninitialized);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
        z.avail_in = uInt(zeros.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = uInt(out.size());
        deflate(&z, Z_FULL_FLUSH);
        out.truncate(out.size() - qsizetype(z.avail_out));
        return out;
    };
    QByteArray stream = deflateOnce(); // carries the zlib header
    const QByteArray block = deflateOnce();
    deflateEnd(&z);
    for (int i = 1; i < blocks; ++i)
        stream += block;
    QByteArray out(4, '\0');
    qToBigEndian<quint32>(announced, out.data());
    return out + stream;
}

} // namespace

class TestHostile : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        qputenv("VELMARROW_SIM_PORTS_DIR", m_portsDir.path().toLocal8Bit());
        qputenv("VELMARROW_STATION", "TEST-PC");
    }

    // A warning that a test does not provoke on purpose is a fault. Dropped records and
    // refused discovery answers are what these tests provoke.
    void init() {
        QTest::failOnWarning(QRegularExpression(
            R"(^(?!.*dropping a malformed record: |ignoring the answer of |left out \d+ repeated warnings))"));
    }
    void cleanup() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    void lostReplyCostsOnlyItsCommand_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("silent") << int(vm::sim::ReplyFault::Silent);
        QTest::newRow("malformed") << int(vm::sim::ReplyFault::Malformed);
    }
    void lostReplyCostsOnlyItsCommand() {
        QFETCH(int, fault);
        const QString address = nextAddress();
        vm::sim::ReaderConfig config;
        config.name = "Lossy";
        config.address = QHostAddress(address);
        vm::sim::Reader sim(config);
        QString error;
        QVERIFY2(sim.start(&error), qPrintable(error));
        Coordinator coord;
        SettingsConnection conn;
        QVERIFY(coord.Focus(address));

        sim.setNextReplyFault(vm::sim::ReplyFault(fault));
        QVERIFY(!conn.SendCommand("VERSION", 200).completed);
        // Every later command of the same keyword gets its own reply, not its
        // predecessor's, and none of them waits for the time-out.
        for (int i = 0; i < 28; ++i) {
            const CommandReply reply = conn.SendCommand("VERSION", 2000);
            QVERIFY2(reply.ok, qPrintable(QString("command %1: %2").arg(i).arg(reply.errorText)));
            QCOMPARE(reply.lines, QStringList("VERSION " + sim.softwareVersion()));
        }
        // Two lost in a row, then a command of another keyword and one of the same.
        sim.setNextReplyFault(vm::sim::ReplyFault(fault));
        QVERIFY(!conn.SendCommand("NAME", 200).ok);
        sim.setNextReplyFault(vm::sim::ReplyFault(fault));
        QVERIFY(!conn.SendCommand("NAME", 200).ok);
        QCOMPARE(conn.SendCommand("VERSION").lines, QStringList("VERSION " + sim.softwareVersion()));
        QCOMPARE(conn.SendCommand("NAME").lines, QStringList("NAME \"Lossy\""));
        QVERIFY(conn.Connected());
    }

    void overlongRepliesFailTheirCommandOnly_data() {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<QString>("reason");
        QTest::newRow("1 MB lines") << QByteArray(999998, 'x') + "\r\n"
                                    << qint64(300) * 1000 * 1000
                                    << QString("more than %1 bytes").arg(kMaxReplyBytes);
        QTest::newRow("short lines") << QByteArray("LINE 12345678\r\n") << qint64(kMaxReplyLines) * 15 * 3
                                     << QString("more than %1 lines").arg(kMaxReplyLines);
        QTest::newRow("endless line") << QByteArray(65536, 'y') << qint64(300) * 1000 * 1000
                                      << QString("a line longer than %1 bytes").arg(kMaxReplyLineLength);
    }
    void overlongRepliesFailTheirCommandOnly() {
        QFETCH(QByteArray, chunk);
        QFETCH(qint64, total);
        QFETCH(QString, reason);
        HostileReader reader{QHostAddress(nextAddress())};
        QVERIFY(reader.start());
        Coordinator coord;
        SettingsConnection conn;
        QVERIFY(coord.Focus(reader.address().toString()));
        reader.setAnswer([&](const QString& line) {
            if (line == "SHOW CONFIG") {
                reader.flood(chunk, total, false, "\r\n!SHOW OK\r\n");
                return QByteArray();
            }
            return reader.politeAnswer(line);
        });
        int warnings = 0;
        static int* counter = nullptr;
        counter = &warnings;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
                if (type == QtWarningMsg)
                    ++*counter;
            });
        auto restore = qScopeGuard([previous] { qInstallMessageHandler(previous); });

        Watch watch;
        const CommandReply reply = conn.SendCommand("SHOW CONFIG", 60000);
        QVERIFY(!reply.ok);
        QVERIFY2(reply.errorText.contains(reason), qPrintable(reply.errorText));
        QVERIFY(reply.lines.isEmpty());
        // The rest of the flood is thrown away as it comes; the next command waits for it.
        const CommandReply after = conn.SendCommand("NAME", 60000);
        QVERIFY2(after.ok, qPrintable(after.errorText));
        QCOMPARE(after.lines, QStringList("NAME \"Hostile\""));
        QVERIFY(!reader.flooding());
        QVERIFY2(watch.growth() < kMaxGrowth, qPrintable(QString::number(watch.growth())));
        QVERIFY(watch.ticks() > 0);
        QVERIFY2(warnings < 20, qPrintable(QString::number(warnings)));
        QVERIFY(conn.Connected());
    }

    void statusWithoutKeywordEndsTheOldestCommand() {
        HostileReader reader{QHostAddress(nextAddress())};
        QVERIFY(reader.start());
        Coordinator coord;
        SettingsConnection conn;
        QVERIFY(coord.Focus(reader.address().toString()));
        // The reader could not read the first line and says so without a keyword, then
        // answers the second: the complaint belongs to the oldest command still waiting.
        reader.setAnswer([&](const QString& line) -> QByteArray {
            if (line == "ALPHA")
                return {};
            if (line == "BETA")
                return "!? ERROR 1 malformed command\r\nBETA 2\r\n!BETA OK\r\n";
            return reader.politeAnswer(line);
        });
        std::optional<CommandReply> alpha, beta;
        QElapsedTimer clock;
        clock.start();
        conn.Response().sendAsync(
            "ALPHA", [&](const CommandReply& r) { alpha = r; }, 5000);
        conn.Response().sendAsync(
            "BETA", [&](const CommandReply& r) { beta = r; }, 5000);
        QTRY_VERIFY(alpha && beta);
        QVERIFY2(clock.elapsed() < 2000, "the oldest command waited for its time-out");
        QVERIFY(alpha->completed);
        QVERIFY(!alpha->ok);
        QVERIFY2(alpha->errorText.contains("malformed command"), qPrintable(alpha->errorText));
        QVERIFY2(beta->ok, qPrintable(beta->errorText));
        QCOMPARE(beta->lines, QStringList("BETA 2"));
    }

    void unansweringReadersFailFast_data() {
        QTest::addColumn<int>("behaviour");
        QTest::addColumn<int>("atLeastMs");
        QTest::addColumn<int>("atMostMs");
        // Nobody listens, the reader hangs up at once: no reason to wait.
        QTest::newRow("refused") << 0 << 0 << 1000;
        QTest::newRow("hangs up") << 1 << 0 << 1000;
        // The reader accepts and never answers: the greeting's time-out, not the open's too.
        QTest::newRow("silent") << 2 << kHandshakeTimeoutMs - 200 << kHandshakeTimeoutMs + 1500;
    }
    void unansweringReadersFailFast() {
        QFETCH(int, behaviour);
        QFETCH(int, atLeastMs);
        QFETCH(int, atMostMs);
        HostileReader reader{QHostAddress(nextAddress())};
        if (behaviour != 0)
            QVERIFY(reader.start());
        reader.setHangingUp(behaviour == 1);
        reader.setAnswer([](const QString&) { return QByteArray(); });
        Coordinator coord;
        SettingsConnection conn;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!coord.Focus(reader.address().toString()));
        const qint64 took = clock.elapsed();
        QVERIFY2(took >= atLeastMs && took <= atMostMs, qPrintable(QString("%1 ms").arg(took)));
        QVERIFY(!conn.Connected());
        QVERIFY(!conn.SendCommand("VERSION", 200).ok);
    }

    void reconnectBacksOffToItsBound() {
        HostileReader reader{QHostAddress(nextAddress())};
        QVERIFY(reader.start());
        Coordinator coord;
        SettingsConnection conn;
        QVERIFY(coord.Focus(reader.address().toString()));
        QCOMPARE(reader.commandAccepts().size(), 1);

        // The reader restarts and keeps hanging up: each try waits twice as long as the
        // one before, up to the bound.
        reader.setHangingUp(true);
        reader.dropLinks();
        QTRY_COMPARE_WITH_TIMEOUT(reader.commandAccepts().size(), 8, vm::testing::reconnectWaitMs(7));
        QList<qint64> gaps;
        for (qsizetype i = 2; i < reader.commandAccepts().size(); ++i)
            gaps.append(reader.commandAccepts()[i] - reader.commandAccepts()[i - 1]);
        const QList<int> expected{200, 400, 800, 1600, kReconnectMaxDelayMs, kReconnectMaxDelayMs};
        QCOMPARE(kReconnectFirstDelayMs, 100);
        for (qsizetype i = 0; i < gaps.size(); ++i)
            QVERIFY2(
                gaps[i] >= expected[i] * 9 / 10 && gaps[i] <= expected[i] + 600,
                qPrintable(
                    QString("try %1 came after %2 ms, not %3").arg(i + 3).arg(gaps[i]).arg(expected[i])));

        // Back up: the link comes up, and the next loss starts again from the first delay.
        reader.setHangingUp(false);
        QTRY_VERIFY_WITH_TIMEOUT(conn.Connected(), vm::testing::reconnectWaitMs(1));
        const qsizetype before = reader.commandAccepts().size();
        QElapsedTimer clock;
        clock.start();
        reader.dropLinks();
        QTRY_VERIFY_WITH_TIMEOUT(reader.commandAccepts().size() > before, vm::testing::reconnectWaitMs(1));
        QVERIFY2(clock.elapsed() < kReconnectFirstDelayMs + 600,
                 qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY(conn.Connected());
    }

    void networkLinkIgnoresBlocks() {
        HostileReader reader{QHostAddress(nextAddress())};
        QVERIFY(reader.start());
        Coordinator coord;
        SettingsConnection conn;
        QVERIFY(coord.Focus(reader.address().toString()));
        reader.setAnswer([&](const QString& line) -> QByteArray {
            if (line == "VERSION")
                return "#RECORD 16777216\r\nVERSION 1.2.3.4\r\n!VERSION OK\r\n";
            return reader.politeAnswer(line);
        });
        const CommandReply reply = conn.SendCommand("VERSION");
        QVERIFY2(reply.ok, qPrintable(reply.errorText));
        QCOMPARE(reply.lines, QStringList("VERSION 1.2.3.4"));
    }

    void imageBombsAreDroppedAndTheLinkGoesOn() {
        HostileReader reader{QHostAddress(nextAddress())};
        QVERIFY(reader.start());
        Coordinator coord;
        ImageConnection conn;
        QSignalSpy records(&conn, &Connection::OnNewRecord);
        QVERIFY(coord.Focus(reader.address().toString()));
        QTRY_VERIFY(reader.dataLinked());

        Watch watch;
        // 4 MB that inflate to 4 GB, announcing that size or an honest one.
        reader.sendFrame(FrameType::Record,
                         recordPayload(recordHeader(1, 659, 494, "zlib"), zlibBomb(0xFFFFFFFFu, 4000)));
        reader.sendFrame(FrameType::Record,
                         recordPayload(recordHeader(2, 659, 494, "zlib"), zlibBomb(659 * 494, 4000)));
        // Sizes that do not fit an integer, and one whose product would overflow.
        reader.sendFrame(FrameType::Record, recordPayload(recordHeader(3, 1e12, 1e12, "raw"), {}));
        reader.sendFrame(FrameType::Record, recordPayload(recordHeader(4, 65536, 65536, "zlib"), {}));
        QJsonObject hugeTime = recordHeader(5, 0, 0, "none");
        hugeTime.insert("time", 1.7e21);
        hugeTime.insert("number", -1e300);
        reader.sendFrame(FrameType::Record, recordPayload(hugeTime, {}));
        const QByteArray pixels(4 * 3, char(7));
        reader.sendFrame(FrameType::Record, recordPayload(recordHeader(6, 4, 3, "zlib"), qCompress(pixels)));
        QTRY_COMPARE(records.count(), 2);
        const Record first = records.at(0).at(0).value<Record>();
        QCOMPARE(first.TimeMs(), qint64(0));
        QCOMPARE(first.Number(), qint64(0));
        const Record last = records.at(1).at(0).value<Record>();
        QCOMPARE(last.Number(), qint64(6));
        QCOMPARE(last.Image().GrayValue(3, 2), 7);
        QVERIFY2(watch.growth() < kMaxGrowth, qPrintable(QString::number(watch.growth())));
        QVERIFY(watch.ticks() > 0);
        QVERIFY(conn.Connected());
    }

    void fileRefusalsAlwaysGiveAReason() {
        HostileReader reader{QHostAddress(nextAddress())};
        QVERIFY(reader.start());
        Coordinator coord;
        ImageConnection conn;
        QVERIFY(coord.Focus(reader.address().toString()));
        QTRY_VERIFY(reader.dataLinked());
        QByteArray ack = "not json";
        reader.setFrameHandler([&](const Frame& frame) {
            if (frame.type == quint16(FrameType::FileEnd))
                reader.sendFrame(FrameType::FileAck, ack);
        });
        QTemporaryDir dir;
        const QString path = dir.filePath("test.bmp");
        QImage(4, 4, QImage::Format_Grayscale8).save(path);
        QString error;
        QVERIFY(!conn.Device()->TransferFiles({path}, &error));
        QVERIFY2(
            error.startsWith("The reader refused test.bmp: the reader's acknowledgement could not be read"),
            qPrintable(error));
        ack = R"({"name":"test.bmp","ok":false,"error":""})";
        QVERIFY(!conn.Device()->TransferFiles({path}, &error));
        QCOMPARE(error, QString("The reader refused test.bmp: the reader gave no reason"));
        ack = "{\"ok\":false,\"error\":\"bad\\u0007\\u202e\"}";
        QVERIFY(!conn.Device()->TransferFiles({path}, &error));
        QCOMPARE(error, QString("The reader refused test.bmp: bad\\u0007\\u202e"));
    }

    // Which names the program takes, and the reason it gives for the others; a name may fill
    // all 64 characters.
    void readerNamesTheProgramTakes() {
        const QList<std::pair<QString, QString>> cases = {
            {"Line-7", ""},
            {QString(64, 'A'), ""},
            {QString(65, 'A'), "longer than 64 characters"},
            {"", "it is empty"},
            {" Line", "begins or ends with a blank"},
            {".", "it is '.'"},
            {"a..b", "contains '..'"},
            {"Line\x01", "contains a control character"},
            {"Line/7", "contains '/'"},
            {"Line\\7", "contains '\\'"},
            {QString::fromUtf8("Line\u202e7"), "contains a text-direction character"},
            {QString::fromUtf8("Zeile-\u00c4"), ""},
        };
        for (const auto& [name, problem] : cases) {
            QCOMPARE(readerNameProblem(name), problem);
            QCOMPARE(isAcceptableReaderName(name), problem.isEmpty());
        }
    }

    // A reader announcing a name the program cannot use is not one of the devices: it is
    // listed apart by its address with the reason, told in the log once however often it
    // answers, and reached by its address, under which name the program then knows it.
    void unusableNamesAreListedByAddressAndToldOnce() {
        vm::sim::SimulatorConfig config;
        config.discoveryPort = 0;
        vm::sim::ReaderConfig bad;
        bad.name = "cell/../7";
        bad.address = QHostAddress(nextAddress());
        bad.commandPort = 0;
        bad.dataPort = 0;
        bad.outputPort = 0;
        config.readers.append(bad);
        vm::sim::ReaderConfig good = bad;
        good.name = "Cell8";
        good.address = QHostAddress(nextAddress());
        config.readers.append(good);
        vm::sim::Simulator sim(config);
        QVERIFY(sim.start());
        // The stranger hears every probe, so the test knows how many the readers answered.
        ProbeListener listener(sim);
        QVERIFY(listener.bound());
        QUdpSocket& stranger = listener.socket();

        static QStringList* notes = nullptr;
        QStringList told;
        notes = &told;
        const QtMessageHandler previous =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& text) {
                if (QByteArray(context.category) == "velmarrow.link" && text.contains("cannot be used"))
                    notes->append(text);
            });
        auto unhook = qScopeGuard([previous] { qInstallMessageHandler(previous); });

        Coordinator coord;
        QSignalSpy changed(&coord, &Coordinator::OnRefusedReadersChanged);
        coord.StartDiscovery();
        QTRY_COMPARE(coord.RefusedReaders().size(), 1);
        QTRY_COMPARE(coord.Devices().size(), 1);
        QCOMPARE(coord.Devices().first()->Name(), QString("Cell8"));
        const DiscoveryAnswer refused = coord.RefusedReaders().first();
        QCOMPARE(refused.address, bad.address);
        QCOMPARE(refused.name, QString("cell/../7"));
        QCOMPARE(refused.nameProblem, QString("contains '..'"));
        QCOMPARE(refused.commandPort, sim.reader(0)->commandPort());
        QVERIFY(changed.count() >= 1);
        // Four more probes answered: still one line.
        int probes = 0;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (stranger.hasPendingDatagrams()) {
                    stranger.receiveDatagram();
                    ++probes;
                }
                return probes >= 5;
            }(),
            6 * kDiscoveryInterval + 2000);
        QCOMPARE(coord.RefusedReaders().size(), 1);
        QCOMPARE(told.size(), 1);
        QVERIFY2(told.first().contains(bad.address.toString()) && told.first().contains("contains '..'"),
                 qPrintable(told.first()));
        QCOMPARE(changed.count(), 1);

        // By its address the reader is reached, and known by that address only.
        ReaderConnection conn;
        QVERIFY(coord.Focus(bad.address.toString()));
        QCOMPARE(coord.FocusedDevice()->Name(), bad.address.toString());
        QCOMPARE(coord.FocusedDevice()->CommandPort(), sim.reader(0)->commandPort());
        QCOMPARE(conn.Query("NAME"), QString("NAME \"cell/../7\""));
        QCOMPARE(coord.FocusedDevice()->Name(), bad.address.toString());
        QVERIFY(coord.Devices().size() == 1);
        coord.Focus("");

        // Silent from just after its answer to a probe, it leaves the list when three probes
        // in a row went unanswered: at the fourth from there, about four intervals on.
        QSignalSpy answered(&sim, &vm::sim::Simulator::probeAnswered);
        QVERIFY(answered.wait(3 * kDiscoveryInterval));
        sim.reader(0)->setListening(false);
        QElapsedTimer silent;
        silent.start();
        QCOMPARE(coord.RefusedReaders().size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(coord.RefusedReaders().size(), 0,
                                  (kDiscoveryMissLimit + 4) * kDiscoveryInterval);
        QVERIFY2(silent.elapsed() > kDiscoveryMissLimit * kDiscoveryInterval + kDiscoveryInterval / 2,
                 qPrintable(QString::number(silent.elapsed())));
    }

    void discoveryTrustsOnlyTheSenderAndStaysBounded() {
        // One real reader found by discovery and focused, and a stranger on 127.0.0.1.
        vm::sim::SimulatorConfig config;
        config.discoveryPort = 0;
        vm::sim::ReaderConfig real;
        real.name = "Genuine";
        real.address = QHostAddress(nextAddress());
        real.commandPort = 0;
        real.dataPort = 0;
        config.readers.append(real);
        vm::sim::Simulator sim(config);
        QVERIFY(sim.start());
        ProbeListener listener(sim);
        QVERIFY(listener.bound());
        QUdpSocket& stranger = listener.socket();

        Coordinator coord;
        ReaderConnection conn;
        coord.StartDiscovery();
        QTRY_VERIFY(stranger.hasPendingDatagrams());
        const quint16 hubPort = quint16(stranger.receiveDatagram().senderPort());
        QTRY_COMPARE(coord.Devices().size(), 1);
        QVERIFY(coord.Focus("Genuine"));
        Device* genuine = coord.FocusedDevice();
        const quint16 dataPort = genuine->DataPort();
        const quint16 commandPort = sim.reader(0)->commandPort();
        auto answer = [](const QByteArray& name, quint16 command, quint16 data,
                         const QByteArray& extra = {}) {
            return "LUMIVEX READER 1\nname=" + name + "\ncommand=" + QByteArray::number(command) +
                   "\ndata=" + QByteArray::number(data) + "\nversion=3.0.2.1\n" + extra;
        };
        const QHostAddress hub("127.0.0.1");

        // A stranger naming the focused reader's address, and one sending from it.
        HostileReader::sendDatagram(
            answer("Evil", commandPort, 9, "address=" + real.address.toString().toUtf8()), hub, hubPort);
        HostileReader::sendDatagram(answer("Evil2", commandPort, 9), hub, hubPort, real.address);
        // Names that are not short printable text.
        for (const QByteArray& name :
             {QByteArray("../../etc"), QByteArray("a\x01z"),
              QByteArray("evil\xe2\x80\xae"
                         "gnp"),
              QByteArray(60000, 'n'), QByteArray("back\\slash"), QByteArray(" padded")})
            HostileReader::sendDatagram(answer(name, 5000, 5001), hub, hubPort);
        HostileReader::sendDatagram(answer("Marker", 5002, 5003), hub, hubPort);
        auto names = [&] {
            QStringList list;
            for (Device* d : coord.Devices())
                list << d->Name();
            list.sort();
            return list;
        };
        QTRY_VERIFY(names().contains("Marker"));
        QCOMPARE(names(), QStringList({"Evil", "Genuine", "Marker"}));
        QCOMPARE(coord.FocusedDevice(), genuine);
        QCOMPARE(genuine->Name(), QString("Genuine"));
        QCOMPARE(genuine->DataPort(), dataPort);
        QCOMPARE(genuine->Address(), real.address);
        QCOMPARE(conn.Query("NAME"), QString("NAME \"Genuine\""));

        // A flood of answers from as many command ports: the list stops at its bound.
        Watch watch;
        for (int i = 0; i < 60000; ++i) {
            stranger.writeDatagram(answer("Flood" + QByteArray::number(i), quint16(10000 + i % 50000), 9),
                                   hub, hubPort);
            if (i % 100 == 0)
                QCoreApplication::processEvents(); // the hub reads while the stranger writes
        }
        QTRY_COMPARE(coord.Devices().size(), kMaxDiscoveredReaders);
        QVERIFY2(watch.growth() < kMaxGrowth, qPrintable(QString::number(watch.growth())));
        QVERIFY(watch.ticks() > 0);
        QCOMPARE(conn.Query("NAME"), QString("NAME \"Genuine\""));

        // Strangers that stop answering are forgotten, which makes room again.
        QTRY_COMPARE_WITH_TIMEOUT(coord.Devices().size(), 1, (kDiscoveryMissLimit + 4) * kDiscoveryInterval);
        HostileReader::sendDatagram(answer("Later", 4999, 5000), hub, hubPort);
        QTRY_COMPARE(coord.Devices().size(), 2);
        QCOMPARE(coord.FocusedDevice(), genuine);
    }

private:
    QTemporaryDir m_portsDir;
};

int runHostileTests(int argc, char** argv) {
    TestHostile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_hostile.moc"
