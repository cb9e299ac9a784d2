// The main window's menus and toolbars: its own commands and the windows of the registry,
// each at its place, and the rules that enable and show them for the focused reader.
#include "shell/basicinterface.h"

#include "app/programstate.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "resources/icons.h"
#include "resources/strings.h"

#include <QActionGroup>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace vm::shell {

using namespace vm::app;
using vm::res::Str;

namespace {

// The menus in the order of the menu bar, with their captions' string numbers.
struct MenuTitle {
    Menu menu;
    int caption;
    const char* name;
};
constexpr MenuTitle kMenus[] = {
    {Menu::File, 101, "mnuFile"}, {Menu::Settings, 201, "mnuSettings"}, {Menu::Windows, 301, "mnuWindows"},
    {Menu::Help, 401, "mnuHelp"}, {Menu::Test, 501, "mnuTest"},
};

MenuPlace place(Menu menu, int position, int group, const QString& key, const QString& caption,
                ItemRule rule = ItemRule::Always) {
    MenuPlace p;
    p.menu = menu;
    p.position = position;
    p.group = group;
    p.key = key;
    p.caption = caption;
    p.rule = rule;
    return p;
}

} // namespace

// One item of a menu: where it goes, and how it is put into the menu.
struct BasicInterface::MenuEntry {
    MenuPlace place;
    std::function<QAction*(QMenu* menu)> make;
};

// One button of the control toolbar.
struct BasicInterface::ToolEntry {
    int position;
    std::function<void()> add;
};

QAction* BasicInterface::addAction(QMenu* menu, const QString& key, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(key);
    m_actions.insert(key, action);
    return action;
}

ReaderInfo BasicInterface::readerInfo() const {
    ReaderInfo info;
    info.connected = m_iconn && m_iconn->Connected();
    info.inControl = info.connected && m_iconn->HasControl();
    info.serial = isFocusedSerial();
    info.firmwareLevel = firmwareLevel();
    if (vm::link::Device* device = m_coord ? m_coord->FocusedDevice() : nullptr)
        info.softwareVersion = device->SoftwareVersion();
    return info;
}

void BasicInterface::openWindow(const MenuPlace& place, const QString& window) {
    if (place.rule == ItemRule::Control && !EnsureControl())
        return;
    const QString name = place.target ? place.target(readerInfo()) : window;
    windows().open(name, this);
}

QList<BasicInterface::MenuEntry> BasicInterface::ownMenuEntries() {
    QList<MenuEntry> entries;
    auto command = [this](void (BasicInterface::*slot)()) {
        return [this, slot](QMenu* menu, const QString& key, const QString& text) {
            QAction* action = addAction(menu, key, text);
            connect(action, &QAction::triggered, this, slot);
            return action;
        };
    };
    auto add = [&](MenuPlace p, auto make) {
        const QString key = p.key, caption = p.caption;
        entries.append(
            {std::move(p), [make, key, caption](QMenu* menu) { return make(menu, key, caption); }});
    };

    add(place(Menu::File, 1110, 2, QStringLiteral("mnuSaveImage"), Str(111)),
        command(&BasicInterface::SaveCurrentImage));
    add(place(Menu::File, 1120, 2, QStringLiteral("mnuLoadImages"), Str(112), ItemRule::Reader),
        command(&BasicInterface::UseImageFiles));
    add(place(Menu::File, 1130, 2, QStringLiteral("mnuUseCamera"), Str(113), ItemRule::Reader),
        command(&BasicInterface::UseCamera));
    add(place(Menu::File, 1140, 3, QStringLiteral("mnuPreferences"), Str(114)),
        command(&BasicInterface::ShowPreferences));
    add(place(Menu::File, 1150, 4, QStringLiteral("mnuExit"), Str(115)),
        [this](QMenu* menu, const QString& key, const QString& text) {
            QAction* exit = addAction(menu, key, text);
            exit->setShortcut(QKeySequence::Quit);
            connect(exit, &QAction::triggered, this, &QWidget::close);
            return exit;
        });

    add(place(Menu::Settings, 2080, 2, QStringLiteral("mnuLaser"), Str(208), ItemRule::Reader),
        [this](QMenu* menu, const QString& key, const QString& text) {
            m_laserMenu = menu->addMenu(text);
            m_laserMenu->setObjectName(key);
            m_laserGroup = new QActionGroup(this);
            const std::pair<const char*, QString> laserItems[] = {
                {"OFF", Str(20107)}, {"ON", Str(20108)}, {"T", Str(20235)}};
            for (const auto& [value, caption] : laserItems) {
                const QString v = QString::fromLatin1(value);
                QAction* item = addAction(m_laserMenu, key + v, caption);
                item->setCheckable(true);
                item->setData(v);
                m_laserGroup->addAction(item);
                connect(item, &QAction::triggered, this, [this, v] { SetLaser(v); });
            }
            return m_laserMenu->menuAction();
        });
    add(place(Menu::Settings, 2090, 2, QStringLiteral("mnuBeeper"), Str(209), ItemRule::Reader),
        [this](QMenu* menu, const QString& key, const QString& text) {
            QAction* beeper = addAction(menu, key, text);
            beeper->setCheckable(true);
            connect(beeper, &QAction::triggered, this, &BasicInterface::ToggleBeeper);
            return beeper;
        });
    add(place(Menu::Settings, 2100, 2, QStringLiteral("mnuResetStatistics"), Str(210), ItemRule::Reader),
        command(&BasicInterface::ResetStatistics));

    add(place(Menu::Test, 5020, 0, QStringLiteral("mnuHistogram"), Str(502)),
        command(&BasicInterface::ShowHistogramWindow));
    add(place(Menu::Test, 5030, 0, QStringLiteral("mnuCrosshairs"), Str(503)),
        [this](QMenu* menu, const QString& key, const QString& text) {
            QAction* crosshairs = addAction(menu, key, text);
            crosshairs->setCheckable(true);
            connect(crosshairs, &QAction::toggled, this, &BasicInterface::toggleCrosshairs);
            return crosshairs;
        });
    add(place(Menu::Test, 5040, 0, QStringLiteral("mnuFramesPerSecond"), Str(504)),
        [this](QMenu* menu, const QString& key, const QString& text) {
            QAction* fps = addAction(menu, key, text);
            fps->setCheckable(true);
            connect(fps, &QAction::toggled, this, &BasicInterface::toggleFramesPerSecond);
            return fps;
        });
    return entries;
}

