#include "app/windowregistry.h"

#include "app/logging.h"
#include "app/windowroutines.h"

#include <algorithm>

namespace vm::app {

void WindowRegistry::add(WindowEntry registered) {
    Q_ASSERT(!registered.name.isEmpty() && registered.factory);
    for (WindowEntry& known : m_windows) {
        if (known.name == registered.name) {
            known = std::move(registered);
            return;
        }
    }
    m_windows.push_back(std::move(registered));
}

void WindowRegistry::addCommand(CommandEntry command) {
    for (CommandEntry& known : m_commands) {
        if (known.menu.key == command.menu.key) {
            known = std::move(command);
            return;
        }
    }
    m_commands.push_back(std::move(command));
}

void WindowRegistry::clear() {
    m_windows.clear();
    m_commands.clear();
}

bool WindowRegistry::knows(const QString& name) const {
    return entry(name) != nullptr;
}

const WindowEntry* WindowRegistry::entry(const QString& name) const {
    const auto it = std::find_if(m_windows.cbegin(), m_windows.cend(),
                                 [&](const WindowEntry& s) { return s.name == name; });
    return it == m_windows.cend() ? nullptr : &*it;
}

QStringList WindowRegistry::knownNames() const {
    QStringList names;
    for (const WindowEntry& s : m_windows)
        names.append(s.name);
    return names;
}

void WindowRegistry::track(QWidget* window) {
    if (!window)
        return;
    m_loaded.removeIf([](const QPointer<QWidget>& w) { return w.isNull(); });
    for (const auto& w : std::as_const(m_loaded))
        if (w == window)
            return;
    m_loaded.append(window);
}

void WindowRegistry::forget(QWidget* window) {
    m_loaded.removeIf([window](const QPointer<QWidget>& w) { return w.isNull() || w == window; });
}

QWidget* WindowRegistry::find(const QString& name) const {
    for (const auto& w : m_loaded)
        if (w && w->objectName() == name)
            return w;
    return nullptr;
}

QList<QWidget*> WindowRegistry::loadedWindows() const {
    QList<QWidget*> list;
    for (const auto& w : m_loaded)
        if (w)
            list.append(w);
    return list;
}

QStringList WindowRegistry::loadedWindowNames() const {
    QStringList names;
    for (QWidget* w : loadedWindows())
        if (!w->objectName().isEmpty() && !names.contains(w->objectName()))
            names.append(w->objectName());
    return names;
}

QWidget* WindowRegistry::open(const QString& name, QWidget* parent) {
    QWidget* window = find(name);
    if (!window) {
        const WindowEntry* s = entry(name);
        if (!s) {
            qCWarning(lcApp) << "no window is registered as" << name;
            return nullptr;
        }
        window = s->factory(parent);
        if (!window)
            return nullptr;
        if (window->objectName().isEmpty())
            window->setObjectName(name);
    }
    ShowRestoredWindow(window, true);
    return window;
}

bool WindowRegistry::close(const QString& name) {
    QWidget* window = find(name);
    if (!window)
        return false;
    ShowRestoredWindow(window, false);
    return true;
}

void WindowRegistry::unloadAllExcept(const QWidget* keep) {
    for (QWidget* w : loadedWindows())
        if (w != keep)
            ShowRestoredWindow(w, false);
}

void WindowRegistry::unloadReaderWindows(const QWidget* keep) {
    for (QWidget* w : loadedWindows()) {
        if (w == keep)
            continue;
        const WindowEntry* s = entry(w->objectName());
        if (s && s->followsReader)
            continue;
        ShowRestoredWindow(w, false);
    }
}

WindowRegistry& windows() {
    static WindowRegistry registry;
    return registry;
}

} // namespace vm::app
