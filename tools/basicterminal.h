#pragma once

#include "tools/monitorwindow.h"

namespace vm::display {
class Terminal;
class Cameras;
} // namespace vm::display

namespace vm::tools {

// A raw terminal to the focused reader: the terminal control, filling the window.
class BasicTerminal final : public MonitorWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicTerminal";

    explicit BasicTerminal(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    vm::display::Terminal* terminal() const { return m_ctl; }

private:
    vm::display::Terminal* m_ctl = nullptr;
};

// The readers on the network: the camera overview control, filling the window, which
// widens the window when its columns need more room.
class NetworkOverview final : public MonitorWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "NetworkOverview";
    // What the window adds to the overview's content width, in twips.
    static constexpr int kExtraWidthTwips = 158 + 20 + 320;

    explicit NetworkOverview(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    vm::display::Cameras* cameras() const { return m_ctl; }

private:
    void contentResized();

    vm::display::Cameras* m_ctl = nullptr;
};

} // namespace vm::tools
