// The connection library against the simulated reader, over real loopback
// sockets and a real pseudo-terminal.
#include "app/applyparameters.h"
#include "common/readers.h"
#include "common/waits.h"
#include "link/configuration.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/parameterset.h"
#include "link/protocol.h"
#include "link/serialports.h"
#include "link/transport.h"
#include "sim/reader.h"
#include "sim/simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace vm::link;

namespace {

using vm::testing::nextAddress;
using vm::testing::readerConfig;
using vm::testing::startReader;

// Sits between the library and the reader's data port and can slip bytes into
// the stream, as a faulty reader or a damaged link would.
class DataRelay : public QObject {
public:
    DataRelay(const QHostAddress& listenAddress, quint16 listenPort, const QHostAddress& target,
              quint16 targetPort)
        : m_target(target)
        , m_targetPort(targetPort) {
        QVERIFY(m_server.listen(listenAddress, listenPort));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            m_client.reset(m_server.nextPendingConnection());
            m_client->setParent(nullptr);
            m_upstream = std::make_unique<QTcpSocket>();
            connect(m_upstream.get(), &QTcpSocket::readyRead, this,
                    [this] { m_client->write(m_upstream->readAll()); });
            connect(m_client.get(), &QTcpSocket::readyRead, this, [this] {
                const QByteArray bytes = m_client->readAll();
                if (m_upstream->state() == QAbstractSocket::ConnectedState)
                    m_upstream->write(bytes);
                else
                    m_early += bytes;
            });
            connect(m_upstream.get(), &QTcpSocket::connected, this, [this] {
                m_upstream->write(m_early);
                m_early.clear();
            });
            m_upstream->connectToHost(m_target, m_targetPort);
        });
    }
    void inject(const QByteArray& bytes) { m_client->write(bytes); }
    bool connected() const {
        return m_client && m_upstream && m_upstream->state() == QAbstractSocket::ConnectedState;
    }

private:
    QTcpServer m_server;
    QHostAddress m_target;
    quint16 m_targetPort;
    std::unique_ptr<QTcpSocket> m_client;
    std::unique_ptr<QTcpSocket> m_upstream;
    QByteArray m_early;
};

bool g_inCommand = false;

} // namespace

class TestLink : public QObject {
    Q_OBJECT
private slots:
    void init() {
        // Any warning a test does not expect is a fault. Garbage on the data channel
        // may take the decoder more than one warning to skip; the test that sends it
        // asks for at least one.
        QTest::failOnWarning(QRegularExpression("^(?!data channel: bad frame magic)"));
    }

    void initTestCase() {
        qputenv("VELMARROW_SIM_PORTS_DIR", m_portsDir.path().toLocal8Bit());
        qputenv("VELMARROW_STATION", "TEST-PC");
    }

    void cleanup() {
        // Everything goes before the next test; the link hub frees itself when the
        // last coordinator or connection is gone.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void focusRetargetsEveryConnection() {
        const QString a1 = nextAddress(), a2 = nextAddress();
        auto r1 = startReader("Line1", a1);
        auto r2 = startReader("Line2", a2);
        Coordinator coord;
        ImageConnection image;
        SettingsConnection settings;
        ReaderConnection reader;
        QSignalSpy focusSpy(&coord, &Coordinator::OnDeviceFocus);
        QSignalSpy imageReset(&image, &Connection::OnConnectionReset);
        QSignalSpy settingsReset(&settings, &Connection::OnConnectionReset);
        QSignalSpy readerReset(&reader, &Connection::OnConnectionReset);
        QVERIFY(!settings.Connected());
        QVERIFY(!settings.SendCommand("NAME").ok);

        QVERIFY(coord.Focus(a1, "", ""));
        QTRY_COMPARE(readerReset.count(), 1);
        QCOMPARE(imageReset.count(), 1);
        QCOMPARE(settingsReset.count(), 1);
        QCOMPARE(focusSpy.count(), 1);
        QCOMPARE(focusSpy.at(0).at(0).value<Device*>(), coord.FocusedDevice());
        QVERIFY(image.Connected() && settings.Connected() && reader.Connected());
        QCOMPARE(settings.Query("NAME"), QString("NAME \"Line1\""));
        QCOMPARE(settings.Device()->SoftwareVersion(), r1->softwareVersion());
        QCOMPARE(settings.Response().Name(), a1);

        QVERIFY(coord.Focus(a2));
        QTRY_COMPARE(readerReset.count(), 2);
        QCOMPARE(imageReset.count(), 2);
        QCOMPARE(settingsReset.count(), 2);
        QCOMPARE(reader.Query("NAME"), QString("NAME \"Line2\""));
        QCOMPARE(image.Device()->Name(), a2);
        QCOMPARE(r1->commandClients(), 0); // the earlier reader's links are closed
        QTRY_COMPARE(r2->dataClients(), 1);

        // A window opened later is bound at once.
        SettingsConnection late;
        QVERIFY(late.Connected());
        QCOMPARE(late.Query("NAME"), QString("NAME \"Line2\""));

        QVERIFY(!coord.Focus(""));
        QTRY_COMPARE(readerReset.count(), 3);
        QVERIFY(!reader.Connected());
        QVERIFY(!coord.FocusedDevice());
        QCOMPARE(focusSpy.last().at(0).value<Device*>(), nullptr);
    }