void BasicInterface::buildMenus() {
    QList<MenuEntry> entries = ownMenuEntries();
    for (const WindowEntry& registered : windows().windowEntries()) {
        if (registered.menu.menu == Menu::None)
            continue;
        const QString window = registered.name;
        const MenuPlace p = registered.menu;
        entries.append({p, [this, p, window](QMenu* menu) {
                            QAction* action = addAction(menu, p.key, p.caption);
                            connect(action, &QAction::triggered, this,
                                    [this, p, window] { openWindow(p, window); });
                            return action;
                        }});
    }
    for (const CommandEntry& command : windows().commands()) {
        const MenuPlace p = command.menu;
        auto connectRun = [this, p](QAction* action, std::function<void(QWidget*)> run) {
            connect(action, &QAction::triggered, this, [this, p, run] {
                if (p.rule == ItemRule::Control && !EnsureControl())
                    return;
                run(this);
            });
        };
        const auto run = command.run;
        const auto items = command.items;
        entries.append({p, [this, p, run, items, connectRun](QMenu* menu) {
                            if (items.empty()) {
                                QAction* action = addAction(menu, p.key, p.caption);
                                connectRun(action, run);
                                return action;
                            }
                            QMenu* submenu = menu->addMenu(p.caption);
                            submenu->setObjectName(p.key);
                            m_actions.insert(p.key, submenu->menuAction());
                            for (const CommandEntry::Item& item : items)
                                connectRun(addAction(submenu, item.key, item.caption), item.run);
                            return submenu->menuAction();
                        }});
    }
    std::stable_sort(entries.begin(), entries.end(), [](const MenuEntry& a, const MenuEntry& b) {
        return a.place.position < b.place.position;
    });

    for (const MenuTitle& title : kMenus) {
        QMenu* menu = nullptr;
        int group = 0;
        for (const MenuEntry& entry : std::as_const(entries)) {
            if (entry.place.menu != title.menu)
                continue;
            if (!menu) {
                menu = menuBar()->addMenu(Str(title.caption));
                menu->setObjectName(QLatin1String(title.name));
                group = entry.place.group;
            } else if (entry.place.group != group) {
                menu->addSeparator();
                group = entry.place.group;
            }
            QAction* action = entry.make(menu);
            m_menuRules.append({action, entry.place});
        }
        if (title.menu == Menu::Test && menu) {
            m_testMenu = menu;
            m_testMenuAction = menu->menuAction();
            m_testMenuAction->setVisible(false);
        }
    }
    setReaderMenusEnabled(false);
}

void BasicInterface::setReaderMenusEnabled(bool connected) {
    ReaderInfo info = readerInfo();
    info.connected = connected;
    for (const auto& [action, p] : std::as_const(m_menuRules)) {
        // An item for a feature the reader lacks goes; without a reader it stays, unusable.
        action->setVisible(!connected || !p.supports || p.supports(info));
        action->setEnabled(p.rule == ItemRule::Always || connected);
    }
    for (auto it = m_toolRules.cbegin(); it != m_toolRules.cend(); ++it)
        it.key()->setEnabled(it.value() == ItemRule::Always || connected);
}

