#pragma once

// The stage of a window test: a settings store of its own, the program's windows
// registered, scripted prompts that fail on any box nobody declared, and a simulated
// reader focused and reached by a station of the test's own.
//
//     class TestThings : public QObject, protected vm::testing::WindowBench {
//         void init() { setUpBench(); }
//         void cleanup() { tearDownBench(); }
//         void aCase() {
//             startReader("Cell7", "3.0.2.1");
//             auto w = openWindow<SomeWindow>();
//             ...
//             QCOMPARE(readerValue("TRIG"), QString("T"));
//         }
//     };

#include "common/prompts.h"
#include "common/readers.h"
#include "link/connection.h"
#include "link/coordinator.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace vm::testing {

// Controls worked as the operator works them.

// Picks an entry of a list by its text; fails the running test when there is none.
void choose(QComboBox* list, const QString& text);
// Sets a box's text and leaves it, as typing and tabbing away do.
void typeAndLeave(QLineEdit* box, const QString& text);
// Gives a box the keyboard focus, types over its text and presses Tab.
void typeInto(QLineEdit* box, const QString& text);
// Selects a box's text and types over it, the box keeping the focus.
void retype(QLineEdit* box, const QString& text);
// Clicks a grid cell.
void clickCell(QTableWidget* grid, int row, int column);
// The texts a list offers, in order.
QStringList entries(const QComboBox* list);

// A named control of a window; null with a warning (which fails the test) when missing.
template <typename T>
T* child(QWidget* window, const QString& name) {
    T* control = window->findChild<T*>(name);
    if (!control)
        qWarning("no control %s", qPrintable(name));
    return control;
}

// The commands a reader received from now on, less the link's own questions when it
// connects and the stations' taking and releasing of control.
class Received {
public:
    explicit Received(sim::Reader& reader);
    QStringList lines() const;
    // The lines that begin with this keyword.
    QStringList starting(const QString& keyword) const;
    void clear() { m_spy.clear(); }

private:
    QSignalSpy m_spy;
};

class WindowBench {
protected:
    WindowBench() = default;
    ~WindowBench() = default;

    // For init(): a fresh store in the test's folder, the program's windows registered, and
    // a coordinator and a station ready for a reader.
    void setUpBench();
    // For cleanup(): checks that every declared box was shown, closes the windows and
    // leaves nothing behind for the next case.
    void tearDownBench();

    // Starts a reader, focuses it as the main window does and, unless told otherwise,
    // takes programming control for the test's station.
    void startReader(const sim::ReaderConfig& config, bool control = true);
    void startReader(const QString& name, const QString& version, bool control = true);

    // Sets a parameter on the reader through the test's station, as another program would.
    void readerHolds(const QString& command);
    // What the reader answers for a parameter.
    QString readerValue(const QString& name);

    // Shows a window the test owns, as the main window shows one.
    template <typename W, typename... Args>
    std::unique_ptr<W> openWindow(Args&&... args) {
        auto window = std::make_unique<W>(std::forward<Args>(args)...);
        window->setAttribute(Qt::WA_DeleteOnClose, false);
        window->show();
        if (!QTest::qWaitForWindowActive(window.get()))
            qWarning("the window did not become active");
        return window;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<ExpectPrompts> m_unexpectedBoxes;
    // The dialogs a case declares; each must have come up by its end.
    std::unique_ptr<ExpectDialogs> m_dialogs;
    std::unique_ptr<sim::Reader> m_reader;
    std::unique_ptr<link::Coordinator> m_coordinator;
    std::unique_ptr<link::Connection> m_conn; // the test's own station
};

} // namespace vm::testing