    void controlTakenByAnotherStationIsNoticed() {
        const QString address = nextAddress();
        auto sim = startReader("Line3", address);
        Coordinator coord;
        ImageConnection image;
        SettingsConnection settings;
        QVERIFY(coord.Focus(address));
        QSignalSpy imageControl(&image, &Connection::OnControlStatusChanged);
        QSignalSpy settingsControl(&settings, &Connection::OnControlStatusChanged);
        QVERIFY(!image.HasControl());

        QVERIFY(image.SendCommand("CONTROL").ok);
        QVERIFY(image.HasControl()); // known as soon as the reader said OK
        QVERIFY(settings.HasControl());
        QCOMPARE(sim->controller(), QString("TEST-PC"));
        QTRY_COMPARE(settingsControl.count(), 1);

        sim->takeControl("OTHER-PC");
        QTRY_COMPARE(settingsControl.count(), 2);
        QCOMPARE(imageControl.count(), 2);
        QVERIFY(!image.HasControl());
        QCOMPARE(image.Device()->ControllerName(), QString("OTHER-PC"));
        QVERIFY(!image.SendCommand("BEEP N").ok);
        QCOMPARE(image.Response().LastReply().errorCode, 4);
        // The reader's reason, without its status words and code.
        QCOMPARE(image.Response().LastReply().errorText, QString("no programming control"));

        QVERIFY(image.SendCommand("CONTROL").ok);
        QVERIFY(image.SendCommand("RELEASE").ok);
        QVERIFY(!settings.HasControl());
        QCOMPARE(image.Device()->ControllerName(), QString());
        QTRY_COMPARE(settingsControl.count(), 4);

        // A reader that refuses control: the reply says so and nothing changes hands.
        sim->refuseControl(vm::sim::ControlRefusal::Always);
        const CommandReply refused = image.SendCommand("CONTROL");
        QVERIFY(!refused.ok);
        QCOMPARE(refused.errorCode, 8);
        QVERIFY(!image.HasControl());
        QVERIFY(!settings.HasControl());
        QCOMPARE(image.Device()->ControllerName(), QString());
        QVERIFY(!image.SendCommand("BEEP N").ok);
        QCOMPARE(image.Response().LastReply().errorCode, 4);
        QCoreApplication::processEvents();
        QCOMPARE(settingsControl.count(), 4);
        QCOMPARE(imageControl.count(), 4);
    }

    void droppedLinkIsRestoredWithResets() {
        const QString address = nextAddress();
        auto sim = startReader("Line4", address);
        Coordinator coord;
        ReaderConnection reader;
        SettingsConnection settings;
        QVERIFY(coord.Focus(address));
        QTRY_VERIFY(reader.Connected());
        QList<bool> seen;
        connect(&reader, &Connection::OnConnectionReset, this, [&] { seen.append(reader.Connected()); });
        QSignalSpy settingsReset(&settings, &Connection::OnConnectionReset);
        QCoreApplication::processEvents(); // the focus reset
        seen.clear();
        settingsReset.clear();

        // The reader goes away for a while: the library notices and keeps trying.
        sim->setListening(false);
        sim->dropConnections();
        QTRY_COMPARE(seen, QList<bool>({false}));
        QVERIFY(!settings.SendCommand("NAME").ok);
        sim->setListening(true);
        QTRY_COMPARE_WITH_TIMEOUT(seen, QList<bool>({false, true}), vm::testing::reconnectWaitMs(8));
        QCOMPARE(settingsReset.count(), 2);
        QCOMPARE(settings.Query("NAME"), QString("NAME \"Line4\""));
        QTRY_COMPARE(sim->dataClients(), 1);
    }

