// The simulated reader alone, over its real sockets, pseudo-terminal and files.

#include "sim/adminconsole.h"
#include "sim/catalogue.h"
#include "sim/dataframe.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <QtEndian>

#include <fcntl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <memory>

using namespace vm::sim;

namespace {

constexpr int kWait = 5000;

// A terminal-like client of the command port: sends a line, collects lines up to the status line.
class CommandClient {
public:
    bool connectTo(const Reader& r, const QString& station = {}) {
        m_socket.connectToHost(r.address(), r.commandPort());
        if (!m_socket.waitForConnected(kWait))
            return false;
        return station.isEmpty() || command("STATION " + station).value(0) == "!STATION OK";
    }
    void sendRaw(const QByteArray& bytes) { m_socket.write(bytes); }
    // The reply lines; the status line is the last one.
    QStringList command(const QString& line) {
        sendRaw(line.toLatin1() + "\r\n");
        return readReply();
    }
    QStringList readReply() {
        // Waits on readyRead in a local event loop, so that the in-process reader keeps running.
        QStringList lines;
        QEventLoop loop;
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
        QObject::connect(&m_socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
        timeout.start(kWait);
        for (;;) {
            m_buffer += m_socket.readAll();
            qsizetype lf;
            while ((lf = m_buffer.indexOf('\n')) >= 0) {
                QByteArray l = m_buffer.left(lf);
                m_buffer.remove(0, lf + 1);
                if (l.endsWith('\r'))
                    l.chop(1);
                lines << QString::fromLatin1(l);
                if (l.startsWith('!'))
                    return lines;
            }
            if (!timeout.isActive() || m_socket.state() != QAbstractSocket::ConnectedState)
                return lines;
            loop.exec();
        }
    }
    // The status line of a command.
    QString status(const QString& line) { return command(line).value(-1); }
    QString statusOf(const QString& line) {
        const QStringList r = command(line);
        return r.isEmpty() ? QString() : r.last();
    }
    // The data line of a query.
    QString query(const QString& name) {
        const QStringList r = command(name);
        return r.size() == 2 ? r.first() : QString();
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

// A client of the data port.
class DataClient {
public:
    bool connectTo(const Reader& r) {
        m_socket.connectToHost(r.address(), r.dataPort());
        return m_socket.waitForConnected(kWait);
    }
    void send(FrameType type, const QByteArray& payload) { m_socket.write(encodeFrame(type, payload)); }
    void subscribe(int imageMode, double rate = 0) {
        send(FrameType::Subscribe, QJsonDocument(QJsonObject{{"station", "WS-T"},
                                                             {"imageMode", imageMode},
                                                             {"imageRate", rate},
                                                             {"reportRate", rate},
                                                             {"legacy", false}})
                                       .toJson(QJsonDocument::Compact));
    }
    // Waits for the next frame of a type.
    bool next(FrameType type, Frame* out) {
        return QTest::qWaitFor(
            [&] {
                m_pending += m_reader.feed(m_socket.readAll());
                while (!m_pending.isEmpty()) {
                    const Frame f = m_pending.takeFirst();
                    if (f.type == type) {
                        *out = f;
                        return true;
                    }
                }
                return false;
            },
            kWait);
    }
    QTcpSocket& socket() { return m_socket; }

private:
    QTcpSocket m_socket;
    FrameReader m_reader;
    QList<Frame> m_pending;
};

QJsonObject recordJson(const Frame& f, QByteArray* image = nullptr) {
    const quint32 len = qFromLittleEndian<quint32>(f.payload.constData());
    if (image)
        *image = f.payload.mid(4 + len);
    return QJsonDocument::fromJson(f.payload.mid(4, len)).object();
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

    void controlBetweenTwoStations() {
        auto r = startReader(10);
        CommandClient a, b;
        QVERIFY(a.connectTo(*r, "WS-A"));
        QVERIFY(b.connectTo(*r, "WS-B"));
        DataClient events;
        QVERIFY(events.connectTo(*r));
        events.subscribe(2);
        Frame f;
        QVERIFY(events.next(FrameType::Event, &f)); // who holds control, at once

        QCOMPARE(a.statusOf("TRIG T"), QString("!TRIG ERROR 4 no programming control"));
        QCOMPARE(a.query("TRIG"), QString("TRIG C"));
        QCOMPARE(a.statusOf("CONTROL"), QString("!CONTROL OK"));
        QCOMPARE(b.query("CONTROLLER"), QString("CONTROLLER \"WS-A\""));
        QCOMPARE(a.statusOf("trig t"), QString("!TRIG OK"));
        QCOMPARE(b.query("TRIG"), QString("TRIG T"));

        // Another station takes control: the first one's writes fail and it is told.
        QCOMPARE(b.statusOf("CONTROL"), QString("!CONTROL OK"));
        QVERIFY(events.next(FrameType::Event, &f));
        while (QJsonDocument::fromJson(f.payload).object().value("controller") != "WS-B")
            QVERIFY(events.next(FrameType::Event, &f));
        QCOMPARE(a.statusOf("TRIG C"), QString("!TRIG ERROR 4 no programming control"));
        QCOMPARE(a.query("CONTROLLER"), QString("CONTROLLER \"WS-B\""));
        // A release by a station that does not hold control changes nothing.
        QCOMPARE(a.statusOf("RELEASE"), QString("!RELEASE OK"));
        QCOMPARE(r->controller(), QString("WS-B"));
        QCOMPARE(b.statusOf("RELEASE"), QString("!RELEASE OK"));
        QCOMPARE(a.query("CONTROLLER"), QString("CONTROLLER \"\""));
        QVERIFY(r->receivedCommands().contains("trig t"));
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
        QVERIFY(c.connectTo(*r, "WS"));
        c.command("CONTROL");
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
            QCOMPARE(c.statusOf("NAME \"Dock7\""), QString("!NAME OK"));
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
        QSignalSpy rebooted(r.get(), &Reader::rebooted);
        r->reboot();
        QTRY_COMPARE(c.socket().state(), QAbstractSocket::UnconnectedState);
        QVERIFY(rebooted.wait(kWait));
        CommandClient d;
        QVERIFY(d.connectTo(*r));
        QCOMPARE(d.query("TE"), QString("TE P"));
        QCOMPARE(d.query("CONTROLLER"), QString("CONTROLLER \"\""));
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

    void pids() {
        {
            auto r = startReader(7);
            CommandClient c;
            QVERIFY(c.connectTo(*r, "WS"));
            QCOMPARE(c.command("DIR"), QStringList({"DIR 0 PIDS", "!DIR OK"}));
            QCOMPARE(c.statusOf("STORE 3"), QString("!STORE ERROR 4 no programming control"));
            c.command("CONTROL");
            c.command("TIMEOUT READ 1234");
            QCOMPARE(c.statusOf("STORE 3"), QString("!STORE OK"));
            c.command("TIMEOUT READ 77");
            QCOMPARE(c.statusOf("STORE 12"), QString("!STORE OK"));
            QCOMPARE(c.statusOf("STORE 16").left(16), QString("!STORE ERROR 2 P"));
            QCOMPARE(c.statusOf("LOAD 5"), QString("!LOAD ERROR 8 PID 5 is not stored"));
            QCOMPARE(c.statusOf("LOAD 3"), QString("!LOAD OK"));
            QCOMPARE(c.query("TIMEOUT READ"), QString("TIMEOUT READ 1234"));
        }
        // Stored PIDs are in flash at once, without SAVE.
        auto r = startReader(7);
        CommandClient c;
        QVERIFY(c.connectTo(*r));
        const QStringList dir = c.command("DIR");
        QCOMPARE(dir.size(), 4);
        QVERIFY(dir[0].startsWith("PID3:"));
        QVERIFY(dir[1].startsWith("PID12:"));
        QVERIFY(dir[2].startsWith("DIR"));
        QCOMPARE(c.query("TIMEOUT READ"), QString("TIMEOUT READ 500"));
    }

    void generations_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("reply"); // the data line, or the status line when it begins with "!"
        QTest::newRow("2 short retry") << 2 << "RETRYEX"
                                       << "RETRYEX NONE 500 3 500";
        QTest::newRow("2 no beep counts") << 2 << "OUTPUT BEEP"
                                          << "!OUTPUT ERROR 5";
        QTest::newRow("3 beep counts") << 3 << "OUTPUT BEEP"
                                       << "OUTPUT BEEP 1 0 0 0 0 0";
        QTest::newRow("3 old polarity") << 3 << "SIGOUT PASS"
                                        << "SIGOUT PASS H";
        QTest::newRow("4 no old polarity") << 4 << "SIGOUT PASS"
                                           << "!SIGOUT ERROR 5";
        QTest::newRow("4 no negative") << 4 << "NEGATIVE"
                                       << "!NEGATIVE ERROR 5";
        QTest::newRow("5 negative") << 5 << "NEGATIVE"
                                    << "NEGATIVE OFF";
        QTest::newRow("4 timing border") << 4 << "NO_TOP_TIMING_BORDER"
                                         << "NO_TOP_TIMING_BORDER OFF";
        QTest::newRow("5 no timing border") << 5 << "NO_TOP_TIMING_BORDER"
                                            << "!NO_TOP_TIMING_BORDER ERROR 5";
        QTest::newRow("6 no match list") << 6 << "MATCH_LIST 1"
                                         << "!MATCH_LIST ERROR 5";
        QTest::newRow("7 match list") << 7 << "MATCH_LIST 15"
                                      << "MATCH_LIST 15 \"\"";
        QTest::newRow("6 ftp") << 6 << "PARTQFTP"
                               << "PARTQFTP \"\" \"\" N N";
        QTest::newRow("7 no old ftp") << 7 << "PARTQFTP"
                                      << "!PARTQFTP ERROR 5";
        QTest::newRow("7 ftp ex") << 7 << "PARTQFTPEX"
                                  << "PARTQFTPEX \"\" \"\" N N 0";
        QTest::newRow("7 no light channels") << 7 << "XLIGHTCHANNELS"
                                             << "!XLIGHTCHANNELS ERROR 5";
        QTest::newRow("8 light channels") << 8 << "XLIGHTCHANNELS"
                                          << "XLIGHTCHANNELS 1";
        QTest::newRow("8 not calibrated") << 8 << "CALIBRATED"
                                          << "!CALIBRATED ERROR 5";
        QTest::newRow("9 calibrated") << 9 << "CALIBRATED"
                                      << "CALIBRATED FALSE";
        QTest::newRow("9 light") << 9 << "CALIBRATED 90"
                                 << "CALIBRATED 90 FALSE";
        QTest::newRow("8 contrast report") << 8 << "CONTRAST_REPORT"
                                           << "CONTRAST_REPORT UNCALIBRATED";
        QTest::newRow("9 x dimension") << 9 << "XDIMENSION"
                                       << "XDIMENSION 990 10";
        QTest::newRow("3 no upc") << 6 << "BC_UPC_AS_EAN"
                                  << "!BC_UPC_AS_EAN ERROR 5";
        QTest::newRow("99 has newest") << 99 << "CALIBRATED_STRING"
                                       << "CALIBRATED_STRING \"\"";
        QTest::newRow("unknown") << 10 << "FROBNICATE 3"
                                 << "!FROBNICATE ERROR 1 unknown command";
        QTest::newRow("manufacturing end") << 4 << "SETTINGS_CUSTOMER"
                                           << "CUSTOMER STANDARD";
    }
    void generations() {
        QFETCH(int, level);
        QFETCH(QString, command);
        QFETCH(QString, reply);
        auto r = startReader(level);
        CommandClient c;
        QVERIFY(c.connectTo(*r));
        const QStringList lines = c.command(command);
        QVERIFY(!lines.isEmpty());
        if (reply.startsWith('!'))
            QVERIFY2(lines.last().startsWith(reply), qPrintable(lines.last()));
        else
            QCOMPARE(lines.first(), reply);
    }

    void retryLayoutAndSpellingsPerLevel() {
        const QList<QPair<int, int>> fieldCounts = {{3, 4}, {4, 10}, {6, 10}, {7, 22}, {10, 22}};
        for (const auto& [level, count] : fieldCounts) {
            auto r = startReader(level);
            CommandClient c;
            QVERIFY(c.connectTo(*r, "WS"));
            QCOMPARE(c.query("RETRYEX").split(' ').size() - 1, count);
        }
        auto six = startReader(6);
        CommandClient c6;
        QVERIFY(c6.connectTo(*six, "WS"));
        c6.command("CONTROL");
        QVERIFY(c6.statusOf("VERIFY DPM").startsWith("!VERIFY ERROR 2"));
        QCOMPARE(c6.statusOf("VERIFY KVTA"), QString("!VERIFY OK"));
        QCOMPARE(c6.query("VERIFY"), QString("VERIFY KVTA"));
        auto eight = startReader(8);
        CommandClient c8;
        QVERIFY(c8.connectTo(*eight, "WS"));
        c8.command("CONTROL");
        QCOMPARE(c8.statusOf("VERIFY ISOAIM"), QString("!VERIFY OK"));
        QCOMPARE(c8.query("VERIFY"), QString("VERIFY AIMDPM"));
        QCOMPARE(c8.statusOf("VERIFY KVTA"), QString("!VERIFY OK"));
        QCOMPARE(c8.query("VERIFY"), QString("VERIFY DPM"));
        auto three = startReader(3);
        CommandClient c3;
        QVERIFY(c3.connectTo(*three, "WS"));
        c3.command("CONTROL");
        QVERIFY(c3.statusOf("ILLUM ON_AND_EXT").startsWith("!ILLUM ERROR 2"));
        QVERIFY(c3.statusOf("VERIFY AIM").startsWith("!VERIFY ERROR 2"));
    }

    void valuesAreChecked() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.connectTo(*r, "WS"));
        c.command("CONTROL");
        QVERIFY(c.statusOf("TIMEOUT READ 10000").startsWith("!TIMEOUT ERROR 2"));
        QVERIFY(c.statusOf("TIMEOUT READ abc").startsWith("!TIMEOUT ERROR 2"));
        QVERIFY(c.statusOf("MORPH ERODE").startsWith("!MORPH ERROR 3"));
        QVERIFY(c.statusOf("RETRYEX TIME 20 3 500").startsWith("!RETRYEX ERROR 3"));
        QVERIFY(c.statusOf("PHOTOEX MANUAL 500 40 300 200 0 1023").startsWith("!PHOTOEX ERROR 2"));
        QVERIFY(c.statusOf("MACADDR 1").startsWith("!MACADDR ERROR 8"));
        QVERIFY(c.statusOf("IP 1.2 127.0.0.9 255.0.0.0 0.0.0.0").startsWith("!IP ERROR 2"));
        // A failed write leaves everything as it was.
        QCOMPARE(c.query("TIMEOUT READ"), QString("TIMEOUT READ 500"));
        QCOMPARE(c.statusOf("morph erode 2"), QString("!MORPH OK"));
        QCOMPARE(c.query("MORPH"), QString("MORPH ERODE 2"));
        QCOMPARE(c.statusOf("ASSIGNEX 3 0"), QString("!ASSIGNEX OK"));
        QCOMPARE(c.query("ASSIGNEX 3"), QString("ASSIGNEX 3 CLEAR"));
        QCOMPARE(c.statusOf("IOASSIGN OPTO_OUT1 CLEAR"), QString("!IOASSIGN OK"));
        QCOMPARE(c.query("IOASSIGN OPTO_OUT1"), QString("IOASSIGN OPTO_OUT1 \"\""));
        // Empty trailing fields as a parameter set writes them.
        QCOMPARE(c.statusOf("SET_CRITERIA FAIL BOOL  "), QString("!SET_CRITERIA OK"));
        QCOMPARE(c.query("SET_CRITERIA FAIL"), QString("SET_CRITERIA FAIL \"BOOL\" \"\" \"\""));
        QCOMPARE(c.statusOf("QRFINDER 4 "), QString("!QRFINDER OK"));
        QCOMPARE(c.query("QRFINDER"), QString("QRFINDER 4 0"));
        // The calibration cancel writes the reading back.
        const QString cal = c.query("CONTRASTCAL");
        QCOMPARE(c.statusOf(cal), QString("!CONTRASTCAL OK"));
        QCOMPARE(c.query("CALIBRATED"), QString("CALIBRATED FALSE"));
        QCOMPARE(c.statusOf("CALIBRATED_STRING \"Cal 5\""), QString("!CALIBRATED_STRING OK"));
        QCOMPARE(c.query("CALIBRATED_STRING"), QString("CALIBRATED_STRING \"Cal 5\""));
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
        QVERIFY(c.connectTo(*r, "WS"));
        c.command("CONTROL");
        c.command("TRIG T");
        DataClient withImages, noImages;
        QVERIFY(withImages.connectTo(*r));
        QVERIFY(noImages.connectTo(*r));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("dropped 30 bytes"));
        withImages.socket().write("garbage before the first frame");
        withImages.subscribe(0);
        noImages.subscribe(2);
        Frame f;
        QVERIFY(withImages.next(FrameType::Event, &f));
        QVERIFY(noImages.next(FrameType::Event, &f));
        QCOMPARE(c.statusOf("vt 2"), QString("!VT OK"));
        QVERIFY(withImages.next(FrameType::Record, &f));
        QByteArray image;
        QJsonObject o = recordJson(f, &image);
        QCOMPARE(o.value("number").toInt(), 1);
        QCOMPARE(o.value("image").toString(), QString("raw"));
        QCOMPARE(image.size(), o.value("width").toInt() * o.value("height").toInt());
        QCOMPARE(o.value("width").toInt(), 659);
        QVERIFY(noImages.next(FrameType::Record, &f));
        o = recordJson(f, &image);
        QCOMPARE(o.value("image").toString(), QString("none"));
        QVERIFY(image.isEmpty());
        // The user trigger string triggers too, and the statistics count.
        c.command("TRIG U \"GO\"");
        QCOMPARE(c.statusOf("go"), QString("!GO OK"));
        QVERIFY(noImages.next(FrameType::Record, &f));
        QCOMPARE(recordJson(f).value("number").toInt(), 2);
        QCOMPARE(c.query("STATS").section(' ', 1, 1), QString("2"));
        QCOMPARE(c.statusOf("STATS RESET"), QString("!STATS OK"));
        QCOMPARE(c.query("STATS"), QString("STATS 0 0 0 0 0 0"));
    }

