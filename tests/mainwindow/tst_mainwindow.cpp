// The main window driven against simulated readers over real loopback sockets and a
// real pseudo-terminal: camera buttons, focusing and the version check, control,
// laser and beeper, live images, saving, serial polling and guest buttons.
#include "app/applyparameters.h"
#include "app/imagefiles.h"
#include "app/programstate.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/prompts.h"
#include "common/readers.h"
#include "common/waits.h"
#include "common/windowbench.h"
#include "display/imageview.h"
#include "link/configuration.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/serialports.h"
#include "resources/strings.h"
#include "shell/addcamera.h"
#include "shell/basicinterface.h"
#include "shell/cameratoolbar.h"
#include "shell/configcommands.h"
#include "shell/fpsoverlay.h"
#include "shell/frmoptions.h"
#include "shell/statusbar.h"
#include "sim/reader.h"
#include "sim/simulator.h"
#include "tools/frmhisto.h"
#include "tools/overlays.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <memory>
#include <utility>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using shell::BasicInterface;
using shell::CameraToolbar;

namespace {

// Readers cycle slowly enough for a test to follow every record; a grading reader more
// slowly still, since each of its cycles grades the symbol.
constexpr int kRate = 20;
constexpr int kGradedRate = 10;

sim::ReaderConfig readerConfig(const QString& name, const QString& version, bool serial = false) {
    sim::ReaderConfig config = testing::readerConfig(name, version);
    config.serial = serial;
    config.cycleRate = kRate;
    return config;
}

// Declares the box that tells the operator the link came back without control.
app::ScriptedPrompts& expectControlLost(vm::testing::ExpectPrompts& boxes) {
    return boxes->expectMessage(
        "Connection Error", "Connection Dropped Unexpectedly\r\nCamera was reconnected but control was lost",
        PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
}

// Declares the question asked before control is taken, answered as given.
app::ScriptedPrompts& expectControlQuestion(vm::testing::ExpectPrompts& boxes, const QString& name,
                                            PromptAnswer answer) {
    return boxes->expectMessage("Velmarrow", "Do you wish to control the camera " + name + "?",
                                PromptIcon::Question, PromptButtons::YesNo, answer);
}

// Declares the question and the box telling the operator that settings cannot change: the
// operator answers No, or answers Yes and the reader refuses control.
app::ScriptedPrompts& expectControlDeclined(vm::testing::ExpectPrompts& boxes, const QString& name,
                                            PromptAnswer answer = PromptAnswer::No) {
    expectControlQuestion(boxes, name, answer);
    return boxes->expectMessage("Velmarrow", "Cannot change settings without control...", PromptIcon::None,
                                PromptButtons::Ok, PromptAnswer::Ok);
}

bool received(const sim::Reader* reader, const QString& command) {
    return reader->receivedCommands().contains(command, Qt::CaseInsensitive);
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<BasicInterface> m_window;
    int m_settingsCount = 0;

    sim::Reader* reader(const QString& name) const {
        for (sim::Reader* r : m_sim->readers()) {
            if (r->name() == name)
                return r;
        }
        return nullptr;
    }
    BasicInterface& window() { return *m_window; }
    QAction* button(const QString& caption) { return window().cameraToolbar()->findCamera(caption); }

    // The tool bar's controls that depend on the kind of reader, those showing, in bar order.
    QStringList shownReaderControls() {
        QStringList shown;
        for (const char* key : {"reports", "reportfilter", "images", "compression", "live", "roi"})
            if (window().findChild<QAction*>(key)->isVisible())
                shown << key;
        return shown;
    }

    bool discovered(const QString& name) {
        for (const link::Device* d : window().coordinator()->Devices()) {
            if (d->Name() == name)
                return true;
        }
        return false;
    }

    // Adds the button, waits for discovery (a serial port needs none) and presses it.
    void focus(const QString& name) {
        if (!button(name))
            QVERIFY(window().AddCameraButton(name));
        if (!window().coordinator()->IsSerialPort(name))
            QTRY_VERIFY_WITH_TIMEOUT(discovered(name), testing::kDiscoveryWaitMs);
        window().ClickCameraButton(name);
        QTRY_VERIFY(window().imageConnection()->Connected());
        QCOMPARE(window().coordinator()->FocusedDevice()->Name(), name);
        // The connection-reset refresh has run once the firmware level is known.
        QTRY_VERIFY(app::firmwareLevel() > 0);
    }

    void takeControl(const QString& name) {
        vm::testing::ExpectPrompts boxes;
        expectControlQuestion(boxes, name, PromptAnswer::Yes);
        QVERIFY(window().EnsureControl());
        QTRY_VERIFY(window().imageConnection()->HasControl());
    }

    void focusInControl(const QString& name) {
        focus(name);
        takeControl(name);
    }

    // The reader on the pseudo-terminal, and the caption of its port as a camera button has it.
    std::pair<sim::Reader*, QString> serialReader() const {
        sim::Reader* serial = reader("Serial1");
        return {serial, serial->serialPortName() + ":"};
    }

    // The readers share the test's one thread with the window: the cycles of nine readers
    // would delay every reply, on a loaded machine past the window's 500 ms command
    // time-out (a "Query Failure" box during the refresh). Only the focused reader reads.
    void onlyTheFocusedReaderReads() {
        const link::Device* focused = m_window ? window().coordinator()->FocusedDevice() : nullptr;
        for (sim::Reader* r : m_sim->readers()) {
            const bool reads =
                focused && (focused->Name() == r->name() || focused->Name() == r->address().toString() ||
                            (r->serialDevice().size() > 0 && focused->Name() == r->serialPortName() + ":"));
            r->cycles().setOnline(reads);
        }
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_SIM_PORTS_DIR", m_dir.filePath("ports").toLocal8Bit());
        QDir().mkpath(m_dir.filePath("ports"));
        qputenv("VELMARROW_STATION", "TEST-PC");
        qputenv("VmSplashEnabled", "0");
        qputenv("VelmarrowPassword", "");

        m_sim =
            testing::startSimulator({readerConfig("Line1", "2.3.0.0"), readerConfig("Line2", "3.0.2.1"),
                                     readerConfig("Minor", "1.1.0.31"), readerConfig("Major", "1.0.1.14"),
                                     readerConfig("Serial1", "3.0.2.1", true),
                                     readerConfig("../../evil", "3.0.2.1"), readerConfig("Cell-7", "3.0.2.1"),
                                     readerConfig("Grade4", "2.0.0.5"), readerConfig("Grade3", "1.2.0.0")});
        QVERIFY(m_sim);
        if (app::windows().windowEntries().empty())
            app::registerWindows(app::windows());
    }

    void cleanupTestCase() { m_sim.reset(); }

    void init() {
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        const QString file = m_dir.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsCount));
        app::installSettings(std::make_unique<app::SettingsStore>(file, m_dir.filePath("options.ini")));
        app::setHistoryFile(
            m_dir.filePath("history.sqlite")); // the main window records here, not in the user's data folder
        app::settings().Open("Velmarrow");
        app::setImageSaveDirectory(m_dir.path());
        for (sim::Reader* r : m_sim->readers()) {
            r->dropControl();
            r->refuseControl(sim::ControlRefusal::None);
        }
        m_window = std::make_unique<BasicInterface>();
        window().setProgramVersion("3.0.2.1");
        window().setLegacyFolder(m_dir.filePath("nolegacy"));
        window().Load();
        // After the window's own refresh, so that its queries meet an idle reader.
        connect(window().imageConnection(), &link::Connection::OnConnectionReset, this,
                &TestMainWindow::onlyTheFocusedReaderReads);
        onlyTheFocusedReaderReads();
        window().show();
    }

    void cleanup() {
        if (m_window) {
            window().close();
            m_window.reset();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        app::setControlPassword(QString());
        app::installSettings(nullptr);
    }

    void cameraButtonsAreKeptAndDuplicatesRefused() {
        QVERIFY(window().AddCameraButton("Line1"));
        QVERIFY(window().AddCameraButton("10.0.0.1"));
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", "Camera Button Already Exists", PromptIcon::None,
                                 PromptButtons::Ok, PromptAnswer::Ok);
            QVERIFY(!window().AddCameraButton("Line1"));
        }
        QCOMPARE(window().cameraButtonCount(), 2);
        QCOMPARE(app::settings().GetValue("NumCameras", "", "Cameras"), QStringLiteral("2"));
        QCOMPARE(app::settings().GetValue("2", "", "Cameras"), QStringLiteral("10.0.0.1"));
        QCOMPARE(CameraToolbar::imageKey(button("Line1")), QStringLiteral("netdisconnected"));