    void broadcastReachesEveryConnectionOutsideCommands() {
        const QString address = nextAddress();
        auto sim = startReader("Line5", address);
        Coordinator coord;
        ImageConnection image;
        SettingsConnection settings;
        ReaderConnection reader;
        QSignalSpy coordSpy(&coord, &Coordinator::OnBroadcastMessage);
        QList<QSignalSpy*> spies;
        for (Connection* c : std::initializer_list<Connection*>{&image, &settings, &reader})
            spies.append(new QSignalSpy(c, &Connection::OnBroadcastMessage));
        auto cleanupSpies = qScopeGuard([&] { qDeleteAll(spies); });

        settings.BroadcastMessage("frmIOSettings", "UPDATEIO", "");
        // Not even a command's wait delivers it: it comes once the caller is back.
        QVERIFY(coord.Focus(address));
        QCOMPARE(spies.at(0)->count(), 0);
        QTRY_COMPARE(spies.at(1)->count(), 1); // the sender's own connection too
        for (QSignalSpy* spy : spies) {
            QCOMPARE(spy->count(), 1);
            QCOMPARE(spy->at(0), QVariantList({"frmIOSettings", "UPDATEIO", ""}));
        }
        QCOMPARE(coordSpy.count(), 1);

        // Records stream in while commands run; none arrives inside one.
        int records = 0;
        bool nested = false;
        connect(&reader, &Connection::OnNewRecord, this, [&](const Record&) {
            ++records;
            nested = nested || g_inCommand;
        });
        sim->cycles().setRate(100);
        for (int i = 0; i < 200 && records < 5; ++i) {
            g_inCommand = true;
            QVERIFY(reader.SendCommand("VERSION").ok);
            g_inCommand = false;
            QCoreApplication::processEvents();
        }
        QTRY_VERIFY(records >= 5);
        QVERIFY(!nested);
    }

    void lineEventDuringACommandIsDeliveredOnceTheWaitEnds() {
        const QString address = nextAddress();
        auto sim = startReader("Line14", address);
        sim->cycles().setOnline(false); // no records: nothing else goes out after the event
        Coordinator coord;
        SettingsConnection settings;
        QSignalSpy resets(&settings, &Connection::OnConnectionReset);
        QVERIFY(coord.Focus(address));
        QTRY_COMPARE(resets.count(), 1);
        QSignalSpy control(&settings, &Connection::OnControlStatusChanged);
        QVERIFY(settings.SendCommand("CONTROL").ok);
        QTRY_VERIFY(control.count() > 0 && settings.HasControl()); // nothing left queued
        QSignalSpy lines(&settings, &Connection::OnLineStateChanged);
        Device* device = coord.FocusedDevice();

        // The reader changes the line at once and answers late: the line's event comes in
        // while the command still waits, is held back, and follows as soon as it returns.
        sim->setNextReplyFault(vm::sim::ReplyFault::Slow, 300);
        QVERIFY(settings.SendCommand("SIGOUT OPTO_OUT1 L", 3000).ok);
        QCOMPARE(device->LineStates().value("OPTO_OUT1"), qMakePair(false, true));
        QCOMPARE(lines.count(), 0);
        QVERIFY(lines.wait(vm::testing::kReplyWaitMs));
        QCOMPARE(lines.takeFirst(), QVariantList({"OPTO_OUT1", false, true}));

        // The same when a window answers the event with a command of its own, and the next
        // event arrives while that one waits.
        bool answered = false;
        connect(&settings, &Connection::OnLineStateChanged, this, [&] {
            if (std::exchange(answered, true))
                return;
            sim->setNextReplyFault(vm::sim::ReplyFault::Slow, 300);
            QVERIFY(settings.SendCommand("SIGOUT OPTO_OUT2 L", 3000).ok);
        });
        sim->setNextReplyFault(vm::sim::ReplyFault::Slow, 300);
        QVERIFY(settings.SendCommand("SIGOUT OPTO_OUT1 H", 3000).ok);
        QTRY_COMPARE_WITH_TIMEOUT(lines.count(), 2, vm::testing::kReplyWaitMs);
        QCOMPARE(lines.at(0), QVariantList({"OPTO_OUT1", false, false}));
        QCOMPARE(lines.at(1), QVariantList({"OPTO_OUT2", false, true}));
        QVERIFY(answered);
    }

