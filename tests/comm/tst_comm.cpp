// The part queue and communication settings as the reader acts on them: what it keeps and
// sends to an FTP server, how its serial line and the program's serial ports follow their
// settings, and a renamed or moved reader found again. The two dialogs' controls have
// their contract tables.
#include "app/registry.h"
#include "app/settingsstore.h"
#include "comm/ftpserver.h"
#include "common/windowbench.h"
#include "io/dlgcommsetup.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/protocol.h"
#include "shell/basicinterface.h"
#include "shell/cameratoolbar.h"
#include "sim/catalogue.h"
#include "sim/ftpupload.h"
#include "sim/partqueue.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

namespace {

constexpr int kWait = 10000;
// Long enough for several retries of an upload.
constexpr int kUploadWait = 30000;

// Opens a test that sends parts to an FTP server: skips it where none can run here (no
// Python or no pyftpdlib), else starts one as m_server.
#define START_FTP_SERVER()                                                                                   \
    do {                                                                                                     \
        if (const QString missing = testing::FtpServer::unavailableReason(); !missing.isEmpty())             \
            QSKIP(qPrintable("no FTP server to test with: " + missing));                                     \
        m_server = std::make_unique<testing::FtpServer>();                                                   \
        QVERIFY(m_server->start());                                                                          \
    } while (false)

// A station on the reader's command port: a line out, its data lines and status back.
class Commands {
public:
    bool open(const sim::Reader& r) {
        m_socket.connectToHost(r.address(), r.commandPort());
        return m_socket.waitForConnected(kWait) && ok("STATION WS-COMM") && ok("CONTROL");
    }
    // The reply's lines, the status line last.
    QStringList send(const QString& line) {
        m_socket.write(line.toUtf8() + "\r\n");
        QStringList out;
        // A reply that never comes leaves the status missing, which the caller checks.
        (void)QTest::qWaitFor(
            [&] {
                m_buffer += m_socket.readAll();
                qsizetype lf;
                while ((lf = m_buffer.indexOf('\n')) >= 0) {
                    out << QString::fromUtf8(m_buffer.left(lf)).trimmed();
                    m_buffer.remove(0, lf + 1);
                    if (out.last().startsWith('!'))
                        return true;
                }
                return false;
            },
            kWait);
        return out;
    }
    bool ok(const QString& line) {
        const QStringList reply = send(line);
        if (reply.isEmpty() || !reply.last().endsWith(" OK")) {
            qWarning().noquote() << line << "->" << reply.join(" | ").left(300);
            return false;
        }
        return true;
    }
    // The record numbers the queue holds, oldest first; the list's head line in `head`.
    QList<qint64> queued(QStringList* head = nullptr) {
        QList<qint64> out;
        const QStringList reply = send("PARTQLIST");
        for (const QString& l : reply) {
            const QStringList w = l.split(' ');
            if (w.value(0) == "PARTQITEM")
                out << w.value(1).toLongLong();
            if (w.value(0) == "PARTQLIST" && head)
                *head = w;
        }
        return out;
    }
    // A queued part's file fetched over the command channel.
    QByteArray fetch(qint64 number, const QString& kind) {
        QByteArray encoded;
        for (const QString& l : send(QString("PARTQGET %1 %2").arg(number).arg(kind))) {
            if (l.startsWith("PARTQDATA "))
                encoded += l.mid(10).toLatin1();
        }
        return QByteArray::fromBase64(encoded);
    }

private:
    QTcpSocket m_socket;
    QByteArray m_buffer;
};

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QString name9(const QString& reader, qint64 number, const char* ext) {
    return QString("%1_%2.%3").arg(reader).arg(number, 9, 10, QChar('0')).arg(ext);
}

// The files each of these parts leaves on the FTP server, image and result, sorted.
QStringList partFiles(const QList<qint64>& numbers) {
    QStringList names;
    for (qint64 n : numbers)
        names << name9("Queue1", n, "bmp") << name9("Queue1", n, "txt");
    names.sort();
    return names;
}

} // namespace

// ---------------------------------------------------------------------------------------------

class TestPartQueue : public QObject {
    Q_OBJECT

    std::unique_ptr<sim::Reader> m_reader;
    std::unique_ptr<Commands> m_commands;
    std::unique_ptr<QSignalSpy> m_records;
    std::unique_ptr<testing::FtpServer> m_server;

