#pragma once

#include "tools/monitorwindow.h"

class QLabel;
class QLineEdit;

namespace vm::display {
class Terminal;
class Cameras;
class FindBox;
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

// The readers on the network: the camera overview control, filling the window under a
// filter line, which widens the window when its columns need more room. Typing part of a
// name, an address or a station in the filter narrows the rows to the readers that have
// it; the line beside it says how many of how many are shown.
class NetworkOverview final : public MonitorWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "NetworkOverview";
    // What the window adds to the overview's content width, in twips.
    static constexpr int kExtraWidthTwips = 158 + 20 + 320;

    explicit NetworkOverview(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    vm::display::Cameras* cameras() const { return m_ctl; }
    QLineEdit* filter() const;
    QLabel* countLabel() const { return m_count; }

private:
    void contentResized();
    void countsChanged(int shown, int total);

    vm::display::Cameras* m_ctl = nullptr;
    vm::display::FindBox* m_filter = nullptr;
    QLabel* m_count = nullptr;
};

} // namespace vm::tools