QAction* BasicInterface::addToolButton(const ToolPlace& p) {
    QAction* action = m_controlToolbar->addAction(vm::res::Icon(p.image), p.caption);
    action->setObjectName(p.key);
    action->setToolTip(p.tooltip.isEmpty() ? p.caption : p.tooltip);
    action->setCheckable(p.toggles);
    m_toolActions.insert(p.key, action);
    m_toolTags.insert(action, p.tag);
    if (auto* button = qobject_cast<QToolButton*>(m_controlToolbar->widgetForAction(action))) {
        button->setAccessibleName(p.caption);
        m_toolButtons.insert(p.key, button);
    }
    return action;
}

void BasicInterface::connectWindowButton(QAction* action, const ToolPlace& p, const QString& window) {
    if (!p.toggles) {
        MenuPlace rule;
        rule.rule = p.rule;
        connect(action, &QAction::triggered, this, [this, rule, window] { openWindow(rule, window); });
        return;
    }
    m_windowButtons.insert(action, window);
    connect(action, &QAction::toggled, this, [this, action, rule = p.rule, window](bool down) {
        QWidget* open = windows().find(window);
        if (down && !open) {
            MenuPlace p;
            p.rule = rule;
            openWindow(p, window);
            // Refused (no control): the button goes up again.
            if (!windows().find(window)) {
                const QSignalBlocker block(action);
                action->setChecked(false);
            }
        } else if (!down && open) {
            ShowRestoredWindow(open, false);
        }
    });
}

void BasicInterface::buildControlToolbar() {
    m_controlToolbar = new QToolBar(Str(20236), this);
    m_controlToolbar->setObjectName(QStringLiteral("ControlToolbar"));
    vm::app::nameToolbar(m_controlToolbar, Str(20236));
    m_controlToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_controlToolbar->setIconSize(QSize(24, 24));
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_controlToolbar);

    auto button = [](const QString& key, const QString& caption, const QString& tip, const QString& image,
                     const QString& tag, bool toggles) {
        ToolPlace p;
        p.bar = Toolbar::Control;
        p.key = key;
        p.caption = caption;
        p.tooltip = tip;
        p.image = image;
        p.tag = tag;
        p.toggles = toggles;
        return p;
    };
    auto addList = [this](const QString& key, QComboBox* list, const QString& tag) {
        QAction* action = m_controlToolbar->addWidget(list);
        action->setObjectName(key);
        m_toolActions.insert(key, action);
        m_toolTags.insert(action, tag);
    };

    QList<ToolEntry> entries;
    entries.append({10, [=, this] {
                        QAction* reports =
                            addToolButton(button(QStringLiteral("reports"), Str(1525), Str(1535),
                                                 QStringLiteral("report"), "serial", true));
                        connect(reports, &QAction::toggled, this, &BasicInterface::reportsButtonToggled);
                    }});
    entries.append({20, [=, this] {
                        m_reportFilter = new QComboBox(m_controlToolbar);
                        m_reportFilter->setObjectName(QStringLiteral("ReportFilter"));
                        m_reportFilter->addItems({Str(1542), Str(1543)});
                        m_reportFilter->setToolTip(Str(1549));
                        m_reportFilter->setAccessibleName(Str(1549));
                        addList(QStringLiteral("reportfilter"), m_reportFilter, QStringLiteral("serial"));
                    }});
    entries.append({30, [=, this] {
                        QAction* images = addToolButton(button(QStringLiteral("images"), Str(1526), Str(1536),
                                                               QStringLiteral("live"), "serial", true));
                        m_imagesMenu = new QMenu(this);
                        m_imagesMenu->setObjectName(QStringLiteral("mnuImages"));
                        QAction* oneImage = m_imagesMenu->addAction(Str(1527));
                        oneImage->setObjectName(QStringLiteral("oneimage"));
                        QAction* hookImages = m_imagesMenu->addAction(Str(1526));
                        hookImages->setObjectName(QStringLiteral("hookimages"));
                        connect(oneImage, &QAction::triggered, this,
                                [this] { imagesMenuChosen(QStringLiteral("oneimage")); });
                        connect(hookImages, &QAction::triggered, this,
                                [this] { imagesMenuChosen(QStringLiteral("hookimages")); });
                        images->setMenu(m_imagesMenu);
                        if (QToolButton* b = m_toolButtons.value(QStringLiteral("images")))
                            b->setPopupMode(QToolButton::MenuButtonPopup);
                        connect(images, &QAction::toggled, this, &BasicInterface::imagesButtonToggled);
                    }});
    entries.append({40, [=, this] {
                        m_compression = new QComboBox(m_controlToolbar);
                        m_compression->setObjectName(QStringLiteral("Compression"));
                        for (int id = 1544; id <= 1548; ++id)
                            m_compression->addItem(Str(id));
                        m_compression->setToolTip(Str(1550));
                        m_compression->setAccessibleName(Str(1550));
                        addList(QStringLiteral("compression"), m_compression, QStringLiteral("serial"));
                    }});
    entries.append({50, [=, this] {
                        QAction* live = addToolButton(button(QStringLiteral("live"), Str(1529), QString(),
                                                             QStringLiteral("live"), "network", true));
                        connect(live, &QAction::toggled, this, &BasicInterface::liveButtonToggled);
                    }});
    entries.append({80, [=, this] {
                        QAction* roi = addToolButton(button(QStringLiteral("roi"), Str(1532), Str(1538),
                                                            QStringLiteral("roi"), "both", true));
                        connect(roi, &QAction::toggled, this, &BasicInterface::roiButtonToggled);
                    }});
    entries.append({90, [=, this] {
                        QAction* imageFiles =
                            addToolButton(button(QStringLiteral("imagefile"), Str(20237), Str(1539),
                                                 QStringLiteral("tif"), "none", false));
                        connect(imageFiles, &QAction::triggered, this, &BasicInterface::UseImageFiles);
                    }});
    entries.append({100, [=, this] {
                        QAction* useCam =
                            addToolButton(button(QStringLiteral("usecam"), Str(20238), Str(1540),
                                                 QStringLiteral("cam"), "none", false));
                        connect(useCam, &QAction::triggered, this, &BasicInterface::UseCamera);
                    }});
    // The photometry and learn buttons, and any other window's, arrive with their windows.
    for (const WindowEntry& registered : windows().windowEntries()) {
        if (registered.button.bar != Toolbar::Control)
            continue;
        const ToolPlace p = registered.button;
        const QString window = registered.name;
        entries.append({p.position, [this, p, window] {
                            QAction* action = addToolButton(p);
                            connectWindowButton(action, p, window);
                            m_toolRules.insert(action, p.rule);
                        }});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ToolEntry& a, const ToolEntry& b) { return a.position < b.position; });
    for (const ToolEntry& entry : std::as_const(entries))
        entry.add();
}