    // A triggered reader of this level and this test in control of it.
    void start(int level = 10) {
        auto config = testing::readerConfig("Queue1", sim::softwareVersionForLevel(level));
        config.commandPort = 0;
        config.dataPort = 0;
        config.outputPort = 0;
        m_reader = std::make_unique<sim::Reader>(config);
        m_reader->parameters().setFields("TRIG", {"T"});
        QString error;
        QVERIFY2(m_reader->start(&error), qPrintable(error));
        m_records = std::make_unique<QSignalSpy>(m_reader.get(), &sim::Reader::recordDelivered);
        m_commands = std::make_unique<Commands>();
        QVERIFY(m_commands->open(*m_reader));
    }
    // One read cycle; its record number.
    qint64 cycle() {
        const qsizetype before = m_records->size();
        if (!m_commands->ok("VT"))
            return -1;
        if (!QTest::qWaitFor([&] { return m_records->size() > before; }, kWait))
            return -1;
        return m_records->last().at(0).toLongLong();
    }
    void scene(const QString& key, const QString& value) {
        QString error;
        QVERIFY2(m_reader->setScene(key, value, &error), qPrintable(error));
    }
    // Reads that fail to locate a symbol, or that read one.
    void failing() { scene("contrast", "0"); }
    void reading() { scene("contrast", "90"); }

private slots:
    void cleanup() {
        m_server.reset();
        m_commands.reset();
        m_records.reset();
        m_reader.reset();
    }

    // Which parts each qualifier and failure kind queue is pinned by the part queue's table.
    // Here: a part not decoded and one not located are both queued, the result file of a part
    // says its result and failure kind, and the queue turned off keeps nothing. (The list's
    // columns, the file's name and a results-only part's missing image are pinned by the
    // simulated reader's own tests and its part queue transcript.)
    void queuedPartsKeepTheirResult() {
        start();
        QVERIFY(m_commands->ok("PARTQ R FAILED 10"));
        QVERIFY(m_commands->ok("PARTQFAIL ALL"));
        // Seen but not decoded: a symbology the reader does not read.
        reading();
        QVERIFY(m_commands->ok("NUMDM 0"));
        const qint64 notDecoded = cycle();
        QVERIFY(m_commands->ok("NUMDM 1"));
        failing();
        const qint64 notLocated = cycle();
        QCOMPARE(m_commands->queued(), QList<qint64>({notDecoded, notLocated}));
        const QString text = QString::fromUtf8(m_commands->fetch(notLocated, "TXT"));
        QVERIFY2(text.contains(QString("Record: %1\r\n").arg(notLocated)), qPrintable(text));
        QVERIFY2(text.contains("Result: FAIL\r\nFailure: LOCFL\r\n"), qPrintable(text));
        QVERIFY(m_commands->ok("PARTQ N PASSED 10"));
        cycle();
        QCOMPARE(m_commands->queued(), QList<qint64>());
    }

    // The grade ranges of the verification qualifiers, each against every grade: A is good,
    // B fair, C and D poor, F failed. A part the reader did not grade is in no range.
    void gradeRangesQualify() {
        const QList<std::pair<QString, QString>> ranges = {{"VER_GOOD_FAIR_POOR_FAILED", "ABCDF"},
                                                           {"VER_GOOD_FAIR_POOR", "ABCD"},
                                                           {"VER_GOOD_FAIR", "AB"},
                                                           {"VER_GOOD", "A"},
                                                           {"VER_FAIR", "B"},
                                                           {"VER_POOR", "CD"},
                                                           {"VER_FAILED", "F"},
                                                           {"VER_POOR_FAILED", "CDF"},
                                                           {"VER_FAIR_POOR_FAILED", "BCDF"}};
        for (const auto& [qualifier, grades] : ranges) {
            QString qualifying;
            for (const char* grade : {"A", "B", "C", "D", "F", ""})
                if (sim::PartQueue::gradeQualifies(qualifier, grade))
                    qualifying += grade;
            QCOMPARE(qualifier + ": " + qualifying, qualifier + ": " + grades);
        }
    }

