// The log window, the About box with its system-information routine, and the
// manufacturing settings viewer against simulated readers on loopback.
#include "app/programstate.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "common/prompts.h"
#include "common/readers.h"
#include "display/xtermwnd.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "resources/strings.h"
#include "settings/frmsettings.h"
#include "shell/fileversion.h"
#include "shell/frmabout.h"
#include "shell/frmlog.h"
#include "shell/readerrules.h"
#include "shell/splash.h"
#include "shell/systeminfo.h"
#include "sim/reader.h"

#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vm;
using vm::app::PromptAnswer;
using vm::app::PromptButtons;
using vm::app::PromptIcon;
using vm::settings::frmSettings;
using vm::testing::focusReader;
using vm::testing::nextAddress;
using vm::testing::startReader;

namespace {

// What the reader itself answers to a block's command: its data lines joined as the
// viewer joins them.
QString readerBlock(sim::Reader& reader, const char* command) {
    sim::Station station{QStringLiteral("ORACLE"), false, 9999};
    QStringList lines = reader.execute(QLatin1String(command), station);
    if (!lines.isEmpty() && lines.last().startsWith(QLatin1Char('!')))
        lines.removeLast();
    return lines.join(QLatin1String("\r\n"));
}

int settingsCommands(const sim::Reader& reader) {
    int n = 0;
    for (const QString& line : reader.receivedCommands())
        if (line.startsWith(QLatin1String("SETTINGS_")))
            ++n;
    return n;
}

QStringList boxTexts(const frmSettings& viewer) {
    return {viewer.blockText(0), viewer.blockText(1), viewer.blockText(2)};
}

} // namespace

class TestAbout : public QObject {
    Q_OBJECT

    QTemporaryDir m_portsDir;
    std::unique_ptr<QTemporaryDir> m_dir;

private slots:
    void initTestCase() {
        qputenv("VELMARROW_SIM_PORTS_DIR", m_portsDir.path().toLocal8Bit());
        qputenv("VELMARROW_STATION", "TEST-PC");
        // The About box opens the manufacturing viewer by its registered name.
        app::registerWindows(app::windows());
    }

    void init() {
        // The offscreen platform says what it cannot do; that is not ours.
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        auto store = std::make_unique<app::SettingsStore>(m_dir->filePath("Velmarrow.ini"),
                                                          m_dir->filePath("options.ini"));
        store->Open("Velmarrow");
        app::installSettings(std::move(store));
        app::setHistoryFile(
            m_dir->filePath("history.sqlite")); // the main window records here, not in the user's data folder
        app::setFirmwareLevel(0);
        shell::resetSystemInfoHooks();
    }

    void cleanup() {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        shell::resetSystemInfoHooks();
        app::setFirmwareLevel(0);
        app::installSettings(nullptr);
        m_dir.reset();
    }

    // The log window: its texts, and its place stored when the OK button unloads it. Its
    // coloured lines, captions and clearing are checked in tst_config, where a load fills it.
    void logWindow() {
        QPointer<shell::frmLog> log = new shell::frmLog;
        QCOMPARE(log->windowTitle(), res::Str(819));
        QCOMPARE(log->caption(), QString("The following errors were reported:"));
        auto* ok = log->findChild<QPushButton*>("btnOK");
        QVERIFY(log->log()->font().fixedPitch());
        app::ShowRestoredWindow(log, true);
        QVERIFY(QTest::qWaitForWindowExposed(log));
        QTest::mouseClick(ok, Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(log.isNull());
        QVERIFY(!app::windows().find("frmLog"));
        QVERIFY(!app::settings().GetValue("frmLog Width", "", "Window Metrics").isEmpty());
    }

    // The title is "Velmarrow", a blank and the program file's "major.minor.build Build
    // revision"; a program file without a version record shows "0.0.0 Build 0".
    void aboutTitle() {
        QCOMPARE(shell::frmAbout::TitleText(shell::ReadFileVersion(VELMARROW_PROGRAM_FILE)),
                 QString("Velmarrow 3.0.2 Build 1"));
        // This test program carries no version record.
        shell::frmAbout about;
        QCOMPARE(about.titleText(), QString("Velmarrow 0.0.0 Build 0"));
        // Its caption is the Help menu item's text without the ellipsis.
        QCOMPARE(about.windowTitle(), QString::fromUtf8("About Velmarrow\u2122"));
        QVERIFY(!about.findChild<QLabel*>("imgCompanyLogo")->pixmap().isNull());
    }

    // "Details" is there only for a connected reader of level 4 or more.
    void detailsFollowTheReaderLevel_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("details");
        QTest::newRow("no reader") << QString() << 0 << false;
        QTest::newRow("level 3") << "1.3.0.0" << 3 << false;
        QTest::newRow("level 4") << "2.0.0.0" << 4 << true;
        QTest::newRow("current") << "3.0.2.1" << 10 << true;
    }
    void detailsFollowTheReaderLevel() {
        QFETCH(QString, version);
        QFETCH(int, level);
        QFETCH(bool, details);
        link::Coordinator coordinator;
        std::unique_ptr<sim::Reader> reader;
        if (!version.isEmpty()) {
            const QString address = nextAddress();
            reader = startReader("Gen", address, version);
            focusReader(coordinator, address);
            QVERIFY(coordinator.FocusedDevice());
        }
        QCOMPARE(app::firmwareLevel(), level);
        shell::frmAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto* button = about.findChild<QPushButton*>("DetailsButton");
        QVERIFY(button);
        QCOMPARE(button->isVisible(), details);
        coordinator.Focus("");
    }