    void loadEditMergeSendTransmitsOnlyChanges() {
        const QString address = nextAddress();
        auto sim = startReader("Line6", address);
        Coordinator coord;
        SettingsConnection settings;
        QVERIFY(coord.Focus(address));
        QVERIFY(settings.SendCommand("CONTROL").ok);

        ParameterSet window;
        for (const char* name : {"TRIG", "BEEP", "TARGET", "TRIG U"})
            QVERIFY2(window.Load(settings.Response(), name), name);
        QCOMPARE(window.GetParameter("TRIG U").Fields(), QStringList({"\"VT 2\""}));
        QVERIFY(!window.Modified());
        window.GetParameter("TRIG").SetField(0, "T");
        window.GetParameter("TRIG U").SetField(0, "\"GO NOW\"");

        vm::app::PendingParameters().Clear();
        const int before = int(sim->receivedCommands().size());
        QString error;
        QVERIFY2(vm::app::ApplyParameters(settings.Response(), window, &error), qPrintable(error));
        QCOMPARE(sim->receivedCommands().mid(before), QStringList({"TRIG T", "TRIG U \"GO NOW\""}));
        QVERIFY(!window.Modified());
        QVERIFY(!vm::app::PendingParameters().Modified());

        // Applying again sends nothing; reloading shows what the reader holds.
        QVERIFY(vm::app::ApplyParameters(settings.Response(), window, &error));
        QCOMPARE(sim->receivedCommands().size(), before + 2);
        ParameterSet fresh;
        QVERIFY(fresh.Load(settings.Response(), "TRIG U"));
        QCOMPARE(fresh.GetParameter("TRIG U").Field(0), QString("\"GO NOW\""));
        QVERIFY(fresh.LoadCompound(settings.Response(), "TRIG U"));
    }

    void readerErrorOnSendIsReported() {
        const QString address = nextAddress();
        auto sim = startReader("Line7", address);
        Coordinator coord;
        SettingsConnection settings;
        QVERIFY(coord.Focus(address));

        ParameterSet set;
        QVERIFY(set.Load(settings.Response(), "BEEP"));
        QVERIFY(set.Load(settings.Response(), "TRIG"));
        set.GetParameter("BEEP").SetField(0, "N");
        set.GetParameter("TRIG").SetField(0, "NONSENSE");
        QString error;
        QVERIFY(!set.Send(settings.Response(), &error)); // no control yet
        QVERIFY(error.contains("ERROR 4"));
        QCOMPARE(set.ModifiedNames(), QStringList({"BEEP", "TRIG"}));

        QVERIFY(settings.SendCommand("CONTROL").ok);
        QVERIFY(!set.Send(settings.Response(), &error));
        QVERIFY2(error.startsWith("TRIG:") && error.contains("ERROR 2"), qPrintable(error));
        QCOMPARE(set.ModifiedNames(), QStringList({"TRIG"})); // BEEP was accepted
        QCOMPARE(settings.Query("BEEP"), QString("BEEP N"));

        // Through the apply routine the failure reaches the caller too. The refused value
        // stays a change of the window that made it, not of the program: another window's
        // apply does not send it again.
        vm::app::PendingParameters().Clear();
        QVERIFY(!vm::app::ApplyParameters(settings.Response(), set, &error));
        QVERIFY(error.contains("TRIG"));
        QCOMPARE(set.ModifiedNames(), QStringList({"TRIG"}));
        QVERIFY(!vm::app::PendingParameters().Modified());
        // A command of the reader's longest line, 4,096 bytes with its line feed, goes out; one
        // byte more is refused here and never reaches the reader.
        const QString longest = "HEADER \"" + QString(4086, 'x') + "\"";
        QVERIFY(settings.SendCommand(longest).completed);
        QCOMPARE(sim->receivedCommands().last(), longest);
        const int sent = int(sim->receivedCommands().size());
        const auto tooLong = settings.SendCommand(longest + "x");
        QVERIFY(!tooLong.ok);
        QCOMPARE(tooLong.errorText, QString("The command is longer than 4096 bytes"));
        // Nor do a command of blanks alone and one of two lines.
        for (const QString& bad : {QString("  \t "), QString("BEEP Y\nTRIG S")}) {
            const auto refused = settings.SendCommand(bad);
            QVERIFY(!refused.ok);
            QCOMPARE(refused.errorText, bad.contains('\n') ? QString("A command is one line of text")
                                                           : QString("An empty command was not sent"));
        }
        QCOMPARE(sim->receivedCommands().size(), sent);
        ParameterSet other;
        other.GetParameter("BEEP").SetField(0, "Y");
        const int before = int(sim->receivedCommands().size());
        QVERIFY2(vm::app::ApplyParameters(settings.Response(), other, &error), qPrintable(error));
        QCOMPARE(sim->receivedCommands().mid(before), QStringList({"BEEP Y"}));
        vm::app::PendingParameters().Clear();
    }