    // A reboot empties the reader's memory: a part queued before it is gone after it. (What
    // the queue keeps up to its maximum, the images it keeps and its capacity are pinned by the
    // simulated reader's own tests and its part queue transcript.)
    void rebootEmptiesTheQueue() {
        start();
        QVERIFY(m_commands->ok("PARTQ Y ALL 3"));
        const qint64 part = cycle();
        QCOMPARE(m_commands->queued(), QList<qint64>{part});
        QSignalSpy rebooted(m_reader.get(), &sim::Reader::rebooted);
        m_reader->reboot();
        QVERIFY(rebooted.wait(kWait));
        m_commands = std::make_unique<Commands>();
        QVERIFY(m_commands->open(*m_reader));
        QCOMPARE(m_commands->queued(), QList<qint64>());
    }

    // Failed parts with images go to the FTP server: each result and image under its
    // record's name with the part's contents, and the part leaves the reader's memory.
    void failedPartsArriveOnTheFtpServer() {
        START_FTP_SERVER();
        start();
        QVERIFY(m_commands->ok("PARTQ Y FAILED 10"));
        QVERIFY(m_commands->ok(QString("PARTQFTPEX \"%1\" \"line/parts\" Y Y 0").arg(m_server->host())));
        reading();
        const qint64 passed = cycle();
        failing();
        QList<qint64> failed;
        for (int i = 0; i < 3; ++i)
            failed << cycle();
        const QString folder = m_server->root() + "/line/parts";
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder), partFiles(failed), kUploadWait);
        QVERIFY(!filesIn(folder).join(' ').contains(name9("Queue1", passed, "txt")));
        for (qint64 n : failed) {
            QFile text(folder + "/" + name9("Queue1", n, "txt"));
            QVERIFY(text.open(QIODevice::ReadOnly));
            const QString t = QString::fromUtf8(text.readAll());
            QVERIFY2(t.startsWith(QString("Camera: Queue1\r\nRecord: %1\r\n").arg(n)), qPrintable(t));
            QVERIFY2(t.contains("Result: FAIL\r\nFailure: LOCFL\r\n"), qPrintable(t));
            const QImage image(folder + "/" + name9("Queue1", n, "bmp"));
            QCOMPARE(image.size(), QSize(659, 494));
        }
        QTRY_COMPARE(m_commands->queued(), QList<qint64>());
        // Results only: the images stay out.
        QVERIFY(m_commands->ok(QString("PARTQFTPEX \"%1\" \"line/parts\" Y N 0").arg(m_server->host())));
        const qint64 textOnly = cycle();
        QTRY_VERIFY_WITH_TIMEOUT(filesIn(folder).contains(name9("Queue1", textOnly, "txt")), kUploadWait);
        QVERIFY(!filesIn(folder).contains(name9("Queue1", textOnly, "bmp")));
    }

    // The server goes away while parts fail and comes back: every part arrives, once.
    void serverAwayAndBackLosesNothing() {
        START_FTP_SERVER();
        start();
        QVERIFY(m_commands->ok("PARTQ Y FAILED 10"));
        QVERIFY(m_commands->ok(QString("PARTQFTPEX \"%1\" \"q\" Y Y 0").arg(m_server->host())));
        failing();
        const qint64 first = cycle();
        const QString folder = m_server->root() + "/q";
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder).size(), 2, kUploadWait);
        m_server->stop();
        QList<qint64> failed{first};
        for (int i = 0; i < 3; ++i)
            failed << cycle();
        // While the server is away the parts wait in the reader.
        QTRY_COMPARE_WITH_TIMEOUT(m_commands->queued(), failed.mid(1), kWait);
        QVERIFY(m_server->start());
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder), partFiles(failed), kUploadWait);
        QTRY_COMPARE(m_commands->queued(), QList<qint64>());
        QStringList head;
        m_commands->queued(&head);
        QCOMPARE(head.value(3), QString("0")); // nothing dropped
        QCOMPARE(head.value(4), QString("4")); // four parts uploaded, no more
    }

    // The server's disk fills in the middle of an image: no cut-off file is left under the
    // part's name (what went up under the temporary name is deleted), and once there is room
    // again the image arrives whole and only then takes its name.
    void fullServerDiskLeavesNoCutOffPart() {
        START_FTP_SERVER();
        // Room for a result, not for a 659 x 494 image.
        QVERIFY(m_server->setFreeSpace(100000));
        start();
        QVERIFY(m_commands->ok("PARTQ Y FAILED 10"));
        QVERIFY(m_commands->ok(QString("PARTQFTPEX \"%1\" \"full\" Y Y 0").arg(m_server->host())));
        failing();
        const qint64 n = cycle();
        QVERIFY(n >= 0);
        const QString folder = m_server->root() + "/full";
        const QString text = name9("Queue1", n, "txt");
        const QString image = name9("Queue1", n, "bmp");
        const QString partial = image + sim::FtpTransfer::kTemporarySuffix;
        // Two failed tries, each cleaned up after.
        QTRY_VERIFY_WITH_TIMEOUT(m_server->journal().count("DELE full/" + partial) >= 2, kUploadWait);
        // A further try may be under way: its file has the temporary name.
        QStringList named = filesIn(folder);
        named.removeAll(partial);
        QCOMPARE(named, QStringList{text});
        QVERIFY(m_server->journal().contains("STOR full/" + partial));
        QVERIFY(!m_server->journal().contains("STOR full/" + image));
        QVERIFY(!m_server->journal().contains("RNTO full/" + image));
        QFile result(folder + "/" + text);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QVERIFY(result.readAll().startsWith(QString("Camera: Queue1\r\nRecord: %1\r\n").arg(n).toUtf8()));
        // The part waits in the reader meanwhile.
        QCOMPARE(m_commands->queued(), QList<qint64>{n});

        QVERIFY(m_server->setFreeSpace(-1));
        QTRY_COMPARE_WITH_TIMEOUT(filesIn(folder), QStringList({image, text}), kUploadWait);
        QCOMPARE(QImage(folder + "/" + image).size(), QSize(659, 494));
        const QStringList journal = m_server->journal();
        const qsizetype renamed = journal.lastIndexOf("RNTO full/" + image);
        QVERIFY2(renamed > 0, qPrintable(journal.join('|')));
        QCOMPARE(journal.at(renamed - 1), "RNFR full/" + partial);
        QTRY_COMPARE(m_commands->queued(), QList<qint64>());
    }

    // With a maximum of FTP records the server keeps only the newest parts.
    void ftpMaximumKeepsTheNewestOnTheServer() {
        START_FTP_SERVER();
        start();
        QVERIFY(m_commands->ok("PARTQ R ALL 10"));
        QVERIFY(m_commands->ok(QString("PARTQFTPEX \"%1\" \"few\" Y N 2").arg(m_server->host())));
        QList<qint64> numbers;
        for (int i = 0; i < 4; ++i)
            numbers << cycle();
        QTRY_COMPARE_WITH_TIMEOUT(
            filesIn(m_server->root() + "/few"),
            QStringList({name9("Queue1", numbers[2], "txt"), name9("Queue1", numbers[3], "txt")}),
            kUploadWait);
        // The oldest goes only once a third is stored: two are kept, never fewer.
        const QStringList journal = m_server->journal();
        auto first = [&journal](const QString& prefix) {
            for (qsizetype i = 0; i < journal.size(); ++i)
                if (journal.at(i).startsWith(prefix))
                    return i;
            return qsizetype(-1);
        };
        const qsizetype third = first("STOR few/" + name9("Queue1", numbers[2], "txt"));
        QVERIFY2(third >= 0 && first("DELE few/" + name9("Queue1", numbers[0], "txt")) > third,
                 qPrintable(journal.join('|')));
    }
};