        window().RemoveCameraButton(0);
        QCOMPARE(app::settings().GetValue("NumCameras", "", "Cameras"), QStringLiteral("1"));
        QCOMPARE(app::settings().GetValue("1", "", "Cameras"), QStringLiteral("10.0.0.1"));
    }

    void addCameraDialogListsAndChecks() {
        QTRY_VERIFY_WITH_TIMEOUT(discovered("Line1"), testing::kDiscoveryWaitMs);
        shell::AddCamera dialog(&window());
        QListWidget* list = dialog.cameraList();
        QCOMPARE(QAccessible::queryAccessibleInterface(list)->text(QAccessible::Name),
                 QStringLiteral("Select a camera to add"));
        const QString serialPort = reader("Serial1")->serialPortName() + ":";
        QTRY_VERIFY(!list->findItems("Line1", Qt::MatchExactly).isEmpty());
        QVERIFY(!list->findItems(serialPort, Qt::MatchExactly).isEmpty());
        QVERIFY(dialog.ipText()->isEnabled());

        list->setCurrentRow(0);
        dialog.ipText()->setText("192.168.1.300");
        QSignalSpy chosen(&dialog, &shell::AddCamera::AddCameraChosen);
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage("IP Error", "Invalid IP address!", PromptIcon::Critical, PromptButtons::Ok,
                                 PromptAnswer::Ok);
            dialog.accept();
        }
        QCOMPARE(chosen.count(), 0);
        dialog.ipText()->setText("10.1.2.3");
        dialog.accept();
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.at(0).at(0).toString(), QStringLiteral("10.1.2.3"));
        // An assistive tool selects an entry without making it the current one.
        list->selectionModel()->select(
            list->model()->index(list->row(list->findItems("Line1", Qt::MatchExactly).first()), 0),
            QItemSelectionModel::ClearAndSelect);
        QVERIFY(!dialog.ipText()->isEnabled());
        dialog.accept();
        QCOMPARE(chosen.count(), 2);
        QCOMPARE(chosen.at(1).at(0).toString(), QStringLiteral("Line1"));
    }

    void focusingAndSwitchingReaders() {
        QSignalSpy resets(window().imageConnection(), &link::Connection::OnConnectionReset);
        const qsizetype refreshes = reader("Line1")->receivedCommands().count("TRIG U");
        focus("Line1");
        QTRY_COMPARE(app::firmwareLevel(), 8);
        // One focus, one refresh.
        QVERIFY(window().imageConnection()->SendCommand("VERSION").ok);
        QCOMPARE(reader("Line1")->receivedCommands().count("TRIG U"), refreshes + 1);
        window().UpdateToolbar();
        window().UpdateCaptions();
        QCOMPARE(window().windowTitle(), QStringLiteral("Line1 - Velmarrow"));
        QCOMPARE(CameraToolbar::imageKey(button("Line1")), QStringLiteral("netconnected"));
        QVERIFY(button("Line1")->isChecked());
        QVERIFY(window().action("mnuBeeper")->isEnabled());
        // A network reader shows the live button and hides the serial polling ones.
        QCOMPARE(shownReaderControls(), QStringList({"live", "roi"}));

        focus("Line2");
        QTRY_COMPARE(app::firmwareLevel(), 10);
        QVERIFY(!button("Line1")->isChecked());
        QVERIFY(button("Line2")->isChecked());
        QVERIFY(resets.count() >= 2);

        // Pressing the focused reader's button again leaves it.
        window().ClickCameraButton("Line2");
        QTRY_VERIFY(!window().imageConnection()->Connected());
        QTRY_COMPARE(app::firmwareLevel(), 0);
        window().UpdateCaptions();
        QCOMPARE(window().windowTitle(), QStringLiteral("(no camera) - Velmarrow"));
        // With no reader neither the network nor the serial buttons show.
        QTRY_VERIFY(!window().findChild<QAction*>("live")->isVisible());
        QCOMPARE(shownReaderControls(), QStringList{"roi"}); // shown for every kind

        // A "-" in the reader's name stays part of the name, however often the caption
        // is updated.
        focus("Cell-7");
        for (int i = 0; i < 3; ++i)
            window().UpdateCaptions();
        QCOMPARE(window().windowTitle(), QStringLiteral("Cell-7 - Velmarrow"));
        focus("Line1");
        window().UpdateCaptions();
        QCOMPARE(window().windowTitle(), QStringLiteral("Line1 - Velmarrow"));
    }

    void versionMismatchPrompts() {
        window().setProgramVersion("1.1.0.40");
        QVERIFY(window().AddCameraButton("Minor"));
        QTRY_VERIFY_WITH_TIMEOUT(discovered("Minor"), testing::kDiscoveryWaitMs);
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage("Minor Version Mismatch", MinorText(), PromptIcon::Exclamation,
                                 PromptButtons::YesNo, PromptAnswer::No);
            window().ClickCameraButton("Minor");
        }
        QVERIFY(!window().coordinator()->FocusedDevice());
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage("Minor Version Mismatch", MinorText(), PromptIcon::Exclamation,
                                 PromptButtons::YesNo, PromptAnswer::Yes);
            window().ClickCameraButton("Minor");
            QTRY_VERIFY(window().imageConnection()->Connected());
        }
        QTRY_COMPARE(app::firmwareLevel(), 3);

        window().setProgramVersion("2.0.3.1");
        QVERIFY(window().AddCameraButton("Major"));
        QTRY_VERIFY_WITH_TIMEOUT(discovered("Major"), testing::kDiscoveryWaitMs);
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage(
                "Major Version Mismatch!",
                "You cannot connect to this camera as there is a software version mismatch\r\n"
                "Camera Version = 1.0.1.14\r\nVelmarrow Version = 2.0.3.1\r\n"
                "You must upgrade the camera software to connect with this version of Velmarrow",
                PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
            window().ClickCameraButton("Major");
        }
        QVERIFY(!window().coordinator()->FocusedDevice());
    }

    void controlWithoutAndWithPassword() {
        // Without a connection there is no control to take.
        window().UpdateToolbar();
        QVERIFY(!window().cameraToolbar()->controlAction()->isEnabled());
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage("TakeControl", "No Connection To Camera", PromptIcon::Exclamation,
                                 PromptButtons::Ok, PromptAnswer::Ok);
            QVERIFY(!window().EnsureControl());
        }
        focus("Line1");
        window().UpdateToolbar();
        QVERIFY(window().cameraToolbar()->controlAction()->isEnabled());
        sim::Reader* line1 = reader("Line1");
        {
            vm::testing::ExpectPrompts boxes;
            expectControlDeclined(boxes, "Line1");
            QVERIFY(!window().EnsureControl());
        }
        app::setControlPassword("s3cret");
        {
            vm::testing::ExpectPrompts boxes;
            expectControlQuestion(boxes, "Line1", PromptAnswer::Yes);
            // The password is compared letter for letter, case and all.
            boxes->expectInput("VelmarrowPassword", "Enter Password", QString(), true,
                               QStringLiteral("S3CRET"));
            boxes->expectMessage("Velmarrow", "Invalid Password", PromptIcon::None, PromptButtons::Ok,
                                 PromptAnswer::Ok);
            QVERIFY(!window().EnsureControl());
        }
        QVERIFY(!received(line1, "CONTROL"));
        {
            vm::testing::ExpectPrompts boxes;
            expectControlQuestion(boxes, "Line1", PromptAnswer::Yes);
            boxes->expectInput("VelmarrowPassword", "Enter Password", QString(), true,
                               QStringLiteral("s3cret"));
            QVERIFY(window().EnsureControl());
        }
        QTRY_COMPARE(line1->controller(), QStringLiteral("TEST-PC"));
        window().UpdateToolbar();
        window().UpdateCaptions();
        QCOMPARE(window().windowTitle(), QStringLiteral("Line1 [CTRL] - Velmarrow"));
        QAction* control = window().cameraToolbar()->controlAction();
        QCOMPARE(control->text(), QStringLiteral("Release"));
        QCOMPARE(control->toolTip(), QStringLiteral("Release Programming Control of Camera"));
        QCOMPARE(CameraToolbar::imageKey(control), QStringLiteral("havecontrol"));
        QCOMPARE(CameraToolbar::imageKey(button("Line1")), QStringLiteral("netcontrol"));

        // Releasing through the button sends RELEASE and shows no error.
        control->trigger();
        QTRY_VERIFY(line1->controller().isEmpty());
        window().UpdateToolbar();
        QCOMPARE(control->text(), QStringLiteral("Take Control"));
        QCOMPARE(control->toolTip(), QStringLiteral("Take Programming Control of Camera"));
    }

    void droppedLinkComesBackWithoutControl() {
        focusInControl("Line1");
        window().UpdateToolbar();
        QSignalSpy resets(window().imageConnection(), &link::Connection::OnConnectionReset);
        vm::testing::ExpectPrompts boxes;
        expectControlLost(boxes);
        reader("Line1")->dropConnections();
        QTRY_COMPARE_WITH_TIMEOUT(boxes->shown().size(), 1, testing::kConnectWaitMs);
        // The link is re-established on its own and the window refreshes itself.
        QTRY_VERIFY_WITH_TIMEOUT(window().imageConnection()->Connected(), testing::kConnectWaitMs);
        QTRY_VERIFY(resets.count() >= 2);
        QTRY_COMPARE(app::firmwareLevel(), 8);
        QVERIFY(!window().imageConnection()->HasControl());
        QCOMPARE(window().cameraToolbar()->controlAction()->text(), QStringLiteral("Take Control"));
    }

    void laserBeeperAndStatistics() {
        focusInControl("Line2");
        sim::Reader* line2 = reader("Line2");
        window().SetLaser("T");
        QCOMPARE(line2->parameters().fields("TARGET").value(0), QStringLiteral("T"));
        QCOMPARE(window().vmStatusBar()->ButtonImageKey("laser"), QStringLiteral("laser_option"));
        QVERIFY(window().action("mnuLaserT")->isChecked());
        window().SetLaser("OFF");
        QCOMPARE(window().vmStatusBar()->ButtonImageKey("laser"), QStringLiteral("laser_inactive"));
        // The status-bar button steps Off -> On -> 2 Second Strobe -> Off.
        for (const QString value : {"ON", "T", "OFF"}) {
            emit window().vmStatusBar()->OnButtonPress("laser");
            QCOMPARE(line2->parameters().fields("TARGET").value(0), value);
            QVERIFY(window().action("mnuLaser" + value)->isChecked());
        }
        QCOMPARE(window().vmStatusBar()->ButtonImageKey("laser"), QStringLiteral("laser_inactive"));
        // Each item of the laser menu, by the caption the operator reads, sets its own mode.
        auto* laserMenu = window().findChild<QMenu*>("mnuLaser");
        QVERIFY(laserMenu);
        for (const auto& [caption, value] :
             {std::pair{"On", "ON"}, {"2 Second Strobe", "T"}, {"Off", "OFF"}}) {
            for (QAction* item : laserMenu->actions())
                if (item->text() == QLatin1String(caption))
                    item->trigger();
            QCOMPARE(line2->parameters().fields("TARGET").value(0), QString(value));
        }

        const QString before = line2->parameters().fields("BEEP").value(0).toUpper();
        window().action("mnuBeeper")->trigger();
        const QString after = line2->parameters().fields("BEEP").value(0).toUpper();
        QCOMPARE(after, before == "Y" ? QStringLiteral("N") : QStringLiteral("Y"));
        QCOMPARE(window().action("mnuBeeper")->isChecked(), after == "Y");
        // Another window's change is shown when it says so, whatever the letter's case.
        link::ReaderConnection other;
        for (const QString value : {"y", "N", "Y"}) {
            line2->parameters().setFields("BEEP", {value});
            other.BroadcastMessage("frmBeep", "UPDATEBEEP", QString());
            const bool on = value.toUpper() == "Y";
            QTRY_COMPARE(window().action("mnuBeeper")->isChecked(), on);
            QCOMPARE(window().vmStatusBar()->ButtonImageKey("beep"),
                     on ? QStringLiteral("beep_active") : QStringLiteral("beep_inactive"));
        }

        // The status-bar counters start again from zero with the reader's.
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(window().counts()[0] >= 5, testing::cyclesWaitMs(5, kRate));
        vm::testing::ExpectPrompts boxes;
        for (const PromptAnswer answer : {PromptAnswer::No, PromptAnswer::Yes})
            boxes->expectMessage("Velmarrow", "Are you sure you want to reset the camera statistics?",
                                 PromptIcon::Question, PromptButtons::YesNo, answer);
        // No leaves the reader's statistics alone.
        const qsizetype resetsBefore = line2->receivedCommands().count("STATS RESET");
        window().ResetStatistics();
        QCOMPARE(line2->receivedCommands().count("STATS RESET"), resetsBefore);
        QVERIFY(window().counts()[0] >= 5);
        window().ResetStatistics();
        QCOMPARE(line2->receivedCommands().count("STATS RESET"), resetsBefore + 1);
        QCOMPARE(window().counts()[0], 0);
        QCOMPARE(window().vmStatusBar()->findChild<QLabel*>("TotalField")->text(), QStringLiteral("0"));
    }

    void roiFollowsTheReader() {
        // The readers search only their search areas: the later tests read the whole picture.
        auto wholePicture = qScopeGuard([this] {
            for (const char* name : {"Line1", "Line2"})
                reader(name)->parameters().setFields("ROI", {"0", "0", "658", "493"});
        });
        reader("Line1")->parameters().setFields("ROI", {"10", "20", "300", "200"});
        reader("Line2")->parameters().setFields("ROI", {"50", "60", "400", "350"});
        QAction* roi = window().findChild<QAction*>("roi");
        auto shownRegion = [this]() -> QList<int> {
            auto area =
                std::dynamic_pointer_cast<tools::SearchArea>(window().imageView()->Overlay("Search Area"));
            if (!area)
                return {};
            return {area->Left(), area->Top(), area->Right(), area->Bottom()};
        };
        focus("Line1");
        roi->setChecked(true);
        QCOMPARE(shownRegion(), QList<int>({10, 20, 300, 200}));
        roi->setChecked(false);
        focus("Line2");
        roi->setChecked(true);
        QCOMPARE(shownRegion(), QList<int>({50, 60, 400, 350}));

        // A connection reset takes the overlay away and puts the button up with it.
        QSignalSpy resets(window().imageConnection(), &link::Connection::OnConnectionReset);
        window().coordinator()->Focus("Line1");
        QTRY_VERIFY_WITH_TIMEOUT(resets.count() >= 1, testing::kConnectWaitMs);
        QVERIFY(!roi->isChecked());
        QCOMPARE(shownRegion(), QList<int>());
        roi->setChecked(true);
        QCOMPARE(shownRegion(), QList<int>({10, 20, 300, 200}));
        roi->setChecked(false);

        // A window that draws its own region on the image takes the button away meanwhile.
        link::ReaderConnection other;
        other.BroadcastMessage("Learn", "ROI", "DISABLE");
        QTRY_VERIFY(!roi->isEnabled());
        other.BroadcastMessage("Learn", "ROI", "ENABLE");
        QTRY_VERIFY(roi->isEnabled());

        // A region dragged on the image goes to the reader, field by field, when the button
        // comes up.
        takeControl("Line1");
        roi->setChecked(true);
        auto area =
            std::dynamic_pointer_cast<tools::SearchArea>(window().imageView()->Overlay("Search Area"));
        QVERIFY(area);
        emit area->OnResize(30, 40, 310, 220);
        roi->setChecked(false);
        QTRY_COMPARE(reader("Line1")->parameters().fields("ROI"), QStringList({"30", "40", "310", "220"}));
    }

    // Live display of a reader that verifies to AIM DPM shows the alignment boxes, of no
    // other standard; releasing live takes them away.
    void liveShowsBoxesForAimDpm() {
        focus("Line2");
        const QStringList before = reader("Line2")->parameters().fields("VERIFY");
        auto restore = qScopeGuard([&] { reader("Line2")->parameters().setFields("VERIFY", before); });
        QAction* live = window().findChild<QAction*>("live");
        for (const auto& [standard, boxes] : {std::pair{"AIMDPM", true}, {"DPM", false}, {"ISO", false}}) {
            reader("Line2")->parameters().setFields("VERIFY", {standard});
            live->setChecked(true);
            QVERIFY2(bool(window().imageView()->Overlay("Boxes")) == boxes, standard);
            live->setChecked(false);
            QVERIFY(!window().imageView()->Overlay("Boxes"));
        }
    }

    // Frames a second: every 2 s the images counted are halved into the newest of five
    // rates, and the overlay shows their mean.
    void framesPerSecondOverTwoSeconds() {
        focus("Line2");
        window().fpsTimer().stop();
        auto restore = qScopeGuard([this] { window().fpsTimer().start(); });
        auto tick = [this] { QVERIFY(QMetaObject::invokeMethod(&window().fpsTimer(), "timeout")); };
        for (int i = 0; i < 5; ++i)
            tick();
        QCOMPARE(window().framesPerSecond(), 0.0);
        int images = 0;
        QMetaObject::Connection counting =
            connect(&window(), &BasicInterface::recordShown, this,
                    [&](const link::Record& record) { images += record.Image().IsEmpty() ? 0 : 1; });
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(images >= 4, testing::cyclesWaitMs(4, kRate));
        window().findChild<QAction*>("live")->setChecked(false);
        disconnect(counting);
        // "Show Frames / Sec" puts the mean over the image, to a tenth.
        window().action("mnuFramesPerSecond")->setChecked(true);
        auto fps = std::dynamic_pointer_cast<vm::shell::FramesPerSecondOverlay>(
            window().imageView()->Overlay("FPS"));
        QVERIFY(fps);
        tick();
        QCOMPARE(window().framesPerSecond(), images / 2.0 / 5);
        QCOMPARE(fps->Text(), QString::asprintf("FPS = %.1f", images / 10.0));
        tick();
        QCOMPARE(window().framesPerSecond(), images / 2.0 / 5);
        window().action("mnuFramesPerSecond")->setChecked(false);
        QVERIFY(!window().imageView()->Overlay("FPS"));
        for (int i = 0; i < 4; ++i)
            tick();
        QCOMPARE(window().framesPerSecond(), 0.0);
    }

    // "Show Histogram Window": a green region on the image and the window; closing the window
    // takes the region off, and showing the window again puts the same region back. The figures
    // themselves are pinned by tst_tools and the frmHisto contract.
    void histogramWindowFromTheTestMenu() {
        focus("Line2");
        window().action("mnuHistogram")->trigger();
        auto area = std::dynamic_pointer_cast<tools::SearchArea>(window().imageView()->Overlay("Histogram"));
        QVERIFY(area);
        QCOMPARE(area->Color(), 0x00FF00u);
        auto* histo = window().findChild<tools::frmHisto*>();
        QVERIFY(histo && histo->isVisible());
        histo->close();
        QVERIFY(!window().imageView()->Overlay("Histogram"));
        window().action("mnuHistogram")->trigger();
        QVERIFY(histo->isVisible());
        QCOMPARE(window().imageView()->Overlay("Histogram"), area);
    }

    void liveImagesMoveTheCountersAndSave() {
        focus("Line2");
        QSignalSpy shown(&window(), &BasicInterface::recordShown);
        // At the default image rate most records come without their picture; whatever
        // the view shows (picture, number, text, outline) stays one record's.
        int mismatches = 0;
        int withoutPicture = 0;
        connect(&window(), &BasicInterface::recordShown, this, [&](const link::Record& record) {
            const auto& current = window().imageView()->CurrentRecord();
            if (record.Image().IsEmpty())
                ++withoutPicture;
            if (!window().imageView()->HasImage())
                return;
            if (!current || current->Image().IsEmpty() ||
                current->Image().image().cacheKey() != window().imageView()->Image().cacheKey())
                ++mismatches;
        });
        window().findChild<QAction*>("live")->setChecked(true);
        QVERIFY(window().IsLive());
        QTRY_VERIFY_WITH_TIMEOUT(window().imageView()->HasImage(), testing::cyclesWaitMs(kRate, kRate));
        QTRY_VERIFY(window().counts()[0] >= 3);
        QCOMPARE(window().counts()[0], window().counts()[1] + window().counts()[2]);
        QTRY_VERIFY_WITH_TIMEOUT(withoutPicture >= 3, testing::cyclesWaitMs(3, kRate));
        QCOMPARE(mismatches, 0);

        window().SaveCurrentImage();
        const qint64 number = window().imageView()->CurrentRecord()->Number();
        // The saved file is the picture on show, named by that picture's number.
        const QImage shownPicture = window().imageView()->Image();
        const QString path = app::MakeImageFileName("Line2", number);
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QCOMPARE(QImage(path).convertToFormat(QImage::Format_Grayscale8),
                 shownPicture.convertToFormat(QImage::Format_Grayscale8));
        QVERIFY(window().vmStatusBar()->InfoMsgText().startsWith("Image saved as " + path));

        app::setImageSaveDirectory(m_dir.filePath("missing/folder"));
        vm::testing::ExpectPrompts boxes;
        boxes->expectMessage("Warning", "Image directory specified in preferences does not exit",
                             PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        window().SaveCurrentImage();
    }

    void gradedCountersFromTheFirstGradingLevel_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("graded");
        QTest::newRow("level 3") << "Grade3" << false;
        QTest::newRow("level 4") << "Grade4" << true;
    }
    void gradedCountersFromTheFirstGradingLevel() {
        QFETCH(QString, name);
        QFETCH(bool, graded);
        sim::Reader* r = reader(name);
        r->parameters().setFields("VERIFY", {graded ? "ISO" : "NONE"});
        r->cycles().setRate(kGradedRate);
        QString error;
        auto restore = qScopeGuard([&] {
            r->setScene("contrast", "90", &error);
            r->parameters().setFields("VERIFY", {"NONE"});
            r->cycles().setRate(kRate);
        });
        // The other windows hear from the main window whether the reader grades.
        link::ReaderConnection listener;
        QSignalSpy told(&listener, &link::Connection::OnBroadcastMessage);
        focus(name);
        QCOMPARE(app::firmwareLevel(), graded ? 4 : 3);
        auto words = [&told] {
            QStringList fromMain;
            for (const QList<QVariant>& b : std::as_const(told))
                if (b.at(0).toString() == "BasicInterface")
                    fromMain << b.at(1).toString();
            return fromMain;
        };
        QTRY_VERIFY2(words().contains(graded ? "VERIFICATION_ON" : "VERIFICATION_OFF"),
                     qPrintable(words().join(' ')));
        QVERIFY2(!words().contains(graded ? "VERIFICATION_OFF" : "VERIFICATION_ON"),
                 qPrintable(words().join(' ')));
        auto* status = window().vmStatusBar();
        const QString passCaption = status->findChild<QLabel*>("PassLabel")->text();
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(window().counts()[0] >= 1, testing::cyclesWaitMs(1, kGradedRate));
        const QString expectedPass = vm::res::Str(graded ? 2007 : 1515);
        QTRY_COMPARE(status->findChild<QLabel*>("PassLabel")->text(), expectedPass);
        auto ground = [status](const char* field) {
            return status->findChild<QLabel*>(field)->palette().color(QPalette::Window);
        };
        if (!graded) {
            QCOMPARE(passCaption, expectedPass);
            // Failures on light red; the other counts on the window's own background.
            QCOMPARE(ground("FailField"), QColor(255, 128, 128));
            QVERIFY(ground("TotalField") != QColor(128, 255, 128));
            window().findChild<QAction*>("live")->setChecked(false);
            return;
        }
        QCOMPARE(status->findChild<QLabel*>("TotalLabel")->text(), vm::res::Str(2006));
        QCOMPARE(status->findChild<QLabel*>("FailLabel")->text(), vm::res::Str(2008));
        // Good on light green, Fair on light yellow, Poor on light red.
        QCOMPARE(ground("TotalField"), QColor(128, 255, 128));
        QCOMPARE(ground("PassField"), QColor(255, 255, 128));
        QCOMPARE(ground("FailField"), QColor(255, 128, 128));
        // Each graded record goes to the column of its grade: A and B, C, the rest.
        std::array<qint64, 3> tally{};
        const std::array<qint64, 3> start = window().counts();
        connect(&window(), &BasicInterface::recordShown, this, [&](const link::Record& record) {
            QVERIFY(record.HasVerification());
            const int grade = record.Verification()->gradeCode;
            ++tally[grade >= 3 ? 0 : grade == 2 ? 1 : 2];
        });
        // A good print grades well, a faint one poorly.
        QTRY_VERIFY_WITH_TIMEOUT(tally[0] >= 2, testing::cyclesWaitMs(2, kGradedRate));
        // Fainter prints until one grades C: a fair read counts in the middle column only.
        for (int contrast = 60; contrast >= 20 && tally[1] == 0; contrast -= 5) {
            QVERIFY(r->setScene("contrast", QString::number(contrast), &error));
            const qint64 seen = tally[0] + tally[1] + tally[2];
            QTRY_VERIFY_WITH_TIMEOUT(tally[0] + tally[1] + tally[2] >= seen + 2,
                                     testing::cyclesWaitMs(2, kGradedRate));
        }
        QVERIFY2(tally[1] > 0, "no print between 60 and 20 contrast graded C");
        QVERIFY(r->setScene("contrast", "15", &error));
        QTRY_VERIFY_WITH_TIMEOUT(tally[2] >= 2, testing::cyclesWaitMs(2, kGradedRate));
        window().findChild<QAction*>("live")->setChecked(false);
        QVERIFY(tally[0] > 0 && tally[2] > 0);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(window().counts()[i] - start[i], tally[i]);
    }

    void locatedButUndecodedReadIsAFailure() {
        // The reader finds a symbol it will not decode (seen through a mirror while its image
        // style is NORMAL): the window shows "No Read" in the fail colour without an outline,
        // and counts a failure, not a pass.
        focus("Line2");
        sim::Reader* line2 = reader("Line2");
        QString error;
        line2->parameters().setFields("STYLE", {"NORMAL"});
        auto restore = qScopeGuard([&] {
            line2->setScene("part", "paper", &error);
            line2->parameters().setFields("STYLE", {"AUTO"});
        });
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(window().counts()[1] >= 1, testing::cyclesWaitMs(1, kRate));
        QVERIFY(line2->setScene("part", "mirrored", &error));
        const qint64 changed = line2->cycles().lastNumber();
        QList<link::Record> after;
        connect(&window(), &BasicInterface::recordShown, this, [&](const link::Record& record) {
            if (record.Number() > changed)
                after.append(record);
        });
        const std::array<qint64, 3> before = window().counts();
        auto* view = window().imageView();
        QTRY_VERIFY_WITH_TIMEOUT(view->CurrentRecord() && view->CurrentRecord()->Number() > changed,
                                 testing::cyclesWaitMs(kRate, kRate));
        window().findChild<QAction*>("live")->setChecked(false);
        QCOMPARE(view->ResultText(), QStringLiteral("No Read"));
        QVERIFY(!view->ResultPassed());
        QVERIFY(view->CurrentRecord()->Result().Corners().isEmpty());
        QVERIFY(!after.isEmpty());
        for (const link::Record& record : std::as_const(after))
            QVERIFY(!record.Passed() && !record.Result().SymbolFound());
        // Records of cycles before the change may still have been counted as passes.
        const std::array<qint64, 3> now = window().counts();
        const qint64 earlier = (now[0] - before[0]) - after.size();
        QVERIFY(earlier >= 0);
        QCOMPARE(now[1] - before[1], earlier);
        QCOMPARE(now[2] - before[2], qint64(after.size()));
        // Each count in its own field: passes under Pass, failures under Fail.
        QCOMPARE(window().vmStatusBar()->findChild<QLabel*>("PassField")->text(), QString::number(now[1]));
        QCOMPARE(window().vmStatusBar()->findChild<QLabel*>("FailField")->text(), QString::number(now[2]));
    }

    void aBoxNobodyDeclaredIsAnsweredAtOnce() {
        // Outside every declared scope a box fails the test at once, answered with the choice
        // that commits to nothing, instead of waiting for a person. The failure is caught here
        // to see it happen.
        QStringList failures;
        testing::detail::undeclaredBoxes->setFailureHandler([&](const QString& f) { failures << f; });
        auto restore = qScopeGuard(
            [] { testing::detail::undeclaredBoxes->setFailureHandler(&testing::detail::failUndeclaredBox); });
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression("^prompt check failed: unexpected message box .*No Connection"));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!window().EnsureControl());
        QVERIFY(clock.elapsed() < link::kCommandTimeoutMs);
        QCOMPARE(failures.size(), 1);
        QVERIFY2(failures.first().contains("\"No Connection To Camera\""), qPrintable(failures.first()));
    }

    // A reader whose name cannot be used is offered in Add Camera by its address, with why;
    // added, it is a button of that address, reached by it, and its images are named by it.
    void unusableNameIsOfferedAndReachedByAddress() {
        const QString address = reader("../../evil")->address().toString();
        const QString row = address + QString::fromUtf8(" \u2014 name not usable: contains '..'");
        shell::AddCamera dialog(&window());
        QListWidget* list = dialog.cameraList();
        QTRY_VERIFY_WITH_TIMEOUT(!list->findItems(row, Qt::MatchExactly).isEmpty(),
                                 testing::kDiscoveryWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(!list->findItems("Line2", Qt::MatchExactly).isEmpty(),
                                 testing::kDiscoveryWaitMs);
        // It comes after the readers listed by name, whatever their names.
        QCOMPARE(list->item(list->count() - 1)->text(), row);
        QVERIFY(list->findItems("evil", Qt::MatchContains).isEmpty());
        QVERIFY(list->findItems(row, Qt::MatchExactly).first()->toolTip().contains("\"../../evil\""));
        // Discovery refuses the name outright: nothing can reach the reader by it.
        QVERIFY(!discovered("../../evil"));
        QVERIFY(!window().ConnectCamera("../../evil"));
        connect(&dialog, &shell::AddCamera::AddCameraChosen, &window(), &BasicInterface::AddCameraButton);
        list->setCurrentRow(list->row(list->findItems(row, Qt::MatchExactly).first()));
        QVERIFY(!dialog.ipText()->isEnabled());
        dialog.accept();
        QVERIFY(button(address));
        QVERIFY(!button(row));
        QCOMPARE(app::settings().GetValue("1", "", "Cameras"), address);

        window().ClickCameraButton(address);
        QTRY_VERIFY(window().imageConnection()->Connected());
        QCOMPARE(window().coordinator()->FocusedDevice()->Name(), address);
        QTRY_VERIFY(app::firmwareLevel() > 0);
        const QString images = m_dir.filePath("unusable");
        QVERIFY(QDir().mkpath(images));
        app::setImageSaveDirectory(images);
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(window().imageView()->HasImage(), testing::cyclesWaitMs(kRate, kRate));
        window().SaveCurrentImage();
        const QStringList saved = QDir(images).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(saved.size(), 1);
        QVERIFY2(saved.first().startsWith(address + "_"), qPrintable(saved.first()));
        // Nothing anywhere takes its path from the reader's own name.
        QDirIterator all(m_dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                         QDirIterator::Subdirectories);
        while (all.hasNext())
            QVERIFY2(!all.next().contains("evil"), qPrintable(all.filePath()));
        QVERIFY(!QFileInfo::exists(QDir::cleanPath(images + "/../../evil")));
        QVERIFY(!QFileInfo::exists(QDir::cleanPath(m_dir.path() + "/../../evil")));
    }

    // Another station takes control: the box that says so comes from the control-change event
    // and records keep coming while it is open; the camera button then names that station.
    void controlTakenByAnotherStation() {
        focusInControl("Line2");
        // The box comes from the control-change event itself, not from the timer.
        window().updateTimer().stop();
        window().UpdateToolbar();
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(window().counts()[0] >= 1, testing::cyclesWaitMs(1, kRate));
        qint64 countedWhileOpen = 0;
        vm::testing::ExpectPrompts boxes;
        expectControlLost(boxes).whileOpen([&] {
            const qint64 before = window().counts()[0];
            QTRY_VERIFY_WITH_TIMEOUT(window().counts()[0] >= before + 10, testing::cyclesWaitMs(10, kRate));
            countedWhileOpen = window().counts()[0] - before;
        });
        reader("Line2")->takeControl("OTHER-PC");
        QTRY_COMPARE_WITH_TIMEOUT(boxes->shown().size(), 1, testing::kReplyWaitMs);
        QVERIFY(countedWhileOpen >= 10);
        window().updateTimer().start();
        QTRY_COMPARE(button("Line2")->toolTip(), QStringLiteral("Camera being programmed by OTHER-PC"));
        QVERIFY(!window().cameraToolbar()->controlAction()->isChecked());
    }

    void triggerModeAndVirtualTrigger() {
        QCOMPARE(window().serialHookInterval(), 2000);
        focusInControl("Line2");
        sim::Reader* line2 = reader("Line2");
        link::ReaderConnection other;
        QVERIFY(window().imageConnection()->SendCommand("TRIG U \"\"").ok);
        QVERIFY(window().imageConnection()->SendCommand("TRIG T").ok);
        other.BroadcastMessage("frmIOSettings", "UPDATEIO", QString());
        QTRY_VERIFY(window().triggerMode());
        // A record already on its way when the reader switched may hide the notice for
        // one trigger interval.
        QTRY_VERIFY_WITH_TIMEOUT(window().vmStatusBar()->WaitingForTrigger(),
                                 BasicInterface::kTriggerIntervalMs * testing::kLoadFactor);
        QCOMPARE(window().virtualTriggerText(), QString());
        auto* vtButton = window().vmStatusBar()->findChild<QPushButton*>("SendVTrigger");
        QCOMPARE(vtButton->toolTip(), QStringLiteral("Send Virtual Trigger \"VT 2\""));

        // An empty user trigger string sends the reader's own virtual trigger.
        window().SendVirtualTrigger();
        QVERIFY(received(line2, "VT 2"));
        // The record hides the notice; it comes back when no further record arrives.
        QTRY_VERIFY(!window().vmStatusBar()->WaitingForTrigger());
        QTRY_VERIFY_WITH_TIMEOUT(window().vmStatusBar()->WaitingForTrigger(),
                                 BasicInterface::kTriggerIntervalMs * testing::kLoadFactor);

        QVERIFY(window().imageConnection()->SendCommand("TRIG U \"GO\"").ok);
        other.BroadcastMessage("frmIOSettings", "UPDATEIO", QString());
        QTRY_COMPARE(window().virtualTriggerText(), QStringLiteral("GO"));
        QCOMPARE(vtButton->toolTip(), QStringLiteral("Send Virtual Trigger \"GO\""));
        window().SendVirtualTrigger();
        QVERIFY(received(line2, "GO"));
        QVERIFY(window().imageConnection()->SendCommand("TRIG C").ok);
    }

    void imageFilesBecomeTheSource() {
        focusInControl("Line2");
        sim::Reader* line2 = reader("Line2");
        QImage picture(659, 494, QImage::Format_Grayscale8);
        picture.fill(200);
        const QString good = m_dir.filePath("scene.bmp");
        QVERIFY(picture.save(good));
        QSignalSpy percent(window().imageConnection(), &link::ImageConnection::OnDataTransferPercentComplete);
        window().setImageFileChooser([good](QWidget*) { return QStringList{good}; });
        window().UseImageFiles();
        QVERIFY(received(line2, "CAPTURE CAMERA"));
        QVERIFY(received(line2, "CAPTURE FILES"));
        QTRY_VERIFY(!line2->transferredFiles().isEmpty());
        QTRY_VERIFY(!percent.isEmpty());
        QCOMPARE(percent.last().at(0).toInt(), 100);
        QVERIFY(!window().vmStatusBar()->ProgressVisible());

        // A file the reader refuses is reported with the reader's reason.
        const QString bad = m_dir.filePath("notanimage.bmp");
        QFile file(bad);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("this is not a bitmap");
        file.close();
        window().setImageFileChooser([bad](QWidget*) { return QStringList{bad}; });
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage(
                "Velmarrow",
                "Error transferring files to camera: The reader refused notanimage.bmp: not a "
                "BMP or TIFF file",
                PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
            window().UseImageFiles();
        }

        window().UseCamera();
        QVERIFY(received(line2, "DRIVEDELETE FILES"));
    }

    void serialReaderIsPolled() {
        const auto [serial, port] = serialReader();
        QVERIFY(window().coordinator()->IsSerialPort(port));
        const QStringList before = serial->receivedCommands();
        focus(port);
        QVERIFY(window().imageConnection()->IsSerial());
        QTRY_VERIFY(received(serial, "RELEASE"));
        // The reader is greeted once and refreshed once.
        QVERIFY(window().imageConnection()->SendCommand("VERSION").ok);
        const QStringList sent = serial->receivedCommands().mid(before.size());
        QCOMPARE(sent.filter(QRegularExpression("^STATION ")).size(), 1);
        QCOMPARE(sent.count("NAME"), 1);
        QCOMPARE(sent.count("TRIG U"), 1);
        window().UpdateToolbar();
        QCOMPARE(shownReaderControls(),
                 QStringList({"reports", "reportfilter", "images", "compression", "roi"}));
        QCOMPARE(CameraToolbar::imageKey(button(port)), QStringLiteral("serialconnected"));
        // Two rows: the cameras with the view buttons, then the control buttons.
        QCOMPARE(window().findChild<QToolBar*>("ViewToolbar")->y(),
                 window().findChild<QToolBar*>("CamToolbar")->y());
        QVERIFY(window().findChild<QToolBar*>("ControlToolbar")->y() >
                window().findChild<QToolBar*>("CamToolbar")->y());
        // At the window's first size every button a serial reader shows is on its row, none
        // behind an overflow arrow.
        for (const char* name : {"ControlToolbar", "ViewToolbar"}) {
            auto* bar = window().findChild<QToolBar*>(name);
            QVERIFY(bar);
            for (QAction* action : bar->actions()) {
                if (!action->isVisible() || action->isSeparator())
                    continue;
                QWidget* shownAs = bar->widgetForAction(action);
                QTRY_VERIFY2(shownAs && shownAs->isVisible() && bar->rect().contains(shownAs->geometry()),
                             qPrintable(action->text()));
            }
        }

        window().serialHookTimer().stop();
        QCOMPARE(testing::entries(window().compression()),
                 QStringList({"No Compression", "4:1 Compression", "8:1 Compression", "16:1 Compression",
                              "32:1 Compression"}));
        window().compression()->setCurrentIndex(2);
        window().findChild<QAction*>("reports")->setChecked(true);
        QSignalSpy shown(&window(), &BasicInterface::recordShown);
        window().SerialHookTick();
        QVERIFY(received(serial, "REPORTREQ  4 0"));
        QVERIFY(window().SerialRequestOutstanding());
        QVERIFY(shown.wait(testing::cyclesWaitMs(1, kRate)));
        QVERIFY(!window().SerialRequestOutstanding());

        // Releasing "Hook Reports" with a request outstanding cancels it once.
        window().SerialHookTick();
        QVERIFY(window().SerialRequestOutstanding());
        window().findChild<QAction*>("reports")->setChecked(false);
        const int cancels = int(serial->receivedCommands().count("REPORTCANCEL"));
        window().SerialHookTick();
        QCOMPARE(int(serial->receivedCommands().count("REPORTCANCEL")), cancels + 1);
        QVERIFY(!window().SerialRequestOutstanding());
        window().SerialHookTick();
        QCOMPARE(int(serial->receivedCommands().count("REPORTCANCEL")), cancels + 1);

        // Failures only: the reader holds the answer while it reads well and sends the
        // first failed record.
        QCOMPARE(testing::entries(window().reportFilter()), QStringList({"All", "Failures"}));
        window().reportFilter()->setCurrentText("Failures");
        window().findChild<QAction*>("reports")->setChecked(true);
        shown.clear();
        window().SerialHookTick();
        QVERIFY(received(serial, "REPORTREQ  4 0 NEXTFAIL"));
        const qint64 asked = serial->cycles().lastNumber();
        // A record of the request before may still be on its way; only newer ones count.
        auto newer = [&] {
            QList<link::Record> records;
            for (const QList<QVariant>& args : shown)
                if (args.at(0).value<link::Record>().Number() > asked)
                    records.append(args.at(0).value<link::Record>());
            return records;
        };
        QTRY_VERIFY_WITH_TIMEOUT(serial->cycles().lastNumber() >= asked + 3, testing::cyclesWaitMs(3, kRate));
        QVERIFY(newer().isEmpty());
        QString error;
        auto restore = qScopeGuard([&error, serial = serial] { serial->setScene("contrast", "90", &error); });
        QVERIFY(serial->setScene("contrast", "0", &error));
        QTRY_VERIFY_WITH_TIMEOUT(!newer().isEmpty(), testing::cyclesWaitMs(3, kRate));
        QVERIFY(!newer().first().Passed());
        window().findChild<QAction*>("reports")->setChecked(false);
        window().SerialHookTick();
    }

    // "Upload Image" puts both hook buttons down; the image arriving leaves them down, so the
    // polls go on asking for images until the operator presses the button again.
    void serialUploadImageKeepsBothButtonsDown() {
        const auto [serial, port] = serialReader();
        // Whole images take half a minute each at the line's 115,200 baud.
        serial->setSerialPacing(false);
        auto paced = qScopeGuard([serial = serial] { serial->setSerialPacing(true); });
        focus(port);
        window().serialHookTimer().stop();
        QAction* images = window().findChild<QAction*>("images");
        QAction* reports = window().findChild<QAction*>("reports");
        // "Upload Image" is the button's form after start-up.
        images->setChecked(true);
        QVERIFY(reports->isChecked());
        QSignalSpy shown(&window(), &BasicInterface::recordShown);
        window().SerialHookTick();
        QVERIFY(received(serial, "REPORTREQ  255 1"));
        QTRY_VERIFY_WITH_TIMEOUT(window().imageView()->HasImage(), testing::cyclesWaitMs(1, kRate));
        QVERIFY(images->isChecked());
        QVERIFY(reports->isChecked());
        QVERIFY(!window().SerialRequestOutstanding());
        auto requests = [serial = serial] {
            return serial->receivedCommands().filter(QRegularExpression("^REPORTREQ  255 1$")).size();
        };
        const qsizetype asked = requests();
        window().SerialHookTick();
        QCOMPARE(requests(), asked + 1);
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 2, testing::cyclesWaitMs(1, kRate));
        QVERIFY(images->isChecked());
        QVERIFY(reports->isChecked());

        // Pressed again: both go up and the polls stop.
        images->setChecked(false);
        QVERIFY(!reports->isChecked());
        window().SerialHookTick();
        window().SerialHookTick();
        QCOMPARE(requests(), asked + 1);

        window().SaveCurrentImage();
        const QString path = app::MakeImageFileName(port, window().imageView()->CurrentRecord()->Number());
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));

        // In its "Hook Images" form the button leaves "Hook Reports" alone, and each poll asks
        // for the image while it is down.
        window().findChild<QAction*>("hookimages")->trigger();
        QCOMPARE(images->text(), vm::res::Str(1526));
        QCOMPARE(images->toolTip(), vm::res::Str(1536));
        images->setChecked(true);
        QVERIFY(!reports->isChecked());
        reports->setChecked(true);
        window().SerialHookTick();
        QCOMPARE(requests(), asked + 2);
        const qsizetype withoutImage = serial->receivedCommands().count("REPORTREQ  255 0");
        images->setChecked(false);
        QTRY_VERIFY_WITH_TIMEOUT(
            (window().SerialHookTick(), serial->receivedCommands().count("REPORTREQ  255 0") > withoutImage),
            testing::cyclesWaitMs(1, kRate));
        reports->setChecked(false);
        window().SerialHookTick();
    }

    // Saving a configuration over a 9,600-baud line: the whole listing, read as it arrives
    // (about five seconds of it), with polling withdrawn around it.
    void serialConfigurationSavesAt9600Baud() {
        const auto [serial, port] = serialReader();
        QVERIFY(serial->setSerialBaud(9600));
        link::setSerialLineLookup([port = port](const QString& name) {
            link::SerialLineSettings line;
            if (name == port)
                line.baudRate = 9600;
            return line;
        });
        auto restore = qScopeGuard([this, serial = serial] {
            if (m_window) {
                window().close();
                m_window.reset();
            }
            serial->setSerialBaud(115200);
            link::setSerialLineLookup({});
            shell::configcommands::setFileChooser({});
        });
        focus(port);
        QVERIFY(window().imageConnection()->IsSerial());
        // Each read's report on the standard port would share the slow line with the listing.
        serial->cycles().setOnline(false);
        takeControl(port);

        const QString file = m_dir.filePath("serial9600.lcf");
        shell::configcommands::setFileChooser([file](QWidget*, bool) { return file; });
        const QStringList expected = serial->parameters().configurationListing();
        qint64 bytes = QByteArray("!SHOW OK\r\n").size();
        for (const QString& line : expected)
            bytes += line.toUtf8().size() + 2;
        const qsizetype before = serial->receivedCommands().size();
        QElapsedTimer clock;
        clock.start();
        window().action("mnuSaveConfiguration")->trigger();
        const qint64 took = clock.elapsed();

        QStringList saved;
        QVERIFY(link::readConfigurationFile(file, &saved));
        QCOMPARE(saved, expected);
        const QString fast = testing::fasterThan9600Baud(bytes, took);
        QVERIFY2(fast.isEmpty(), qPrintable(fast));
        // Polling is withdrawn before the listing and resumed after it.
        const QStringList sent = serial->receivedCommands().mid(before);
        QCOMPARE(sent.mid(0, 2), (QStringList{"REPORTCANCEL", "SHOW CONFIG"}));
        QVERIFY(window().serialHookTimer().isActive());
    }

    void serialControlDroppedByTheReader() {
        const auto [serial, port] = serialReader();
        focus(port);
        window().serialHookTimer().stop();
        window().updateTimer().stop();
        takeControl(port);
        window().UpdateToolbar();
        link::ReaderConnection other;
        QSignalSpy broadcasts(&other, &link::Connection::OnBroadcastMessage);
        const qsizetype releases = serial->receivedCommands().count("RELEASE");
        const qsizetype cancels = serial->receivedCommands().count("REPORTCANCEL");

        vm::testing::ExpectPrompts boxes;
        expectControlLost(boxes);
        serial->dropControl();
        window().SerialHookTick();
        QCOMPARE(serial->receivedCommands().count("REPORTCANCEL"), cancels + 1);
        QCOMPARE(serial->receivedCommands().count("RELEASE"), releases + 1);
        QTRY_VERIFY(std::any_of(broadcasts.cbegin(), broadcasts.cend(), [](const QList<QVariant>& b) {
            return b.at(1).toString() == "DEBUGMSG" && b.at(2).toString() == "Control Dropped!";
        }));
        QTRY_COMPARE(boxes->shown().size(), 1);
        // Once both sides agree, the next poll sends nothing more.
        window().SerialHookTick();
        QCOMPARE(serial->receivedCommands().count("RELEASE"), releases + 1);
    }

    void refusedWritesAreShown() {
        focusInControl("Line2");
        sim::Reader* line2 = reader("Line2");
        window().SetLaser("OFF");
        window().updateTimer().stop();
        window().UpdateToolbar();
        {
            // Another station takes over before this PC hears of it: the reader refuses.
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage(
                "Write Failure",
                "The targeting laser was not set: TARGET: !TARGET ERROR 4 no programming control",
                PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
            expectControlLost(boxes);
            line2->takeControl("OTHER-PC");
            window().SetLaser("ON");
            QTRY_COMPARE(boxes->shown().size(), 2);
        }
        QCOMPARE(line2->parameters().fields("TARGET").value(0), QStringLiteral("OFF"));
        QCOMPARE(window().vmStatusBar()->ButtonImageKey("laser"), QStringLiteral("laser_inactive"));
        QVERIFY(window().action("mnuLaserOFF")->isChecked());

        line2->dropControl();
        takeControl("Line2");
        window().UpdateToolbar();
        const QString beep = line2->parameters().fields("BEEP").value(0).toUpper();
        {
            vm::testing::ExpectPrompts boxes;
            boxes->expectMessage("Write Failure",
                                 "The beeper was not set: BEEP: !BEEP ERROR 4 no programming control",
                                 PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
            expectControlLost(boxes);
            line2->takeControl("OTHER-PC");
            window().action("mnuBeeper")->trigger();
            QTRY_COMPARE(boxes->shown().size(), 2);
        }
        QCOMPARE(line2->parameters().fields("BEEP").value(0).toUpper(), beep);
        QCOMPARE(window().action("mnuBeeper")->isChecked(), beep == "Y");
        QCOMPARE(window().vmStatusBar()->ButtonImageKey("beep"),
                 beep == "Y" ? QStringLiteral("beep_active") : QStringLiteral("beep_inactive"));
        // The refused change does not ride along with the next write.
        QVERIFY(!app::PendingParameters().Modified());
    }

    void refusedControlChangesNothing() {
        focus("Line2");
        sim::Reader* line2 = reader("Line2");
        line2->refuseControl(sim::ControlRefusal::Always);
        auto allow = qScopeGuard([line2] { line2->refuseControl(sim::ControlRefusal::None); });
        link::ReaderConnection other;
        QSignalSpy broadcasts(&other, &link::Connection::OnBroadcastMessage);
        const QStringList configuration = line2->parameters().configurationListing();
        const qsizetype before = line2->receivedCommands().size();
        const qsizetype controls = line2->receivedCommands().count("CONTROL");
        auto writes = [&] {
            static const QRegularExpression write("^(BEEP|TARGET) \\S|^STATS RESET$|^CAPTURE ");
            return line2->receivedCommands().mid(before).filter(write);
        };
        // The operator says yes; the reader refuses: the operator is told the settings cannot
        // change, and the command goes no further.
        auto refused = [](vm::testing::ExpectPrompts& boxes) {
            expectControlDeclined(boxes, "Line2", PromptAnswer::Yes);
        };
        QAction* control = window().cameraToolbar()->controlAction();
        {
            vm::testing::ExpectPrompts boxes;
            refused(boxes);
            control->trigger();
        }
        QCOMPARE(line2->receivedCommands().count("CONTROL"), controls + 1);
        QVERIFY(line2->controller().isEmpty());
        // The update timer runs its toolbar update twice: control never came, so nothing was
        // lost either (no "Connection Dropped Unexpectedly").
        QSignalSpy ticks(&window().updateTimer(), &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 2);
        QCOMPARE(control->text(), QStringLiteral("Take Control"));
        QVERIFY(!control->isChecked());
        QCOMPARE(CameraToolbar::imageKey(control), QStringLiteral("control"));
        QCOMPARE(CameraToolbar::imageKey(button("Line2")), QStringLiteral("netconnected"));
        window().UpdateCaptions();
        QCOMPARE(window().windowTitle(), QStringLiteral("Line2 - Velmarrow"));

        // Beeper, laser and statistics stop after the refusal, their menus as they were.
        const QString beep = line2->parameters().fields("BEEP").value(0).toUpper();
        const QString beepKey = window().vmStatusBar()->ButtonImageKey("beep");
        const QString laser = line2->parameters().fields("TARGET").value(0).toUpper();
        {
            vm::testing::ExpectPrompts boxes;
            refused(boxes);
            refused(boxes);
            refused(boxes);
            window().action("mnuBeeper")->trigger();
            window().action(laser == "ON" ? "mnuLaserOFF" : "mnuLaserON")->trigger();
            window().action("mnuResetStatistics")->trigger();
        }
        QCOMPARE(window().action("mnuBeeper")->isChecked(), beep == "Y");
        QCOMPARE(window().vmStatusBar()->ButtonImageKey("beep"), beepKey);
        QVERIFY(window().action("mnuLaser" + laser)->isChecked());

        // A command of the File menu that needs control does not even ask for its file.
        int chosen = 0;
        shell::configcommands::setFileChooser([&](QWidget*, bool) {
            ++chosen;
            return QString();
        });
        auto noChooser = qScopeGuard([] { shell::configcommands::setFileChooser({}); });
        {
            vm::testing::ExpectPrompts boxes;
            refused(boxes);
            window().action("mnuLoadConfiguration")->trigger();
        }
        QCOMPARE(chosen, 0);

        // Nor does a settings window of the Settings menu open.
        {
            vm::testing::ExpectPrompts boxes;
            refused(boxes);
            window().action("mnuBeepControl")->trigger();
        }
        QWidget* beepWindow = app::windows().find("BeepControl");
        QVERIFY(!beepWindow || !beepWindow->isVisible());
        QCOMPARE(writes(), QStringList());
        QCOMPARE(line2->parameters().configurationListing(), configuration);

        // Refused once: the next attempt gets control, and the same commands go through.
        line2->refuseControl(sim::ControlRefusal::Once);
        {
            vm::testing::ExpectPrompts boxes;
            refused(boxes);
            control->trigger();
        }
        {
            vm::testing::ExpectPrompts boxes;
            expectControlQuestion(boxes, "Line2", PromptAnswer::Yes);
            control->trigger();
        }
        QTRY_COMPARE(line2->controller(), QStringLiteral("TEST-PC"));
        QCOMPARE(control->text(), QStringLiteral("Release"));
        window().action("mnuBeepControl")->trigger();
        QTRY_VERIFY(app::windows().find("BeepControl") && app::windows().find("BeepControl")->isVisible());
        QWidget* enable = app::windows().find("BeepControl")->findChild<QWidget*>("m_enable");
        QVERIFY(enable);
        QTRY_VERIFY(enable->isEnabled());
        window().action("mnuBeeper")->trigger();
        QCOMPARE(line2->parameters().fields("BEEP").value(0).toUpper(), beep == "Y" ? "N" : "Y");
        QCOMPARE(writes(), QStringList({beep == "Y" ? "BEEP N" : "BEEP Y"}));
        // Only the change that was made is announced.
        auto announced = [&](const QString& message) {
            return std::count_if(broadcasts.cbegin(), broadcasts.cend(),
                                 [&](const QList<QVariant>& b) { return b.at(1).toString() == message; });
        };
        QTRY_COMPARE(announced("UPDATEBEEP"), 1);
        QCOMPARE(announced("UPDATELASER"), 0);
    }

    void failedPollIsShown() {
        const auto [serial, port] = serialReader();
        focus(port);
        window().serialHookTimer().stop();
        window().findChild<QAction*>("reports")->setChecked(true);
        serial->setNextReplyFault(sim::ReplyFault::Malformed, 0, "REPORTREQ");
        window().SerialHookTick();
        QVERIFY(received(serial, "REPORTREQ  255 0"));
        QVERIFY2(window().vmStatusBar()->StatusMsgText().startsWith("Report request failed: "),
                 qPrintable(window().vmStatusBar()->StatusMsgText()));
        QVERIFY(!window().SerialRequestOutstanding());
        // The next poll goes out again and clears the notice once the reader accepts it.
        window().SerialHookTick();
        QTRY_VERIFY(window().vmStatusBar()->StatusMsgText().trimmed().isEmpty());
    }

    void assistiveToolsReachTheWindow() {
        QVERIFY(window().AddCameraButton("Line1"));
        const QString longName = "Packaging-Line-North-Hall-Station-Twelve-Upper-Reader";
        QVERIFY(window().AddCameraButton(longName));
        QTRY_VERIFY_WITH_TIMEOUT(discovered("Line1"), testing::kDiscoveryWaitMs);

        // A screen reader or UI automation presses a camera button by toggling it.
        QWidget* line1 = window().cameraToolbar()->widgetForAction(button("Line1"));
        QAccessibleInterface* access = QAccessible::queryAccessibleInterface(line1);
        QVERIFY(access && access->actionInterface());
        QCOMPARE(access->text(QAccessible::Name), QStringLiteral("Line1"));
        access->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QTRY_VERIFY(window().imageConnection()->Connected());
        QCOMPARE(window().coordinator()->FocusedDevice()->Name(), QStringLiteral("Line1"));
        // The control button too: toggled, it asks for control as a click does.
        {
            vm::testing::ExpectPrompts boxes;
            expectControlQuestion(boxes, "Line1", PromptAnswer::Yes);
            QWidget* control =
                window().cameraToolbar()->widgetForAction(window().cameraToolbar()->controlAction());
            QAccessible::queryAccessibleInterface(control)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
            QTRY_VERIFY(window().imageConnection()->HasControl());
        }

        // A long name is shortened on its button, whole for the tooltip and assistive tools.
        window().UpdateToolbar();
        QAction* longButton = button(longName);
        QVERIFY(longButton->text().size() < longName.size());
        QCOMPARE(longButton->toolTip(), longName);
        QCOMPARE(QAccessible::queryAccessibleInterface(window().cameraToolbar()->widgetForAction(longButton))
                     ->text(QAccessible::Name),
                 longName);

        // The images button is named by what it says.
        auto imagesName = [this] {
            return QAccessible::queryAccessibleInterface(window().toolButton("images"))
                ->text(QAccessible::Name);
        };
        QCOMPARE(imagesName(), QStringLiteral("Upload Image"));
        QAction* images = window().findChild<QAction*>("images");
        window().findChild<QAction*>("hookimages")->trigger();
        QCOMPARE(imagesName(), QStringLiteral("Hook Images"));
        QCOMPARE(images->toolTip(), QStringLiteral("Request images over serial connection"));
        window().findChild<QAction*>("oneimage")->trigger();
        QCOMPARE(imagesName(), QStringLiteral("Upload Image"));
        QCOMPARE(images->toolTip(), QStringLiteral("Upload single image over serial connection"));

        // The counters' values can be read.
        window().findChild<QAction*>("live")->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(window().counts()[0] >= 1, testing::cyclesWaitMs(1, kRate));
        QLabel* total = window().vmStatusBar()->findChild<QLabel*>("TotalField");
        QCOMPARE(QAccessible::queryAccessibleInterface(total)->text(QAccessible::Name),
                 QStringLiteral("Total ") + total->text());
    }

    void preferencesShowTheWholeImageFolder() {
        const QString folder = m_dir.filePath("images/for/the/night/shift/of/packaging/line/north/");
        app::setImageSaveDirectory(folder);
        vm::testing::ExpectDialogs dialogs;
        dialogs.expect("frmOptions", [folder](QDialog& options) {
            auto* field = options.findChild<QLineEdit*>("txtImgDirectory");
            QVERIFY(field);
            QCOMPARE(field->text(), folder);
            // However the dialog is laid out, the field is never narrower than its folder.
            QVERIFY2(field->minimumWidth() >= field->fontMetrics().horizontalAdvance(folder),
                     qPrintable(QString::number(field->minimumWidth())));
            QCOMPARE(field->cursorPosition(), 0);
            QCOMPARE(field->toolTip(), folder);
            options.reject();
        });
        window().ShowPreferences();
    }

    // The focused reader sends images and reports at the rates of the Preferences; in
    // control, with "When in control, use maximum transfer rates", at the maximum (0).
    void transferRatesFollowPreferencesAndControl() {
        focus("Line2");
        link::Device* device = window().coordinator()->FocusedDevice();
        QVERIFY(device);
        auto rates = [device] {
            return QList<int>{device->ImageChannel().Mode(), device->ImageChannel().Rate(),
                              device->ReportChannel().Rate()};
        };
        QCOMPARE(rates(), QList<int>({0, 2, 0})); // "2 per second" images, reports at the maximum

        auto choose = [this](int reportDowns, int imageUps, bool clickMax) {
            vm::testing::ExpectDialogs dialogs;
            dialogs.expect("frmOptions", [=](QDialog& options) {
                auto* report = options.findChild<QComboBox*>("cmbReportRate");
                auto* image = options.findChild<QComboBox*>("cmbImageRate");
                for (int i = 0; i < reportDowns; ++i)
                    QTest::keyClick(report, Qt::Key_Down);
                for (int i = 0; i < imageUps; ++i)
                    QTest::keyClick(image, Qt::Key_Up);
                for (int i = 0; i < -imageUps; ++i)
                    QTest::keyClick(image, Qt::Key_Down);
                if (clickMax)
                    options.findChild<QCheckBox*>("optMaxInControl")->click();
                options.findChild<QPushButton*>("cmdOK")->click();
            });
            window().ShowPreferences();
        };
        // "8 per second" reports, "1 per second" images, maximum while in control.
        choose(4, 1, true);
        QCOMPARE(rates(), QList<int>({0, 1, 8}));
        takeControl("Line2");
        QTRY_COMPARE(rates(), QList<int>({0, 0, 0}));
        window().cameraToolbar()->controlAction()->trigger();
        QTRY_COMPARE(rates(), QList<int>({0, 1, 8}));

        // "None": no images at all; without the maximum, control changes nothing.
        choose(0, -2, true);
        QCOMPARE(rates(), QList<int>({2, 1, 8}));
        takeControl("Line2");
        QCOMPARE(rates(), QList<int>({2, 1, 8}));
    }

    // Every item of the Settings menu waits for a reader, and so do the File items that act
    // on the reader's images; Preferences and Exit never do.
    void readerMenuItemsNeedAReader() {
        auto* settings = window().findChild<QMenu*>("mnuSettings");
        QVERIFY(settings);
        auto readerItems = [&] {
            QList<QAction*> items;
            for (QAction* item : settings->actions())
                if (!item->isSeparator() && item->isVisible())
                    items << item;
            items << window().action("mnuLoadImages") << window().action("mnuUseCamera");
            return items;
        };
        QVERIFY(readerItems().size() >= 12);
        for (QAction* item : readerItems())
            QVERIFY2(!item->isEnabled(), qPrintable(item->text()));
        for (const char* item : {"mnuPreferences", "mnuExit"})
            QVERIFY2(window().action(item)->isEnabled(), item);
        focus("Line2");
        for (QAction* item : readerItems())
            QTRY_VERIFY2(item->isEnabled(), qPrintable(item->text()));
    }

    // The toolbar's window buttons wait for a reader: greyed without one.
    void windowButtonsNeedAReader() {
        auto buttons = [this] {
            return QList<QAction*>{window().findChild<QAction*>("photometry"),
                                   window().findChild<QAction*>("learn"),
                                   window().findChild<QAction*>("view:tune")};
        };
        for (QAction* button : buttons())
            QVERIFY2(button && !button->isEnabled(), button ? qPrintable(button->objectName()) : "missing");
        focus("Line2");
        for (QAction* button : buttons())
            QTRY_VERIFY2(button->isEnabled(), qPrintable(button->objectName()));
        // Photometry writes to the reader: without control its button asks for control first,
        // and a refusal leaves the window closed.
        {
            vm::testing::ExpectPrompts boxes;
            expectControlDeclined(boxes, "Line2");
            buttons().at(0)->trigger();
        }
        QVERIFY(!app::windows().find("BasicPhotometry"));
        // The learn and tune buttons are down as soon as their windows open, without the update
        // timer that puts every window button right; pressed again, the window goes.
        window().updateTimer().stop();
        for (const auto& [button, name] :
             {std::pair{buttons().at(1), "Learn"}, {buttons().at(2), "BasicTune"}}) {
            button->trigger();
            QVERIFY(app::windows().find(name) && app::windows().find(name)->isVisible());
            QVERIFY2(button->isChecked(), name);
            button->trigger();
            QVERIFY(!app::windows().find(name) || !app::windows().find(name)->isVisible());
            QVERIFY2(!button->isChecked(), name);
        }
        window().updateTimer().start();
    }

    // A dialog that would wait for a person and that no test declared fails the test at once
    // and is never shown. The failure is caught here to see it happen.
    void aDialogNobodyDeclaredFailsAtOnce() {
        QStringList failures;
        auto previous = std::exchange(vm::testing::detail::undeclaredDialogFailure,
                                      [&failures](const QString& f) { failures << f; });
        auto restore = qScopeGuard([&previous] { vm::testing::detail::undeclaredDialogFailure = previous; });
        QElapsedTimer clock;
        clock.start();
        window().ShowPreferences();
        QVERIFY(clock.elapsed() < link::kCommandTimeoutMs);
        QCOMPARE(failures, QStringList{"frmOptions \"Preferences\""});
        QVERIFY(!window().options()->isVisible());
    }

    // The two PID items of the File menu open the copy dialog, each in its own direction.
    void pidItemsOpenTheirDirection() {
        focusInControl("Line2");
        const QList<std::pair<QString, QString>> items = {
            {"mnuCopyToPid", "Copy Current Settings to PID #"},
            {"mnuCopyFromPid", "Copy to Current Settings from PID #"}};
        for (const auto& [item, caption] : items) {
            vm::testing::ExpectDialogs dialogs;
            QString shown;
            dialogs.expect("frmPIDCopy", [&shown](QDialog& copy) {
                shown = copy.findChild<QLabel*>("lblCaption")->text();
                copy.reject();
            });
            QVERIFY(window().action(item)->isEnabled());
            window().action(item)->trigger();
            QCOMPARE(shown, caption);
        }
    }

    void guestButtonsComeAndGo() {
        QTRY_VERIFY_WITH_TIMEOUT(discovered("Line2"), testing::kDiscoveryWaitMs);
        window().coordinator()->Focus("Line2");
        QTRY_VERIFY(window().imageConnection()->Connected());
        window().UpdateToolbar();
        QAction* guest = button("Line2");
        QVERIFY(guest);
        QVERIFY(CameraToolbar::isGuest(guest));
        QCOMPARE(app::settings().GetValue("NumCameras", "0", "Cameras"), QStringLiteral("0"));
        window().coordinator()->Focus(QString());
        window().UpdateToolbar();
        QVERIFY(!button("Line2"));
    }

private:
    static QString MinorText() {
        return QStringLiteral("The camera software is at a different build revision than Velmarrow\r\n"
                              "Camera Version = 1.1.0.31\r\nVelmarrow Version = 1.1.0.40\r\n"
                              "It is recommended that you upgrade the camera software\r\n"
                              "Do you wish to connect anyway?");
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