void BasicInterface::buildViewToolbar() {
    std::vector<const WindowEntry*> views;
    for (const WindowEntry& registered : windows().windowEntries())
        if (registered.button.bar == Toolbar::View)
            views.push_back(&registered);
    std::stable_sort(views.begin(), views.end(), [](const WindowEntry* a, const WindowEntry* b) {
        return a->button.position < b->button.position;
    });
    for (const WindowEntry* registered : views) {
        if (!m_viewToolbar) {
            m_viewToolbar = new QToolBar(Str(20239), this);
            m_viewToolbar->setObjectName(QStringLiteral("ViewToolbar"));
            vm::app::nameToolbar(m_viewToolbar, Str(20239));
            m_viewToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
            m_viewToolbar->setIconSize(QSize(24, 24));
            // Built before the control toolbar, the view buttons share the first row with the
            // cameras: the control row is full with a serial reader's buttons, and would hide
            // them behind its overflow.
            addToolBar(Qt::TopToolBarArea, m_viewToolbar);
        }
        ToolPlace p = registered->button;
        p.toggles = true; // down while its window is open
        QAction* action =
            m_viewToolbar->addAction(vm::res::Icon(p.image.isEmpty() ? p.key : p.image), p.caption);
        action->setObjectName(QStringLiteral("view:") + p.key);
        action->setData(registered->name);
        action->setToolTip(p.tooltip.isEmpty() ? p.caption : p.tooltip);
        action->setCheckable(true);
        if (auto* b = qobject_cast<QToolButton*>(m_viewToolbar->widgetForAction(action)))
            b->setAccessibleName(p.caption);
        connectWindowButton(action, p, registered->name);
        m_toolRules.insert(action, p.rule);
    }
}

void BasicInterface::syncWindowButtons() {
    // A window button is down while its window is open, however the window was closed.
    for (auto it = m_windowButtons.cbegin(); it != m_windowButtons.cend(); ++it) {
        const bool open = windows().find(it.value()) != nullptr;
        if (it.key()->isChecked() != open) {
            const QSignalBlocker block(it.key());
            it.key()->setChecked(open);
        }
    }
}

} // namespace vm::shell