    // What the camera sees comes back decoded: a scene text set through the admin
    // interface is the text of the next records, and an image-rate limit holds back
    // images while reports keep coming.
    void sceneTextReachesTheRecords() {
        SimulatorConfig config;
        config.discoveryPort = 0;
        ReaderConfig rc;
        rc.name = "Scene1";
        rc.commandPort = 0;
        rc.dataPort = 0;
        rc.cycleRate = 20;
        config.readers = {rc};
        Simulator simulator(config);
        QString error;
        QVERIFY2(simulator.start(&error), qPrintable(error));
        AdminConsole admin(simulator);
        QVERIFY(admin.execute("scene HELLO-SCENE").trimmed().endsWith("ok"));
        QVERIFY(admin.execute("sceneset serial 0").trimmed().endsWith("ok"));

        Reader& r = *simulator.reader(0);
        DataClient data;
        QVERIFY(data.connectTo(r));
        data.send(FrameType::Subscribe, QJsonDocument(QJsonObject{{"station", "WS-T"},
                                                                  {"imageMode", 0},
                                                                  {"imageRate", 2},
                                                                  {"reportRate", 0},
                                                                  {"legacy", false}})
                                            .toJson(QJsonDocument::Compact));
        int records = 0, withImages = 0;
        QString text;
        Frame f;
        // 30 records at 20 per second take about 1.5 s; at 2 images per second at most a
        // handful of them carry their image.
        while (records < 30) {
            QVERIFY(data.next(FrameType::Record, &f));
            QByteArray image;
            const QJsonObject o = recordJson(f, &image);
            ++records;
            if (!image.isEmpty())
                ++withImages;
            if (o.value("symbolFound").toBool())
                text = o.value("text").toString();
        }
        QVERIFY2(text.startsWith("HELLO-SCENE"), qPrintable(text));
        QVERIFY2(withImages >= 1 && withImages <= 6, qPrintable(QString::number(withImages)));
    }

