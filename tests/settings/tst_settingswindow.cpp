// The pattern every settings window shares, tried with a small window written for this
// test against a simulated reader: loading, editing, applying, refusals, control, resets,
// broadcasts and unloading.
#include "app/settingsstore.h"
#include "common/windowbench.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/parameterset.h"
#include "settings/settingswindow.h"
#include "sim/reader.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using settings::SettingsWindow;

namespace {

constexpr char kRangeMessage[] = "Value must be in range 35 - 60000";

// A window with one control of each kind the base binds, and a summary of its own.
class ProbeWindow final : public SettingsWindow {
public:
    explicit ProbeWindow(Mode mode = Mode::OkApply)
        : SettingsWindow(QStringLiteral("ProbeWindow"), mode) {
        setWindowTitle(QStringLiteral("(no camera) - Probe"));
        auto* layout = new QVBoxLayout(this);
        trigger = new QCheckBox(QStringLiteral("Use Trigger on OPTO IN 1"), this);
        edge = new QComboBox(this);
        edge->setAccessibleName(QStringLiteral("Triggering Edge"));
        timeout = new QLineEdit(this);
        timeout->setAccessibleName(QStringLiteral("Read Timeout"));
        retryTime = new QLineEdit(this);
        retryTime->setAccessibleName(QStringLiteral("Retry time"));
        summary = new QLabel(this);
        header = new QLineEdit(this);
        header->setAccessibleName(QStringLiteral("Header"));
        delay = new QLineEdit(this);
        delayLabel = new QLabel(QStringLiteral("Trigger delay"), this);
        delayLabel->setBuddy(delay);
        for (QWidget* w :
             {static_cast<QWidget*>(trigger), static_cast<QWidget*>(edge), static_cast<QWidget*>(timeout),
              static_cast<QWidget*>(retryTime), static_cast<QWidget*>(summary),
              static_cast<QWidget*>(delayLabel), static_cast<QWidget*>(delay), static_cast<QWidget*>(header)})
            layout->addWidget(w);
        if (buttonBox())
            layout->addWidget(buttonBox());

        bindCheck(trigger, QStringLiteral("TRIG"), 0, QStringLiteral("T"), QStringLiteral("C"));
        bindChoice(edge, QStringLiteral("TE"), 0,
                   {{QStringLiteral("Low -> High"), QStringLiteral("P")},
                    {QStringLiteral("High -> Low"), QStringLiteral("N")},
                    {QStringLiteral("Both"), QStringLiteral("B")},
                    // A word the reader does not know, to see a refusal.
                    {QStringLiteral("Sideways"), QStringLiteral("X")}});
        bindNumber(timeout, QStringLiteral("TIMEOUT READ"), 0, 0, 9999);
        bindNumber(retryTime, QStringLiteral("RETRYEX"), 1, 35, 60000, QLatin1String(kRangeMessage));
        // The trigger delay exists from firmware level 4 and means something only while
        // the trigger is used.
        declareGroup(kTriggered, [this] { return trigger->isChecked(); });
        bindNumber(delay, QStringLiteral("TD"), 0, 0, 10000)
            .fromLevel(4)
            .inGroup(kTriggered)
            .withLabels({delayLabel});
        bindText(header, QStringLiteral("HEADER"), 0, Quotes::Pair, 128);
        ensureLoaded();
    }

    QLineEdit* header;
    QCheckBox* trigger;
    QComboBox* edge;
    QLineEdit* timeout;
    QLineEdit* retryTime;
    QLabel* summary;
    QLineEdit* delay;
    QLabel* delayLabel;
    QStringList otherBroadcasts;
    static constexpr int kTriggered = 1;

private:
    // A triggered read that never times out would wait for ever.
    settings::Validation validate() override {
        if (trigger->isChecked() && timeout->text() == QLatin1String("0"))
            return {QStringLiteral("A triggered read needs a read time-out."), timeout};
        return {};
    }
    void refresh() override {
        const bool triggered =
            parameters().GetParameter(QStringLiteral("TRIG")).Field(0) == QLatin1String("T");
        summary->setText(triggered ? QStringLiteral("Trigger on OPTO IN 1")
                                   : QStringLiteral("Continous Triggers"));
    }
    QStringList reloadOn() const override { return {QStringLiteral("UPDATEIO")}; }
    QStringList broadcastsAfterApply() const override {
        return {QStringLiteral("UPDATEIO"), QStringLiteral("UPDATETIMEOUT")};
    }
    void broadcastReceived(const QString& message, const QString&) override { otherBroadcasts << message; }
};

} // namespace

