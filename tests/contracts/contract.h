#pragma once

// Contract tables: what every control of a window does to the reader, written from the
// window's description rather than from its code, and one runner that checks them all
// against a simulated reader over real sockets.
//
// A row names a control by its object name and says which reader parameter and field it
// shows, two or more values the reader accepts with what the control shows for each, and
// when the control can be used. For every row the runner
//   - puts each value on the reader, opens the window and checks what the control shows;
//   - works the control as the operator does, applies, and checks that the reader received
//     one write of that parameter in which only that field changed, and that no other
//     parameter of the reader changed;
//   - takes control away and gives it back, checking that the control follows;
//   - opens the window for a reader below the control's firmware level, where the control
//     must be absent, hidden or disabled.
//   - opens it for a reader at exactly the control's firmware level, where the control must
//     be there and usable (a row that needs the reader put in a state first is left out).
// Texts a window produces (confirmations, summaries) are checked by each table's own
// `checks`, each run as a test row of its own after the rows.

#include "app/scriptedprompts.h"
#include "common/windowbench.h"

#include <QList>
#include <QPointer>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace vm::contracts {

class Stage;

// How the operator works a control and how the runner reads what it shows.
enum class Kind {
    Check,  // a check box: shown "on" or "off"
    List,   // a drop-down list: shown is the entry's text
    Box,    // a text box: typed over and left with Tab; shown is its text
    Radios, // a group of option buttons: shown is the object name of the checked one
    Spin,   // a spin box or slider: shown is its value
    Custom, // the row's own `set` and `read`
};

// A value of the field as the reader holds it (text fields with their quotes), and what the
// control shows for it.
struct Value {
    QString word;
    QString shown;
};

// Where a control is when the reader's firmware level is below the control's. Unoffered: the
// list is there but offers none of the row's values other than the first (entries a later
// level adds). Custom: the row's `belowCheck` says.
enum class Below { Absent, Hidden, Disabled, Unoffered, Custom };

struct ControlContract {
    QString name; // the control's object name
    Kind kind = Kind::Check;
    QString parameter; // the reader parameter, with its sub-keywords ("OUTPUT BEEP")
    int field = 0;
    // At least two values the reader accepts; the first is the starting value of the write.
    QList<Value> values;
    // Only while the PC holds programming control.
    bool needsControl = true;
    // The firmware level the control exists from, and what it is below that level.
    int fromLevel = 0;
    Below below = Below::Hidden;
    // Below::Custom: checks the control in the window opened at the table's low version.
    std::function<void(Stage&)> belowCheck;
    // Below::Custom: checks that the control is offered in the window opened at exactly its level.
    std::function<void(Stage&)> atLevelCheck;
    // The reader's software version the row is checked with; empty: the window's.
    QString version;
    // Commands that put the reader in a state where the control is shown and enabled
    // (another control's setting it depends on), sent before the window opens.
    QStringList needs;
    // Controls that follow programming control in place of `name` (a group's options, when
    // their frame itself stays enabled); empty: `name`.
    QStringList followers;
    // The external light channels of the reader the row is checked with (0, 1 or 10).
    int lightChannels = 0;
    // Further fields ("PARAM:field") that the Part says one change of this control writes.
    QStringList alsoWrites;
    // Declares the boxes that working the control shows (confirmations).
    std::function<void(Stage&, const Value&)> boxes;
    // Kind::Custom: work the control to show `value`, and read what it shows.
    std::function<void(Stage&, const Value&)> set;
    std::function<QString(Stage&)> read;
};

struct WindowContract {
    QString window;                              // the registered window name
    QString version = QStringLiteral("3.0.2.1"); // a reader at which every control exists
    // A reader below some control's level; its absence is checked there (empty: none).
    QString lowVersion;
    bool immediate = false; // every change goes to the reader at once; no Apply
    // A modal page whose changes go out with this button, which closes it (empty: the
    // Apply button); each further value is worked in the window opened again.
    QString okButton;
    // The window reads programming control once, when it opens: the control rule is
    // checked in the window opened again without control and with it.
    bool controlAtOpening = false;
    // Broadcast words the window sends, in this order, after a change reached the reader.
    QStringList broadcasts;
    QStringList setup; // reader commands sent before the window first opens
    QList<ControlContract> controls;
    // Input controls of the window that show no reader field, with why (the grid's hidden
    // edit list, a button that opens another window ...).
    QStringList notFields;
    // The window's texts and derived behaviour, checked after the rows: each part is a test
    // row of its own, run on a fresh program with no reader yet, so that one part's failure
    // neither hides nor spoils the next.
    QList<std::function<void(Stage&)>> checks;
    // Opens a window that is not registered (a dialog another window opens); null: the
    // registry opens `window` as its menu item does.
    std::function<QWidget*(Stage&)> opener;
};

// The firmware level of a software version, from the reader generations' table.
int levelOf(const QString& version);

// The reader, the station and the window a table row is checked with.
class Stage : public testing::WindowBench {
public:
    Stage() = default;
    // A fresh program: no reader, no window, and the program-wide state a table may have
    // changed (calibration, verification, control password) back as at the start.
    void begin();
    void end() { tearDownBench(); }

    void start(const QString& version, bool control = true, int lightChannels = 0) {
        sim::ReaderConfig config = testing::readerConfig(QStringLiteral("Contract"), version);
        config.lightChannels = lightChannels;
        startReader(config, control);
    }
    // A reader set up by the table (a serial line, a scene ...).
    void start(const sim::ReaderConfig& config, bool control = true) { startReader(config, control); }
    sim::Reader& reader() { return *m_reader; }
    link::Connection& station() { return *m_conn; }
    testing::ExpectPrompts& unexpected() { return *m_unexpectedBoxes; }
    testing::ExpectDialogs& dialogs() { return *m_dialogs; }