    void externalInputFollowsTheEdge() {
        auto r = startReader(10);
        CommandClient c;
        QVERIFY(c.connectTo(*r, "WS"));
        c.command("CONTROL");
        c.command("TRIG T");
        c.command("TE N");
        QSignalSpy records(r.get(), &Reader::recordDelivered);
        r->setExternalInput(true); // rising edge: not this reader's edge
        r->setExternalInput(false);
        QVERIFY(records.wait(kWait));
        QCOMPARE(records.size(), 1);
        QCOMPARE(r->cycles().stats().triggers, 1u);
    }

    void fileTransfer() {
        auto r = startReader(10);
        DataClient d;
        QVERIFY(d.connectTo(*r));
        d.subscribe(2);
        QImage img(659, 494, QImage::Format_Grayscale8);
        img.fill(200);
        QByteArray bmp;
        QBuffer buf(&bmp);
        QVERIFY(buf.open(QIODevice::WriteOnly));
        QVERIFY(img.save(&buf, "BMP"));
        auto begin = [&](const QString& name, qint64 size) {
            d.send(FrameType::FileBegin,
                   QJsonDocument(QJsonObject{{"name", name}, {"size", size}, {"index", 0}, {"count", 1}})
                       .toJson(QJsonDocument::Compact));
        };
        begin("part.bmp", bmp.size());
        for (qsizetype i = 0; i < bmp.size(); i += kMaxFileDataChunk)
            d.send(FrameType::FileData, bmp.mid(i, kMaxFileDataChunk));
        d.send(FrameType::FileEnd, {});
        Frame f;
        QVERIFY(d.next(FrameType::FileAck, &f));
        QJsonObject ack = QJsonDocument::fromJson(f.payload).object();
        QVERIFY2(ack.value("ok").toBool(), qPrintable(ack.value("error").toString()));
        QCOMPARE(ack.value("received").toInteger(), bmp.size());
        QCOMPARE(r->transferredFiles().size(), 1);
        begin("notes.txt", 10);
        QVERIFY(d.next(FrameType::FileAck, &f));
        ack = QJsonDocument::fromJson(f.payload).object();
        QVERIFY(!ack.value("ok").toBool());
        QCOMPARE(ack.value("error").toString(), QString("not a BMP or TIFF file"));
        d.send(FrameType::FileEnd, {});

        CommandClient c;
        QVERIFY(c.connectTo(*r, "WS"));
        c.command("CONTROL");
        QCOMPARE(c.statusOf("DRIVEDELETE FILES"), QString("!DRIVEDELETE OK"));
        QVERIFY(r->transferredFiles().isEmpty());
        QCOMPARE(c.statusOf("CAPTURE FILES"), QString("!CAPTURE ERROR 8 no image files on the reader"));
    }