    void unansweredCommandsTimeOutWithoutHoldingLaterOnes() {
        const QString address = nextAddress();
        auto sim = startReader("Line8", address);
        Coordinator coord;
        SettingsConnection settings;
        QVERIFY(coord.Focus(address));

        sim->setNextReplyFault(vm::sim::ReplyFault::Silent);
        QElapsedTimer clock;
        clock.start();
        CommandReply reply = settings.SendCommand("VERSION", 100);
        // It waited its whole time-out, and not much longer than one reply can take.
        QVERIFY2(clock.elapsed() >= 100 && clock.elapsed() < 100 + vm::testing::kReplyWaitMs,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!reply.completed);
        QCOMPARE(reply.errorText, QString("No reply to \"VERSION\" within 100 ms"));
        QCOMPARE(settings.SendCommand("NAME").lines, QStringList({"NAME \"Line8\""}));

        // A command sent without waiting, with a limit of its own (a listing's), is given up
        // after that limit, and the reason names it.
        sim->setNextReplyFault(vm::sim::ReplyFault::Silent, 0, "SHOW");
        std::optional<CommandReply> listing;
        clock.restart();
        settings.Response().sendAsync(
            "SHOW CONFIG", [&](const CommandReply& r) { listing = r; }, 900);
        QTRY_VERIFY_WITH_TIMEOUT(listing.has_value(), 900 + vm::testing::kReplyWaitMs);
        QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!listing->completed);
        QCOMPARE(listing->errorText, QString("No reply to \"SHOW CONFIG\" within 900 ms"));
        QCOMPARE(settings.SendCommand("NAME").lines, QStringList({"NAME \"Line8\""}));

        // A reply that comes after its caller gave up is not taken for the next one's.
        sim->setNextReplyFault(vm::sim::ReplyFault::Slow, 300);
        QVERIFY(!settings.SendCommand("VERSION", 50).completed);
        reply = settings.SendCommand("NAME", 3000);
        QVERIFY(reply.ok);
        QCOMPARE(reply.lines, QStringList({"NAME \"Line8\""}));
        QVERIFY(settings.Connected());

        // Replies read line by line.
        QVERIFY(settings.SendCommand("VERSION").ok);
        QCOMPARE(settings.Response().Lines().Count(), 1);
        QCOMPARE(settings.Response().ReadLine(100), "VERSION " + sim->softwareVersion());
        QCOMPARE(settings.Response().ReadLine(100), QString("!VERSION OK"));
        QVERIFY(settings.Response().ReadLine(100).isNull());

