// The simulated reader alone, over its real sockets, pseudo-terminal and files.

#include "clients.h"
#include "common/waits.h"
#include "pty.h"
#include "sim/adminconsole.h"
#include "sim/catalogue.h"
#include "sim/dataframe.h"
#include "sim/reader.h"
#include "sim/serialline.h"
#include "sim/simulator.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

using namespace vm::sim;
using vm::testing::CommandClient;
using vm::testing::DataClient;
using vm::testing::Pty;
using vm::testing::recordJson;

namespace {

// One reader on free ports and no discovery, started; null (with a warning) when it cannot start.
std::unique_ptr<Simulator> startOne(ReaderConfig rc) {
    rc.commandPort = rc.dataPort = 0;
    SimulatorConfig config;
    config.discoveryPort = 0;
    config.readers = {rc};
    auto simulator = std::make_unique<Simulator>(config);
    QString error;
    if (!simulator->start(&error)) {
        qWarning("cannot start the simulated reader: %s", qPrintable(error));
        return nullptr;
    }
    return simulator;
}

// A reply or event from the reader: as long as the program's link waits for a reply.
constexpr int kWait = vm::testing::kReplyWaitMs;

// A RETRYEX write for a reader with 15 PID slots.
QString retryex(const QString& mode, int time, int count, int wait, QList<int> pids = {},
                const QString& light = "ON", int lightPid = 0, const QString& acquire = "N") {
    QStringList f{mode, QString::number(time), QString::number(count), QString::number(wait)};
    for (int i = 0; i < 15; ++i)
        f << QString::number(pids.value(i));
    f << light << QString::number(lightPid) << acquire;
    return "RETRYEX " + f.join(' ');
}

} // namespace

class TestSim : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_state;

    std::unique_ptr<Reader> startReader(int level, const QString& name = "Line3", bool serial = false) {
        ReaderConfig c;
        c.name = name;
        c.softwareVersion = softwareVersionForLevel(level);
        c.commandPort = 0;
        c.dataPort = 0;
        c.stateFolder = m_state->path();
        c.serial = serial;
        c.lightChannels = level >= 8 ? 1 : 0;
        c.rebootMs = 50;
        auto r = std::make_unique<Reader>(c);
        QString error;
        if (!r->start(&error))
            qWarning() << error;
        return r;
    }