    void discoveryAnswersEveryReader() {
        SimulatorConfig config;
        config.discoveryPort = 0;
        for (int k = 1; k <= 2; ++k) {
            ReaderConfig rc;
            rc.name = QString("Bay%1").arg(k);
            rc.softwareVersion = k == 1 ? "2.3.0.0" : "3.0.2.1";
            rc.commandPort = rc.dataPort = 0;
            config.readers << rc;
        }
        Simulator sim(config);
        QString error;
        QVERIFY2(sim.start(&error), qPrintable(error));
        QUdpSocket probe;
        QVERIFY(probe.bind(QHostAddress::LocalHost, 0));
        probe.writeDatagram(QByteArray(Simulator::kProbe) + "\n", QHostAddress::LocalHost,
                            sim.discoveryPort());
        QStringList names;
        QVERIFY(QTest::qWaitFor(
            [&] {
                while (probe.hasPendingDatagrams()) {
                    const QByteArray a = probe.receiveDatagram().data();
                    if (a.startsWith("LUMIVEX READER 1\n"))
                        for (const QByteArray& l : a.split('\n'))
                            if (l.startsWith("name="))
                                names << QString::fromUtf8(l.mid(5));
                }
                return names.size() == 2;
            },
            kWait));
        names.sort();
        QCOMPARE(names, QStringList({"Bay1", "Bay2"}));
        QVERIFY(Simulator::discoveryAnswer(*sim.reader(1))
                    .contains("command=" + QByteArray::number(sim.reader(1)->commandPort()) + "\n"));
    }