    // "Details" opens the viewer modal over the About box, filled from the reader.
    void detailsOpensTheViewer() {
        const QString address = nextAddress();
        auto reader = startReader("Line7", address);
        link::Coordinator coordinator;
        focusReader(coordinator, address);
        QPointer<shell::frmAbout> about = shell::frmAbout::Open(nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(about));
        QVERIFY(about->isModal());
        QTest::mouseClick(about->findChild<QPushButton*>("DetailsButton"), Qt::LeftButton);
        QPointer<frmSettings> viewer = qobject_cast<frmSettings*>(about->details());
        QVERIFY(viewer);
        QVERIFY(QTest::qWaitForWindowExposed(viewer));
        QCOMPARE(viewer->parentWidget(), about.data());
        QCOMPARE(viewer->windowModality(), Qt::ApplicationModal);
        QCOMPARE(viewer->windowTitle(), QString("Settings"));
        QCOMPARE(viewer->blockText(0), readerBlock(*reader, "SETTINGS_HARDWARE"));

        // Closing the viewer releases its connection and stores its place; the About box
        // stays until its own OK.
        viewer->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(viewer.isNull());
        QVERIFY(!app::settings().GetValue("frmSettings Width", "", "Window Metrics").isEmpty());
        QVERIFY(about);
        QTest::mouseClick(about->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(about.isNull());
        coordinator.Focus("");
    }

    // Focusing another reader refills the boxes with its blocks; focusing nothing, or
    // losing the reader, empties them without asking anything.
    void connectionResetRefills() {
        const QString a1 = nextAddress(), a2 = nextAddress();
        auto r1 = startReader("Line1", a1);
        auto r2 = startReader("Line2", a2);
        link::Coordinator coordinator;
        focusReader(coordinator, a1);
        frmSettings viewer;
        QSignalSpy filled(&viewer, &frmSettings::filled);
        const QString firstData = readerBlock(*r1, "SETTINGS_MANUFACTURING");
        QCOMPARE(viewer.blockText(2), firstData);

        focusReader(coordinator, a2);
        QTRY_VERIFY(!filled.isEmpty());
        const QString secondData = readerBlock(*r2, "SETTINGS_MANUFACTURING");
        QVERIFY(secondData != firstData); // each reader has its own serial number and MAC
        QTRY_COMPARE(viewer.blockText(2), secondData);
        QCOMPARE(viewer.blockText(0), readerBlock(*r2, "SETTINGS_HARDWARE"));

        const int asked = settingsCommands(*r2);
        filled.clear();
        focusReader(coordinator, "");
        QTRY_VERIFY(!filled.isEmpty());
        QCOMPARE(boxTexts(viewer), QStringList({"", "", ""}));
        QCOMPARE(settingsCommands(*r2), asked);

        // The link drops while the viewer is open: the boxes empty.
        focusReader(coordinator, a1);
        QTRY_COMPARE(viewer.blockText(2), firstData);
        filled.clear();
        r1->setListening(false);
        r1->dropConnections();
        QTRY_COMPARE(boxTexts(viewer), QStringList({"", "", ""}));
        coordinator.Focus("");
    }

    // Reply lines to box text, joined with CR LF: empty lines are kept, and only this block's
    // own end line is left out.
    void blockTextLineRules_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("text");
        QTest::newRow("plain") << QStringList{"MODEL LXM2", "SERIAL RS232"} << "MODEL LXM2\r\nSERIAL RS232";
        QTest::newRow("empty lines kept") << QStringList{"", "A", ""} << "\r\nA\r\n";
        QTest::newRow("another block's end is text")
            << QStringList{"!SETTINGS_CUSTOMER OK"} << "!SETTINGS_CUSTOMER OK";
    }
    void blockTextLineRules() {
        QFETCH(QStringList, lines);
        QFETCH(QString, text);
        QCOMPARE(settings::BlockText(lines, "!SETTINGS_HARDWARE OK"), text);
    }

