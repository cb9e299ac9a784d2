// The window registry as the main window reads it: menus and toolbars in their order with
// their rules, windows opened with control where they need it, windows closed or kept
// when the operator moves to another reader, and windows reopened at start.
#include "app/imagefiles.h"
#include "app/programstate.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "app/windowroutines.h"
#include "common/prompts.h"
#include "common/readers.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "shell/basicinterface.h"
#include "sim/catalogue.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTabBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QToolBar>

#include <functional>

using namespace vm;
using app::ItemRule;
using app::Menu;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using app::Toolbar;
using app::WindowEntry;
using shell::BasicInterface;

namespace {

// Whether `target` is found by walking the accessible tree down from `root`, as assistive
// tools do.
bool accessibleUnder(QObject* root, QObject* target) {
    std::function<bool(QAccessibleInterface*, int)> walk = [&](QAccessibleInterface* node, int depth) {
        if (!node || depth > 40)
            return false;
        if (node->object() == target)
            return true;
        for (int i = 0; i < node->childCount(); ++i)
            if (walk(node->child(i), depth + 1))
                return true;
        return false;
    };
    return walk(QAccessible::queryAccessibleInterface(root), 0);
}

// Toolbars, and the overflow button Qt gives each, that assistive tools would find nameless.
QStringList unnamedToolbars(QWidget* window, const QString& where) {
    QStringList unnamed;
    for (QToolBar* bar : window->findChildren<QToolBar*>()) {
        if (QAccessible::queryAccessibleInterface(bar)->text(QAccessible::Name).isEmpty())
            unnamed << where + QLatin1String(": toolbar ") + bar->objectName();
        for (QWidget* overflow : bar->findChildren<QWidget*>(QStringLiteral("qt_toolbar_ext_button")))
            if (QAccessible::queryAccessibleInterface(overflow)->text(QAccessible::Name) != "More buttons")
                unnamed << where + QLatin1String(": overflow of ") + bar->objectName();
    }
    return unnamed;
}

// The first node named `name` under `node` in the accessible tree.
QAccessibleInterface* accessibleNamed(QAccessibleInterface* node, const QString& name, int depth = 0) {
    if (!node || depth > 40)
        return nullptr;
    if (node->text(QAccessible::Name) == name)
        return node;
    for (int i = 0; i < node->childCount(); ++i)
        if (QAccessibleInterface* found = accessibleNamed(node->child(i), name, depth + 1))
            return found;
    return nullptr;
}

// A window of the test: a plain top-level widget under the name it was asked for.
WindowEntry window(const QString& name) {
    WindowEntry registered;
    registered.name = name;
    registered.factory = [name](QWidget* parent) {
        auto* w = new QWidget(parent, Qt::Window);
        w->setObjectName(name);
        w->setWindowTitle(QStringLiteral("(no camera) - ") + name);
        w->setAttribute(Qt::WA_DeleteOnClose);
        return w;
    };
    return registered;
}

WindowEntry menuWindow(const QString& name, Menu menu, int position, int group, const QString& key,
                       const QString& caption, ItemRule rule) {
    WindowEntry registered = window(name);
    registered.menu.menu = menu;
    registered.menu.position = position;
    registered.menu.group = group;
    registered.menu.key = key;
    registered.menu.caption = caption;
    registered.menu.rule = rule;
    return registered;
}

// The captions of a menu's items as shown, "-" for a separator, hidden items left out.
QStringList itemsOf(const QMenu* menu) {
    QStringList items;
    for (const QAction* a : menu->actions()) {
        if (!a->isVisible())
            continue;
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    }
    return items;
}

QStringList menuTitles(const QMenuBar* bar) {
    QStringList titles;
    for (const QAction* a : bar->actions())
        if (a->isVisible())
            titles << a->text();
    return titles;
}

QMenu* menuNamed(QMainWindow& w, const char* name) {
    return w.menuBar()->findChild<QMenu*>(QLatin1String(name));
}

QStringList toolKeys(const QToolBar* bar) {
    QStringList keys;
    for (const QAction* a : bar->actions())
        keys << a->objectName();
    return keys;
}

// Whether the operator works this widget: the parts of a composite control (a list's
// scroll bars, a spin box's text, a grid's corner button) belong to the control itself.
bool isControl(const QWidget* w) {
    for (const QWidget* p = w->parentWidget(); p; p = p->parentWidget())
        if (qobject_cast<const QAbstractItemView*>(p) || qobject_cast<const QComboBox*>(p) ||
            qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const QTabBar*>(p) ||
            qobject_cast<const QTextEdit*>(p) || qobject_cast<const QPlainTextEdit*>(p))
            return false;
    if (qobject_cast<const QScrollBar*>(w))
        return false;
    return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QComboBox*>(w) ||
           qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
           qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QAbstractItemView*>(w) ||
           qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w) ||
           qobject_cast<const QTabBar*>(w);
}