private slots:
    void init() {
        // Any warning a test does not expect is a fault.
        QTest::failOnWarning(QRegularExpression(".*"));
        m_state = std::make_unique<QTemporaryDir>();
        qputenv("VELMARROW_SIM_PORTS_DIR", m_state->filePath("ports").toLocal8Bit());
    }

    void versionLevels_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("level");
        QTest::newRow("2.3.0.0") << "2.3.0.0" << 8;
        QTest::newRow("2.0.1.5") << "2.0.1.5" << 5;
        QTest::newRow("2.0.2.0") << "2.0.2.0" << 4;
        QTest::newRow("3.0.0.0") << "3.0.0.0" << 10;
        QTest::newRow("0.9.0.0") << "0.9.0.0" << 99;
        QTest::newRow("1.0.1.13") << "1.0.1.13" << 2;
        QTest::newRow("1.2.0.0") << "1.2.0.0" << 3;
        QTest::newRow("2.6.0.0") << "2.6.0.0" << 4;
        QTest::newRow("1.0.2.0") << "1.0.2.0" << 0;
        QTest::newRow("garbage") << "a.b.c" << 0;
    }
    void versionLevels() {
        QFETCH(QString, version);
        QFETCH(int, level);
        QCOMPARE(firmwareLevelOf(version), level);
        if (level)
            QCOMPARE(firmwareLevelOf(softwareVersionForLevel(level)), level);
    }

    // A reader set to idle without clients runs its continuous cycles only while someone is
    // connected: a command client starts them, its leaving stops them again.
    void anIdleReaderCyclesOnlyWithAClient() {
        ReaderConfig c;
        c.name = "Idle1";
        c.softwareVersion = softwareVersionForLevel(10);
        c.commandPort = 0;
        c.dataPort = 0;
        c.outputPort = 0;
        c.cycleRate = 50;
        c.idleWithoutClients = true;
        Reader r(c);
        QString error;
        QVERIFY2(r.start(&error), qPrintable(error));
        QVERIFY(r.cycles().paused());
        QCOMPARE(r.cycles().lastNumber(), 0);
        {
            CommandClient client;
            QVERIFY(client.connectTo(r));
            QTRY_VERIFY_WITH_TIMEOUT(!r.cycles().paused(), kWait);
            QTRY_VERIFY_WITH_TIMEOUT(r.cycles().lastNumber() >= 3, kWait);
        }
        QTRY_VERIFY_WITH_TIMEOUT(r.cycles().paused(), kWait);
        // The same reader without the setting cycles with nobody connected.
        c.name = "Busy1";
        c.idleWithoutClients = false;
        Reader busy(c);
        QVERIFY2(busy.start(&error), qPrintable(error));
        QVERIFY(!busy.cycles().paused());
        QTRY_VERIFY_WITH_TIMEOUT(busy.cycles().lastNumber() >= 3, kWait);
    }

    void controlBetweenTwoStations() {
        auto r = startReader(10);
        CommandClient a, b;
        QVERIFY(a.connectTo(*r, "WS-A"));
        QVERIFY(b.connectTo(*r, "WS-B"));
        DataClient events;
        QVERIFY(events.open(*r));
        // A subscriber learns at once who holds control: nobody yet.
        QCOMPARE(events.nextEvent(), (QJsonObject{{"event", "control"}, {"controller", ""}}));

        QCOMPARE(a.statusOf("TRIG T"), QString("!TRIG ERROR 4 no programming control"));
        QCOMPARE(a.query("TRIG"), QString("TRIG C"));
        QCOMPARE(a.statusOf("CONTROL"), QString("!CONTROL OK"));
        QCOMPARE(b.query("CONTROLLER"), QString("CONTROLLER \"WS-A\""));
        QCOMPARE(a.statusOf("trig t"), QString("!TRIG OK"));
        QCOMPARE(b.query("TRIG"), QString("TRIG T"));

        // Another station takes control: the first one's writes fail and it is told.
        QCOMPARE(b.statusOf("CONTROL"), QString("!CONTROL OK"));
        QJsonObject event;
        do
            event = events.nextEvent();
        while (!event.isEmpty() && event.value("controller") != "WS-B");
        QCOMPARE(event.value("controller").toString(), QString("WS-B"));
        QCOMPARE(a.statusOf("TRIG C"), QString("!TRIG ERROR 4 no programming control"));
        // The calibration's label is a setting like any other.
        QCOMPARE(a.statusOf("CALIBRATED_STRING \"Cal A\""),
                 QString("!CALIBRATED_STRING ERROR 4 no programming control"));
        QCOMPARE(b.query("CALIBRATED_STRING"), QString("CALIBRATED_STRING \"\""));
        QCOMPARE(a.query("CONTROLLER"), QString("CONTROLLER \"WS-B\""));
        // A later subscriber is told the station that holds it, not its own.
        DataClient late;
        QVERIFY(late.open(*r));
        QCOMPARE(late.nextEvent().value("controller").toString(), QString("WS-B"));
        // A release by a station that does not hold control changes nothing.
        QCOMPARE(a.statusOf("RELEASE"), QString("!RELEASE OK"));
        QCOMPARE(r->controller(), QString("WS-B"));
        QCOMPARE(b.statusOf("RELEASE"), QString("!RELEASE OK"));
        QCOMPARE(a.query("CONTROLLER"), QString("CONTROLLER \"\""));
        QVERIFY(r->receivedCommands().contains("trig t"));
    }

    // A station's name holds 1 to 64 characters, quotes dropped; the reader names its controller
    // by it whole. The holder that names itself again keeps control under its new name; another
    // station's new name takes nothing from it.
    void stationNamesUpTo64Characters() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.connectTo(*r));
        const QString longest = QStringLiteral("WS-") + QString(61, QLatin1Char('x'));
        QCOMPARE(c.statusOf("STATION \"" + longest + "\""), QString("!STATION OK"));
        QCOMPARE(c.statusOf("CONTROL"), QString("!CONTROL OK"));
        QCOMPARE(c.query("CONTROLLER"), "CONTROLLER \"" + longest + "\"");
        for (const QString& bad : {longest + "y", QString("\"\"")})
            QCOMPARE(c.statusOf("STATION " + bad),
                     QString("!STATION ERROR 2 station name must have 1 to 64 characters"));
        QCOMPARE(r->controller(), longest);
        CommandClient other;
        QVERIFY(other.connectTo(*r, "WS-B"));
        QCOMPARE(other.statusOf("STATION WS-C"), QString("!STATION OK"));
        QCOMPARE(c.statusOf("STATION WS-Renamed"), QString("!STATION OK"));
        QCOMPARE(other.query("CONTROLLER"), QString("CONTROLLER \"WS-Renamed\""));
        QCOMPARE(c.statusOf("TRIG T"), QString("!TRIG OK"));
        QCOMPARE(other.statusOf("TRIG C"), QString("!TRIG ERROR 4 no programming control"));
    }

    void controlEndsWithTheStationsLastConnection() {
        auto r = startReader(10);
        auto first = std::make_unique<CommandClient>();
        auto second = std::make_unique<CommandClient>();
        QVERIFY(first->connectTo(*r, "WS-A"));
        QVERIFY(second->connectTo(*r, "WS-A"));
        QCOMPARE(first->command("CONTROL").last(), QString("!CONTROL OK"));
        QCOMPARE(r->controller(), QString("WS-A"));
        // Another connection of the same station keeps control alive ...
        first.reset();
        QTRY_COMPARE(r->commandClients(), 1);
        QCOMPARE(r->controller(), QString("WS-A"));
        // ... and when the last one goes, so does control.
        second.reset();
        QTRY_VERIFY(r->controller().isEmpty());
        QCOMPARE(r->commandClients(), 0);
    }

    void showConfigRoundTrip() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.connectTo(*r, "WS"));
        QCOMPARE(c.statusOf("CONTROL"), QString("!CONTROL OK"));
        for (const QString& w :
             {QString("TRIG T"), QString("HEADER \"Lot 7 \"x\"\""), QString("TE N"),
              QString("RETRYEX LIST 500 3 0 1 2 3 0 0 0 0 0 0 0 0 0 0 0 0 STROBE 4 A"),
              QString("OUTPUT TCP2 OKDEC Y \"(DATA) (PID#)\" H_T"), QString("IOASSIGN GPIO_OUT2 PASS"),
              QString("SET_CRITERIA PASS MASK 0xFF"), QString("BARCODE ENABLE 0x20001"),
              QString("MATCH_LIST 3 \"A*B?\""), QString("ILLUM EXTERN")})
            QCOMPARE(c.statusOf(w), QString("!%1 OK").arg(w.section(' ', 0, 0)));
        QCOMPARE(c.query("ILLUM"), QString("ILLUM EXTERNAL"));
        QCOMPARE(c.query("IOASSIGN GPIO_OUT2"), QString("IOASSIGN GPIO_OUT2 \"PASS\""));
        QCOMPARE(c.query("SET_CRITERIA PASS"), QString("SET_CRITERIA PASS \"MASK\" \"0xFF\" \"\""));

        QStringList listing = c.command("SHOW CONFIG");
        QCOMPARE(listing.takeLast(), QString("!SHOW OK"));
        QVERIFY(listing.size() > 150);
        QVERIFY(listing.contains("HEADER \"Lot 7 \"x\"\""));
        QVERIFY(!listing.contains("MACADDR", Qt::CaseInsensitive));
        // The factory values, but the unit's own name and address as set.
        const QString ip = "IP Line3 " + r->address().toString() + " 255.255.255.0 127.0.0.254";
        QCOMPARE(c.statusOf(ip), QString("!IP OK"));
        QStringList defaults = c.command("SHOW DEFAULTS");
        QCOMPARE(defaults.takeLast(), QString("!SHOW OK"));
        QVERIFY(defaults.contains("TRIG C") && listing.contains("TRIG T"));
        QCOMPARE(defaults.filter(QRegularExpression("^IP ")), QStringList{ip});

        QCOMPARE(c.statusOf("RESET DECODER"), QString("!RESET OK"));
        QCOMPARE(c.statusOf("RESET APPMODE"), QString("!RESET OK"));
        QCOMPARE(c.query("TRIG"), QString("TRIG C"));
        QCOMPARE(c.query("BARCODE ENABLE"), QString("BARCODE ENABLE 0x1"));
        QCOMPARE(c.statusOf("HEADER \"other\""), QString("!HEADER OK"));

        for (const QString& line : std::as_const(listing))
            QCOMPARE(c.statusOf(line), QString("!%1 OK").arg(line.section(' ', 0, 0)));
        QStringList again = c.command("show config");
        again.removeLast();
        QCOMPARE(again, listing);
    }

    // Every generation's own listing loads back without a single error.
    void showConfigLoadsAtEveryLevel_data() {
        QTest::addColumn<int>("level");
        for (int l : firmwareLevels())
            QTest::newRow(qPrintable(QString::number(l))) << l;
    }
    void showConfigLoadsAtEveryLevel() {
        QFETCH(int, level);
        auto r = startReader(level);
        CommandClient c;
        QVERIFY(c.control(*r));
        QStringList listing = c.command("SHOW CONFIG");
        QCOMPARE(listing.takeLast(), QString("!SHOW OK"));
        for (const QString& line : std::as_const(listing)) {
            const QString status = c.statusOf(line);
            QVERIFY2(!status.contains("ERROR"), qPrintable(line + " -> " + status));
        }
    }

    void saveSurvivesRestartUnsavedDoesNot() {
        {
            auto r = startReader(9, "Dock1");
            CommandClient c;
            QVERIFY(c.connectTo(*r, "WS"));
            c.command("CONTROL");
            QCOMPARE(c.statusOf("TRIG T"), QString("!TRIG OK"));
            // NAME renames at once; a name the reader refuses leaves it as it was.
            QCOMPARE(c.statusOf("NAME \"Dock7\""), QString("!NAME OK"));
            QCOMPARE(c.query("NAME"), QString("NAME \"Dock7\""));
            QVERIFY(c.statusOf("NAME \"Dock7-with-a-long-name\"").startsWith("!NAME ERROR"));
            QCOMPARE(c.query("NAME"), QString("NAME \"Dock7\""));
            QCOMPARE(c.statusOf("SAVE"), QString("!SAVE OK"));
            QCOMPARE(c.statusOf("TE N"), QString("!TE OK"));
        }
        auto r = startReader(9, "Dock1");
        CommandClient c;
        QVERIFY(c.connectTo(*r));
        QCOMPARE(c.query("TRIG"), QString("TRIG T"));
        QCOMPARE(c.query("TE"), QString("TE P"));
        QCOMPARE(c.query("NAME"), QString("NAME \"Dock7\""));

        // A reboot also forgets what was not saved.
        c.command("CONTROL");
        c.command("TE B");
        // The network settings wait for the reboot the communication setup asks for: they stay.
        QCOMPARE(c.statusOf("DOMAIN plant7.example"), QString("!DOMAIN OK"));
        QSignalSpy rebooted(r.get(), &Reader::rebooted);
        r->reboot();
        QTRY_COMPARE(c.socket().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(rebooted.wait(kWait));
        CommandClient d;
        QVERIFY(d.connectTo(*r));
        QCOMPARE(d.query("TE"), QString("TE P"));
        QCOMPARE(d.query("DOMAIN"), QString("DOMAIN plant7.example"));
        QCOMPARE(d.query("CONTROLLER"), QString("CONTROLLER \"\""));
    }

    void flashFilesStayInTheStateFolder() {
        // The state folder is two levels down, so that a name that climbs out of it
        // would still land inside the temporary folder where the test can see it.
        const QString folder = m_state->filePath("a/b/state");
        for (const QString& name : {QStringLiteral("../../evil"), QStringLiteral(".."),
                                    QStringLiteral("C:\\evil"), QStringLiteral("/tmp/evil")}) {
            ReaderConfig c;
            c.name = name;
            c.softwareVersion = softwareVersionForLevel(9);
            c.commandPort = 0;
            c.dataPort = 0;
            c.stateFolder = folder;
            Reader r(c);
            QString error;
            QVERIFY2(r.start(&error), qPrintable(error));
            QCOMPARE(QFileInfo(r.flashPath()).absolutePath(), QDir(folder).absolutePath());
            QCOMPARE(QFileInfo(r.filesFolder()).absolutePath(), QDir(folder).absolutePath());
            CommandClient client;
            QVERIFY(client.connectTo(r, "WS"));
            client.command("CONTROL");
            QCOMPARE(client.statusOf("SAVE"), QString("!SAVE OK"));
            QVERIFY2(QFile::exists(r.flashPath()), qPrintable(r.flashPath()));
        }
        // Four readers, four flash files, all in the state folder and nothing beside it.
        QCOMPARE(QDir(folder).entryList({"*.flash.json"}, QDir::Files).size(), 4);
        QCOMPARE(QDir(m_state->filePath("a")).entryList(QDir::Files).size(), 0);
        QCOMPARE(QDir(m_state->filePath("a/b")).entryList(QDir::Files).size(), 0);
        QVERIFY(!QFile::exists("/tmp/evil.flash.json"));
    }

    void damagedFlashFallsBackToFactory() {
        QFile f(m_state->filePath("Line3.flash.json"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("{ not json");
        f.close();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("damaged"));
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.connectTo(*r));
        QCOMPARE(c.query("TRIG"), QString("TRIG C"));
    }

    // Stored PIDs are in flash at once, without SAVE: a restarted reader lists them and
    // keeps its own settings. (What STORE, LOAD and DIR answer is in transcripts/commands.txt.)
    void storedPidsOutliveARestart() {
        {
            auto r = startReader(7);
            CommandClient c;
            QVERIFY(c.control(*r));
            for (const char* line :
                 {"TIMEOUT READ 1234", "STORE 3", "STORE 12", "TIMEOUT READ 77", "STORE 1"})
                QCOMPARE(c.statusOf(line), QString("!%1 OK").arg(QString(line).section(' ', 0, 0)));
        }
        auto r = startReader(7);
        CommandClient c;
        QVERIFY(c.control(*r));
        const QStringList dir = c.command("DIR");
        QCOMPARE(dir.size(), 5);
        QVERIFY(dir[0].startsWith("PID1:"));
        QVERIFY(dir[1].startsWith("PID3:"));
        QVERIFY(dir[2].startsWith("PID12:"));
        QCOMPARE(dir[3], QString("DIR 3 PIDS"));
        QCOMPARE(c.query("TIMEOUT READ"), QString("TIMEOUT READ 500"));
        QCOMPARE(c.statusOf("LOAD 1"), QString("!LOAD OK"));
        QCOMPARE(c.query("TIMEOUT READ"), QString("TIMEOUT READ 77"));
    }

    // An external light's calibration written back cancels that light's calibration alone.
    // (The values the reader checks are in transcripts/values.txt.)
    void writingALightsCalibrationBackCancelsItAlone() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        LightCalibration calibrated;
        calibrated.calibrated = true;
        for (const char* light : {"45Q", "90"})
            r->parameters().setCalibration(light, calibrated);
        const QString light = c.query("XLIGHTCONTRASTCAL 45Q");
        QCOMPARE(c.statusOf(light), QString("!XLIGHTCONTRASTCAL OK"));
        QCOMPARE(c.query("CALIBRATED 45Q"), QString("CALIBRATED 45Q FALSE"));
        QCOMPARE(c.query("CALIBRATED 90"), QString("CALIBRATED 90 TRUE"));
    }

    void badInputKeepsTheConnection() {
        auto r = startReader(10);
        CommandClient c, other;
        QVERIFY(c.connectTo(*r));
        QVERIFY(other.connectTo(*r));
        c.sendRaw("TR\x01IG\n");
        QCOMPARE(c.readReply(), QStringList({"!? ERROR 1 malformed command"}));
        c.sendRaw(QByteArray(5000, 'A') + "\n");
        QCOMPARE(c.readReply(), QStringList({"!? ERROR 6 line too long"}));
        // A flood without any line end is dropped up to its LF, in pieces.
        for (int i = 0; i < 64; ++i)
            c.sendRaw(QByteArray(16 * 1024, 'B'));
        QCOMPARE(other.query("TE"), QString("TE P")); // other clients are not held up
        c.sendRaw("\n");
        QCOMPARE(c.readReply(), QStringList({"!? ERROR 6 line too long"}));
        // An unterminated line waits for its end.
        c.sendRaw("TIMEOUT ");
        QCOMPARE(other.query("TRIG"), QString("TRIG C"));
        c.sendRaw("READ\r\n");
        QCOMPARE(c.readReply(), QStringList({"TIMEOUT READ 500", "!TIMEOUT OK"}));
        QCOMPARE(c.statusOf("\"unterminated"), QString("!\"UNTERMINATED ERROR 1 unknown command"));
        QCOMPARE(r->commandClients(), 2);
    }

    void clientLeavingMidReply() {
        auto r = startReader(10);
        {
            CommandClient c;
            QVERIFY(c.connectTo(*r));
            c.sendRaw("SHOW CONFIG\nSHOW CONFIG\nDIR\n");
            QVERIFY(c.socket().waitForBytesWritten(kWait));
            QTRY_VERIFY(c.socket().bytesAvailable() > 0);
            c.socket().abort();
        }
        QTRY_COMPARE(r->commandClients(), 0);
        CommandClient d;
        QVERIFY(d.connectTo(*r));
        QCOMPARE(d.query("TRIG"), QString("TRIG C"));
    }

    void recordsOnTheDataChannel() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        c.command("TRIG T");
        DataClient withImages, noImages;
        QVERIFY(withImages.connectTo(*r));
        QVERIFY(noImages.connectTo(*r));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("dropped 30 bytes"));
        withImages.socket().write("garbage before the first frame");
        withImages.subscribe(0);
        noImages.subscribe(2);
        QVERIFY(!withImages.nextEvent().isEmpty());
        QVERIFY(!noImages.nextEvent().isEmpty());
        QCOMPARE(c.statusOf("vt 2"), QString("!VT OK"));
        QByteArray image;
        QJsonObject o = withImages.nextRecord(&image);
        QCOMPARE(o.value("number").toInt(), 1);
        QCOMPARE(o.value("image").toString(), QString("raw"));
        QCOMPARE(image.size(), o.value("width").toInt() * o.value("height").toInt());
        QCOMPARE(o.value("width").toInt(), 659);
        o = noImages.nextRecord(&image);
        QCOMPARE(o.value("image").toString(), QString("none"));
        QVERIFY(image.isEmpty());
        // The user trigger string triggers too, in any case and ended by a bare CR as a PC sends
        // it, and the statistics count.
        c.command("TRIG U \"GO\"");
        c.sendRaw("go\r");
        QCOMPARE(c.readReply(), QStringList{"!GO OK"});
        QCOMPARE(noImages.nextRecord().value("number").toInt(), 2);
        QCOMPARE(c.query("STATS").section(' ', 1, 1), QString("2"));
        QCOMPARE(c.statusOf("STATS RESET"), QString("!STATS OK"));
        QCOMPARE(c.query("STATS"), QString("STATS 0 0 0 0 0 0"));
        // A second trigger while the first still waits for its cycle is an overrun.
        QCOMPARE(c.sendAll({"VT 1", "VT 1"}), (QStringList{"!VT OK", "!VT OK"}));
        QVERIFY(!noImages.nextRecord().isEmpty());
        QCOMPARE(c.query("STATS"), QString("STATS 2 1 0 0 1 0"));
        // Offline a trigger reads nothing and counts nothing; online again it reads.
        QCOMPARE(c.refused({"OFFLINE", "VT 1"}), QString());
        QCOMPARE(c.query("STATS"), QString("STATS 2 1 0 0 1 0"));
        QCOMPARE(c.refused({"ONLINE", "VT 1"}), QString());
        QCOMPARE(noImages.nextRecord().value("number").toInt(), 4);
        QCOMPARE(c.query("STATS"), QString("STATS 3 2 0 0 1 0"));
    }

    // What the camera sees comes back decoded: a scene text set through the admin
    // interface is the text of the next records, and an image-rate limit holds back
    // images while reports keep coming.
    void sceneTextReachesTheRecords() {
        ReaderConfig rc;
        rc.name = "Scene1";
        rc.cycleRate = 20;
        const auto simulator = startOne(rc);
        QVERIFY(simulator);
        AdminConsole admin(*simulator);
        QVERIFY(admin.execute("scene HELLO-SCENE").trimmed().endsWith("ok"));
        QVERIFY(admin.execute("sceneset serial 0").trimmed().endsWith("ok"));

        Reader& r = *simulator->reader(0);
        DataClient data;
        QVERIFY(data.open(r, 0, 2));
        int records = 0, withImages = 0;
        QString text;
        // 30 records at 20 per second take about 1.5 s; at 2 images per second at most a
        // handful of them carry their image.
        while (records < 30) {
            QByteArray image;
            const QJsonObject o = data.nextRecord(&image);
            QVERIFY(!o.isEmpty());
            ++records;
            if (!image.isEmpty())
                ++withImages;
            if (o.value("symbolFound").toBool())
                text = o.value("text").toString();
        }
        QVERIFY2(text.startsWith("HELLO-SCENE"), qPrintable(text));
        QVERIFY2(withImages >= 1 && withImages <= 6, qPrintable(QString::number(withImages)));
    }

    // Replay reports the last real cycle again, numbered on, so the reader streams as fast as it
    // is asked; continuous cycles may run far above the old 120 per second but never faster than
    // the rate asked.
    void replayAndTheRateBound() {
        ReaderConfig rc;
        rc.name = "Replay1";
        rc.cycleRate = 40;
        const auto simulator = startOne(rc);
        QVERIFY(simulator);
        Reader& r = *simulator->reader(0);
        AdminConsole admin(*simulator);
        // Above 0 and at most 1000: both ends refused past them, and the rate kept.
        for (const char* bad : {"rate 1001", "rate 0", "rate -5", "rate fast"})
            QVERIFY2(admin.execute(bad).startsWith("error: rate must be above 0 and at most 1000"), bad);
        QCOMPARE(r.cycles().rate(), 40.0);
        QCOMPARE(admin.execute("rate 1000"), QString("ok\n"));
        QCOMPARE(admin.execute("rate 0.5"), QString("ok\n"));
        QCOMPARE(r.cycles().rate(), 0.5);
        QCOMPARE(admin.execute("rate 900"), QString("ok\n"));
        QCOMPARE(r.cycles().rate(), 900.0);
        QCOMPARE(admin.execute("rate 40"), QString("ok\n"));
        QVERIFY(admin.execute("replay maybe").startsWith("error: replay"));
        QVERIFY(admin.execute("scene REPLAY").trimmed().endsWith("ok"));

        DataClient data;
        QVERIFY(data.open(r, 0));
        // Live: every cycle takes a new picture, and the serial number in the text moves on.
        QByteArray image1, image2;
        QJsonObject o1 = data.nextRecord(&image1), o2 = data.nextRecord(&image2);
        QVERIFY(o1.value("text").toString().startsWith("REPLAY"));
        QVERIFY(o1.value("text") != o2.value("text"));

        QCOMPARE(admin.execute("replay on"), QString("ok\n"));
        QVERIFY(admin.execute("state").contains("replay=on"));
        // The first cycle after the switch still takes a picture; every one after it repeats it.
        const qint64 switchedAt = r.cycles().lastNumber();
        QByteArray first;
        QJsonObject base;
        while (base.value("number").toInteger() <= switchedAt) {
            base = data.nextRecord(&first);
            QVERIFY(!base.isEmpty());
        }
        QCOMPARE(first.size(), 659 * 494);
        qint64 number = base.value("number").toInteger();
        QList<qint64> times{base.value("time").toInteger()};
        for (int i = 0; i < 30; ++i) {
            QByteArray image;
            const QJsonObject o = data.nextRecord(&image);
            QCOMPARE(o.value("number").toInteger(), ++number);
            QCOMPARE(o.value("text"), base.value("text"));
            QVERIFY(image == first);
            times.append(o.value("time").toInteger());
        }
        // 20 cycles at 40 per second, by the reader's own clock: half a second at least (a cycle
        // may start half a millisecond early). A cycle the host's load made late shortens the
        // stretch that starts with it, since the next ones keep to their times: of the stretches
        // of 20, the longest counts.
        qint64 took = 0;
        for (int i = 0; i + 20 < times.size(); ++i)
            took = std::max(took, times.at(i + 20) - times.at(i));
        QVERIFY2(took >= 480, qPrintable(QString::number(took)));

        QCOMPARE(admin.execute("replay off"), QString("ok\n"));
        const qint64 replayedUpTo = r.cycles().lastNumber();
        do
            o1 = data.nextRecord(&image1);
        while (!o1.isEmpty() && o1.value("number").toInteger() <= replayedUpTo);
        o2 = data.nextRecord(&image2);
        QVERIFY(o1.value("text") != o2.value("text"));
        QVERIFY(admin.execute("state").contains("replay=off"));
    }

    // A client that does not read its data port makes the reader leave records out rather than
    // queue them without bound; before the next record it sends, the client is told how many,
    // and the numbers of the records it does get show the same gap.
    void aSlowClientIsToldOfSkippedRecords() {
        ReaderConfig rc;
        rc.name = "Skip1";
        rc.cycleRate = 500;
        rc.replay = true;
        const auto simulator = startOne(rc);
        QVERIFY(simulator);
        Reader& r = *simulator->reader(0);
        DataClient data;
        data.socket().setReadBufferSize(64 * 1024); // stops taking bytes once that is full
        QVERIFY(data.open(r, 0));
        QTRY_VERIFY_WITH_TIMEOUT(r.droppedRecords() > 0, 20000);
        AdminConsole admin(*simulator);
        QVERIFY(admin.execute("state").contains(QString("dropped=")));
        data.socket().setReadBufferSize(0);

        qint64 last = -1;
        quint64 told = 0;
        bool gapChecked = false;
        Frame f;
        while (!gapChecked && data.nextAny(&f)) {
            if (f.type == FrameType::Event) {
                const QJsonObject e = QJsonDocument::fromJson(f.payload).object();
                if (e.value("event") == "skipped") {
                    QVERIFY(e.value("count").toInteger() > 0);
                    told += quint64(e.value("count").toInteger());
                }
            } else if (f.type == FrameType::Record) {
                const qint64 number = recordJson(f).value("number").toInteger();
                if (told > 0 && last >= 0) {
                    QCOMPARE(quint64(number - last - 1), told);
                    gapChecked = true;
                }
                last = number;
                told = 0;
            }
        }
        QVERIFY(gapChecked);
    }

    // Sends a grey BMP as the program transfers a picture; the reader's acknowledgement.
    static QJsonObject sendPicture(DataClient& d, const QString& name) {
        QImage img(659, 494, QImage::Format_Grayscale8);
        img.fill(200);
        QByteArray bmp;
        QBuffer buf(&bmp);
        if (!buf.open(QIODevice::WriteOnly) || !img.save(&buf, "BMP"))
            return {};
        d.send(FrameType::FileBegin,
               QJsonDocument(QJsonObject{{"name", name}, {"size", bmp.size()}, {"index", 0}, {"count", 1}})
                   .toJson(QJsonDocument::Compact));
        for (qsizetype i = 0; i < bmp.size(); i += kMaxFileDataChunk)
            d.send(FrameType::FileData, bmp.mid(i, kMaxFileDataChunk));
        d.send(FrameType::FileEnd, {});
        Frame f;
        if (!d.next(FrameType::FileAck, &f))
            return {};
        QJsonObject ack = QJsonDocument::fromJson(f.payload).object();
        if (ack.value("ok").toBool() && ack.value("received").toInteger() != bmp.size())
            ack.insert("error",
                       QString("received %1 of %2").arg(ack.value("received").toInteger()).arg(bmp.size()));
        return ack;
    }

    void fileTransfer() {
        auto r = startReader(10);
        DataClient d;
        QVERIFY(d.open(*r));
        auto begin = [&](const QString& name, qint64 size) {
            d.send(FrameType::FileBegin,
                   QJsonDocument(QJsonObject{{"name", name}, {"size", size}, {"index", 0}, {"count", 1}})
                       .toJson(QJsonDocument::Compact));
        };
        Frame f;
        QJsonObject ack = sendPicture(d, "part.bmp");
        QVERIFY2(ack.value("ok").toBool() && ack.value("error").toString().isEmpty(),
                 qPrintable(ack.value("error").toString()));
        QCOMPARE(r->transferredFiles().size(), 1);
        begin("notes.txt", 10);
        QVERIFY(d.next(FrameType::FileAck, &f));
        ack = QJsonDocument::fromJson(f.payload).object();
        QVERIFY(!ack.value("ok").toBool());
        QCOMPARE(ack.value("error").toString(), QString("not a BMP or TIFF file"));
        d.send(FrameType::FileEnd, {});

        CommandClient c;
        QVERIFY(c.control(*r));
        QCOMPARE(c.statusOf("DRIVEDELETE FILES"), QString("!DRIVEDELETE OK"));
        QVERIFY(r->transferredFiles().isEmpty());
        QCOMPARE(c.statusOf("CAPTURE FILES"), QString("!CAPTURE ERROR 8 no image files on the reader"));
    }

    void filesWithoutStateFolderGoWithTheReader() {
        // A reader started without a state folder keeps its received pictures in the system's
        // temporary folder; nothing of it may stay there once it is gone.
        ReaderConfig c;
        c.name = "Transient";
        c.softwareVersion = softwareVersionForLevel(10);
        c.commandPort = 0;
        c.dataPort = 0;
        auto r = std::make_unique<Reader>(c);
        QString error;
        QVERIFY2(r->start(&error), qPrintable(error));
        QString folder;
        {
            DataClient d;
            QVERIFY(d.open(*r));
            const QJsonObject ack = sendPicture(d, "part.bmp");
            QVERIFY2(ack.value("ok").toBool() && ack.value("error").toString().isEmpty(),
                     qPrintable(ack.value("error").toString()));
            QCOMPARE(r->transferredFiles().size(), 1);
            folder = QFileInfo(r->transferredFiles().first()).absolutePath();
            QCOMPARE(QFileInfo(folder).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
            QVERIFY(QFile::exists(r->transferredFiles().first()));
        }
        r.reset();
        QVERIFY2(!QFileInfo::exists(folder), qPrintable(folder));
    }

    void serialLine() {
        auto r = startReader(9, "Serial1", true);
        QVERIFY(!r->serialDevice().isEmpty());
        QFile portFile(m_state->filePath("ports/" + r->serialPortName() + ".port"));
        QVERIFY(portFile.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(portFile.readLine()).trimmed(), r->serialDevice());
        portFile.close();
        {
            Pty pc(r->serialDevice());
            QVERIFY(pc.isOpen());
            QVERIFY(pc.write("STATION /dev/ttyUSB0\r\nCONTROL\r\nCONTROLLER\r\n"));
            QVERIFY(pc.readUntil("!CONTROLLER OK\r\n"));
            QVERIFY(pc.in.contains("CONTROLLER \"/dev/ttyUSB0\"\r\n"));
            QVERIFY(pc.in.contains("#EVENT {\"controller\":\"/dev/ttyUSB0\",\"event\":\"control\"}\r\n"));
            pc.in.clear();
            QVERIFY(pc.write("TRIG T\r\nREPORTREQ  255 0\r\nVT 2\r\n"));
            QVERIFY(pc.readUntil("#RECORD "));
            QVERIFY(pc.readUntil("\"image\":\"none\""));
            QVERIFY(pc.in.contains("!REPORTREQ OK\r\n"));
            // NEXTFAIL passes over good reads and waits for a failed one: one that decodes but
            // fails the match is one. Only that record comes.
            QSignalSpy records(r.get(), &Reader::recordDelivered);
            pc.in.clear();
            QVERIFY(pc.write("REPORTREQ  255 0 NEXTFAIL\r\nVT 1\r\n"));
            QTRY_COMPARE_WITH_TIMEOUT(records.size(), 1, kWait);
            QVERIFY(pc.write("MATCHEX T \"NOPE\" 0 1 1 1\r\nVT 1\r\n"));
            QTRY_COMPARE_WITH_TIMEOUT(records.size(), 2, kWait);
            QVERIFY(pc.readUntil("#RECORD "));
            pc.in = pc.in.mid(pc.in.indexOf("#RECORD "));
            QVERIFY(pc.readUntil("\"match\":\"FAIL\""));
            QVERIFY(pc.readUntil("\"symbolFound\":true"));
            QVERIFY(
                pc.in.contains(QString("\"number\":%1,").arg(records.last().at(0).toLongLong()).toLatin1()));
            QCOMPARE(pc.in.count("#RECORD "), 1);
            // TTY moves the reader's port at once: a PC at 57,600 baud is understood.
            pc.in.clear();
            QVERIFY(pc.write("TTY 57600 N 8 1 N\r\n"));
            QVERIFY(pc.readUntil("!TTY OK\r\n"));
            QVERIFY(pc.setSpeed(B57600));
            pc.in.clear();
            QVERIFY(pc.write("TTY\r\n"));
            QVERIFY(pc.readUntil("!TTY OK\r\n"));
            QVERIFY(pc.in.contains("TTY 57600 N 8 1 N\r\n"));
        }
        const QString path = portFile.fileName();
        r.reset();
        QVERIFY(!QFile::exists(path));
    }

    // A pseudo-terminal carries bytes as fast as they are read: the reader paces its output
    // at its baud rate, so that a long reply at 9,600 baud takes as long as on a cable.
    void serialOutputIsPacedAtTheBaudRate() {
        QCOMPARE(LineSettings::fromFields({"9600", "N", "8", "1", "N"}).charactersPerSecond(), 960.0);
        QCOMPARE(LineSettings::fromFields({"9600", "E", "7", "2", "N"}).charactersPerSecond(), 9600.0 / 11);
        QCOMPARE(LineSettings::fromFields({"1200", "O", "7", "1", "N"}).charactersPerSecond(), 120.0);

        ReaderConfig rc;
        rc.serial = true;
        const auto sim = startOne(rc);
        QVERIFY(sim);
        AdminConsole admin(*sim);
        Reader* r = sim->reader(0);
        QVERIFY(admin.execute("serial").contains(" 115200,N,8,1,N paced=11520B/s pending=0\nok\n"));
        QVERIFY(admin.execute("serial baud 9601").startsWith("error:"));
        QVERIFY(admin.execute("serial pacing maybe").startsWith("error:"));
        QVERIFY(admin.execute("serial 2 baud 9600").startsWith("error: no reader 2"));
        // The speed is the reader's TTY setting, as a PC's TTY command would set it.
        QCOMPARE(admin.execute("serial baud 9600"), QString("ok\n"));
        QCOMPARE(r->parameters().fields("TTY").value(0), QString("9600"));
        QVERIFY(admin.execute("serial").contains(" 9600,N,8,1,N paced=960B/s "));

        Pty pc(r->serialDevice());
        QVERIFY(pc.isOpen());
        const QByteArray ask = "SHOW CONFIG\r\n";
        QElapsedTimer clock;
        clock.start();
        QVERIFY(pc.write(ask));
        // While the listing is on its way, most of it still waits in the reader.
        auto pending = [&] {
            const QString text = admin.execute("serial");
            return text.mid(text.indexOf("pending=") + 8).section('\n', 0, 0).toInt();
        };
        QTRY_VERIFY(pending() > 1000);
        QVERIFY(pc.readUntil("!SHOW OK\r\n", 30000));
        const qint64 took = clock.elapsed();
        QVERIFY(pc.in.size() > 3000);
        // The first character leaves at once, each further one 1/960 s after it.
        const qint64 least = (pc.in.size() - 1) * 1000 / 960;
        QVERIFY2(took >= least, qPrintable(QString("%1 bytes in %2 ms, at least %3 ms at 9600 baud")
                                               .arg(pc.in.size())
                                               .arg(took)
                                               .arg(least)));

        // Without pacing the reply waits for nothing but the PC's reading.
        QCOMPARE(admin.execute("serial pacing off"), QString("ok\n"));
        QVERIFY(!r->serialPacing());
        QVERIFY(admin.execute("serial").contains(" unpaced "));
        pc.in.clear();
        QVERIFY(pc.write(ask));
        QVERIFY(pc.readUntil("!SHOW OK\r\n", kWait));
    }

    void adminHandles() {
        ReaderConfig rc;
        const auto sim = startOne(rc);
        QVERIFY(sim);
        AdminConsole admin(*sim);
        Reader* r = sim->reader(0);
        CommandClient c;
        QVERIFY(c.connectTo(*r, "WS-A"));
        c.command("CONTROL");
        QCOMPARE(admin.execute("steal PLANT-PC"), QString("ok\n"));
        QCOMPARE(admin.execute("malform"), QString("ok\n"));
        c.sendRaw("TRIG\n");
        QByteArray bad;
        QTRY_VERIFY((bad += c.socket().readAll()).contains("TRIG OK\r\n"));
        QVERIFY(bad.contains("\x7f"));
        QVERIFY(!bad.contains("!TRIG"));
        QCOMPARE(c.query("TE"), QString("TE P")); // only that one reply was bad
        QCOMPARE(admin.execute("silent"), QString("ok\n"));
        c.sendRaw("TE\n");
        QCOMPARE(c.query("TRIG"), QString("TRIG C"));
        QVERIFY(admin.execute("state").contains("controller=PLANT-PC"));
        // The reader list tells where each reader listens: address, command port, data port.
        QVERIFY(r->commandPort() != r->dataPort());
        const QString where =
            QString("%1:%2/%3").arg(r->address().toString()).arg(r->commandPort()).arg(r->dataPort());
        const QString list = admin.execute("readers");
        QVERIFY2(list.startsWith("1 ") && list.contains(" " + where + " ") && list.endsWith("ok\n"),
                 qPrintable(list));
        // Print faults of the part in view: known kinds with a strength in percent.
        QCOMPARE(admin.execute("fault finder 20"), QString("ok\n"));
        QCOMPARE(admin.execute("fault 1 spot 40"), QString("ok\n"));
        QVERIFY(admin.execute("fault uneven").startsWith("error:"));
        // sceneset alone shows the scene: each fault's strength under its own name.
        QCOMPARE(admin.execute("fault uneven 7"), QString("ok\n"));
        const QString shown = admin.execute("sceneset 1");
        QVERIFY2(shown.endsWith("\nok\n"), qPrintable(shown));
        const QJsonObject faults =
            QJsonDocument::fromJson(shown.section('\n', 0, 0).toUtf8()).object().value("faults").toObject();
        QCOMPARE(faults.value("finder").toDouble(), 20.0);
        QCOMPARE(faults.value("uneven").toDouble(), 7.0);
        QCOMPARE(faults.value("fade").toDouble(), 0.0);
        QCOMPARE(admin.execute("fault none"), QString("ok\n"));
        // A lamp's light is named by a number too: "lamp 90 20" is light 90 of the first reader.
        QCOMPARE(admin.execute("lamp 90 20"), QString("ok\n"));
        QCOMPARE(admin.execute("lamp 1 90 100"), QString("ok\n"));
        // Each external light LIGHT_CTL selects takes a lamp (the list an unknown light is refused
        // with is in transcripts/admin.txt); the reader's own light has no lamp here.
        for (const char* light :
             {"90", "D", "45Q", "30T_NS", "30T_EW", "30Q", "30S_N", "30S_E", "30S_S", "30S_W"})
            QCOMPARE(admin.execute(QString("lamp %1 100").arg(light)), QString("ok\n"));
        QVERIFY(admin.execute("lamp INTERNAL 50").startsWith("error:"));
        QVERIFY(AdminConsole::helpText().contains("fault [READER] KIND STRENGTH"));
        QVERIFY(admin.execute("state 7").startsWith("error: no reader 7"));
        QCOMPARE(admin.execute("drop"), QString("ok\n"));
        QTRY_COMPARE(c.socket().state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(admin.execute("down"), QString("ok\n"));
        QVERIFY(!r->isListening());
        QCOMPARE(admin.execute("up"), QString("ok\n"));
        CommandClient d;
        QVERIFY(d.connectTo(*r));

        // A client that closes its sending side right after its command still gets the answer.
        QString listenError;
        QVERIFY2(admin.listen(0, &listenError), qPrintable(listenError));
        for (const char* line : {"unsteal\n", "state\n"}) {
            QTcpSocket client;
            client.connectToHost(QHostAddress::LocalHost, admin.port());
            QVERIFY(client.waitForConnected(5000));
            client.write(line);
            QVERIFY(client.waitForBytesWritten(5000));
            QCOMPARE(::shutdown(int(client.socketDescriptor()), SHUT_WR), 0);
            QByteArray answer;
            QTRY_VERIFY((answer += client.readAll()).endsWith("ok\n"));
        }
    }

    void controlRefusedOnceOrForEveryStation() {
        ReaderConfig rc;
        const auto sim = startOne(rc);
        QVERIFY(sim);
        AdminConsole admin(*sim);
        Reader* r = sim->reader(0);
        CommandClient a;
        CommandClient b;
        QVERIFY(a.connectTo(*r, "WS-A"));
        QVERIFY(b.connectTo(*r, "WS-B"));
        QSignalSpy changes(r, &Reader::controllerChanged);
        const QStringList refused{"!CONTROL ERROR 8 programming control refused"};
        QCOMPARE(a.command("CONTROL"), QStringList{"!CONTROL OK"});

        // Always: every station is refused, the holder keeps control and may still write. (Once
        // refuses the next request alone: transcripts/admin.txt.)
        QCOMPARE(admin.execute("refusecontrol 1 always"), QString("ok\n"));
        QCOMPARE(b.command("CONTROL"), refused);
        QCOMPARE(b.command("CONTROL"), refused);
        QCOMPARE(a.command("CONTROL"), refused);
        QCOMPARE(b.query("CONTROLLER"), QString("CONTROLLER \"WS-A\""));
        QCOMPARE(b.command("TRIG T").last(), QString("!TRIG ERROR 4 no programming control"));
        QCOMPARE(a.command("TRIG T").last(), QString("!TRIG OK"));
        QCOMPARE(changes.count(), 1);
        // RELEASE is not refused.
        QCOMPARE(a.command("RELEASE").last(), QString("!RELEASE OK"));
        QCOMPARE(r->controller(), QString());

        QCOMPARE(admin.execute("refusecontrol off"), QString("ok\n"));
        QCOMPARE(b.command("CONTROL"), QStringList{"!CONTROL OK"});
        QCOMPARE(r->controller(), QString("WS-B"));
        QVERIFY(admin.execute("refusecontrol sometimes").startsWith("error:"));
        QVERIFY(admin.execute("refusecontrol").startsWith("error:"));
        QVERIFY(AdminConsole::helpText().contains("refusecontrol [READER] once|always|off"));
    }

    // The part queue as a station sees it through its commands. The list's head counts the
    // parts, the limit in force (the maximum, within what the memory holds), those dropped to
    // make room and those uploaded; each part has its failure kind (not located, or located
    // and not decoded). A fetched file is as many bytes as its head line says, in base64 lines
    // of at most 4096 characters. With an FTP server named the reader takes the parts there,
    // to store their results alone or their images alone. (The FTP path of a whole transfer is
    // the communication tests'.)
    void partQueueCommands() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        QCOMPARE(c.refused({"TRIG T", "PARTQ Y FAILED 3", "PARTQFAIL ALL"}), QString());
        QSignalSpy records(r.get(), &Reader::recordDelivered);
        const auto cycle = [&] {
            const qsizetype before = records.size();
            c.command("VT 1");
            return QTest::qWaitFor([&] { return records.size() > before; }, kWait)
                       ? records.last().at(0).toLongLong()
                       : -1;
        };
        QString error;
        QVERIFY(r->setScene("contrast", "0", &error));
        QList<qint64> numbers;
        for (int i = 0; i < 4; ++i)
            numbers << cycle();
        // A Data Matrix in view of a reader told to read none: located, not decoded.
        QVERIFY(r->setScene("contrast", "90", &error));
        QCOMPARE(c.refused({"NUMDM 0"}), QString());
        numbers << cycle();
        QStringList list = c.command("PARTQLIST");
        QCOMPARE(list.value(0), QString("PARTQLIST 3 3 2 0"));
        QCOMPARE(list.size(), 5);
        for (int i = 0; i < 3; ++i) {
            const QStringList item = list.value(1 + i).split(' ');
            QCOMPARE(item.value(0) + " " + item.value(1), "PARTQITEM " + QString::number(numbers[2 + i]));
            QCOMPARE(item.mid(3), QStringList({"FAIL", i < 2 ? "LOCFL" : "DECFL", "-", "Y"}));
        }
        for (const QString kind : {"txt", "bmp"}) {
            const QStringList got = c.command(QString("PARTQGET %1 %2").arg(numbers[4]).arg(kind.toUpper()));
            QCOMPARE(got.value(got.size() - 1), QString("!PARTQGET OK"));
            QByteArray encoded;
            for (const QString& l : got.mid(1, got.size() - 2)) {
                QVERIFY2(l.startsWith("PARTQDATA ") && l.size() <= 10 + 4096, qPrintable(l.left(80)));
                encoded += l.mid(10).toLatin1();
            }
            const QByteArray file = QByteArray::fromBase64(encoded);
            QCOMPARE(got.value(0), QString("PARTQFILE Line3_%1.%2 %3")
                                       .arg(numbers[4], 9, 10, QChar('0'))
                                       .arg(kind)
                                       .arg(file.size()));
            if (kind == "txt")
                QVERIFY2(file.contains("\r\nFailure: DECFL\r\n"), file.constData());
            else
                QCOMPARE(QImage::fromData(file, "BMP").size(), QSize(659, 494));
        }
        // A maximum beyond what the memory holds keeps what the memory holds.
        QCOMPARE(c.refused({"PARTQ Y FAILED 1000000"}), QString());
        const QString capacity = c.query("PARTQCAPACITY").section(' ', 1, 1);
        QVERIFY2(capacity.toLongLong() > 3 && capacity.toLongLong() < 1000000, qPrintable(capacity));
        QCOMPARE(c.command("PARTQLIST").value(0), QString("PARTQLIST 3 %1 2 0").arg(capacity));

        // This server hangs up at once: the reader calls again and the parts wait.
        for (const auto& [results, images] : {std::pair("Y", "N"), std::pair("N", "Y")}) {
            QTcpServer server;
            QVERIFY(server.listen(QHostAddress::LocalHost));
            QSignalSpy calls(&server, &QTcpServer::newConnection);
            QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
                while (QTcpSocket* s = server.nextPendingConnection())
                    s->abort();
            });
            QCOMPARE(c.refused({QString("PARTQFTPEX \"127.0.0.1:%1\" \"q\" %2 %3 0")
                                    .arg(server.serverPort())
                                    .arg(QString(results), QString(images))}),
                     QString());
            QTRY_VERIFY2_WITH_TIMEOUT(
                !calls.isEmpty(),
                qPrintable(
                    QString("no call for results %1, images %2").arg(QString(results), QString(images))),
                kWait);
        }
        QCOMPARE(c.command("PARTQLIST").value(0).section(' ', 1, 1), QString("3"));
    }

    void catalogueListing() {
        const QString md = commandCatalogueMarkdown();
        // The reader knows every parameter at the levels, with the fields, ranges and defaults,
        // that docs/commands.md documents, and answers the commands it lists: a range, default
        // or level of its own shows as the first line that differs.
        QFile doc(QStringLiteral(VELMARROW_COMMANDS_DOC));
        QVERIFY(doc.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList documented = QString::fromUtf8(doc.readAll()).split(QLatin1Char('\n'));
        const QStringList listed = md.split(QLatin1Char('\n'));
        for (qsizetype i = 0; i < std::max(documented.size(), listed.size()); ++i)
            QVERIFY2(documented.value(i) == listed.value(i),
                     qPrintable(QStringLiteral("line %1 documented as\n  %2\nbut the reader lists\n  %3")
                                    .arg(i + 1)
                                    .arg(documented.value(i), listed.value(i))));
    }

    // An output carrying DECODE_FAILURE switches on a failed read only; its polarity decides the level.
    void outputLineFollowsTheRead() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        QCOMPARE(c.refused({"TRIG T", "IO_MODE DV_HS 50", "IOASSIGN OPTO_OUT2 DECODE_FAILURE",
                            "SET_CRITERIA DECODE_FAILURE BOOL  ", "SIGOUT OPTO_OUT2 H"}),
                 QString());
        DataClient d;
        QVERIFY(d.open(*r));
        // A new subscriber hears the controller, then each of the 8 lines (as every transcript's
        // first record shows): passed over, so that a cycle's events are its own.
        for (int i = 0; i < 9; ++i)
            QVERIFY(!d.nextEvent().isEmpty());

        auto cycle = [&](QJsonObject* record) {
            QList<QJsonObject> events;
            c.command("VT 1");
            if (!d.eventsUntilRecord(&events, record))
                return QList<QJsonObject>{{{"timeout", true}}};
            QList<QJsonObject> mine;
            for (const QJsonObject& o : events)
                if (o.value("line") == "OPTO_OUT2")
                    mine << o;
            return mine;
        };
        QJsonObject record;
        QList<QJsonObject> events = cycle(&record);
        QVERIFY(record.value("symbolFound").toBool());
        QVERIFY2(events.isEmpty(), "a good read leaves a DECODE_FAILURE line off");

        QString error;
        QVERIFY(r->setScene("contrast", "0", &error));
        events = cycle(&record);
        QVERIFY(!record.value("symbolFound").toBool());
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0],
                 QJsonObject({{"event", "line"}, {"line", "OPTO_OUT2"}, {"active", true}, {"high", true}}));
        // Full handshake: the line drops as the next cycle begins, and a second failed read
        // switches it on again.
        events = cycle(&record);
        QVERIFY(!record.value("symbolFound").toBool());
        QCOMPARE(events.size(), 2);
        QCOMPARE(events[0].value("active").toBool(), false);
        QCOMPARE(events[1].value("active").toBool(), true);

        // Low-true: the same state, the other level, at once.
        QCOMPARE(c.statusOf("SIGOUT OPTO_OUT2 L"), QString("!SIGOUT OK"));
        QCOMPARE(d.lineEvent("OPTO_OUT2", true).value("high").toBool(), false);
        QVERIFY(r->setScene("contrast", "90", &error));
        events = cycle(&record);
        QVERIFY(record.value("symbolFound").toBool());
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].value("active").toBool(), false);
        QCOMPARE(events[0].value("high").toBool(), true);
        QVERIFY(r->stateText().contains("line OPTO_OUT2 DECODE_FAILURE output active=no high=yes"));
    }

    // In a pipelined mode a result line drops again after the signal duration.
    void pulsedOutputDropsAfterItsDuration() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        QCOMPARE(c.refused({"TRIG T", "IO_MODE DV_PULSE 300", "IOASSIGN GPIO_OUT3 FAIL"}), QString());
        QString error;
        QVERIFY(r->setScene("contrast", "0", &error));
        DataClient d;
        QVERIFY(d.open(*r));
        c.command("VT 1");
        QVERIFY(!d.lineEvent("GPIO_OUT3", true).isEmpty());
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(!d.lineEvent("GPIO_OUT3", false).isEmpty());
        QVERIFY2(elapsed.elapsed() >= 250 && elapsed.elapsed() < 3000,
                 qPrintable(QString::number(elapsed.elapsed())));

        // A duration of 0 holds the line until the next result: the next failed read finds it
        // still on.
        QCOMPARE(c.refused({"IO_MODE DV_PULSE 0"}), QString());
        QSignalSpy changes(&r->lines(), &IoLines::lineChanged);
        QSignalSpy records(r.get(), &Reader::recordDelivered);
        for (int read = 1; read <= 2; ++read) {
            c.command("VT 1");
            QTRY_COMPARE_WITH_TIMEOUT(records.size(), read, kWait);
        }
        QStringList gpio3;
        for (const QList<QVariant>& change : std::as_const(changes))
            if (change.at(0).toString() == "GPIO_OUT3")
                gpio3 << (change.at(1).toBool() ? "on" : "off");
        QVERIFY2(!gpio3.contains("off"), qPrintable(gpio3.join(' ')));
        QVERIFY(r->lines().state("GPIO_OUT3").active);
    }

    // The admin interface drives OPTO IN 1 and GPIO lines that carry an input tag; a GPIO input
    // loads its PID before it triggers, the OPTO input's trigger delay holds its trigger back.
    void adminDrivesInputLines() {
        ReaderConfig rc;
        const auto simulator = startOne(rc);
        QVERIFY(simulator);
        AdminConsole admin(*simulator);
        Reader& r = *simulator->reader(0);
        CommandClient c;
        QVERIFY(c.control(r));
        QVERIFY(admin.execute("line OPTO_OUT1 high").startsWith("error: OPTO_OUT1 is not an input"));
        QVERIFY(admin.execute("line GPIO_OUT2 high").startsWith("error: GPIO_OUT2 is not an input"));
        QVERIFY(admin.execute("line OPTO_IN1 sideways").startsWith("error: line"));
        QCOMPARE(c.statusOf("IOASSIGN OPTO_OUT2 READ_A"),
                 QString("!IOASSIGN ERROR 2 inputs may only be assigned to GPIO_OUT1 through GPIO_OUT4"));
        QVERIFY(admin.execute("line NOWHERE high").startsWith("error: no line NOWHERE"));

        QCOMPARE(c.refused({"TRIG T", "IOASSIGN GPIO_OUT2 READ_B", "SET_CRITERIA READ_B INPUT_NEG 0 0",
                            "DWELLTIME 42", "STORE 3", "DWELLTIME 0", "ASSIGNEX 4 3", "TD 300"}),
                 QString());
        DataClient d;
        QVERIFY(d.open(r));
        QSignalSpy records(&r, &Reader::recordDelivered);
        // A pulse on READ_B: its falling edge fires, after PID 3 is loaded.
        QCOMPARE(admin.execute("line GPIO_OUT2 pulse 50"), QString("ok\n"));
        QCOMPARE(d.lineEvent("GPIO_OUT2", true).value("high").toBool(), true);
        QCOMPARE(d.lineEvent("GPIO_OUT2", false).value("high").toBool(), false);
        QTRY_COMPARE_WITH_TIMEOUT(records.size(), 1, kWait);
        QCOMPARE(c.query("DWELLTIME"), QString("DWELLTIME 42"));
        QCOMPARE(c.query("TD"), QString("TD 0"));
        QVERIFY(admin.execute("state").contains("line GPIO_OUT2 READ_B input active=no high=no"));

        c.command("TD 300");
        QElapsedTimer elapsed;
        elapsed.start();
        QCOMPARE(admin.execute("line OPTO_IN1 high"), QString("ok\n"));
        QVERIFY(admin.execute("state").contains("line OPTO_IN1 TRIGGER input active=no high=yes"));
        QVERIFY(!d.lineEvent("OPTO_IN1", true).isEmpty());
        QVERIFY2(elapsed.elapsed() >= 250, qPrintable(QString::number(elapsed.elapsed())));
        QTRY_COMPARE_WITH_TIMEOUT(records.size(), 2, kWait);
        // The old command still works: it is OPTO IN 1.
        QCOMPARE(admin.execute("input low"), QString("ok\n"));
        QVERIFY(!d.lineEvent("OPTO_IN1", false).isEmpty());

        // A GPIO input's latch is its criterion's second argument (the first is its delay, 0
        // here): a pulse however short stays asserted for 300 ms.
        QCOMPARE(c.refused({"IOASSIGN GPIO_OUT3 READ_C", "SET_CRITERIA READ_C INPUT_POS 0 300"}), QString());
        elapsed.start();
        QCOMPARE(admin.execute("line GPIO_OUT3 high"), QString("ok\n"));
        QCOMPARE(admin.execute("line GPIO_OUT3 low"), QString("ok\n"));
        QVERIFY(!d.lineEvent("GPIO_OUT3", true).isEmpty());
        QVERIFY(!d.lineEvent("GPIO_OUT3", false).isEmpty());
        QVERIFY2(elapsed.elapsed() >= 280, qPrintable(QString::number(elapsed.elapsed())));
    }

    // Power-strobed light still allows only short exposures: the reader limits what it uses.
    // Only the three power-strobed modes hold it; plain strobe, steady light, no light and
    // every mode with external light expose as long as asked.
    void powerStrobeLimitsTheExposureUsed() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        QCOMPARE(c.refused({"TRIG T", "PHOTOEX MANUAL 5000 100 30 20000 0 1023"}), QString());
        DataClient d;
        QVERIFY(d.open(*r));
        const QStringList held{"POWER_STROBE", "ON_AND_PSTROBED", "ON_AND_STROBED"};
        for (const QString& mode :
             QStringList{"OFF", "ON", "STROBE", "POWER_STROBE", "ON_AND_PSTROBED", "ON_AND_STROBED",
                         "EXTERNAL", "ON_AND_EXT", "STROBE_AND_EXT", "POWER_STROBE_AND_EXT",
                         "ON_AND_PSTROBED_AND_EXT", "ON_AND_STROBED_AND_EXT"}) {
            QCOMPARE(c.statusOf("ILLUM " + mode), QString("!ILLUM OK"));
            c.command("VT 1");
            QVERIFY2(d.nextRecord().value("exposure").toInt() == (held.contains(mode) ? 1000 : 5000),
                     qPrintable(mode));
        }
    }

    // Each retry mode's attempts, seen in the records (`attempts`, `pid`, timing).
    void retryModes() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        QCOMPARE(c.refused({"TRIG T", "PHOTOEX MANUAL 1000 100 30 20000 0 1023", "STORE 3",
                            "PHOTOEX MANUAL 30 0 30 20000 0 1023", "STORE 5", "IOASSIGN GPIO_OUT1 RETRY"}),
                 QString());
        DataClient d;
        QVERIFY(d.open(*r));
        QElapsedTimer took;
        auto cycle = [&] {
            took.start();
            c.command("VT 1");
            return d.nextRecord();
        };
        QString error;
        QVERIFY(r->setScene("contrast", "0", &error));

        // (NONE, COUNT and a LIST passing over a PID not stored are in the transcripts:
        // output.txt, retries-matching.txt, generations.txt.)
        QCOMPARE(c.statusOf(retryex("TIME", 300, 3, 500)), QString("!RETRYEX OK"));
        QJsonObject o = cycle();
        QVERIFY2(took.elapsed() >= 250 && o.value("attempts").toInt() > 2,
                 qPrintable(QString::number(took.elapsed())));
        // The read time-out ends a long retry early.
        QCOMPARE(c.statusOf("TIMEOUT READ 200"), QString("!TIMEOUT OK"));
        QCOMPARE(c.statusOf(retryex("TIME", 5000, 3, 500)), QString("!RETRYEX OK"));
        o = cycle();
        QCOMPARE(o.value("status").toString(), QString("Timeout"));
        QVERIFY2(took.elapsed() >= 150 && took.elapsed() < 3000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(r->cycles().stats().timeouts, 1u);
        // The report budget sends the result early, as a no-read.
        QCOMPARE(c.statusOf("TIMEOUT READ 0"), QString("!TIMEOUT OK"));
        QCOMPARE(c.statusOf("DWELLTIME 60"), QString("!DWELLTIME OK"));
        o = cycle();
        QVERIFY2(took.elapsed() < 2000 && o.value("attempts").toInt() <= 4,
                 qPrintable(QString::number(took.elapsed())));
        QCOMPARE(o.value("status").toString(), QString("No Read"));
        QCOMPARE(c.statusOf("DWELLTIME 0"), QString("!DWELLTIME OK"));

        // GPIO: retries while the RETRY input is held.
        QCOMPARE(c.statusOf(retryex("GPIO", 500, 3, 500)), QString("!RETRYEX OK"));
        QCOMPARE(cycle().value("attempts").toInt(), 1);
        QVERIFY(r->driveLine("GPIO_OUT1", true, &error));
        took.start();
        c.command("VT 1");
        QTest::qWait(0);
        QTimer::singleShot(200, r.get(), [&] { r->driveLine("GPIO_OUT1", false); });
        QVERIFY2(d.nextRecord().value("attempts").toInt() >= 4 && took.elapsed() >= 150,
                 qPrintable(QString::number(took.elapsed())));

        // LIST: each stored PID in turn, read with its settings without loading it.
        QCOMPARE(c.statusOf(retryex("LIST", 500, 3, 500, {5, 9, 3})), QString("!RETRYEX OK"));
        QVERIFY(r->setScene("contrast", "90", &error));
        o = cycle();
        QVERIFY(o.value("symbolFound").toBool());
        QCOMPARE(o.value("pid").toInt(), 3);
        QVERIFY(c.query("PHOTOEX").startsWith("PHOTOEX MANUAL 30 0 "));
        // Without acquire the PIDs decode one image; with it each takes a new one (the serial moves on).
        auto serialOf = [](const QJsonObject& rec) { return rec.value("text").toString().right(4).toInt(); };
        QVERIFY(r->setScene("contrast", "0", &error));
        QCOMPARE(c.statusOf(retryex("LIST", 500, 3, 500, {5, 5, 5}, "ON", 0, "A")), QString("!RETRYEX OK"));
        QCOMPARE(c.statusOf("PHOTOEX MANUAL 1000 100 30 20000 0 1023"), QString("!PHOTOEX OK"));
        QVERIFY(r->setScene("contrast", "90", &error));
        const int before = serialOf(cycle());
        QVERIFY(r->setScene("contrast", "0", &error));
        QCOMPARE(c.statusOf("PHOTOEX MANUAL 30 0 30 20000 0 1023"), QString("!PHOTOEX OK"));
        QCOMPARE(cycle().value("attempts").toInt(), 4);
        QCOMPARE(c.statusOf(retryex("LIST", 500, 3, 500, {5, 5, 5}, "ON", 0, "N")), QString("!RETRYEX OK"));
        QCOMPARE(cycle().value("attempts").toInt(), 4);
        QCOMPARE(c.statusOf(retryex("NONE", 500, 3, 500)), QString("!RETRYEX OK"));
        QCOMPARE(c.statusOf("PHOTOEX MANUAL 1000 100 30 20000 0 1023"), QString("!PHOTOEX OK"));
        QVERIFY(r->setScene("contrast", "90", &error));
        QCOMPARE(serialOf(cycle()), before + 6); // 4 images with acquire, 1 without, then this one

        // LIGHT: one retry with the retry lighting and its PID.
        QCOMPARE(c.statusOf("PHOTOEX MANUAL 30 0 30 20000 0 1023"), QString("!PHOTOEX OK"));
        QCOMPARE(c.statusOf(retryex("LIGHT", 500, 3, 500, {}, "ON", 3)), QString("!RETRYEX OK"));
        o = cycle();
        QVERIFY(o.value("symbolFound").toBool());
        QCOMPARE(o.value("attempts").toInt(), 2);
        QCOMPARE(o.value("pid").toInt(), 3);
        // One retry only, even when it fails too.
        QVERIFY(r->setScene("contrast", "0", &error));
        o = cycle();
        QVERIFY(!o.value("symbolFound").toBool());
        QCOMPARE(o.value("attempts").toInt(), 2);
    }

    // Presentation reading: a text read again within the inter-symbol wait is not reported.
    void supermarketSuppressesRepeats() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.control(*r));
        QString error;
        QVERIFY(r->setScene("serialstep", "0", &error));
        r->cycles().setRate(40);
        QCOMPARE(c.statusOf(retryex("SUPERMARKET", 500, 3, 0)), QString("!RETRYEX OK"));
        QSignalSpy records(r.get(), &Reader::recordDelivered);
        const qint64 first = r->cycles().lastNumber();
        QTRY_VERIFY_WITH_TIMEOUT(r->cycles().lastNumber() >= first + 15, kWait);
        QCOMPARE(records.size(), 1); // infinite wait: the same text once
        QVERIFY(r->setScene("text", "OTHER-", &error));
        QTRY_COMPARE_WITH_TIMEOUT(records.size(), 2, kWait);
        // A 300 ms wait: the text comes again only after it was out of sight that long.
        QCOMPARE(c.statusOf(retryex("SUPERMARKET", 500, 3, 300)), QString("!RETRYEX OK"));
        const qint64 now = r->cycles().lastNumber();
        QTRY_VERIFY_WITH_TIMEOUT(r->cycles().lastNumber() >= now + 15, kWait);
        QCOMPARE(records.size(), 2);
        QVERIFY(r->stateText().contains(QRegularExpression("suppressed=[1-9]")));
        DataClient d;
        QVERIFY(d.open(*r));
        QVERIFY(r->setScene("contrast", "0", &error));
        QElapsedTimer away;
        away.start();
        QTRY_VERIFY_WITH_TIMEOUT(away.elapsed() > 400, kWait);
        QVERIFY(records.size() > 2); // no-reads are reported
        QVERIFY(r->setScene("contrast", "90", &error));
        QJsonObject o = d.nextRecord();
        while (!o.isEmpty() && !o.value("symbolFound").toBool())
            o = d.nextRecord();
        QVERIFY(o.value("text").toString().startsWith("OTHER-"));
    }
};

int runSimTests(int argc, char** argv) {
    TestSim t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_sim.moc"