    // No tool anywhere, or one that cannot be started: the operator is told the same, and
    // nothing runs.
    void systemInfoUnavailable() {
        testing::ExpectPrompts boxes;
        for (int i = 0; i < 2; ++i)
            boxes->expectMessage("Velmarrow", "System Information Is Unavailable At This Time",
                                 PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
        QTemporaryDir emptyFolder;
        shell::setSystemInfoLookup([&] { return shell::findSystemInfoToolOnPath({emptyFolder.path()}); });
        int started = 0;
        shell::setSystemInfoStarter([&](const shell::SystemInfoTool&) { return ++started, true; });
        shell::frmAbout about;
        QTest::mouseClick(about.findChild<QPushButton*>("cmdSysInfo"), Qt::LeftButton);
        QCOMPARE(started, 0);
        QCOMPARE(boxes->shown().size(), 1);

        shell::setSystemInfoLookup([] { return shell::SystemInfoTool{"/nonexistent/hardinfo", {}}; });
        shell::setSystemInfoStarter([](const shell::SystemInfoTool&) { return false; });
        QTest::ignoreMessage(QtWarningMsg,
                             "could not start the system-information tool \"/nonexistent/hardinfo\"");
        QVERIFY(!shell::StartSysInfo(nullptr));
        QCOMPARE(boxes->shown().size(), 2);
    }

    // Elsewhere than Windows the tool is the first desktop information program found.
    void systemInfoToolOnPath() {
        QTemporaryDir first, second;
        auto makeProgram = [](const QString& path) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("#!/bin/sh\n");
            f.close();
            QVERIFY(f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        };
        makeProgram(second.filePath("gnome-system-monitor"));
        makeProgram(first.filePath("kinfocenter"));
        // Not executable: not a program.
        QFile plain(first.filePath("hardinfo"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const auto tool = shell::findSystemInfoToolOnPath({first.path(), second.path()});
        QVERIFY(tool);
        QCOMPARE(tool->program, first.filePath("kinfocenter"));
        QVERIFY(!shell::findSystemInfoToolOnPath({}));

        testing::ExpectPrompts boxes;
        shell::setSystemInfoLookup([&] { return shell::findSystemInfoToolOnPath({second.path()}); });
        QString started;
        shell::setSystemInfoStarter(
            [&](const shell::SystemInfoTool& t) { return started = t.program, true; });
        QVERIFY(shell::StartSysInfo(nullptr));
        QCOMPARE(started, second.filePath("gnome-system-monitor"));
    }

    // The registry places of the Windows tool, in their order; the shared-tools folder
    // counts only when MSINFO32.EXE is in it.
    void msinfoRegistryOrder() {
        QTemporaryDir folder;
        QMap<QString, QString> values;
        auto read = [&](const QString& key, const QString& value) -> std::optional<QString> {
            const QString k = key + "|" + value;
            if (!values.contains(k))
                return std::nullopt;
            return values.value(k);
        };
        const QString pathKey = QString(shell::MsinfoKey) + "|PATH";
        const QString sharedKey = QString(shell::SharedToolsKey) + "|MSINFO";
        QCOMPARE(QString(shell::MsinfoKey), QString("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO"));
        QCOMPARE(QString(shell::SharedToolsKey), QString("SOFTWARE\\Microsoft\\Shared Tools Location"));
        QVERIFY(!shell::findMsinfo(read));

        values[sharedKey] = folder.path();
        QVERIFY(!shell::findMsinfo(read)); // the file is not there
        // Beside the folder on a system whose separator is not "\\": removed whatever the outcome.
        QFile exe(folder.path() + "\\MSINFO32.EXE");
        QVERIFY(exe.open(QIODevice::WriteOnly));
        exe.close();
        const auto removeExe = qScopeGuard([&] { exe.remove(); });
        QCOMPARE(shell::findMsinfo(read)->program, folder.path() + "\\MSINFO32.EXE");
        // An empty PATH names no program: the shared-tools folder's tool is started, not "".
        values[pathKey] = "";
        QCOMPARE(shell::findMsinfo(read)->program, folder.path() + "\\MSINFO32.EXE");

        values[pathKey] = "C:\\Program Files\\Common Files\\Microsoft Shared\\MSInfo\\msinfo32.exe";
        QCOMPARE(shell::findMsinfo(read)->program, values[pathKey]);
    }

    // The splash is an About box without buttons or title bar.
    void splashIsAnAboutBox() {
        app::setFirmwareLevel(10);
        QWidget owner;
        owner.resize(800, 600);
        shell::Splash splash(&owner);
        QVERIFY(qobject_cast<shell::frmAbout*>(&splash));
        QCOMPARE(splash.titleText(), QString("Velmarrow 0.0.0 Build 0"));
        QVERIFY(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
        splash.showOver(&owner);
        QVERIFY(QTest::qWaitForWindowExposed(&splash));
        for (const char* name : {"cmdOK", "cmdSysInfo", "DetailsButton"})
            QVERIFY2(!splash.findChild<QPushButton*>(name)->isVisible(), name);
        splash.close();
        // The splash stores no place of its own.
        QVERIFY(app::settings().GetValue("Splash Width", "", "Window Metrics").isEmpty());
        QVERIFY(app::settings().GetValue("frmAbout Width", "", "Window Metrics").isEmpty());
    }

    // The main window opens these windows by name.
    void windowsKnownByName() {
        app::windows().clear();
        app::registerWindows(app::windows());
        for (const char* name : {"frmAbout", "frmLog", "frmSettings"})
            QVERIFY2(app::windows().knows(name), name);
        QPointer<QWidget> about = app::windows().open("frmAbout", nullptr);
        QVERIFY(qobject_cast<shell::frmAbout*>(about));
        QCOMPARE(about->windowModality(), Qt::ApplicationModal);
        about->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(about.isNull());
    }

    // Every control can be reached with the keyboard and has a name for assistive tools.
    void keyboardAndNames() {
        app::setFirmwareLevel(10);
        shell::frmAbout about;
        shell::frmLog log;
        frmSettings viewer;
        for (QWidget* window :
             {static_cast<QWidget*>(&about), static_cast<QWidget*>(&log), static_cast<QWidget*>(&viewer)}) {
            window->show();
            QVERIFY(QTest::qWaitForWindowExposed(window));
            for (QWidget* w : window->findChildren<QWidget*>()) {
                if (!w->isVisible() || w->focusPolicy() == Qt::NoFocus)
                    continue;
                if (qobject_cast<QPushButton*>(w) || qobject_cast<QPlainTextEdit*>(w)) {
                    QVERIFY2(w->focusPolicy() & Qt::TabFocus, qPrintable(w->objectName()));
                    QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
                }
            }
        }
        // Tab walks the About box's buttons in order.
        log.hide();
        viewer.hide();
        about.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&about));
        auto* details = about.findChild<QPushButton*>("DetailsButton");
        details->setFocus();
        QTRY_VERIFY(details->hasFocus());
        QTest::keyClick(&about, Qt::Key_Tab);
        QTRY_VERIFY(about.findChild<QPushButton*>("cmdSysInfo")->hasFocus());
        QTest::keyClick(&about, Qt::Key_Tab);
        QTRY_VERIFY(about.findChild<QPushButton*>("cmdOK")->hasFocus());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
