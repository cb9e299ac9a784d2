#include "app/windowregistry.h"

#include "app/logging.h"
#include "app/windowroutines.h"

#include <algorithm>

namespace vm::app {

void WindowRegistry::add(WindowSpec spec) {
    Q_ASSERT(!spec.name.isEmpty() && spec.factory);
    for (WindowSpec& known : m_specs) {
        if (known.name == spec.name) {
            known = std::move(spec);
            return;
        }
    }
    m_specs.push_back(std::move(spec));
}

void WindowRegistry::addCommand(CommandSpec command) {
    for (CommandSpec& known : m_commands) {
        if (known.menu.key == command.menu.key) {
            known = std::move(command);
            return;
        }
    }
    m_commands.push_back(std::move(command));
}

void WindowRegistry::clear() {
    m_specs.clear();
    m_commands.clear();
}

bool WindowRegistry::knows(const QString& name) const {
    return spec(name) != nullptr;
}

const WindowSpec* WindowRegistry::spec(const QString& name) const {
    const auto it =
        std::find_if(m_specs.cbegin(), m_specs.cend(), [&](const WindowSpec& s) { return s.name == name; });
    return it == m_specs.cend() ? nullptr : &*it;
}

QStringList WindowRegistry::knownNames() const {
    QStringList names;
    for (const WindowSpec& s : m_specs)
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
        const WindowSpec* s = spec(name);
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
        const WindowSpec* s = spec(w->objectName());
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