QString describe(const QWidget* w) {
    return QStringLiteral("%1 %2").arg(QLatin1String(w->metaObject()->className()), w->objectName());
}

} // namespace

class TestWindows : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<testing::ExpectPrompts> m_unexpectedBoxes;
    int m_settingsCount = 0;
    std::unique_ptr<BasicInterface> m_window;
    std::unique_ptr<sim::Reader> m_reader;
    std::unique_ptr<link::Coordinator> m_coordinator;

    BasicInterface& openMainWindow() {
        m_window = std::make_unique<BasicInterface>();
        m_window->setProgramVersion("3.0.2.1");
        m_window->setLegacyFolder(m_dir.filePath("nolegacy"));
        m_window->Load();
        m_window->show();
        return *m_window;
    }

    // Focuses a reader of this software version, as a camera button would.
    void focusReader(const QString& version) {
        m_reader = testing::startReader("Cell7", testing::nextAddress(), version);
        QVERIFY(m_reader);
        m_coordinator = std::make_unique<link::Coordinator>();
        m_coordinator->Focus(m_reader->address().toString());
        QTRY_VERIFY(m_window->imageConnection()->Connected());
        QTRY_VERIFY(app::firmwareLevel() > 0);
    }

    // The registry the program starts with, plus the test's windows.
    void registerWith(const std::vector<WindowEntry>& extra) {
        app::windows().clear();
        app::registerWindows(app::windows());
        for (const WindowEntry& registered : extra)
            app::windows().add(registered);
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "TEST-PC");
        qputenv("VmSplashEnabled", "0");
        qputenv("VelmarrowPassword", "");
        qputenv("VelmarrowTestMenu", "1");
    }

    void init() {
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        const QString file = m_dir.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsCount));
        app::installSettings(std::make_unique<app::SettingsStore>(file, m_dir.filePath("options.ini")));
        app::setHistoryFile(
            m_dir.filePath("history.sqlite")); // the main window records here, not in the user's data folder
        app::settings().Open("Velmarrow");
        // A box nobody expected fails the test at once instead of waiting for a click.
        m_unexpectedBoxes = std::make_unique<testing::ExpectPrompts>();
        app::setImageSaveDirectory(m_dir.path());
        registerWith({});
    }

    void cleanup() {
        m_unexpectedBoxes.reset();
        if (m_window) {
            m_window->close();
            m_window.reset();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (m_coordinator)
            m_coordinator->Focus("");
        m_coordinator.reset();
        m_reader.reset();
        app::windows().clear();
        app::installSettings(nullptr);
    }

    // Every control of every window, on a reader of each generation, can be reached with
    // the keyboard and is named for screen readers and UI automation.
    void everyControlIsNamedAndReachable_data() {
        QTest::addColumn<QString>("version");
        QTest::newRow("1.0 reader") << "1.0.1.13";
        QTest::newRow("current") << "3.0.2.1";
    }
    void everyControlIsNamedAndReachable() {
        QFETCH(QString, version);
        BasicInterface& w = openMainWindow();
        focusReader(version);
        QVERIFY(testing::takeControl(*w.imageConnection()));
        QStringList unnamed, unreachable;
        int controls = 0;
        for (const WindowEntry& registered : app::windows().windowEntries()) {
            QPointer<QWidget> window = app::windows().open(registered.name, &w);
            // A window closes at once on a reader without its feature.
            QCoreApplication::processEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (!window || !window->isVisible()) {
                qInfo("%s is not shown for this reader", qPrintable(registered.name));
                continue;
            }
            for (QWidget* c : window->findChildren<QWidget*>()) {
                if (!isControl(c) || !c->isVisibleTo(window))
                    continue;
                ++controls;
                const QString where = registered.name + QLatin1String(": ") + describe(c);
                if (QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name).trimmed().isEmpty())
                    unnamed << where;
                // Tab reaches the checked option of a group; the arrow keys move among them.
                if (!(c->focusPolicy() & Qt::TabFocus) && !qobject_cast<QRadioButton*>(c))
                    unreachable << where;
            }
            unnamed << unnamedToolbars(window, registered.name);
            app::windows().close(registered.name);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
        unnamed << unnamedToolbars(&w, QStringLiteral("BasicInterface"));
        QVERIFY(controls > 100);
        QCOMPARE(unnamed.join(QLatin1String("; ")), QString());
        QCOMPARE(unreachable.join(QLatin1String("; ")), QString());
    }

    // Screen readers and UI automation walk the accessible tree: the editors laid over a grid's
    // cells, the keyword menu and the header and trailer must be in it and work through it.
    void inPlaceEditorsAreInTheAccessibleTree() {
        BasicInterface& w = openMainWindow();
        focusReader(QStringLiteral("3.0.2.1"));
        QVERIFY(testing::takeControl(*w.imageConnection()));

        QPointer<QWidget> tune = app::windows().open(QStringLiteral("BasicTune"), &w);
        QVERIFY(tune);
        auto* grid = tune->findChild<QTableWidget*>(QStringLiteral("Grid(0)"));
        QVERIFY(grid);
        QTRY_VERIFY(grid->rowCount() > 1 && !grid->item(0, 1)->text().isEmpty());
        auto* list = tune->findChild<QComboBox*>(QStringLiteral("Combo"));
        auto* text = tune->findChild<QLineEdit*>(QStringLiteral("Edit"));
        bool sawList = false, sawText = false;
        for (int row = 0; row < grid->rowCount() && !(sawList && sawText); ++row) {
            grid->setFocus();
            grid->setCurrentCell(row, 1);
            QTest::keyClick(grid, Qt::Key_Return);
            QWidget* editor = list->isVisible() ? static_cast<QWidget*>(list) : text;
            QVERIFY2(editor->isVisible(), qPrintable(grid->item(row, 0)->text()));
            (editor == list ? sawList : sawText) = true;
            QVERIFY2(accessibleUnder(tune, editor), qPrintable(grid->item(row, 0)->text()));
            // Laid over the value cell it edits.
            const QRect cell = grid->visualItemRect(grid->item(row, 1));
            QCOMPARE(editor->mapTo(tune, QPoint(0, 0)), grid->viewport()->mapTo(tune, cell.topLeft()));
        }
        QVERIFY(sawList && sawText);
        app::windows().close(QStringLiteral("BasicTune"));

        QPointer<QWidget> output = app::windows().open(QStringLiteral("frmOutput"), &w);
        QVERIFY(output);
        auto* header = output->findChild<QWidget*>(QStringLiteral("m_header"));
        auto* editor = output->findChild<QWidget*>(QStringLiteral("m_edformat"));
        auto* edit = editor->findChild<QLineEdit*>(QStringLiteral("m_edit"));
        QAccessibleInterface* headerAccess = QAccessible::queryAccessibleInterface(header);
        QCOMPARE(headerAccess->role(), QAccessible::Button);
        QCOMPARE(headerAccess->text(QAccessible::Name), QStringLiteral("Header"));
        QVERIFY(headerAccess->actionInterface());
        QTRY_VERIFY(header->isEnabled());
        headerAccess->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_VERIFY(editor->isVisible());
        edit->setText(QString());
        QAccessibleInterface* keyword =
            accessibleNamed(QAccessible::queryAccessibleInterface(
                                editor->findChild<QWidget*>(QStringLiteral("m_btnKeyword"))),
                            QStringLiteral("(DATA)"));
        QVERIFY(keyword && keyword->actionInterface());
        keyword->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(edit->text(), QStringLiteral("(DATA)"));
        QVERIFY(editor->isVisible());
        app::windows().close(QStringLiteral("frmOutput"));
    }

    // Any value of the option but "0" shows the test menu; empty or "0" hides it. (The "1" the
    // other tests here run with shows it in menusOfTheProgram.)
    void testMenuFollowsItsOption_data() {
        QTest::addColumn<QByteArray>("option");
        QTest::addColumn<bool>("shown");
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("0") << QByteArray("0") << false;
        QTest::newRow("yes") << QByteArray("yes") << true;
    }
    void testMenuFollowsItsOption() {
        QFETCH(QByteArray, option);
        QFETCH(bool, shown);
        qputenv("VelmarrowTestMenu", option);
        BasicInterface& w = openMainWindow();
        qputenv("VelmarrowTestMenu", "1");
        QCOMPARE(w.testMenu()->menuAction()->isVisible(), shown);
    }

    // Focusing a reader that can be calibrated asks whether it is; an older one is not asked.
    void calibrationTextFromTheCalibratingLevel_data() {
        QTest::addColumn<int>("level");
        QTest::addColumn<QString>("text");
        QTest::newRow("8") << 8 << QString();
        QTest::newRow("9") << 9 << QStringLiteral("Not Calibrated");
    }
    void calibrationTextFromTheCalibratingLevel() {
        QFETCH(int, level);
        QFETCH(QString, text);
        app::setCalibrationText(QString());
        openMainWindow();
        focusReader(sim::softwareVersionForLevel(level));
        QTRY_COMPARE(app::firmwareLevel(), level);
        QTRY_COMPARE(app::calibrationText(), text);
    }

    // The program as it stands: only the items whose windows or commands exist, in order.
    void menusOfTheProgram() {
        BasicInterface& w = openMainWindow();
        QCOMPARE(menuTitles(w.menuBar()), QStringList({"File", "Settings", "Windows", "Help", "(Test)"}));
        QCOMPARE(
            itemsOf(menuNamed(w, "mnuFile")),
            QStringList({"Save Parameters on Camera", "Restore Defaults", "-",
                         "Save Camera Configuration To File...", "Load Configuration File TO Camera...",
                         "Compare Configuration...", "-", "Copy Current to PID...", "Copy PID to Current...",
                         "-", "Save Current Image", "Load Image Files to Camera",
                         "Use Camera for Acquisition", "-", "Preferences...", "-", "Exit"}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuSettings")),
                 QStringList({"Application Mode...", "IO Settings...", "Match Mode Settings...",
                              "Symbology and Verification...", "Output Settings...", "Beep Control...",
                              "Photometry...", "Configure Part Queue", "-", "Targeting Laser", "Beeper",
                              "Reset Statistics", "-", "Serial/TCP Settings..."}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuWindows")),
                 QStringList({"Terminal Window", "Report Window", "Advanced Tuning", "Charting Window",
                              "Filmstrip Recorder", "Network Overview", "Verification Report",
                              "History and Trends"}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuRestoreDefaults")),
                 QStringList({"Decoder", "Application Mode", "Both"}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuLaser")), QStringList({"Off", "On", "2 Second Strobe"}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuHelp")), QStringList({"About Velmarrow™..."}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuTest")),
                 QStringList({"Show Histogram Window", "Show Crosshair Overlay", "Show Frames / Sec"}));
        QCOMPARE(toolKeys(w.findChild<QToolBar*>("ViewToolbar")),
                 QStringList({"view:terminal", "view:reports", "view:filmstrip", "view:tune", "view:chart",
                              "view:network", "view:history"}));
        // Each view button's caption, and its tooltip naming the window it opens.
        QStringList shown;
        for (const QAction* a : w.findChild<QToolBar*>("ViewToolbar")->actions())
            shown << a->text() + " | " + a->toolTip();
        QCOMPARE(shown, QStringList({"Terminal | Command Terminal Window", "Reports | Camera Report Window",
                                     "Filmstrip | Image Filmstrip and Recorder Window",
                                     "Advanced | Advanced Camera Tuning",
                                     "Charts | Runtime Charts and Trends", "Network | Network Overview",
                                     "History | Read History and Print-Quality Trends"}));
        // Reader commands wait for a reader; the rest do not.
        QVERIFY(!w.action("mnuBeeper")->isEnabled());
        QVERIFY(!w.action("mnuLoadImages")->isEnabled());
        QVERIFY(w.action("mnuSaveImage")->isEnabled());
        QVERIFY(w.action("mnuAbout")->isEnabled());
    }

    // A window that registers appears at its place among the others, on menus and toolbars,
    // with no change to the main window.
    void registeredWindowsTakeTheirPlaces() {
        // Windows of a later day: a monitor between two existing ones, a settings dialog
        // in a group of its own and a file command.
        WindowEntry monitor = menuWindow("FakeMonitor", Menu::Windows, 3025, 0, "mnuFakeMonitor",
                                         "Fake Monitor", ItemRule::Always);
        monitor.button = {Toolbar::View, 15, "fakemonitor", "Monitor", "Fake Monitor Window", "terminal"};
        app::CommandEntry command;
        command.menu.menu = Menu::File;
        command.menu.position = 1105;
        command.menu.group = 9;
        command.menu.key = "mnuFakeCommand";
        command.menu.caption = "Fake Command";
        command.menu.rule = ItemRule::Control;
        command.run = [](QWidget*) {};
        registerWith({monitor, menuWindow("FakeSettings", Menu::Settings, 2115, 3, "mnuFakeSettings",
                                          "Fake Settings...", ItemRule::Control)});
        app::windows().addCommand(command);

        BasicInterface& w = openMainWindow();
        QCOMPARE(itemsOf(menuNamed(w, "mnuFile")).mid(8, 5),
                 QStringList({"Copy PID to Current...", "-", "Fake Command", "-", "Save Current Image"}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuSettings")).mid(8),
                 QStringList({"-", "Targeting Laser", "Beeper", "Reset Statistics", "-",
                              "Serial/TCP Settings...", "-", "Fake Settings..."}));
        QCOMPARE(itemsOf(menuNamed(w, "mnuWindows")).mid(0, 3),
                 QStringList({"Terminal Window", "Fake Monitor", "Report Window"}));
        QCOMPARE(toolKeys(w.findChild<QToolBar*>("ViewToolbar")).mid(0, 3),
                 QStringList({"view:terminal", "view:fakemonitor", "view:reports"}));
        QCOMPARE(toolKeys(w.findChild<QToolBar*>("ControlToolbar")),
                 QStringList({"reports", "reportfilter", "images", "compression", "live", "photometry",
                              "learn", "roi", "imagefile", "usecam"}));
        QVERIFY(!w.action("mnuFakeSettings")->isEnabled());
        QVERIFY(w.action("mnuFakeMonitor")->isEnabled());

        // A view button is down exactly while its window is open.
        QAction* view = w.findChild<QToolBar*>("ViewToolbar")->actions().at(0);
        view->trigger();
        QPointer<QWidget> open = app::windows().find("BasicTerminal");
        QVERIFY(open && open->isVisible());
        QVERIFY(view->isChecked());
        open->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        w.UpdateToolbar();
        QVERIFY(!view->isChecked());
    }

    // Items that need control ask for it first; a "no" opens nothing. (That no question comes
    // once in control is pinned by tst_mainwindow's refusedControlChangesNothing.)
    void settingsItemsAskForControl() {
        registerWith({menuWindow("BasicApplication", Menu::Settings, 2020, 1, "mnuApplication",
                                 "Application Mode...", ItemRule::Control)});
        BasicInterface& w = openMainWindow();
        focusReader("3.0.2.1");
        QAction* item = w.action("mnuApplication");
        const QString question = "Do you wish to control the camera " + m_reader->address().toString() + "?";
        QTRY_VERIFY(item->isEnabled());
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", question, PromptIcon::Question, PromptButtons::YesNo,
                                 PromptAnswer::No);
            boxes->expectMessage("Velmarrow", "Cannot change settings without control...", PromptIcon::None,
                                 PromptButtons::Ok, PromptAnswer::Ok);
            item->trigger();
        }
        QVERIFY(!app::windows().find("BasicApplication"));
        QVERIFY(!m_reader->receivedCommands().contains("CONTROL"));
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", question, PromptIcon::Question, PromptButtons::YesNo,
                                 PromptAnswer::Yes);
            item->trigger();
        }
        QVERIFY(m_reader->receivedCommands().contains("CONTROL"));
        QVERIFY(app::windows().find("BasicApplication"));
    }

    // Features a reader lacks hide their items; the item picks the window for the reader.
    void itemsFollowTheReader_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<bool>("beepShown");
        QTest::addColumn<QString>("outputWindow");
        QTest::newRow("1.0 reader") << "1.0.1.13" << false << "BasicOutput";
        QTest::newRow("level 8") << "2.3.0.0" << true << "frmOutput";
        QTest::newRow("current") << "3.0.2.1" << true << "frmOutput";
    }
    void itemsFollowTheReader() {
        QFETCH(QString, version);
        QFETCH(bool, beepShown);
        QFETCH(QString, outputWindow);
        WindowEntry beep = menuWindow("BeepControl", Menu::Settings, 2055, 1, "mnuBeep", "Beep Control...",
                                      ItemRule::Control);
        beep.menu.supports = [](const app::ReaderInfo& r) { return r.firmwareLevel >= 3; };
        WindowEntry output = menuWindow("frmOutput", Menu::Settings, 2050, 1, "mnuOutput",
                                        "Output Settings...", ItemRule::Reader);
        output.menu.target = [](const app::ReaderInfo& r) {
            const QStringList v = r.softwareVersion.split('.');
            return v.value(0) == "1" && v.value(1).toInt() < 1 ? QStringLiteral("BasicOutput")
                                                               : QStringLiteral("frmOutput");
        };
        registerWith({beep, output, window("BasicOutput")});
        BasicInterface& w = openMainWindow();
        // Without a reader the item is there, unusable.
        QVERIFY(w.action("mnuBeep")->isVisible());
        QVERIFY(!w.action("mnuBeep")->isEnabled());

        w.setProgramVersion("1.0.0.0"); // accepts every reader
        focusReader(version);
        QTRY_COMPARE(w.action("mnuBeep")->isVisible(), beepShown);
        QTRY_VERIFY(w.action("mnuOutput")->isEnabled());
        QCOMPARE(w.action("mnuBeep")->isEnabled(), beepShown);
        w.action("mnuOutput")->trigger();
        QVERIFY(app::windows().find(outputWindow));
        QCOMPARE(app::windows().loadedWindowNames().count(), 2); // the main window and that one

        // Losing the reader disables the items again.
        m_coordinator->Focus("");
        QTRY_VERIFY(!w.action("mnuOutput")->isEnabled());
        QVERIFY(w.action("mnuBeep")->isVisible());
    }

    // Leaving a reader closes its windows and keeps those that follow any reader.
    void leavingAReaderClosesItsWindows() {
        WindowEntry report = window("BasicReport");
        report.followsReader = true;
        registerWith({report, window("BasicApplication"), window("frmIOSettings")});
        BasicInterface& w = openMainWindow();
        for (const char* name : {"BasicReport", "BasicApplication", "frmIOSettings", "frmAbout"})
            QVERIFY(app::windows().open(name, &w));
        QVERIFY(w.PrepareToLeaveCamera());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(app::windows().loadedWindowNames(),
                 QStringList({"BasicInterface", "BasicReport", "frmAbout"}));
        // Each closed window stored its place.
        QVERIFY(!app::settings().GetValue("frmIOSettings Width", "", "Window Metrics").isEmpty());
    }

    // At start only the windows that say so come back; unknown names are skipped.
    void reopenedAtStart() {
        WindowEntry report = window("BasicReport");
        report.reopensAtStart = true;
        registerWith({report, window("BasicApplication")});
        app::settings().SetValue("UpWindows", "BasicInterface;BasicApplication;NoSuchWindow;BasicReport",
                                 "Window Metrics");
        openMainWindow();
        QCOMPARE(app::windows().loadedWindowNames(), QStringList({"BasicInterface", "BasicReport"}));
        QVERIFY(app::windows().find("BasicReport")->isVisible());
    }

    // A window that draws on the live image draws on the main window's view: the learn
    // region comes and goes with its check box and goes when the window closes.
    void learnRegionOnTheMainImage() {
        BasicInterface& w = openMainWindow();
        focusReader("3.0.2.1");
        QVERIFY(testing::takeControl(*w.imageConnection()));
        QPointer<QWidget> learn = app::windows().open("Learn", &w);
        QVERIFY(learn);
        auto* assist = learn->findChild<QCheckBox*>("EnableAssist");
        QVERIFY(assist);
        QTRY_VERIFY(assist->isEnabled() && assist->isVisible());
        QVERIFY(!w.imageView()->OverlayNames().contains("Matrix ROI"));

        QTest::mouseClick(assist, Qt::LeftButton);
        QVERIFY(assist->isChecked());
        QVERIFY(w.imageView()->OverlayNames().contains("Matrix ROI"));
        QTest::mouseClick(assist, Qt::LeftButton);
        QVERIFY(!w.imageView()->OverlayNames().contains("Matrix ROI"));

        QTest::mouseClick(assist, Qt::LeftButton);
        QVERIFY(w.imageView()->OverlayNames().contains("Matrix ROI"));
        QTest::mouseClick(learn->findChild<QPushButton*>("Done"), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w.imageView()->OverlayNames().contains("Matrix ROI"));
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