        // What the library refuses to send never reaches the reader.
        QVERIFY(!settings.SendCommand(QString(5000, 'A')).ok);
        QVERIFY(!settings.SendCommand("NAME\nRELEASE").ok);
    }

    void malformedDataFrameIsDroppedAndTheLinkRecovers() {
        const QString address = nextAddress();
        // The reader's data port is behind a relay that can damage the stream.
        vm::sim::ReaderConfig config = readerConfig("Line9", "3.0.2.1", address);
        config.dataPort = 0;
        auto sim = startReader(config);
        DataRelay relay(QHostAddress(address), kDefaultDataPort, QHostAddress(address), sim->dataPort());
        Coordinator coord;
        ImageConnection image;
        QSignalSpy resets(&image, &Connection::OnConnectionReset);
        QSignalSpy records(&image, &Connection::OnNewRecord);
        QVERIFY(coord.Focus(address));
        QTRY_VERIFY(relay.connected());
        QTRY_VERIFY(records.count() >= 1);
        const int resetsBefore = int(resets.count());

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("bad frame magic"));
        relay.inject(QByteArray("\x00\x01garbage that is no frame", 26));
        records.clear();
        QTRY_VERIFY(records.count() >= 2);
        QCOMPARE(resets.count(), resetsBefore);
        QVERIFY(image.Connected());
        const Record record = records.last().at(0).value<Record>();
        QVERIFY(record.Number() > 0);
        QCOMPARE(record.Image().Width(), 659);

        // A stopped acquisition keeps the results but leaves the images out.
        image.Acquisition().Stop();
        records.clear();
        QTRY_VERIFY(records.count() >= 1);
        QVERIFY(records.last().at(0).value<Record>().Image().IsEmpty());
    }

    void filesTransferWithProgress() {
        const QString address = nextAddress();
        auto sim = startReader("Line10", address);
        Coordinator coord;
        ImageConnection image;
        QVERIFY(coord.Focus(address));
        QVERIFY(image.SendCommand("CONTROL").ok);
        QTemporaryDir dir;
        QImage picture(64, 48, QImage::Format_Grayscale8);
        picture.fill(128);
        const QString a = dir.filePath("one.bmp"), b = dir.filePath("two.bmp");
        QVERIFY(picture.save(a) && picture.save(b));
        QSignalSpy started(&image, &ImageConnection::OnDataTransferStarted);
        QSignalSpy percent(&image, &ImageConnection::OnDataTransferPercentComplete);
        QSignalSpy aborted(&image, &ImageConnection::OnDataTransferAborted);
        QString error;
        QVERIFY2(coord.FocusedDevice()->TransferFiles({a, b}, &error), qPrintable(error));
        QTRY_COMPARE(percent.count(), 2);
        QCOMPARE(started.count(), 1);
        QCOMPARE(percent.last().at(0).toInt(), 100);
        QCOMPARE(sim->transferredFiles().size(), 2);

        // A file the reader refuses aborts the transfer with its reason.
        const QString text = dir.filePath("notes.txt");
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not an image");
        f.close();
        QVERIFY(!coord.FocusedDevice()->TransferFiles({text}, &error));
        QVERIFY(!error.isEmpty());
        QTRY_COMPARE(aborted.count(), 1);
        QVERIFY(!coord.FocusedDevice()->TransferFiles({dir.filePath("missing.bmp")}, &error));
    }

    // At 9,600 baud the configuration listing takes seconds and a line of three hundred
    // characters a third of one: it is read line by line as it arrives, whole, and no
    // faster than the line carries it.
    void configurationArrivesWholeOverASlowSerialLine() {
        vm::sim::ReaderConfig config = readerConfig("Slow1");
        config.serial = true;
        auto sim = startReader(config);
        QVERIFY(sim);
        const QString port = sim->serialPortName() + ":";
        QVERIFY(sim->setSerialBaud(9600));
        // Each read's report on the standard port would share the slow line with the listing.
        sim->cycles().setOnline(false);
        // This PC opens the port at the reader's speed, as its stored port settings say.
        setSerialLineLookup([port](const QString& name) {
            SerialLineSettings line;
            if (name == port)
                line.baudRate = 9600;
            return line;
        });
        auto restore = qScopeGuard([] { setSerialLineLookup({}); });
        Coordinator coord;
        ImageConnection conn;
        QVERIFY(coord.Focus(port));
        QVERIFY(conn.Connected());
        QVERIFY(conn.SendCommand("CONTROL").ok);
        const QString longText = QString(120, 'h');
        QVERIFY(
            conn.SendCommand(QString("OUTPUT STANDARD H_T \"%1\" \"%2\"").arg(longText, QString(120, 't')))
                .ok);
        const QStringList expected = sim->parameters().configurationListing();
        qsizetype longest = 0;
        qint64 bytes = QByteArray("!SHOW OK\r\n").size();
        for (const QString& line : expected) {
            longest = std::max(longest, line.size());
            bytes += line.toUtf8().size() + 2;
        }
        // Longer than 9,600 baud carries in one line's wait.
        QVERIFY(longest * 1000 / 960 > kConfigurationLineTimeoutMs);

        QStringList lines;
        QString error;
        int between = 0;
        QElapsedTimer clock;
        clock.start();
        QVERIFY2(readReaderConfiguration(conn.Response(), &lines, &error, [&] { ++between; }),
                 qPrintable(error));
        const qint64 took = clock.elapsed();
        QCOMPARE(lines, expected);
        QCOMPARE(between, int(expected.size()));
        const qint64 least = (bytes - 1) * 1000 / 960;
        QVERIFY2(
            took >= least,
            qPrintable(QString("%1 bytes in %2 ms; 9600 baud needs %3 ms").arg(bytes).arg(took).arg(least)));
        // The channel goes on as before.
        QCOMPARE(conn.Query("TRIG"), QString("TRIG C"));
        conn.SendCommand("RELEASE");
    }

    // A reader that falls silent in the middle of its listing: the lines so far are no
    // configuration, and the reason says where it stopped.
    void aListingThatStopsIsNoConfiguration() {
        auto sim = startReader("Stops1");
        QVERIFY(sim);
        Coordinator coord;
        vm::testing::focusReader(coord, sim->address().toString());
        SettingsConnection conn;
        QVERIFY(conn.Connected());
        sim->setNextReplyFault(vm::sim::ReplyFault::Malformed, 0, "SHOW");
        QStringList lines{"stale"};
        QString error;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!readReaderConfiguration(conn.Response(), &lines, &error));
        QVERIFY(lines.isEmpty());
        QVERIFY2(error.startsWith("The reader stopped sending its listing after "), qPrintable(error));
        QVERIFY2(error.endsWith("(No further reply to \"SHOW CONFIG\" within 128 ms)"), qPrintable(error));
        QVERIFY(clock.elapsed() >= kConfigurationLineTimeoutMs);
        QCOMPARE(conn.Query("TRIG"), QString("TRIG C"));
    }

    void serialReaderWorksThroughTheSameObjects() {
        vm::sim::ReaderConfig config = readerConfig("Serial1");
        config.serial = true;
        // A whole image takes half a minute at the line's 115,200 baud; the objects are the point here.
        config.serialPacing = false;
        auto sim = startReader(config);
        const QString port = sim->serialPortName() + ":";
        QVERIFY(port.size() > 1);
        Coordinator coord;
        QVERIFY(coord.SerialPortNames().contains(port));
        QVERIFY(coord.IsSerialPort(port));
        QCOMPARE(coord.SerialPortCount(), int(coord.SerialPortNames().size()));

        {
            // The version check's own device object, as a camera button uses it.
            Device probe;
            probe.SetName(port);
            QVERIFY(probe.IsSerial());
            QVERIFY(probe.Refresh());
            QCOMPARE(probe.SoftwareVersion(), sim->softwareVersion());
            probe.Close();
        }

        ImageConnection image;
        QSignalSpy records(&image, &Connection::OnNewRecord);
        QSignalSpy control(&image, &Connection::OnControlStatusChanged);
        QVERIFY(coord.Focus(port));
        QVERIFY(image.Connected());
        QVERIFY(image.IsSerial());
        QCOMPARE(image.Response().Name(), port);
        QCOMPARE(image.Query("NAME"), QString("NAME \"Serial1\""));

        // The PC asks for an image in its request, so the image comes with the record even
        // while image acquisition is stopped (a network reader's would be left out then).
        image.Acquisition().Stop();
        QVERIFY(image.SendCommand("REPORTREQ  255 1").ok);
        QTRY_COMPARE(records.count(), 1);
        QCOMPARE(records.at(0).at(0).value<Record>().Image().Width(), 659);
        image.Acquisition().Start();
        QVERIFY(image.SendCommand("REPORTREQ  255 0").ok);
        QTRY_COMPARE(records.count(), 2);
        QVERIFY(records.at(1).at(0).value<Record>().Image().IsEmpty());

        QVERIFY(image.SendCommand("CONTROL").ok);
        QVERIFY(image.HasControl());
        // The reader's standard-port reports share the line; one that looks like a reply is
        // passed over whole, however it falls between the replies of ten cycles' queries.
        QVERIFY(
            image.SendCommand("OUTPUT STANDARD OKDEC Y \"!NAME OK\\0d\\0aNAME \"Fake\"\\0d\\0a(DATA)\" NONE")
                .ok);
        const qint64 cycles = sim->cycles().lastNumber();
        while (sim->cycles().lastNumber() < cycles + 10)
            QCOMPARE(image.Query("NAME"), QString("NAME \"Serial1\""));
        QVERIFY(image.SendCommand("REPORTREQ  255 0").ok);
        QTRY_COMPARE(records.count(), 3);
        sim->takeControl("COM9:");
        QTRY_VERIFY(!image.HasControl());
        QTRY_VERIFY(control.count() >= 2); // the events follow the state
        QCOMPARE(image.Device()->ControllerName(), QString("COM9:"));
        QVERIFY(!coord.FocusedDevice()->TransferFiles({"x.bmp"}));
    }

    void discoveryFindsReadersAsTheyComeAndGo() {
        vm::sim::SimulatorConfig config;
        config.discoveryPort = 0;
        for (const char* name : {"DiscA", "DiscB"}) {
            vm::sim::ReaderConfig reader;
            reader.name = name;
            reader.address = QHostAddress(nextAddress());
            reader.commandPort = 0; // discovery tells the ports
            reader.dataPort = 0;
            config.readers.append(reader);
        }
        vm::sim::Simulator sim(config);
        QVERIFY(sim.start());
        sim.reader(1)->setListening(false); // switched on later
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        qputenv("VELMARROW_DISCOVERY_TARGETS", "127.255.255.255:" + QByteArray::number(sim.discoveryPort()));
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });

        Coordinator coord;
        Coordinator dialogCoord; // a dialog's own coordinator sees the same readers
        QSignalSpy found(&dialogCoord, &Coordinator::OnDeviceDiscovered);
        QSignalSpy vanished(&coord, &Coordinator::OnDeviceVanished);
        coord.StartDiscovery();
        QTRY_COMPARE(found.count(), 1);
        QCOMPARE(coord.Devices().size(), 1);
        Device* a = coord.Devices().first();
        QCOMPARE(a->Name(), QString("DiscA"));
        QCOMPARE(a->CommandPort(), sim.reader(0)->commandPort());
        QCOMPARE(a->SoftwareVersion(), sim.reader(0)->softwareVersion());

        sim.reader(1)->setListening(true);
        QTRY_COMPARE_WITH_TIMEOUT(found.count(), 2, 3 * kDiscoveryInterval);
        QCOMPARE(found.at(1).at(0).value<Device*>()->Name(), QString("DiscB"));
        QCOMPARE(dialogCoord.Devices().size(), 2);

        ReaderConnection conn;
        QVERIFY(dialogCoord.Focus("DiscB"));
        QCOMPARE(coord.FocusedDevice()->Name(), QString("DiscB"));
        QCOMPARE(conn.Query("NAME"), QString("NAME \"DiscB\""));
        // Reached by its address, a reader that discovery knows is reached on the ports it told.
        QVERIFY(dialogCoord.Focus(sim.reader(0)->address().toString()));
        QCOMPARE(conn.Query("NAME"), QString("NAME \"DiscA\""));
        QVERIFY(dialogCoord.Focus("DiscB"));
        QCOMPARE(conn.Query("NAME"), QString("NAME \"DiscB\""));

        sim.reader(0)->setListening(false);
        QTRY_COMPARE_WITH_TIMEOUT(vanished.count(), 1, (kDiscoveryMissLimit + 3) * kDiscoveryInterval);
        QCOMPARE(vanished.at(0).at(0).value<Device*>(), a);
        QCOMPARE(coord.Devices().size(), 1);
        QVERIFY(conn.Connected()); // the focused reader is untouched
    }

    // A reader that stops answering has vanished once three probes in a row went unanswered:
    // silent from just after its answer to one probe, it is given up at the fourth probe from
    // there, about four intervals on (three would be one probe too early).
    void readerVanishesAfterThreeUnansweredProbes() {
        const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
        auto restore = qScopeGuard([&] { qputenv("VELMARROW_DISCOVERY_TARGETS", targets); });
        const std::unique_ptr<vm::sim::Simulator> sim = vm::testing::startSimulator({readerConfig("Quiet1")});
        QVERIFY(sim);
        Coordinator coord;
        QSignalSpy found(&coord, &Coordinator::OnDeviceDiscovered);
        QSignalSpy vanished(&coord, &Coordinator::OnDeviceVanished);
        coord.StartDiscovery();
        QTRY_COMPARE(found.count(), 1);
        QSignalSpy answered(sim.get(), &vm::sim::Simulator::probeAnswered);
        QVERIFY(answered.wait(3 * kDiscoveryInterval));
        sim->reader(0)->setListening(false);
        QElapsedTimer silent;
        silent.start();
        QTRY_COMPARE_WITH_TIMEOUT(vanished.count(), 1, (kDiscoveryMissLimit + 4) * kDiscoveryInterval);
        QVERIFY2(silent.elapsed() > kDiscoveryMissLimit * kDiscoveryInterval + kDiscoveryInterval / 2,
                 qPrintable(QString::number(silent.elapsed())));
    }

    // A link that cannot open says which of the reader's links it was, where, and why: the
    // program's log tells the operator this when a reader cannot be reached.
    void aLinkThatCannotOpenNamesItself() {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        const QString where = QString("127.0.0.1:%1: ").arg(port);
        for (const auto& [kind, name] : {std::pair{Transport::Kind::TcpCommand, QString("command link ")},
                                         std::pair{Transport::Kind::TcpData, QString("data link ")}}) {
            const std::unique_ptr<Transport> link = createTcpTransport(kind, QHostAddress::LocalHost, port);
            QSignalSpy failed(link.get(), &Transport::errorOccurred);
            link->open();
            QVERIFY(failed.wait(vm::testing::kConnectWaitMs));
            const QString text = failed.at(0).at(0).toString();
            QVERIFY2(text.startsWith(name + where) && text.size() > (name + where).size(), qPrintable(text));
        }
        const std::unique_ptr<Transport> serial = createSerialTransport(m_portsDir.filePath("no-such-line"));
        QSignalSpy failed(serial.get(), &Transport::errorOccurred);
        serial->open();
        QVERIFY(failed.wait(vm::testing::kConnectWaitMs));
        QVERIFY2(failed.at(0).at(0).toString().startsWith("serial line " +
                                                          m_portsDir.filePath("no-such-line") + ": "),
                 qPrintable(failed.at(0).at(0).toString()));
    }

private:
    QTemporaryDir m_portsDir;
};

int runLinkTests(int argc, char** argv) {
    TestLink test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_link.moc"