using testing::Received;

class TestSettingsWindow : public QObject, protected testing::WindowBench {
    Q_OBJECT

    // Sets a parameter on the reader as another program would.
    void readerHolds(const QString& command) {
        const bool had = m_conn->HasControl();
        if (!had)
            QVERIFY(testing::takeControl(*m_conn));
        QVERIFY2(m_conn->SendCommand(command).ok, qPrintable(command));
        if (!had)
            QVERIFY(m_conn->SendCommand("RELEASE").ok);
    }

    void leaveWithText(ProbeWindow& w, QLineEdit* box, const QString& text) {
        box->setFocus();
        QTRY_VERIFY(box->hasFocus());
        box->selectAll();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Tab);
        QTRY_VERIFY(!box->hasFocus());
        Q_UNUSED(w);
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() {
        setUpBench();
        startReader(testing::readerConfig("Probe"), false);
    }
    void cleanup() { tearDownBench(); }

    // Opening asks the reader for the window's parameters, in order, and shows them; the
    // program's own filling marks nothing changed.
    void loadShowsWhatTheReaderHolds() {
        readerHolds("TRIG T");
        readerHolds("TE N");
        readerHolds("TIMEOUT READ 1234");
        Received received(*m_reader);
        auto w = openWindow<ProbeWindow>();
        // The window asks for what it declared, in that order.
        QCOMPARE(received.lines(), QStringList({"TRIG", "TE", "TIMEOUT READ", "RETRYEX", "TD", "HEADER"}));
        QVERIFY(w->trigger->isChecked());
        QCOMPARE(w->edge->currentText(), QString("High -> Low"));
        QCOMPARE(w->timeout->text(), QString("1234"));
        QCOMPARE(w->summary->text(), QString("Trigger on OPTO IN 1"));
        QVERIFY(!w->isModified());
        QVERIFY(!w->okButton()->isEnabled());
        QVERIFY(!w->applyButton()->isEnabled());
        // Without control nothing can be edited.
        QVERIFY(!w->edge->isEnabled());
        QVERIFY(!w->trigger->isEnabled());
    }

    // Apply sends exactly what the operator changed, tells the other windows, and does
    // not reload on its own broadcast.
    void applySendsOnlyTheOperatorsChanges() {
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        QTRY_VERIFY(w->edge->isEnabled());
        QCOMPARE(w->edge->currentText(), QString("Low -> High"));

        link::ReaderConnection other;
        QSignalSpy broadcasts(&other, &link::Connection::OnBroadcastMessage);
        QSignalSpy loaded(w.get(), &SettingsWindow::loaded);
        Received received(*m_reader);
        w->edge->setFocus();
        QTest::keyClick(w->edge, Qt::Key_Down);
        QCOMPARE(w->edge->currentText(), QString("High -> Low"));
        QVERIFY(w->applyButton()->isEnabled());
        QVERIFY(w->okButton()->isEnabled());
        QVERIFY(received.lines().isEmpty()); // nothing goes out before Apply

        QTest::mouseClick(w->applyButton(), Qt::LeftButton);
        QCOMPARE(received.lines(), QStringList({"TE N"}));
        QCOMPARE(readerValue("TE"), QString("TE N"));
        QTRY_COMPARE(broadcasts.size(), 2);
        QCOMPARE(broadcasts.at(0), QVariantList({"ProbeWindow", "UPDATEIO", ""}));
        QCOMPARE(broadcasts.at(1), QVariantList({"ProbeWindow", "UPDATETIMEOUT", ""}));
        QVERIFY(!w->isModified());
        QVERIFY(!w->applyButton()->isEnabled());
        // Its own UPDATEIO does not reload it.
        QVERIFY(!loaded.wait(3 * SettingsWindow::kBroadcastReloadMs));

        // Applying again sends nothing.
        received.clear();
        QVERIFY(w->apply());
        QVERIFY(received.lines().isEmpty());
    }