    // Opens a registered window as the menu does; waits until it has loaded.
    QWidget* open(const QString& window);
    // Opens the window of a table, through its opener when it has one.
    QWidget* open(const WindowContract& contract);
    // Takes a window the test opened itself as the open window.
    QWidget* adopt(QWidget* window);
    void close();
    QWidget* window() const { return m_window; }
    // A control of the open window by object name; null when it has none.
    QWidget* control(const QString& name) const;

    // The fields of a parameter as the reader holds them.
    QStringList fields(const QString& parameter);
    // Sets one field on the reader through the test's station.
    void setField(const QString& parameter, int field, const QString& word);
    void send(const QString& command);
    // Every writable parameter of the reader, as its configuration listing.
    QStringList listing();
    void releaseControl();
    void regainControl();
    // Focuses no reader and then this one again, as the operator does when coming back to
    // it: every connection of the program is reset and the station takes control again.
    void refocus();
    // The line asks for one of the reader's parameters by its bare name; it writes nothing.
    bool isQuery(const QString& line);

    // Applies what the window collected (the Apply button); immediate windows need not.
    void apply();
    // Clicks a button of the open window by object name; it must be enabled.
    void press(const QString& button);

private:
    QPointer<QWidget> m_window;
};

// The boxes shown while it lives, kept so that a test checks each part of them (title, icon,
// buttons, what the text names) as a check of its own, where ExpectPrompts matches a whole
// box at once. A box the operator's own action brings (a confirmation) is declared with
// `answer` and answered so; every other box is answered with the choice that commits to
// nothing and kept in `shown()`, for the test to count and check.
class ShownBoxes {
public:
    ShownBoxes();
    ~ShownBoxes();
    ShownBoxes(const ShownBoxes&) = delete;
    ShownBoxes& operator=(const ShownBoxes&) = delete;

    // Boxes declared this way are answered in order, each when it is the next box shown.
    void answer(const QString& title, const QString& text, app::PromptIcon icon, app::PromptButtons buttons,
                app::PromptAnswer answer);
    // The boxes nobody declared, in the order they were shown.
    const QList<app::ScriptedPrompts::Prompt>& shown() const;
    // Declared boxes that did not come.
    qsizetype unanswered() const;
    // Every box shown that nobody declared, for a failure message.
    QString describe() const;
    void clear();

private:
    class Service;
    Service* m_service = nullptr;
    std::unique_ptr<app::PromptService> m_previous;
};

// While it lives, warnings that match `pattern` are let pass instead of failing the running
// test (tests fail on every warning): for a window that logs what went wrong besides telling
// the operator, where the log line is not what the test pins. Other warnings still fail.
class ToleratedWarnings {
public:
    explicit ToleratedWarnings(const QRegularExpression& pattern);
    ~ToleratedWarnings();
    ToleratedWarnings(const ToleratedWarnings&) = delete;
    ToleratedWarnings& operator=(const ToleratedWarnings&) = delete;
};

// A control of the open window by object name and type; a missing one is a warning, which
// fails the running test.
template <typename T>
T* find(Stage& stage, const QString& name) {
    auto* c = qobject_cast<T*>(stage.control(name));
    if (!c)
        qWarning("the window has no %s named %s", T::staticMetaObject.className(), qPrintable(name));
    return c;
}

// A row for a control bound to one field; the rest of the row keeps its defaults.
ControlContract fieldRow(const QString& name, Kind kind, const QString& parameter, int field,
                         QList<Value> values);
// Presses OK and expects it refused with this box: nothing reaches the reader and the
// dialog stays open.
void okRefused(Stage& stage, const QString& title, const QString& text, app::PromptIcon icon);

// Works a control and reads it back, by kind.
void setControl(Stage& stage, const ControlContract& row, const Value& value);
QString readControl(Stage& stage, const ControlContract& row);

// Every window's table. A window missing here fails the runner.
QList<WindowContract> allContracts();

// The tables, one function per window (tables/*.cpp).
WindowContract applicationContract();        // BasicApplication
WindowContract photometryContract();         // BasicPhotometry
WindowContract symbologyContract();          // Symbology
WindowContract learnContract();              // Learn
WindowContract tuneContract();               // BasicTune
WindowContract manufacturingContract();      // frmSettings
WindowContract outputContract();             // frmOutput
WindowContract basicOutputContract();        // BasicOutput
WindowContract matchContract();              // frmMatch
WindowContract beepContract();               // BeepControl
WindowContract ioSettingsContract();         // frmIOSettings
WindowContract ioAssignContract();           // frmIOAssign
WindowContract commSetupContract();          // dlgCommSetup
WindowContract partQueueContract();          // dlgPartQueueSetup
WindowContract pidCopyContract();            // frmPIDCopy
WindowContract compareContract();            // frmCompare
WindowContract calibrateContract();          // dlgCalibrate
WindowContract aimDpmContract();             // dlgAIMDPMCompliance
WindowContract verificationReportContract(); // VerificationReport
WindowContract terminalContract();           // BasicTerminal
WindowContract reportContract();             // BasicReport
WindowContract chartContract();              // BasicChart
WindowContract filmstripContract();          // FilmstripRecorder
WindowContract networkOverviewContract();    // NetworkOverview
WindowContract histogramContract();          // frmHisto

} // namespace vm::contracts
