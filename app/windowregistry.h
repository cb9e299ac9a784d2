#pragma once

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <vector>

namespace vm::app {

// The main window's menus. A menu shows only when it has items.
enum class Menu { None, File, Settings, Windows, Help, Test };
// The main window's toolbars that windows can place a button on.
enum class Toolbar { None, Control, View };

// When a menu item or button can be used.
enum class ItemRule {
    Always,  // also without a reader
    Reader,  // only while a reader is connected
    Control, // only while a reader is connected; asks for programming control before it acts
};

// What the menu rules look at: the focused reader as the main window sees it.
struct ReaderInfo {
    bool connected = false;
    bool serial = false;
    bool inControl = false;
    int firmwareLevel = 0;
    QString softwareVersion;
};

// Where a menu item goes. Items of a menu are ordered by position: ten times the string
// number of the item's caption ("Application Mode..." is text 202: position 2020); an
// item whose caption has no number takes a place between its neighbours (2035 between
// 2030 and 2040). A separator goes between items of different groups.
struct MenuPlace {
    Menu menu = Menu::None;
    int position = 0;
    int group = 0;
    QString key;     // the action's object name ("mnuApplication")
    QString caption; // the item's text
    ItemRule rule = ItemRule::Always;
    // Readers that have the feature; for others the item is hidden (null: every reader).
    std::function<bool(const ReaderInfo&)> supports;
    // The window to open when it depends on the reader (null: the window itself).
    std::function<QString(const ReaderInfo&)> target;
};

// Where a toolbar button goes; ordered by position on its toolbar.
struct ToolPlace {
    Toolbar bar = Toolbar::None;
    int position = 0;
    QString key; // the button's object name ("photometry")
    QString caption;
    QString tooltip;
    QString image; // icon key
    // Down while the window is open; pressing it up closes the window.
    bool toggles = false;
    // Control toolbar: "serial" or "network" buttons show only for that kind of reader.
    QString tag = QStringLiteral("both");
    ItemRule rule = ItemRule::Always;
};

// Everything the program knows about one of its windows.
struct WindowEntry {
    using Factory = std::function<QWidget*(QWidget* parent)>;

    QString name; // programmatic name: keys its metrics and the open-window list
    Factory factory;
    MenuPlace menu;
    ToolPlace button;
    // Stays open when another reader is focused (it follows whichever is focused).
    bool followsReader = false;
    // Opened again at start when it was open at the last exit.
    bool reopensAtStart = false;
};

// A menu command that is not a window of its own (saving the configuration, restoring
// defaults); it runs with the main window.
struct CommandEntry {
    MenuPlace menu;
    std::function<void(QWidget* mainWindow)> run;
    // A submenu in place of one item ("Restore Defaults" > "Decoder", ...): the item's
    // rule holds for each of them, and run is not used.
    struct Item {
        QString key;
        QString caption;
        std::function<void(QWidget* mainWindow)> run;
    };
    std::vector<Item> items;
};

// The windows the program can open, and the windows it has loaded. Filled once at start
// by registerWindows(); the menus, toolbars, the open-window list and the windows kept
// open when the focus moves all read it.
class WindowRegistry {
public:
    void add(WindowEntry registered);
    void addCommand(CommandEntry command);
    // Forgets every window and command (a test that builds its own list).
    void clear();

    bool knows(const QString& name) const;
    const WindowEntry* entry(const QString& name) const;
    QStringList knownNames() const;
    const std::vector<WindowEntry>& windowEntries() const { return m_windows; }
    const std::vector<CommandEntry>& commands() const { return m_commands; }

    // Notes a loaded window; it leaves the list when it is destroyed.
    void track(QWidget* window);
    // Takes an unloaded window off the list at once (its deletion may come later).
    void forget(QWidget* window);
    QWidget* find(const QString& name) const;
    // Loaded windows in the order they were loaded.
    QList<QWidget*> loadedWindows() const;
    QStringList loadedWindowNames() const;

    // Finds the loaded window of this name or creates it (null for an unknown name), then
    // shows it at its stored place.
    QWidget* open(const QString& name, QWidget* parent);
    // Unloads a loaded window of this name; false when none was loaded.
    bool close(const QString& name);
    // Unloads every loaded window except `keep`.
    void unloadAllExcept(const QWidget* keep);
    // Unloads the windows that belong to the reader being left: all but `keep` and the
    // windows that follow whichever reader is focused.
    void unloadReaderWindows(const QWidget* keep);

private:
    std::vector<WindowEntry> m_windows;
    std::vector<CommandEntry> m_commands;
    QList<QPointer<QWidget>> m_loaded;
};

WindowRegistry& windows();

// Registers every window of the program; called once at start, before the main window
// is built.
void registerWindows(WindowRegistry& registry);

} // namespace vm::app