    // Typed numbers go into the set when the field is left, held to their range; only the
    // retry time tells the operator.
    void numberBoxesHoldTheirRange() {
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        testing::ExpectPrompts boxes;
        struct Case {
            QLineEdit* box;
            QString typed;
            QString shown;
            bool message;
        };
        const QList<Case> cases = {
            {w->retryTime, "20", "35", true},     {w->retryTime, "70000", "60000", true},
            {w->retryTime, "abc", "35", true},    {w->retryTime, "12 ms", "35", true},
            {w->retryTime, "750", "750", false},  {w->timeout, "-5", "0", false},
            {w->timeout, "12345", "9999", false}, {w->timeout, "250", "250", false}};
        for (const Case& c : cases) {
            if (c.message)
                boxes->expectMessage("Velmarrow", kRangeMessage, PromptIcon::None, PromptButtons::Ok,
                                     PromptAnswer::Ok);
            leaveWithText(*w, c.box, c.typed);
            QCOMPARE(c.box->text(), c.shown);
            QCOMPARE(boxes->pendingCount(), 0);
        }
        Received received(*m_reader);
        QVERIFY(w->apply());
        QCOMPARE(received.lines().size(), 2);
        QCOMPARE(readerValue("TIMEOUT READ"), QString("TIMEOUT READ 250"));
        QCOMPARE(readerValue("RETRYEX").section(' ', 2, 2), QString("750"));
    }

    // A value the reader refuses is shown to the operator; the window keeps it and stays
    // open on OK, and what was accepted is not sent again.
    void refusedValueIsReportedAndKept() {
        QVERIFY(testing::takeControl(*m_conn));
        const QString refusal = m_conn->SendCommand("TE X").status;
        QVERIFY(refusal.contains("ERROR"));
        auto w = openWindow<ProbeWindow>();
        QTRY_VERIFY(w->edge->isEnabled());
        w->edge->setFocus();
        QTest::keyClick(w->edge, Qt::Key_End);
        QCOMPARE(w->edge->currentText(), QString("Sideways"));
        QTest::mouseClick(w->trigger, Qt::LeftButton);
        QVERIFY(w->trigger->isChecked());

        const QString message = "The camera did not accept these settings:\r\nTE: " + refusal;
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", message, PromptIcon::Exclamation, PromptButtons::Ok,
                             PromptAnswer::Ok);
        Received received(*m_reader);
        QSignalSpy applied(w.get(), &SettingsWindow::applied);
        link::ReaderConnection other;
        QSignalSpy broadcasts(&other, &link::Connection::OnBroadcastMessage);
        QTest::mouseClick(w->applyButton(), Qt::LeftButton);
        QCOMPARE(applied.size(), 1);
        QCOMPARE(applied.at(0).at(0).toBool(), false);
        QCOMPARE(received.lines(), QStringList({"TRIG T", "TE X"}));
        QCOMPARE(readerValue("TRIG"), QString("TRIG T"));
        // The trigger went through: the other windows still reload it.
        QTRY_COMPARE(broadcasts.size(), 2);
        QCOMPARE(broadcasts.at(0), QVariantList({"ProbeWindow", "UPDATEIO", ""}));
        QVERIFY(w->isModified());
        QCOMPARE(w->edge->currentText(), QString("Sideways"));
        QVERIFY(w->okButton()->isEnabled());

