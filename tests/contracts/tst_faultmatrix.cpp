// The fault matrix: every registered window against five ways an apply goes wrong. The
// operator changes one setting (a plain row of the window's contract table) and applies it,
// and the reader garbles its answer, does not answer, refuses, drops the link, or another
// station takes programming control first. For each, the window must
//   - show no success for what did not happen (OK does not close it, the apply reports
//     failure, no box claims the change went through);
//   - write nothing the operator did not set (the reader received at most that one write,
//     whole, and nothing for a change that never left the window);
//   - tell the operator, naming the parameter (and the reader's reason for a refusal);
//   - be right again after the next connection reset: it shows what the reader holds, and
//     a change then goes through as usual.
// Windows that write nothing are checked on what they read, or skipped with the reason.
#include "app/windowregistry.h"
#include "common/waits.h"
#include "contracts/contract.h"
#include "contracts/tables/monitoring.h"
#include "link/connection.h"
#include "settings/settingswindow.h"
#include "shell/frmpidcopy.h"
#include "sim/parameterstore.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <optional>
#include <utility>

using namespace vm;
using contracts::ControlContract;
using contracts::ShownBoxes;
using contracts::Stage;
using contracts::Value;
using contracts::WindowContract;
using settings::SettingsWindow;

namespace {

enum class Fault { Malformed, Silent, Refused, Drop, ControlTaken };

struct FaultName {
    Fault fault;
    const char* name;
};
const FaultName kFaults[] = {
    {Fault::Malformed, "malformed"}, {Fault::Silent, "missing"},       {Fault::Refused, "refused"},
    {Fault::Drop, "dropped"},        {Fault::ControlTaken, "control"},
};

sim::ReplyFault replyFault(Fault fault) {
    switch (fault) {
    case Fault::Malformed:
        return sim::ReplyFault::Malformed;
    case Fault::Silent:
        return sim::ReplyFault::Silent;
    case Fault::Refused:
        return sim::ReplyFault::Refused;
    case Fault::Drop:
        return sim::ReplyFault::Drop;
    case Fault::ControlTaken:
        break;
    }
    return sim::ReplyFault::None;
}

// The reader carries out a command whose reply is garbled or missing; a refused or dropped
// one it leaves undone.
bool carriedOut(Fault fault) {
    return fault == Fault::Malformed || fault == Fault::Silent;
}

const QString kOtherStation = QStringLiteral("OTHER-PC");
const QString kRefusal = QStringLiteral("refused by the reader: the value cannot be applied now");
const QString kNotAccepted = QStringLiteral("The camera did not accept these settings:\r\n");
QString lostControlText(const QString& names) {
    return QStringLiteral("Programming control of the camera was lost. These changes were not sent: %1.")
        .arg(names);
}

// The checks of a matrix row, each of which a window may fail on its own.
enum class Check {
    StaysOpen,     // OK leaves the window open
    AppliedFalse,  // the apply reports failure (never success)
    OnlyThatWrite, // the reader received at most the one write, whole
    OneBox,        // exactly one box tells the operator (none where nothing was pending)
    BoxTitle,
    BoxIcon,
    BoxButtons,
    BoxNames,      // the box names the parameter
    BoxText,       // the settings base's own words
    BoxReason,     // a refusal's box carries the reader's explanation
    Reverts,       // a window that sends at once shows what the reader holds right after
    Disabled,      // without control the control cannot be worked
    ControlBack,   // with control back, the window's change can be applied again
    QuietReset,    // the connection reset shows no box
    ShowsReader,   // after the reset the control shows what the reader holds
    WorksAgain,    // after the reset a change can be made and reaches the reader
    AgainOneWrite, // ... as its one whole write
    AgainQuiet,    // ... with no box, and the apply reports success
    NoClaim,       // no text in the window says the command was carried out
    Told,          // (terminal) the lines shown after the command say what went wrong
    Greyed,        // (unread) the control of a parameter the reader did not answer cannot be worked
    NeverWritten,  // (unread) a parameter the reader did not answer is never written
    QuietApply,    // (unread) applying another change shows no box about the unread one
    OtherGoesOut,  // (unread) another change of the window still reaches the reader
    LeftBehind,    // (refused) closed unsent, a refused change goes out with no later change
    NoInvented,    // (read side) nothing shown that the reader did not send
    SaysUnread,    // (read side) the window names what it could not read
};

// A check of a matrix row; a failure names the check and what was seen.
#define MATRIX_VERIFY(check, condition, detail)                                                              \
    do {                                                                                                     \
        if (!QTest::qVerify(static_cast<bool>(condition), #condition,                                        \
                            qPrintable(QStringLiteral(#check ": ") + (detail)), __FILE__, __LINE__))         \
            return;                                                                                          \
    } while (false)

// Registered windows that are not put through the faults, with why.
const QHash<QString, QString> kSkipped = {
    {QStringLiteral("frmAbout"), QStringLiteral("shows the program's version; reads and writes no reader")},
    {QStringLiteral("frmLog"), QStringLiteral("shows the program's log; reads and writes no reader")},
    {QStringLiteral("BasicChart"),
     QStringLiteral("charts the records the reader pushes; sends no command a reply fault could reach")},
    {QStringLiteral("HistoryWindow"),
     QStringLiteral("shows what the history file holds; sends no command a reply fault could reach")},
    {QStringLiteral("FilmstripRecorder"),
     QStringLiteral("keeps the records the reader pushes; sends no command a reply fault could reach")},
    {QStringLiteral("NetworkOverview"),
     QStringLiteral("lists the readers discovery finds; sends no command a reply fault could reach")},
    {QStringLiteral("VerificationReport"),
     QStringLiteral("draws the grades of the records the reader pushes; sends no command a reply fault "
                    "could reach")},
};

// The row a window is put through the faults with: the first plain one (one field, no box
// of its own, no other field written with it) that exists at the table's level.
const ControlContract* faultRow(const WindowContract& w) {
    const int level = contracts::levelOf(w.version);
    for (const ControlContract& c : w.controls) {
        if (c.boxes || !c.alsoWrites.isEmpty() || !c.version.isEmpty() || c.lightChannels != 0 ||
            c.fromLevel > level || c.values.size() < 2 || c.values[0].word == c.values[1].word)
            continue;
        return &c;
    }
    return nullptr;
}

// A second plain row for `first`'s window: another parameter, whose first word differs so that
// a fault waiting for the first one's word does not meet it, and which does not depend on the
// first one's parameter.
const ControlContract* otherRow(const WindowContract& w, const ControlContract& first) {
    const int level = contracts::levelOf(w.version);
    const QString keyword = first.parameter.section(QLatin1Char(' '), 0, 0);
    const ControlContract* found = nullptr;
    for (const ControlContract& c : w.controls) {
        if (c.boxes || !c.alsoWrites.isEmpty() || !c.version.isEmpty() || c.lightChannels != 0 ||
            c.fromLevel > level || c.values.size() < 2 || c.values[0].word == c.values[1].word ||
            c.parameter.section(QLatin1Char(' '), 0, 0) == keyword)
            continue;
        // Not one that exists only with a setting of the first one's parameter.
        bool depends = false;
        for (const QString& command : c.needs)
            depends = depends || command.section(QLatin1Char(' '), 0, 0) == keyword;
        if (depends)
            continue;
        // One that needs no other setting first, where there is one.
        if (c.needs.isEmpty())
            return &c;
        if (!found)
            found = &c;
    }
    return found;
}

QString shownFor(const ControlContract& row, const QString& word) {
    for (const Value& v : row.values)
        if (v.word == word)
            return v.shown;
    return QStringLiteral("(no value %1 in the table)").arg(word);
}

// A window whose operator action sends a command rather than a parameter of its table.
struct CommandCase {
    QString keyword;                      // the word the fault waits for
    QString line;                         // what the action writes
    QStringList reads;                    // beginnings of lines that only read (besides bare parameter names)
    bool closes = false;                  // success closes the window
    bool closesAnyway = false;            // ... and so does a failure, once told
    QString status;                       // a label that must not claim success ...
    QString claim;                        // ... with these words
    bool typedByHand = false;             // the operator's own line: sent whoever holds control
    std::function<void(Stage&)> setup;    // the reader, before the window opens
    std::function<QWidget*(Stage&)> open; // the window, ready for the action
    std::function<bool(Stage&)> canAct;   // the action can be taken now
    std::function<void(Stage&, ShownBoxes&)> act; // the action, with the boxes it brings declared
    std::function<void(Stage&)> again;            // the reader ready for the action once more
    // How the operator is told, where it is not a box (the terminal's lines).
    std::function<void(Stage&, Fault)> told;
};

template <typename T>
T* get(Stage& stage, const char* name) {
    return qobject_cast<T*>(stage.control(QLatin1String(name)));
}

QAbstractButton* button(Stage& stage, const char* name) {
    return get<QAbstractButton>(stage, name);
}

QStringList terminalLines(Stage& stage) {
    auto* out = get<QPlainTextEdit>(stage, "TerminalOutput");
    return out ? out->toPlainText().split(QLatin1Char('\n')) : QStringList();
}

QHash<QString, CommandCase> commandCases(const QString& folder) {
    QHash<QString, CommandCase> cases;

    CommandCase learn;
    learn.keyword = QStringLiteral("UNLEARN");
    learn.line = QStringLiteral("UNLEARN");
    learn.status = QStringLiteral("Status");
    learn.claim = QStringLiteral("command sent");
    learn.setup = [](Stage& stage) { stage.start(QStringLiteral("3.0.2.1")); };
    learn.open = [](Stage& stage) -> QWidget* {
        QWidget* w = stage.open(QStringLiteral("Learn"));
        // Undo the decoder's learn only.
        if (auto* option = button(stage, "LearnOption(1)"))
            option->click();
        return w;
    };
    learn.canAct = [](Stage& stage) {
        return button(stage, "Unlearn") && button(stage, "Unlearn")->isEnabled();
    };
    learn.act = [](Stage& stage, ShownBoxes&) { button(stage, "Unlearn")->click(); };
    cases.insert(QStringLiteral("Learn"), learn);

    CommandCase copy;
    copy.keyword = QStringLiteral("STORE");
    copy.line = QStringLiteral("STORE 5");
    copy.closes = true;
    copy.closesAnyway = true;
    copy.setup = [](Stage& stage) { stage.start(QStringLiteral("3.0.2.1")); };
    copy.open = [](Stage& stage) -> QWidget* {
        // As the File menu opens it for a copy to a PID.
        auto* w = new shell::frmPIDCopy(nullptr);
        w->SetDirection(true);
        w->show();
        stage.adopt(w);
        const auto items = w->pidList()->findItems(QStringLiteral("5"), Qt::MatchExactly);
        if (items.size() == 1)
            w->pidList()->setCurrentItem(items.first());
        return w;
    };
    copy.canAct = [](Stage& stage) { return button(stage, "OK") && button(stage, "OK")->isEnabled(); };
    copy.act = [](Stage& stage, ShownBoxes&) { button(stage, "OK")->click(); };
    cases.insert(QStringLiteral("frmPIDCopy"), copy);

    CommandCase compare;
    compare.keyword = QStringLiteral("BARQZ");
    compare.line = QStringLiteral("BARQZ 10");
    compare.reads = {QStringLiteral("SHOW")};
    const QString file = folder + QStringLiteral("/before.lcf");
    compare.setup = [file](Stage& stage) {
        stage.start(QStringLiteral("3.0.2.1"));
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write((stage.listing().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
        f.close();
        stage.send(QStringLiteral("BARQZ 40"));
    };
    compare.open = [file](Stage& stage) -> QWidget* {
        QWidget* w = stage.open(QStringLiteral("frmCompare"));
        if (auto* box = get<QLineEdit>(stage, "txtRightFile"))
            testing::typeInto(box, file);
        return w;
    };
    // The reader beside the file: the one field that differs, ticked.
    const auto compareAndTick = [](Stage& stage) {
        if (auto* b = get<QPushButton>(stage, "btnCompare"))
            b->click();
        auto* grid = get<QTableWidget>(stage, "grdDifferences");
        for (int r = 0; grid && r < grid->rowCount(); ++r)
            if (grid->item(r, 0)->text() == QLatin1String("BARQZ") &&
                (grid->item(r, 0)->flags() & Qt::ItemIsUserCheckable))
                grid->item(r, 0)->setCheckState(Qt::Checked);
    };
    compare.canAct = [compareAndTick](Stage& stage) {
        compareAndTick(stage);
        auto* send = get<QPushButton>(stage, "btnSend");
        return send && send->isEnabled();
    };
    compare.act = [](Stage& stage, ShownBoxes&) { get<QPushButton>(stage, "btnSend")->click(); };
    compare.again = [](Stage& stage) { stage.send(QStringLiteral("BARQZ 40")); };
    cases.insert(QStringLiteral("frmCompare"), compare);

    CommandCase report;
    report.keyword = QStringLiteral("STATS");
    report.line = QStringLiteral("STATS RESET");
    report.setup = [](Stage& stage) {
        contracts::monitoring::startQuietReader(stage, QStringLiteral("FAULTS"));
        contracts::monitoring::Records records;
        QVERIFY(records.cycle(stage));
    };
    report.open = [](Stage& stage) { return stage.open(QStringLiteral("BasicReport")); };
    report.canAct = [](Stage& stage) {
        auto* reset = stage.window()->findChild<QAction*>(QStringLiteral("clearcounters"));
        return reset && reset->isEnabled();
    };
    report.act = [](Stage& stage, ShownBoxes& boxes) {
        boxes.answer(QLatin1String(app::DefaultPromptTitle),
                     QStringLiteral("Are you sure you want to reset the camera statistics?"),
                     app::PromptIcon::Question, app::PromptButtons::YesNo, app::PromptAnswer::Yes);
        stage.window()->findChild<QAction*>(QStringLiteral("clearcounters"))->trigger();
    };
    cases.insert(QStringLiteral("BasicReport"), report);

    CommandCase terminal;
    terminal.keyword = QStringLiteral("BEEP");
    terminal.line = QStringLiteral("BEEP Y");
    terminal.typedByHand = true;
    terminal.setup = [](Stage& stage) {
        stage.start(QStringLiteral("3.0.2.1"));
        stage.send(QStringLiteral("BEEP N"));
    };
    terminal.open = [](Stage& stage) { return stage.open(QStringLiteral("BasicTerminal")); };
    terminal.canAct = [](Stage& stage) {
        auto* input = get<QLineEdit>(stage, "TerminalInput");
        return input && input->isEnabled();
    };
    terminal.act = [](Stage& stage, ShownBoxes&) {
        auto* input = get<QLineEdit>(stage, "TerminalInput");
        input->setFocus();
        QTest::keyClicks(input, QStringLiteral("BEEP Y"));
        QTest::keyClick(input, Qt::Key_Return);
    };
    terminal.again = [](Stage& stage) { stage.send(QStringLiteral("BEEP N")); };
    terminal.told = [](Stage& stage, Fault) {
        const QStringList lines = terminalLines(stage);
        const qsizetype sent = lines.lastIndexOf(QStringLiteral("> BEEP Y"));
        QVERIFY2(sent >= 0, qPrintable(lines.join(QStringLiteral(" / "))));
        const QStringList after = lines.mid(sent + 1);
        bool ok = false, failed = false;
        for (const QString& line : after) {
            ok = ok || line == QLatin1String("!BEEP OK");
            failed = failed || line.startsWith(QLatin1String("(no reply")) ||
                     line.startsWith(QLatin1String("!BEEP ERROR"));
        }
        MATRIX_VERIFY(Check::NoClaim, !ok, after.join(QStringLiteral(" / ")));
        MATRIX_VERIFY(Check::Told, failed, after.join(QStringLiteral(" / ")));
    };
    cases.insert(QStringLiteral("BasicTerminal"), terminal);
    return cases;
}

// The line writes `parameter` with these fields, all of them: the reader takes a text field
// with or without its quotes, so quotes do not count.
bool wholeWrite(const QString& line, const QString& parameter, const QStringList& fields) {
    const QStringList words = sim::splitCommandLine(line);
    const qsizetype n = parameter.count(QLatin1Char(' ')) + 1;
    if (words.size() != n + fields.size() ||
        words.mid(0, n).join(QLatin1Char(' ')).compare(parameter, Qt::CaseInsensitive) != 0)
        return false;
    for (qsizetype i = 0; i < fields.size(); ++i)
        if (sim::stripQuotes(words[n + i]) != sim::stripQuotes(fields[i]))
            return false;
    return true;
}

// Windows whose Apply writes every line as the window shows it (so that the reader's lines are
// exactly the window's). A write that gives the reader what it already holds changes nothing
// there; only the writes that change something count. With each, the words it writes for what
// the reader reports otherwise: an unassigned line or PID ("CLEAR" or the empty text) is
// written "CLEAR" or "0".
const QHash<QString, QList<QStringList>> kWholeWindow = {
    {QStringLiteral("frmIOAssign"), {{QStringLiteral("CLEAR"), QStringLiteral("0"), QString()}}},
};

// The line gives a parameter what the reader held (listing: its configuration before the
// apply), word for word once quotes and the window's own synonyms are taken off.
bool restates(const QString& line, const QStringList& listing, const QList<QStringList>& synonyms) {
    const auto words = [&synonyms](const QString& text) {
        QStringList out = sim::splitCommandLine(text);
        for (QString& word : out) {
            word = sim::stripQuotes(word).toUpper();
            for (const QStringList& same : synonyms)
                if (same.contains(word))
                    word = same.first();
        }
        return out;
    };
    const QStringList written = words(line);
    for (const QString& entry : listing)
        if (words(entry) == written)
            return true;
    return false;
}

// Windows whose load ends at the first parameter the reader does not answer (the output
// settings tell the error and stop), with the first plain row of their table loaded first.
const QStringList kLoadEndsAtError = {QStringLiteral("BasicOutput")};

// The names of the windows the program registers, in the registry's order.
QStringList registeredWindows() {
    app::windows().clear();
    app::registerWindows(app::windows());
    QStringList names;
    for (const app::WindowEntry& e : app::windows().windowEntries())
        names << e.name;
    app::windows().clear();
    return names;
}

// VELMARROW_CONTRACTS=frmMatch,BeepControl runs only those windows.
QStringList onlyWindows() {
    return qEnvironmentVariable("VELMARROW_CONTRACTS").split(QLatin1Char(','), Qt::SkipEmptyParts);
}

} // namespace

class TestFaultMatrix : public QObject {
    Q_OBJECT

    Stage m_stage;
    QList<WindowContract> m_contracts;
    QTemporaryDir m_folder;
    QHash<QString, CommandCase> m_commands;

    const WindowContract* contractOf(const QString& window) const {
        for (const WindowContract& w : m_contracts)
            if (w.window == window)
                return &w;
        return nullptr;
    }

    QPushButton* okOf(const WindowContract& w, QWidget* window) const {
        if (!w.okButton.isEmpty())
            return window->findChild<QPushButton*>(w.okButton);
        auto* s = qobject_cast<SettingsWindow*>(window);
        return s ? s->okButton() : nullptr;
    }

    // The writes among what the reader received: every line that is not a bare question.
    QStringList writes(const testing::Received& received) {
        QStringList out;
        for (const QString& line : received.lines())
            if (!m_stage.isQuery(line))
                out << line;
        return out;
    }
    // The same, without a whole-window apply's restatements of what the reader held before.
    QStringList changingWrites(const WindowContract& w, const testing::Received& received,
                               const QStringList& before) {
        QStringList out;
        for (const QString& line : writes(received))
            if (!kWholeWindow.contains(w.window) || !restates(line, before, kWholeWindow.value(w.window)))
                out << line;
        return out;
    }

    // The one box that tells the operator, part by part.
    void checkBox(const ShownBoxes& boxes, const QString& keyword, bool base, Fault fault,
                  const QString& lostNames) {
        MATRIX_VERIFY(Check::OneBox, boxes.shown().size() == 1, boxes.describe());
        if (boxes.shown().isEmpty())
            return;
        const auto& box = boxes.shown().constFirst();
        MATRIX_VERIFY(Check::BoxTitle, box.title == QLatin1String(app::DefaultPromptTitle), box.title);
        MATRIX_VERIFY(Check::BoxIcon, box.icon == app::PromptIcon::Exclamation, boxes.describe());
        MATRIX_VERIFY(Check::BoxButtons, box.buttons == app::PromptButtons::Ok, boxes.describe());
        MATRIX_VERIFY(Check::BoxNames, box.text.contains(keyword), box.text);
        if (fault == Fault::ControlTaken)
            MATRIX_VERIFY(Check::BoxText, box.text == lostControlText(lostNames), box.text);
        else if (base)
            MATRIX_VERIFY(Check::BoxText, box.text.startsWith(kNotAccepted), box.text);
        if (fault == Fault::Refused)
            MATRIX_VERIFY(Check::BoxReason, box.text.contains(kRefusal), box.text);
    }

    // After the fault: the link back (by itself after a drop, by focusing the reader again
    // otherwise) and control with it; waits until the window has loaded again.
    void resetConnection(Fault fault, QWidget* window) {
        auto* s = qobject_cast<SettingsWindow*>(window);
        const int loads = s ? s->loadCount() : 0;
        if (fault == Fault::Drop) {
            QTRY_VERIFY_WITH_TIMEOUT(m_stage.station().Connected(), testing::reconnectWaitMs(4));
            m_stage.regainControl();
        } else {
            m_stage.refocus();
        }
        if (s)
            QTRY_VERIFY_WITH_TIMEOUT(s->loadCount() > loads && s->isLoaded(), testing::kReplyWaitMs);
        // The reset and control arrive as posted events; the window has them all once the
        // station has control and the window has loaded.
        QTRY_VERIFY(m_stage.station().HasControl());
        QCoreApplication::processEvents();
    }

    // A change from what the reader holds now goes through: one whole write, no box, success
    // reported, OK closes.
    void worksAgain(const WindowContract& w, const ControlContract& row) {
        QWidget* window = m_stage.window();
        auto* s = qobject_cast<SettingsWindow*>(window);
        // The next value of the row's sequence from what the reader holds (the table orders its
        // values as the operator can work them); from the last one the reader is put back to
        // the first, and the window reset to show it.
        qsizetype at = -1;
        for (qsizetype i = 0; i < row.values.size() && at < 0; ++i)
            if (row.values[i].word == m_stage.fields(row.parameter).value(row.field))
                at = i;
        if (at < 0 || at + 1 >= row.values.size()) {
            m_stage.setField(row.parameter, row.field, row.values[0].word);
            resetConnection(Fault::Refused, window);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(contracts::readControl(m_stage, row), row.values[0].shown);
            at = 0;
        }
        const Value* next = &row.values[at + 1];
        QStringList f = m_stage.fields(row.parameter);
        f[row.field] = next->word;
        ShownBoxes boxes;
        const QStringList before = m_stage.listing();
        testing::Received received(m_stage.reader());
        std::optional<QSignalSpy> applied;
        if (s)
            applied.emplace(s, &SettingsWindow::applied);
        contracts::setControl(m_stage, row, *next);
        if (QTest::currentTestFailed())
            return;
        QPushButton* ok = okOf(w, window);
        if (!w.immediate) {
            MATRIX_VERIFY(Check::WorksAgain, ok && ok->isEnabled(), QStringLiteral("OK not enabled"));
            ok->click();
        }
        // The apply is over when OK returns; a window that sends on a timer gets a moment.
        const auto arrived = [&] { return m_stage.fields(row.parameter).value(row.field) == next->word; };
        const bool came = QTest::qWaitFor(arrived, 1000);
        MATRIX_VERIFY(Check::WorksAgain, came,
                      QStringLiteral("the reader holds ") + m_stage.fields(row.parameter).value(row.field));
        const QStringList written = changingWrites(w, received, before);
        MATRIX_VERIFY(Check::AgainOneWrite, written.size() == 1 && wholeWrite(written[0], row.parameter, f),
                      QStringLiteral("wrote ") + written.join(QStringLiteral(" | ")));
        MATRIX_VERIFY(Check::AgainQuiet, boxes.shown().isEmpty(), boxes.describe());
        if (applied && (s->okButton() || w.immediate))
            MATRIX_VERIFY(Check::AgainQuiet, applied->size() == 1 && applied->at(0).at(0).toBool(),
                          QStringLiteral("applied %1 times").arg(applied->size()));
        if (ok)
            QTRY_VERIFY2(!window->isVisible(), "OK did not close the window after a change went through");
    }

    // The refused change belongs to the window that made it: once the operator closes that
    // window, the change is gone, and another change made after opening it again reaches the
    // reader alone. `window` becomes the window opened again.
    void refusedLeftBehind(const WindowContract& w, const ControlContract& row, QWidget*& window) {
        const ControlContract* other = otherRow(w, row);
        if (!other)
            return;
        for (const QString& command : other->needs)
            m_stage.send(command);
        m_stage.setField(other->parameter, other->field, other->values[0].word);
        window = m_stage.open(w); // closes the one holding the refused change
        QVERIFY(window);
        QStringList f = m_stage.fields(other->parameter);
        f[other->field] = other->values[1].word;
        ShownBoxes boxes;
        const QStringList before = m_stage.listing();
        testing::Received received(m_stage.reader());
        contracts::setControl(m_stage, *other, other->values[1]);
        if (QTest::currentTestFailed())
            return;
        if (!w.immediate) {
            QPushButton* ok = okOf(w, window);
            MATRIX_VERIFY(Check::LeftBehind, ok && ok->isEnabled(), QStringLiteral("OK not enabled"));
            ok->click();
        }
        const auto arrived = [&] {
            return m_stage.fields(other->parameter).value(other->field) == f[other->field];
        };
        (void)QTest::qWaitFor(arrived, 1000); // the check below says what came
        const QStringList written = changingWrites(w, received, before);
        MATRIX_VERIFY(Check::LeftBehind, written.size() == 1 && wholeWrite(written[0], other->parameter, f),
                      QStringLiteral("wrote ") + written.join(QStringLiteral(" | ")) +
                          QStringLiteral("; the whole write is ") + other->parameter + QLatin1Char(' ') +
                          f.join(QLatin1Char(' ')));
        MATRIX_VERIFY(Check::LeftBehind, m_stage.fields(row.parameter).value(row.field) == row.values[0].word,
                      QStringLiteral("the reader holds ") + m_stage.fields(row.parameter).value(row.field));
        MATRIX_VERIFY(Check::LeftBehind, boxes.shown().isEmpty(), boxes.describe());
    }

    // A settings row through one fault.
    void writeSide(const WindowContract& w, const ControlContract& row, Fault fault) {
        const QString keyword = row.parameter.section(QLatin1Char(' '), 0, 0);
        m_stage.start(w.version, true, row.lightChannels);
        for (const QString& command : w.setup)
            m_stage.send(command);
        for (const QString& command : row.needs)
            m_stage.send(command);
        m_stage.setField(row.parameter, row.field, row.values[0].word);
        if (QTest::currentTestFailed())
            return;
        QWidget* window = m_stage.open(w);
        QVERIFY(window);
        QTRY_VERIFY(window->isVisible());
        // Where the contract table starts the row.
        QCOMPARE(contracts::readControl(m_stage, row), row.values[0].shown);
        auto* s = qobject_cast<SettingsWindow*>(window);
        // The base's apply runs in windows with its OK and Apply, and in those that send at once.
        const bool base = s && (s->okButton() || w.immediate);
        const Value& target = row.values[1];
        QStringList f = m_stage.fields(row.parameter);
        f[row.field] = target.word;
        QPushButton* ok = okOf(w, window);
        QVERIFY2(w.immediate || ok, "no OK button");

        {
            ShownBoxes boxes;
            const QStringList before = m_stage.listing();
            testing::Received received(m_stage.reader());
            std::optional<QSignalSpy> applied;
            if (s)
                applied.emplace(s, &SettingsWindow::applied);
            bool pressed = false;
            if (fault == Fault::ControlTaken && w.immediate) {
                // The change would go out at once: with control gone it cannot be made.
                m_stage.reader().takeControl(kOtherStation);
                QTRY_VERIFY(!m_stage.station().HasControl());
                QWidget* control = m_stage.control(row.name);
                QVERIFY(control);
                if (row.needsControl) {
                    QTRY_VERIFY_WITH_TIMEOUT(!control->isEnabled(), 1000);
                }
            } else {
                if (w.immediate)
                    m_stage.reader().setNextReplyFault(replyFault(fault), 0, keyword);
                contracts::setControl(m_stage, row, target);
                if (QTest::currentTestFailed())
                    return;
                if (fault == Fault::ControlTaken) {
                    m_stage.reader().takeControl(kOtherStation);
                    QTRY_VERIFY(!m_stage.station().HasControl());
                    // The base tells it once the event that announced it is over.
                    QTRY_VERIFY_WITH_TIMEOUT(!boxes.shown().isEmpty(), 1000);
                    // The change stays in the window, but nothing can send it: OK and Apply grey.
                    for (QPushButton* b : {s ? s->okButton() : nullptr, s ? s->applyButton() : nullptr})
                        if (b)
                            MATRIX_VERIFY(Check::Disabled, !b->isEnabled(),
                                          b->text() + QStringLiteral(" enabled without control"));
                } else if (!w.immediate) {
                    m_stage.reader().setNextReplyFault(replyFault(fault), 0, keyword);
                }
                if (!w.immediate && ok->isEnabled()) {
                    ok->click();
                    pressed = true;
                }
                QVERIFY2(pressed || w.immediate || fault == Fault::ControlTaken,
                         "OK not enabled after a change");
            }
            QCoreApplication::processEvents();

            // No success for what did not happen.
            if (pressed)
                MATRIX_VERIFY(Check::StaysOpen, window->isVisible(), QStringLiteral("OK closed the window"));
            if (applied && base) {
                QList<bool> results;
                for (const auto& a : *applied)
                    results << a.at(0).toBool();
                if (fault == Fault::ControlTaken)
                    MATRIX_VERIFY(Check::AppliedFalse, !results.contains(true),
                                  QStringLiteral("applied(true)"));
                else
                    MATRIX_VERIFY(Check::AppliedFalse, results == QList<bool>{false},
                                  QStringLiteral("applied %1 times, %2 true")
                                      .arg(results.size())
                                      .arg(results.count(true)));
            }

            // Nothing written that the operator did not set.
            const QStringList written = changingWrites(w, received, before);
            const QString wrote = QStringLiteral("wrote ") + written.join(QStringLiteral(" | ")) +
                                  QStringLiteral("; the whole write is ") + row.parameter + QLatin1Char(' ') +
                                  f.join(QLatin1Char(' '));
            const bool one = written.size() == 1 && wholeWrite(written[0], row.parameter, f);
            if (fault == Fault::ControlTaken)
                MATRIX_VERIFY(Check::OnlyThatWrite, written.isEmpty(), wrote);
            else if (carriedOut(fault))
                MATRIX_VERIFY(Check::OnlyThatWrite, one, wrote);
            else
                MATRIX_VERIFY(Check::OnlyThatWrite, written.isEmpty() || one, wrote);

            // The operator is told, with the parameter named.
            if (fault == Fault::ControlTaken && w.immediate)
                MATRIX_VERIFY(Check::OneBox, boxes.shown().isEmpty(), boxes.describe());
            else
                checkBox(boxes, keyword, base, fault, row.parameter);
            if (QTest::currentTestFailed())
                return;

            // A window that sends at once shows at once what the reader holds.
            if (w.immediate && fault != Fault::Drop && fault != Fault::ControlTaken)
                MATRIX_VERIFY(Check::Reverts,
                              contracts::readControl(m_stage, row) ==
                                  shownFor(row, m_stage.fields(row.parameter).value(row.field)),
                              contracts::readControl(m_stage, row));

            // With control back the window can apply again.
            if (fault == Fault::ControlTaken) {
                m_stage.regainControl();
                QWidget* control = m_stage.control(row.name);
                const auto back = [&] {
                    return w.immediate ? control && control->isEnabled()
                                       : ok->isEnabled() || !window->isVisible();
                };
                // Control comes back to the window as a posted event.
                const bool isBack = QTest::qWaitFor(back, 1000);
                MATRIX_VERIFY(Check::ControlBack, isBack,
                              w.immediate
                                  ? QStringLiteral("the control stays disabled")
                                  : QStringLiteral("OK stays disabled with the change still in the window"));
            }
        }
        if (QTest::currentTestFailed())
            return;

        // The reader did what the fault says.
        const QString holds = m_stage.fields(row.parameter).value(row.field);
        QCOMPARE(holds, carriedOut(fault) ? target.word : row.values[0].word);
        if (fault == Fault::Refused && base) {
            refusedLeftBehind(w, row, window);
            if (QTest::currentTestFailed())
                return;
        }

        // Right again after the next connection reset.
        {
            ShownBoxes boxes;
            // Closed by a pinned fault: the operator opens it again once the reader is back.
            const bool closed = !window->isVisible();
            resetConnection(fault, closed ? nullptr : window);
            if (QTest::currentTestFailed())
                return;
            if (closed) {
                window = m_stage.open(w);
                QVERIFY(window);
            }
            MATRIX_VERIFY(Check::QuietReset, boxes.shown().isEmpty(), boxes.describe());
            // Loaded again, the window holds no change: what failed is not waiting to go out.
            if (auto* settings = qobject_cast<SettingsWindow*>(window))
                MATRIX_VERIFY(Check::ShowsReader, !settings->isModified(),
                              QStringLiteral("a change waits in the window after the reset"));
            MATRIX_VERIFY(Check::ShowsReader, contracts::readControl(m_stage, row) == shownFor(row, holds),
                          contracts::readControl(m_stage, row) + QStringLiteral(" shown, the reader holds ") +
                              holds);
        }
        worksAgain(w, row);
    }

    // The writes of a command window: lines that are neither bare questions nor its reads.
    QStringList commandWrites(const CommandCase& c, const testing::Received& received) {
        QStringList out;
        for (const QString& line : writes(received)) {
            bool read = false;
            for (const QString& start : c.reads)
                read = read || line.startsWith(start);
            if (!read)
                out << line;
        }
        return out;
    }

    // A command window through one fault.
    void commandSide(const CommandCase& c, Fault fault) {
        c.setup(m_stage);
        if (QTest::currentTestFailed())
            return;
        QWidget* window = c.open(m_stage);
        QVERIFY(window);
        QTRY_VERIFY(window->isVisible());
        {
            ShownBoxes boxes;
            testing::Received received(m_stage.reader());
            if (fault == Fault::ControlTaken) {
                m_stage.reader().takeControl(kOtherStation);
                QTRY_VERIFY(!m_stage.station().HasControl());
                QCoreApplication::processEvents();
            } else {
                m_stage.reader().setNextReplyFault(replyFault(fault), 0, c.keyword);
            }
            const bool acted = c.canAct(m_stage);
            QVERIFY2(acted || fault == Fault::ControlTaken, "the action cannot be taken");
            if (acted)
                c.act(m_stage, boxes);
            if (QTest::currentTestFailed())
                return;
            QCoreApplication::processEvents();

            if (acted && c.closes && !c.closesAnyway)
                MATRIX_VERIFY(Check::StaysOpen, window->isVisible(), QStringLiteral("the window closed"));
            if (!c.status.isEmpty()) {
                auto* status = m_stage.window()->findChild<QLabel*>(c.status);
                MATRIX_VERIFY(Check::NoClaim, !status || !status->text().contains(c.claim), status->text());
            }
            const QStringList written = commandWrites(c, received);
            const QString wrote = QStringLiteral("wrote ") + written.join(QStringLiteral(" | "));
            if (fault == Fault::ControlTaken && !c.typedByHand)
                MATRIX_VERIFY(Check::OnlyThatWrite, written.isEmpty(), wrote);
            else if (carriedOut(fault))
                MATRIX_VERIFY(Check::OnlyThatWrite, written == QStringList{c.line}, wrote);
            else
                MATRIX_VERIFY(Check::OnlyThatWrite, written.isEmpty() || written == QStringList{c.line},
                              wrote);
            if (c.told) {
                MATRIX_VERIFY(Check::OneBox, boxes.shown().isEmpty(), boxes.describe());
                if (acted)
                    c.told(m_stage, fault);
            } else if (!acted) {
                // Nothing could be done without control, and nothing is said.
                MATRIX_VERIFY(Check::OneBox, boxes.shown().isEmpty(), boxes.describe());
            } else {
                checkBox(boxes, c.keyword, false, fault == Fault::ControlTaken ? Fault::Silent : fault,
                         QString());
            }
            QVERIFY2(boxes.unanswered() == 0, "a box of the action did not come");
        }
        if (QTest::currentTestFailed())
            return;

        // Right again after the next connection reset: the action then goes through.
        {
            ShownBoxes boxes;
            resetConnection(fault, window);
            if (QTest::currentTestFailed())
                return;
            MATRIX_VERIFY(Check::QuietReset, boxes.shown().isEmpty(), boxes.describe());
        }
        if (c.again)
            c.again(m_stage);
        if (!window->isVisible()) {
            window = c.open(m_stage);
            QVERIFY(window);
        }
        ShownBoxes boxes;
        testing::Received received(m_stage.reader());
        MATRIX_VERIFY(Check::WorksAgain, c.canAct(m_stage), QStringLiteral("the action cannot be taken"));
        c.act(m_stage, boxes);
        if (QTest::currentTestFailed())
            return;
        MATRIX_VERIFY(Check::AgainOneWrite, commandWrites(c, received) == QStringList{c.line},
                      QStringLiteral("wrote ") + commandWrites(c, received).join(QStringLiteral(" | ")));
        MATRIX_VERIFY(Check::AgainQuiet, boxes.shown().isEmpty(), boxes.describe());
        if (c.closes)
            QTRY_VERIFY2(!window->isVisible(), "the window stayed open after the command went through");
    }

    // A settings window whose load meets a refusal of one parameter: it names it, greys its
    // control, never writes it when another change goes out, and shows it after the next reset.
    void unreadSide(const WindowContract& w, const ControlContract& a, const ControlContract& b) {
        const QString keyword = a.parameter.section(QLatin1Char(' '), 0, 0);
        m_stage.start(w.version);
        for (const QString& command : w.setup)
            m_stage.send(command);
        for (const QString& command : a.needs + b.needs)
            m_stage.send(command);
        m_stage.setField(a.parameter, a.field, a.values[0].word);
        m_stage.setField(b.parameter, b.field, b.values[0].word);
        if (QTest::currentTestFailed())
            return;
        QWidget* window = nullptr;
        {
            ShownBoxes boxes;
            m_stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, keyword);
            window = m_stage.open(w);
            QVERIFY(window);
            QTRY_VERIFY(window->isVisible());
            // The settings base names it in the window; a window of its own may say it in a box.
            auto* note = window->findChild<QLabel*>(QStringLiteral("NotReadNote"));
            const QString noteText = note ? note->text() : QStringLiteral("(no note)");
            bool boxed = false;
            for (const auto& box : boxes.shown())
                boxed = boxed || box.text.contains(a.parameter);
            MATRIX_VERIFY(Check::SaysUnread,
                          (note && note->isVisibleTo(window) && noteText.contains(a.parameter)) || boxed,
                          noteText + QStringLiteral("; ") + boxes.describe());
        }
        QVERIFY(qobject_cast<SettingsWindow*>(window));
        QCOMPARE(contracts::readControl(m_stage, b), b.values[0].shown);
        QWidget* control = m_stage.control(a.name);
        QVERIFY(control);
        // A custom row's control is a grid or an editor several parameters share; how one of
        // its cells is greyed is the window's table's own check.
        if (a.kind != contracts::Kind::Custom)
            MATRIX_VERIFY(Check::Greyed, !control->isEnabled(), QStringLiteral("enabled"));

        {
            QStringList f = m_stage.fields(b.parameter);
            f[b.field] = b.values[1].word;
            ShownBoxes boxes;
            const QStringList before = m_stage.listing();
            testing::Received received(m_stage.reader());
            QWidget* other = m_stage.control(b.name);
            const bool workable = other && other->isEnabled();
            MATRIX_VERIFY(Check::OtherGoesOut, workable, QStringLiteral("the other control is disabled"));
            if (!workable)
                return;
            contracts::setControl(m_stage, b, b.values[1]);
            if (QTest::currentTestFailed())
                return;
            if (!w.immediate) {
                QPushButton* ok = okOf(w, window);
                QVERIFY2(ok && ok->isEnabled(), "OK not enabled after a change");
                ok->click();
            }
            const auto arrived = [&] {
                return m_stage.fields(b.parameter).value(b.field) == b.values[1].word;
            };
            const bool went = QTest::qWaitFor(arrived, 1000);
            MATRIX_VERIFY(Check::OtherGoesOut, went,
                          QStringLiteral("the reader holds ") + m_stage.fields(b.parameter).value(b.field));
            const QStringList written = changingWrites(w, received, before);
            // Not even as it stood: the window never knew it.
            bool touched = false;
            for (const QString& line : writes(received))
                touched = touched || line.startsWith(a.parameter + QLatin1Char(' '));
            MATRIX_VERIFY(Check::NeverWritten, !touched, written.join(QStringLiteral(" | ")));
            if (went)
                MATRIX_VERIFY(Check::OnlyThatWrite,
                              written.size() == 1 && wholeWrite(written[0], b.parameter, f),
                              written.join(QStringLiteral(" | ")));
            MATRIX_VERIFY(Check::QuietApply, boxes.shown().isEmpty(), boxes.describe());
        }

        // Right again after the next reset.
        if (!window->isVisible()) {
            window = m_stage.open(w);
            QVERIFY(window);
        }
        ShownBoxes boxes;
        resetConnection(Fault::Refused, window);
        if (QTest::currentTestFailed())
            return;
        control = m_stage.control(a.name);
        auto* note = window->findChild<QLabel*>(QStringLiteral("NotReadNote"));
        MATRIX_VERIFY(Check::ShowsReader, contracts::readControl(m_stage, a) == a.values[0].shown,
                      contracts::readControl(m_stage, a));
        MATRIX_VERIFY(Check::ShowsReader, control && control->isEnabled(), QStringLiteral("still greyed"));
        MATRIX_VERIFY(Check::ShowsReader, note && !note->isVisibleTo(window),
                      note ? note->text() : QString());
        MATRIX_VERIFY(Check::QuietReset, boxes.shown().isEmpty(), boxes.describe());
    }

    // A window that only reads, with the fault on one of the blocks it reads.
    void readSide(const QString& window, Fault fault) {
        if (fault == Fault::ControlTaken)
            QSKIP("reads only: programming control changes nothing it shows");
        const QString keyword = QStringLiteral("SETTINGS_CUSTOMER");
        const QString box = QStringLiteral("CustomerText");
        m_stage.start(QStringLiteral("3.0.2.1"));
        // A reader that reads only when asked: no records pile up while the window waits.
        m_stage.send(QStringLiteral("TRIG T"));
        const auto reply = m_stage.station().SendCommand(keyword);
        QVERIFY(reply.ok);
        // As a text box holds it: one line break between lines.
        const QString real = reply.lines.join(QLatin1Char('\n'));
        auto text = [&] {
            auto* b = qobject_cast<QPlainTextEdit*>(m_stage.control(box));
            return b ? b->toPlainText() : QStringLiteral("(no %1)").arg(box);
        };
        {
            ShownBoxes boxes;
            // The window also logs a reply that did not come whole; the log is not what is
            // checked here.
            contracts::ToleratedWarnings logged(
                QRegularExpression(QStringLiteral("^\"%1\" got no complete reply").arg(keyword)));
            m_stage.reader().setNextReplyFault(replyFault(fault), 0, keyword);
            QWidget* w = m_stage.open(window);
            QVERIFY(w);
            QCoreApplication::processEvents();
            MATRIX_VERIFY(Check::NoInvented, text().isEmpty() || text() == real, text());
            auto* note = m_stage.window()->findChild<QLabel*>(QStringLiteral("NotReadNote"));
            const bool noted = note && note->isVisibleTo(w) && note->text().contains(keyword);
            bool boxed = false;
            for (const auto& b : boxes.shown())
                boxed = boxed || b.text.contains(keyword);
            // Without its link the window names nothing (the program shows the reader as not
            // connected); the reconnection loads it again, checked below.
            if (fault != Fault::Drop)
                MATRIX_VERIFY(Check::SaysUnread, noted || boxed,
                              (note ? note->text() : QStringLiteral("(no note)")) + QStringLiteral("; ") +
                                  boxes.describe());
        }
        ShownBoxes boxes;
        resetConnection(fault, m_stage.window());
        if (QTest::currentTestFailed())
            return;
        MATRIX_VERIFY(Check::ShowsReader, text() == real, text());
        auto* note = m_stage.window()->findChild<QLabel*>(QStringLiteral("NotReadNote"));
        MATRIX_VERIFY(Check::ShowsReader, !note || !note->isVisibleTo(m_stage.window()),
                      note ? note->text() : QString());
        MATRIX_VERIFY(Check::QuietReset, boxes.shown().isEmpty(), boxes.describe());
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "TEST-PC");
        m_contracts = contracts::allContracts();
        m_commands = commandCases(m_folder.path());
    }
    void init() { m_stage.begin(); }
    void cleanup() {
        m_stage.close();
        m_stage.end();
    }

    void faults_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<int>("fault");
        const QStringList names = registeredWindows();
        const QStringList only = onlyWindows();
        for (const QString& name : names) {
            if (!only.isEmpty() && !only.contains(name))
                continue;
            for (const FaultName& f : kFaults)
                QTest::newRow(qPrintable(name + QLatin1Char('/') + QLatin1String(f.name)))
                    << name << int(f.fault);
        }
    }
    void faults() {
        if (!QTest::currentDataTag())
            QSKIP("no window registered");
        QFETCH(QString, window);
        QFETCH(int, fault);
        if (kSkipped.contains(window))
            QSKIP(qPrintable(kSkipped.value(window)));
        if (window == QLatin1String("frmSettings")) {
            readSide(window, Fault(fault));
            return;
        }
        if (m_commands.contains(window)) {
            commandSide(m_commands.value(window), Fault(fault));
            return;
        }
        const WindowContract* contract = contractOf(window);
        QVERIFY2(contract, "no contract table; tst_contracts fails for it too");
        const ControlContract* row = faultRow(*contract);
        QVERIFY2(row, "the table has no plain row to put through the faults");
        writeSide(*contract, *row, Fault(fault));
    }

    // Every settings window whose table has two plain rows of different parameters: the first
    // one's load refused.
    void unreadParameter_data() {
        QTest::addColumn<QString>("window");
        const QStringList names = registeredWindows();
        const QStringList only = onlyWindows();
        for (const QString& name : names) {
            const WindowContract* w = contractOf(name);
            if ((!only.isEmpty() && !only.contains(name)) || !w || m_commands.contains(name))
                continue;
            const ControlContract* a = faultRow(*w);
            if (a && otherRow(*w, *a))
                QTest::newRow(qPrintable(name + QStringLiteral("/unread"))) << name;
        }
    }
    void unreadParameter() {
        if (!QTest::currentDataTag())
            QSKIP("no settings window has two plain rows");
        QFETCH(QString, window);
        const WindowContract* w = contractOf(window);
        const ControlContract* a = faultRow(*w);
        const ControlContract* b = otherRow(*w, *a);
        // A window whose load ends at the first parameter the reader does not answer leaves the
        // ones after it unread too: there the later one is refused, the earlier one changed.
        if (kLoadEndsAtError.contains(window))
            std::swap(a, b);
        unreadSide(*w, *a, *b);
    }
};

QTEST_MAIN(TestFaultMatrix)
#include "tst_faultmatrix.moc"