// ---------------------------------------------------------------------------------------------

using testing::child;
using testing::retype;

class TestCommSetup : public QObject, protected testing::WindowBench {
    Q_OBJECT

    std::unique_ptr<sim::Simulator> m_simulator;

    sim::Reader* reader() { return m_simulator ? m_simulator->readers().front() : m_reader.get(); }
    void focus(const QString& nameOrAddress) {
        testing::focusReader(*m_coordinator, nameOrAddress);
        QVERIFY(m_conn->Connected());
        QVERIFY(testing::takeControl(*m_conn));
    }
    std::unique_ptr<io::dlgCommSetup> open() { return openWindow<io::dlgCommSetup>(); }
    static QPushButton* ok(QWidget* w) { return w->findChild<QPushButton*>("btnOK"); }
    // Renames the focused reader through the dialog (and moves it, given an address); OK
    // says the change needs a reboot and closes the dialog.
    void renameThroughTheDialog(const QString& name, const QString& address = QString()) {
        auto w = open();
        retype(child<QLineEdit>(w.get(), "txtCamName"), name);
        if (!address.isEmpty())
            retype(child<QLineEdit>(w.get(), "txtIP"), address);
        acceptNeedingReboot(w.get());
    }
    // OK on a change of the reader's identity: the dialog says it needs a reboot and closes.
    void acceptNeedingReboot(QWidget* w) {
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Configuration Changed",
                                 "Please reboot the camera for the settings to take effect",
                                 PromptIcon::Information, PromptButtons::Ok, PromptAnswer::Ok);
            QTest::mouseClick(ok(w), Qt::LeftButton);
        }
        QTRY_VERIFY(!w->isVisible());
    }
    // Chooses an item the way the keyboard does, so that the dialog hears of it.
    static void pick(QComboBox* list, const QString& text) {
        const int target = list->findText(text);
        QVERIFY2(target >= 0, qPrintable(text));
        for (int step = 0; step <= list->count() && list->currentIndex() != target; ++step)
            QTest::keyClick(list, list->currentIndex() < target ? Qt::Key_Down : Qt::Key_Up);
        QCOMPARE(list->currentText(), text);
    }
    // The PC port frame of a new dialog: the port chosen, its five lists set, OK pressed.
    void storePortSettings(const QString& port, const QStringList& choices) {
        auto w = open();
        auto* ports = child<QComboBox>(w.get(), "listPorts");
        if (ports->isEnabled())
            pick(ports, port);
        QCOMPARE(ports->currentText(), port);
        const char* lists[] = {"cmbBaudRate", "cmbParity", "cmbDataBits", "cmbStopBits", "cmbFlow"};
        for (int i = 0; i < 5; ++i)
            pick(child<QComboBox>(w.get(), lists[i]), choices.at(i));
        QTest::mouseClick(ok(w.get()), Qt::LeftButton);
        QTRY_VERIFY(!w->isVisible());
    }
    // The line settings of the port as the terminal holds them now: speed, stop bits and
    // flow control (a pseudo-terminal always carries eight data bits without parity).
    static QStringList lineOf(int fd) {
        termios t = {};
        if (::tcgetattr(fd, &t) != 0)
            return {QStringLiteral("no terminal")};
        const QHash<speed_t, QString> speeds = {{B9600, "9600"},   {B19200, "19200"},   {B38400, "38400"},
                                                {B57600, "57600"}, {B115200, "115200"}, {B4800, "4800"}};
        const bool soft = (t.c_iflag & (IXON | IXOFF)) == (IXON | IXOFF);
        const bool hard = t.c_cflag & CRTSCTS;
        return {speeds.value(::cfgetospeed(&t), "other"), (t.c_cflag & CSTOPB) ? "2" : "1",
                hard ? (soft ? "both" : "Hardware") : (soft ? "Xon/Xoff" : "None")};
    }
    // The renamed reader focused in `window` reboots. The reboot drops the link and, with it,
    // control: the program says so, as it does for any reader. The camera button takes the new
    // name and stays down, no button keeps the old, the saved list has the new name.
    void rebootAndFollow(shell::BasicInterface& window, const QString& from, const QString& to) {
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Connection Error",
                             "Connection Dropped Unexpectedly\r\nCamera was reconnected but control was lost",
                             PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
        QSignalSpy rebooted(reader(), &sim::Reader::rebooted);
        reader()->reboot();
        QVERIFY(rebooted.wait(kWait));
        QTRY_COMPARE_WITH_TIMEOUT(boxes->shown().size(), 1, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(window.cameraToolbar()->captions(false), QStringList({"Cell2", to}),
                                  3 * kWait);
        QTRY_VERIFY_WITH_TIMEOUT(window.imageConnection()->Connected(), 3 * kWait);
        QVERIFY(window.coordinator()->FocusedDevice());
        QCOMPARE(window.coordinator()->FocusedDevice()->Name(), to);
        QTRY_VERIFY(window.cameraToolbar()->findCamera(to)->isChecked());
        QVERIFY(!window.cameraToolbar()->findCamera(from));
        QCOMPARE(app::readCameraList(app::settings()), QStringList({"Cell2", to}));
        QCOMPARE(m_conn->Query("NAME"), QString("NAME \"%1\"").arg(to));
    }
    // Focuses the reader on its port; the program reports the line it asked for.
    void focusSerial(const QString& port, const QString& device, const QString& line) {
        QTest::ignoreMessage(QtInfoMsg, qPrintable(QString("serial line %1 opened at %2").arg(device, line)));
        focus(port);
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }
    void init() {
        setUpBench();
        // The PC port settings of one case are not those of the next, even where a reader's
        // port has the same name again.
        app::setRegistryFolder(m_dir.filePath(QString("registry/") + QTest::currentTestFunction()));
    }
    void cleanup() {
        tearDownBench();
        m_simulator.reset();
    }

    // What the dialog stores for a PC serial port is how the program opens that port the
    // next time: nothing stored is 115200 8N1 without flow control; a change made while
    // the reader is reached through the port waits for the next opening.
    void pcPortSettingsAreUsedAtTheNextOpening() {
        auto config = testing::readerConfig("Serial1", sim::softwareVersionForLevel(10));
        config.serial = true;
        m_reader = testing::startReader(config);
        QVERIFY(m_reader);
        const QString port = m_reader->serialPortName() + ":";
        // A second descriptor of the reader's line shows the terminal settings the
        // program's own descriptor set.
        const int line =
            ::open(m_reader->serialDevice().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        QVERIFY2(line >= 0, qPrintable(m_reader->serialDevice()));
        const auto closeLine = qScopeGuard([line] { ::close(line); });

        const QString device = m_reader->serialDevice();
        focusSerial(port, device, "115200 8N1, no flow control");
        QCOMPARE(lineOf(line), QStringList({"115200", "1", "None"}));
        testing::focusReader(*m_coordinator, "");
        QTRY_VERIFY(!m_conn->Connected());

        // The reader's own port set to match, as the reader's operator would set it.
        reader()->parameters().setFields("TTY", {"9600", "E", "7", "2", "H"});
        storePortSettings(port, {"9600", "Even", "7", "2", "Hardware"});
        focusSerial(port, device, "9600 7E2, hardware flow control");
        QCOMPARE(lineOf(line), QStringList({"9600", "2", "Hardware"}));
        QCOMPARE(readerValue("NAME"), QString("NAME \"Serial1\""));

        // Changed through the port in use: the line stays as it is until it is opened again.
        storePortSettings(port, {"38400", "Odd", "8", "1", "Xon/Xoff"});
        QVERIFY(m_conn->Connected());
        QCOMPARE(lineOf(line), QStringList({"9600", "2", "Hardware"}));
        testing::focusReader(*m_coordinator, "");
        QTRY_VERIFY(!m_conn->Connected());
        reader()->parameters().setFields("TTY", {"38400", "O", "8", "1", "X"});
        focusSerial(port, device, "38400 8O1, Xon/Xoff flow control");
        QCOMPARE(lineOf(line), QStringList({"38400", "1", "Xon/Xoff"}));
        QCOMPARE(readerValue("NAME"), QString("NAME \"Serial1\""));
    }

    // The reader's own serial port is set by its TTY parameter, at once and on its line. A
    // PC that opens the port at other settings is not understood, as on a real cable: the
    // reader hears noise and answers nothing; with matching settings stored it answers.
    void readerSerialPortFollowsItsSettings() {
        auto config = testing::readerConfig("Serial2", sim::softwareVersionForLevel(10));
        config.serial = true;
        m_reader = testing::startReader(config);
        QVERIFY(m_reader);
        const QString port = m_reader->serialPortName() + ":";
        const QString device = m_reader->serialDevice();
        const int line = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY2(line >= 0, qPrintable(device));
        const auto closeLine = qScopeGuard([line] { ::close(line); });
        QCOMPARE(lineOf(line), QStringList({"115200", "1", "None"}));

        focus(m_reader->address().toString());
        readerHolds("TTY 9600 N 8 2 H");
        QTRY_COMPARE(lineOf(line), QStringList({"9600", "2", "Hardware"}));
        testing::focusReader(*m_coordinator, "");
        QTRY_VERIFY(!m_conn->Connected());

        // The program opens the port as stored for it, 115200 without flow control: the
        // reader hears nothing it understands and the connection is given up.
        QSignalSpy heard(m_reader.get(), &sim::Reader::commandReceived);
        QTest::ignoreMessage(
            QtInfoMsg,
            qPrintable(QString("serial line %1 opened at 115200 8N1, no flow control").arg(device)));
        QTest::ignoreMessage(QtInfoMsg, QRegularExpression("link down: no answer while connecting"));
        QElapsedTimer clock;
        clock.start();
        testing::focusReader(*m_coordinator, port);
        QVERIFY(!m_conn->Connected());
        QVERIFY(clock.elapsed() >= link::kHandshakeTimeoutMs - 100);
        QCOMPARE(heard.size(), 0);
        testing::focusReader(*m_coordinator, "");

        storePortSettings(port, {"9600", "None", "8", "2", "Hardware"});
        focusSerial(port, device, "9600 8N2, hardware flow control");
        QCOMPARE(lineOf(line), QStringList({"9600", "2", "Hardware"}));
        QCOMPARE(readerValue("NAME"), QString("NAME \"Serial2\""));

        // Seven data bits: the reader ignores the top bit of what it receives. The reply to
        // the change still comes at the settings it was asked at.
        readerHolds("TTY 9600 E 7 2 H");
        QCOMPARE(readerValue("TTY"), QString("TTY 9600 E 7 2 H"));
        testing::focusReader(*m_coordinator, "");
        QTRY_VERIFY(!m_conn->Connected());
        QByteArray question("NAME\r\n");
        for (char& c : question)
            c = char(c | 0x80);
        QCOMPARE(::write(line, question.constData(), size_t(question.size())), ssize_t(question.size()));
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                char buf[256];
                ssize_t n;
                while ((n = ::read(line, buf, sizeof buf)) > 0)
                    answer.append(buf, int(n));
                return answer.contains("Serial2");
            }(),
            kWait);
    }

    // A reader renamed and moved to another address, or to DHCP, comes back after its
    // reboot under its new name at its new address, and the program reaches it there.
    // Its camera button follows it: the reader answers discovery with the MAC address it
    // had under the old name, so the button takes the new name and the saved list has it.
    void renamedReaderIsFoundAgain() {
        auto config = testing::readerConfig("Line1", sim::softwareVersionForLevel(10));
        m_simulator = testing::startSimulator({config});
        QVERIFY(m_simulator);
        qputenv("VmSplashEnabled", "0");
        app::writeCameraList(app::settings(), {"Cell2", "Line1"});
        const auto startProgram = [this] {
            auto window = std::make_unique<shell::BasicInterface>();
            window->setLegacyFolder(m_dir.filePath("nolegacy"));
            window->Load();
            return window;
        };
        const auto savedMac = [](int position) {
            return app::settings().GetValue(QString::number(position), QString(), "CameraMacs");
        };
        {
            // The program sees the reader under its old name and keeps its MAC address.
            auto window = startProgram();
            QTRY_COMPARE_WITH_TIMEOUT(savedMac(2), reader()->macAddress().toUpper(), kWait);
            QCOMPARE(savedMac(1), QString());
            window->close();
        }
        m_coordinator->StartDiscovery();
        QTRY_VERIFY_WITH_TIMEOUT(m_coordinator->DeviceFor("Line1"), kWait);
        focus("Line1");
        const QString moved = testing::nextAddress();
        renameThroughTheDialog("Line9", moved);
        // Kept for the next boot: until then the reader answers as before, where it was.
        QCOMPARE(reader()->address().toString(), config.address.toString());
        QCOMPARE(reader()->name(), QString("Line1"));
        QCOMPARE(m_conn->Query("NAME"), QString("NAME \"Line1\""));
        QSignalSpy rebooted(reader(), &sim::Reader::rebooted);
        reader()->reboot();
        QVERIFY(rebooted.wait(kWait));
        QCOMPARE(reader()->name(), QString("Line9"));
        QCOMPARE(reader()->address().toString(), moved);
        QTRY_VERIFY_WITH_TIMEOUT(m_coordinator->DeviceFor("Line9") &&
                                     m_coordinator->DeviceFor("Line9")->Address().toString() == moved,
                                 kWait);
        focus("Line9");
        QCOMPARE(readerValue("IP"), QString("IP Line9 %1 255.0.0.0 0.0.0.0").arg(moved));

        // DHCP: the reader takes the address it is leased and reports it.
        auto dhcp = open();
        child<QRadioButton>(dhcp.get(), "optUseDHCP")->setChecked(true);
        acceptNeedingReboot(dhcp.get());
        reader()->reboot();
        QVERIFY(rebooted.wait(kWait));
        // Leased from the last two bytes of its MAC address: 127.250.x.y.
        const QStringList mac = reader()->macAddress().split(':');
        const QString leased = QString("127.250.%1.%2")
                                   .arg(mac.value(4).toInt(nullptr, 16))
                                   .arg(std::clamp(mac.value(5).toInt(nullptr, 16), 1, 254));
        QVERIFY(leased != moved);
        QCOMPARE(reader()->address().toString(), leased);
        QTRY_VERIFY_WITH_TIMEOUT(m_coordinator->DeviceFor("Line9") &&
                                     m_coordinator->DeviceFor("Line9")->Address().toString() == leased,
                                 kWait);
        focus("Line9");
        QCOMPARE(readerValue("IP"), QString("IP Line9 %1 255.0.0.0 0.0.0.0").arg(leased));
        QCOMPARE(readerValue("DHCP"), QString("DHCP Y"));

        // Started again, the program finds no Line1 but the MAC address it had, now as
        // Line9: the button takes the new name and the saved list has it.
        testing::focusReader(*m_coordinator, "");
        QCOMPARE(app::readCameraList(app::settings()), QStringList({"Cell2", "Line1"}));
        auto window = startProgram();
        const auto captions = [&] { return window->cameraToolbar()->captions(false); };
        QTRY_COMPARE_WITH_TIMEOUT(captions(), QStringList({"Cell2", "Line9"}), 3 * kWait);
        QCOMPARE(app::readCameraList(app::settings()), QStringList({"Cell2", "Line9"}));
        QCOMPARE(savedMac(2), reader()->macAddress().toUpper());
        QVERIFY(window->cameraToolbar()->findCamera("Line9")->isEnabled());
        window->close();
    }

    // With the program open throughout: the operator presses the reader's button, renames
    // and moves the reader and reboots it. The button takes the new name, stays down on
    // the reader under it, the saved list has the new name and no button keeps the old.
    void renamedFocusedReaderKeepsItsButton() {
        auto config = testing::readerConfig("Line1", sim::softwareVersionForLevel(10));
        m_simulator = testing::startSimulator({config});
        QVERIFY(m_simulator);
        qputenv("VmSplashEnabled", "0");
        app::writeCameraList(app::settings(), {"Cell2", "Line1"});
        auto window = std::make_unique<shell::BasicInterface>();
        window->setLegacyFolder(m_dir.filePath("nolegacy"));
        window->Load();
        const auto discovered = [&](const QString& name) {
            const link::Device* d = window->coordinator()->DeviceFor(name);
            return d && d->isDiscovered() && d->present();
        };
        QTRY_VERIFY_WITH_TIMEOUT(discovered("Line1"), kWait);
        window->ClickCameraButton("Line1");
        QTRY_VERIFY_WITH_TIMEOUT(window->imageConnection()->Connected(), kWait);
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", "Do you wish to control the camera Line1?",
                                 PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::Yes);
            QVERIFY(window->EnsureControl());
        }
        window->UpdateToolbar();

        const QString moved = testing::nextAddress();
        renameThroughTheDialog("Line9", moved);

        rebootAndFollow(*window, "Line1", "Line9");
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(window->coordinator()->FocusedDevice()->Address().toString(), moved);
        QCOMPARE(app::settings().GetValue("2", QString(), "CameraMacs"), reader()->macAddress().toUpper());
        QTRY_COMPARE(window->windowTitle(), QString("Line9 - Velmarrow")); // on the update timer

        // Renamed where it is: the same, without a new address to follow.
        QVERIFY(testing::takeControl(*m_conn));
        renameThroughTheDialog("Line5");
        window->UpdateToolbar();
        rebootAndFollow(*window, "Line9", "Line5");
        window->close();
    }
};

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int failures = 0;
    {
        TestPartQueue t;
        failures += QTest::qExec(&t, argc, argv);
    }
    {
        TestCommSetup t;
        failures += QTest::qExec(&t, argc, argv);
    }
    return failures;
}

#include "tst_comm.moc"