    void serialLine() {
        auto r = startReader(9, "Serial1", true);
        QVERIFY(!r->serialDevice().isEmpty());
        QFile portFile(m_state->filePath("ports/" + r->serialPortName() + ".port"));
        QVERIFY(portFile.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(portFile.readLine()).trimmed(), r->serialDevice());
        portFile.close();

        const int fd = ::open(r->serialDevice().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        QByteArray in;
        auto readUntil = [&](const QByteArray& marker) {
            return QTest::qWaitFor(
                [&] {
                    char buf[65536];
                    ssize_t n;
                    while ((n = ::read(fd, buf, sizeof buf)) > 0)
                        in.append(buf, int(n));
                    return in.contains(marker);
                },
                kWait);
        };
        auto write = [&](const QByteArray& b) {
            QCOMPARE(::write(fd, b.constData(), size_t(b.size())), ssize_t(b.size()));
        };
        write("STATION /dev/ttyUSB0\r\nCONTROL\r\nCONTROLLER\r\n");
        QVERIFY(readUntil("!CONTROLLER OK\r\n"));
        QVERIFY(in.contains("CONTROLLER \"/dev/ttyUSB0\"\r\n"));
        QVERIFY(in.contains("#EVENT {\"controller\":\"/dev/ttyUSB0\",\"event\":\"control\"}\r\n"));
        in.clear();
        write("TRIG T\r\nREPORTREQ  255 0\r\nVT 2\r\n");
        QVERIFY(readUntil("#RECORD "));
        QVERIFY(readUntil("\"image\":\"none\""));
        QVERIFY(in.contains("!REPORTREQ OK\r\n"));
        ::close(fd);
        const QString path = portFile.fileName();
        r.reset();
        QVERIFY(!QFile::exists(path));
    }

    void adminHandles() {
        SimulatorConfig config;
        config.discoveryPort = 0;
        ReaderConfig rc;
        rc.commandPort = rc.dataPort = 0;
        config.readers << rc;
        Simulator sim(config);
        QVERIFY(sim.start());
        AdminConsole admin(sim);
        Reader* r = sim.reader(0);
        CommandClient c;
        QVERIFY(c.connectTo(*r, "WS-A"));
        c.command("CONTROL");
        QCOMPARE(admin.execute("steal PLANT-PC"), QString("ok\n"));
        QCOMPARE(c.query("CONTROLLER"), QString("CONTROLLER \"PLANT-PC\""));
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
        QVERIFY(admin.execute("frob").startsWith("error:"));
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

    void catalogueListing() {
        const QString md = commandCatalogueMarkdown();
        QVERIFY(md.contains("| RETRYEX | 7+ |"));
        QVERIFY(md.contains("SHOW CONFIG"));
        // Every parameter name a settings window queries is in the catalogue at some level.
        for (const char* name : {"TRIG",
                                 "TRIG U",
                                 "TE",
                                 "RETRYEX",
                                 "PHOTOEX",
                                 "ILLUM",
                                 "TARGET",
                                 "TIMEOUT READ",
                                 "DWELLTIME",
                                 "MORPH",
                                 "NEGATIVE",
                                 "NUMDM",
                                 "NUMBC",
                                 "BARCODE ENABLE",
                                 "VERIFY",
                                 "VERSTATUS",
                                 "VERENABLE UEC",
                                 "XLIGHTCHANNELS",
                                 "LIGHT_CTL",
                                 "WAVELENGTH",
                                 "XLIGHTCHANNEL_1_ALIASNAME",
                                 "CONTRASTCAL",
                                 "XLIGHTCONTRASTCAL 30S_W",
                                 "TARGET_CALIB_CONTRAST",
                                 "TARGET_CALIB_REFLECTANCE",
                                 "APERTURE",
                                 "CELL_UNIT_REPORT",
                                 "OKDEC",
                                 "MATCH",
                                 "OUTPUT TCP4 H_T",
                                 "OUTPUT STANDARD FIXED",
                                 "OUTPUT FORMAT",
                                 "HEADER",
                                 "TRAILER",
                                 "OUTPUT BEEP",
                                 "BEEP",
                                 "MATCHEX",
                                 "MATCH_LIST 15",
                                 "MATCH_LIST_ENABLE",
                                 "SIGOUT GPIO_OUT4",
                                 "SIGOUT RTE",
                                 "IO_MODE",
                                 "SET_CRITERIA LIGHT_CTL_BIT_4",
                                 "IOASSIGN GPIO_OUT1",
                                 "ASSIGNEX 6",
                                 "TD",
                                 "TBL",
                                 "DHCP",
                                 "IP",
                                 "MACADDR",
                                 "DOMAIN",
                                 "TTY",
                                 "EIPENABLE",
                                 "PARTQ",
                                 "PARTQFAIL",
                                 "PARTQFTP",
                                 "PARTQFTPEX",
                                 "PARTQCAPACITY",
                                 "ROI",
                                 "BCCHKSUMEX BAR412",
                                 "QRFINDER",
                                 "BC_UPC_AS_EAN",
                                 "PROBE DIRECTION",
                                 "CELL SAMPLE"})
            QVERIFY2(isKnownParameterName(name), name);
    }
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