        // OK tries again; refused again, the window stays open with the value.
        received.clear();
        boxes->expectMessage("Velmarrow", message, PromptIcon::Exclamation, PromptButtons::Ok,
                             PromptAnswer::Ok);
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QCOMPARE(received.lines(), QStringList({"TE X"}));
        QVERIFY(w->isVisible());
    }

    // Without control nothing is sent, whatever is asked: even a change that reached the set
    // stays in the window.
    void nothingGoesOutWithoutControl() {
        auto w = openWindow<ProbeWindow>();
        Received received(*m_reader);
        QVERIFY(!w->applyButton()->isEnabled());
        w->parameters().GetParameter("TE").SetField(0, "B");
        QVERIFY(!w->apply());
        QVERIFY(received.lines().isEmpty());
        QVERIFY(w->isModified());
    }

    // A reset (another reader focused) reloads from the new reader and drops the edits.
    void resetReloadsAndDropsEdits() {
        auto second = testing::startReader("Second");
        QVERIFY(second);
        {
            sim::Station station{"ORACLE", false, 9999};
            second->takeControl("ORACLE");
            QCOMPARE(second->execute("TE B", station).last(), QString("!TE OK"));
            second->dropControl();
        }
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        w->edge->setFocus();
        QTest::keyClick(w->edge, Qt::Key_Down);
        QVERIFY(w->isModified());

        QSignalSpy loaded(w.get(), &SettingsWindow::loaded);
        Received atSecond(*second);
        testing::focusReader(*m_coordinator, second->address().toString());
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(atSecond.lines(), QStringList({"TRIG", "TE", "TIMEOUT READ", "RETRYEX", "TD", "HEADER"}));
        QCOMPARE(w->edge->currentText(), QString("Both"));
        QVERIFY(!w->isModified());
        QVERIFY(!w->applyButton()->isEnabled());

        // Nothing focused: the controls keep nothing to send and nothing is asked.
        atSecond.clear();
        testing::focusReader(*m_coordinator, "");
        QTRY_COMPARE(loaded.size(), 2);
        QVERIFY(atSecond.lines().isEmpty());
        QVERIFY(!w->edge->isEnabled());
    }

    // Another window's broadcast reloads the window a moment later; words it does not
    // reload on reach its own handler; its own name as sender is ignored.
    void broadcastsFromOtherWindows() {
        auto w = openWindow<ProbeWindow>();
        QVERIFY(!w->trigger->isChecked());
        readerHolds("TRIG T");
        QSignalSpy loaded(w.get(), &SettingsWindow::loaded);
        link::ReaderConnection other;
        other.BroadcastMessage("ProbeWindow", "UPDATEIO", "");
        QVERIFY(!loaded.wait(3 * SettingsWindow::kBroadcastReloadMs));
        QVERIFY(!w->trigger->isChecked());

        other.BroadcastMessage("BasicApplication", "UPDATEBEEP", "");
        QTRY_COMPARE(w->otherBroadcasts, QStringList({"UPDATEBEEP"}));
        QVERIFY(loaded.isEmpty());

        other.BroadcastMessage("BasicApplication", "UPDATEIO", "");
        QVERIFY(loaded.wait(5000));
        QVERIFY(w->trigger->isChecked());
        QCOMPARE(w->summary->text(), QString("Trigger on OPTO IN 1"));
    }

    // A closed window lets go of the reader: no more loads on resets or broadcasts, and
    // its place is stored once.
    void closedWindowLeavesTheReaderAlone() {
        auto w = openWindow<ProbeWindow>();
        w->resize(420, 300);
        QTest::mouseClick(w->cancelButton(), Qt::LeftButton);
        QVERIFY(!w->isVisible());
        QCOMPARE(app::settings().GetValue("ProbeWindow Width", "", "Window Metrics").toInt() > 0, true);
        QVERIFY(!w->connection());

        Received received(*m_reader);
        QSignalSpy loaded(w.get(), &SettingsWindow::loaded);
        link::ReaderConnection other;
        other.BroadcastMessage("BasicApplication", "UPDATEIO", "");
        testing::focusReader(*m_coordinator, "");
        testing::focusReader(*m_coordinator, m_reader->address().toString());
        QVERIFY(!loaded.wait(3 * SettingsWindow::kBroadcastReloadMs));
        QVERIFY(received.lines().isEmpty());
        w->reload();
        QVERIFY(loaded.isEmpty());
    }

    // A window with OK and Cancel only: no Apply; OK sends and closes, Cancel sends nothing.
    void okCancelWindowSendsOnOk() {
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>(SettingsWindow::Mode::OkCancel);
        QVERIFY(!w->applyButton());
        QVERIFY(w->okButton() && w->cancelButton());
        QTRY_VERIFY(w->trigger->isEnabled());
        QVERIFY(!w->okButton()->isEnabled());
        Received received(*m_reader);
        QTest::mouseClick(w->trigger, Qt::LeftButton);
        QVERIFY(received.lines().isEmpty());
        QVERIFY(w->okButton()->isEnabled());
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QCOMPARE(received.lines(), QStringList({"TRIG T"}));
        QTRY_VERIFY(!w->isVisible());
    }

    // A parameter the reader did not answer keeps its control as it was, greyed and
    // marked; the window names it; nothing of it is written back, and the next load
    // that succeeds makes the window whole again.
    void unreadParameterIsKeptAndNeverWritten() {
        QFETCH(int, fault);
        readerHolds("TE N");
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        QTRY_VERIFY(w->edge->isEnabled());
        QCOMPARE(w->edge->currentText(), QString("High -> Low"));
        auto* note = w->findChild<QLabel*>("NotReadNote");
        QVERIFY(note && !note->isVisible());

        readerHolds("TE B");
        m_reader->setNextReplyFault(sim::ReplyFault(fault), 0, "TE");
        w->reload();
        QCOMPARE(w->notRead(), QStringList({"TE"}));
        QCOMPARE(w->edge->currentText(), QString("High -> Low")); // as it was, not blank
        QVERIFY(!w->edge->isEnabled());
        QVERIFY(w->edge->property(SettingsWindow::kNotReadProperty).toBool());
        QVERIFY(w->trigger->isEnabled());
        QVERIFY(!w->trigger->property(SettingsWindow::kNotReadProperty).toBool());
        QTRY_VERIFY(note->isVisible());
        QVERIFY2(note->text().contains("TE") && !note->text().contains("TRIG"), qPrintable(note->text()));

        // Whatever reaches the set for it is not sent: the reader would take the missing
        // fields for blanks. What was read goes out.
        Received received(*m_reader);
        w->parameters().GetParameter("TE").SetField(0, "P");
        QTest::mouseClick(w->trigger, Qt::LeftButton);
        testing::ExpectPrompts boxes;
        boxes->expectMessage(
            "Velmarrow", "These settings were not sent because they could not be read from the camera: TE.",
            PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        QSignalSpy applied(w.get(), &SettingsWindow::applied);
        QTest::mouseClick(w->applyButton(), Qt::LeftButton);
        QCOMPARE(boxes->pendingCount(), 0);
        QCOMPARE(received.lines(), QStringList({"TRIG T"}));
        QCOMPARE(applied.size(), 1);
        QCOMPARE(applied.at(0).at(0).toBool(), false);
        QCOMPARE(readerValue("TE"), QString("TE B"));

        w->reload();
        QVERIFY(w->notRead().isEmpty());
        QVERIFY(!note->isVisible());
        QCOMPARE(w->edge->currentText(), QString("Both"));
        QVERIFY(w->edge->isEnabled());
        QVERIFY(!w->edge->property(SettingsWindow::kNotReadProperty).toBool());
    }
    void unreadParameterIsKeptAndNeverWritten_data() {
        QTest::addColumn<int>("fault");
        QTest::newRow("no reply") << int(sim::ReplyFault::Silent);
        QTest::newRow("malformed reply") << int(sim::ReplyFault::Malformed);
        QTest::newRow("refused") << int(sim::ReplyFault::Refused);
    }

    // Text typed but not yet left has no name to give when control is lost, but it is not
    // dropped without a word either.
    void typedTextIsToldWhenControlIsLost() {
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        QTRY_VERIFY(w->timeout->isEnabled());
        w->timeout->setFocus();
        QTRY_VERIFY(w->timeout->hasFocus());
        QTest::keyClicks(w->timeout, "7");
        QVERIFY(w->isModified());
        testing::ExpectPrompts boxes;
        boxes->expectMessage(
            "Velmarrow",
            "Programming control of the camera was lost. The changes made in this window were "
            "not sent.",
            PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        m_reader->takeControl("OTHER-PC");
        QTRY_COMPARE(boxes->pendingCount(), 0);
    }

    // A declared control exists from its firmware level and is enabled with its group.
    void levelAndGroupRuleTheDeclaredControls() {
        QVERIFY(testing::takeControl(*m_conn));
        {
            auto w = openWindow<ProbeWindow>();
            QTRY_VERIFY(w->trigger->isEnabled());
            QVERIFY(!w->delay->isHidden() && !w->delayLabel->isHidden());
            QVERIFY(!w->trigger->isChecked());
            QVERIFY(!w->delay->isEnabled());
            QVERIFY(!w->delayLabel->isEnabled());
            QTest::mouseClick(w->trigger, Qt::LeftButton);
            QVERIFY(w->delay->isEnabled());
            QVERIFY(w->delayLabel->isEnabled());
            QVERIFY(!w->retryTime->property(SettingsWindow::kNotReadProperty).toBool());
            // Losing control greys it whatever the group says.
            testing::ExpectPrompts boxes;
            boxes->expectMessage(
                "Velmarrow", "Programming control of the camera was lost. These changes were not sent: TRIG.",
                PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
            m_reader->takeControl("OTHER-PC");
            QTRY_VERIFY(!w->delay->isEnabled());
            QTRY_COMPARE(boxes->pendingCount(), 0);
            QVERIFY(w->delayLabel->isEnabled());
            w->close();
        }
        tearDownBench();
        setUpBench();
        startReader("Older", "1.2.0.0");
        Received received(*m_reader);
        auto w = openWindow<ProbeWindow>();
        QVERIFY(!received.lines().contains("TD"));
        QVERIFY(w->delay->isHidden());
        QVERIFY(w->delayLabel->isHidden());
        QTest::mouseClick(w->trigger, Qt::LeftButton);
        received.clear();
        QVERIFY(w->apply());
        QCOMPARE(received.lines(), QStringList({"TRIG T"}));
    }

    // A failed check before the apply names the problem, puts the focus on its control
    // and sends nothing.
    void validationStopsTheApply() {
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        QTRY_VERIFY(w->trigger->isEnabled());
        QTest::mouseClick(w->trigger, Qt::LeftButton);
        leaveWithText(*w, w->timeout, "0");
        Received received(*m_reader);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", "A triggered read needs a read time-out.", PromptIcon::Exclamation,
                             PromptButtons::Ok, PromptAnswer::Ok);
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QCOMPARE(boxes->pendingCount(), 0);
        QVERIFY(received.lines().isEmpty());
        QVERIFY(w->isVisible());
        QTRY_VERIFY(w->timeout->hasFocus());
        leaveWithText(*w, w->timeout, "500");
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QCOMPARE(received.lines(), QStringList({"TRIG T", "TIMEOUT READ 500"}));
    }

    // A text travels in double quotes; one the reader would split (a quote followed by a
    // blank) is refused before anything is sent, with the box named; one with an inner
    // quote elsewhere goes out and reads back as typed.
    void quotedTextsTravelWhole() {
        QVERIFY(testing::takeControl(*m_conn));
        auto w = openWindow<ProbeWindow>();
        QTRY_VERIFY(w->header->isEnabled());
        QCOMPARE(w->header->maxLength(), 128);
        Received received(*m_reader);
        leaveWithText(*w, w->header, "say \"hi\" now");
        testing::ExpectPrompts boxes;
        boxes->expectMessage(
            "Velmarrow",
            "The text in \"Header\" cannot hold a double quote followed by a blank: the camera "
            "would read it as two settings.",
            PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        QTest::mouseClick(w->applyButton(), Qt::LeftButton);
        QCOMPARE(boxes->pendingCount(), 0);
        QVERIFY(received.lines().isEmpty());
        QTRY_VERIFY(w->header->hasFocus());

        leaveWithText(*w, w->header, "a\"b c");
        QVERIFY(w->apply());
        QCOMPARE(received.lines(), QStringList({"HEADER \"a\"b c\""}));
        w->reload();
        QCOMPARE(w->header->text(), QString("a\"b c"));
    }

    void leadingNumbers_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("number");
        QTest::newRow("plain") << "250" << qint64(250);
        QTest::newRow("blanks and unit") << "  12 ms" << qint64(12);
        QTest::newRow("negative") << "-40" << qint64(-40);
        QTest::newRow("plus") << "+7" << qint64(7);
        QTest::newRow("letters") << "abc" << qint64(0);
        QTest::newRow("sign only") << "-" << qint64(0);
        QTest::newRow("huge") << "99999999999999999999999" << qint64(1) * 1099511627776 * 10 / 10;
    }
    void leadingNumbers() {
        QFETCH(QString, text);
        QFETCH(qint64, number);
        if (QByteArray(QTest::currentDataTag()) == "huge")
            QVERIFY(settings::leadingNumber(text) > 60000); // held far above any range, never wrapped
        else
            QCOMPARE(settings::leadingNumber(text), number);
    }
};

QTEST_MAIN(TestSettingsWindow)
#include "tst_settingswindow.moc"
