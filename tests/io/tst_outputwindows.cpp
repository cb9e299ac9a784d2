// The output format editor, the older output dialog, match and beeper against simulated
// readers: what they show, what the reader receives, and what a controller on the reader's
// output port then reads.
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/waits.h"
#include "common/windowbench.h"
#include "io/basicoutput.h"
#include "io/editformatstring.h"
#include "io/frmbeep.h"
#include "io/frmmatch.h"
#include "io/frmoutput.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/parameterset.h"
#include "shell/programstate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTabBar>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using io::BasicOutput;
using io::EditFormatString;
using io::frmBeep;
using io::frmMatch;
using io::frmOutput;

using testing::child;
using testing::clickCell;
using testing::typeAndLeave;

class TestOutputWindows : public QObject, protected testing::WindowBench {
    Q_OBJECT

    void startReader(const QString& version, bool control = true) {
        WindowBench::startReader("Out7", version, control);
    }

    // Edits a format string in the editor's grid, as a click, typing and Enter do.
    void editFormat(frmOutput* w, int row, const QString& text) {
        clickCell(child<QTableWidget>(w, "m_grid"), row, 4);
        auto* editor = child<EditFormatString>(w, "m_edformat");
        QVERIFY(editor->isVisible());
        editor->setText(text);
        QTest::keyClick(editor->editor(), Qt::Key_Return);
        QVERIFY(!editor->isVisible());
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() { setUpBench(); }
    void cleanup() { tearDownBench(); }

    // The operator sets Decode Pass on TCP1 to a time stamp and the data with a header,
    // applies, and a controller on the reader's TCP1 port reads exactly that stream; the
    // preview shows the same string for the last record.
    void editorSendsWhatTheControllerReads() {
        startReader("3.0.2.1");
        auto w = openWindow<frmOutput>();
        auto* tabs = child<QTabBar>(w.get(), "m_tabstrip");
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
        QCOMPARE(w->currentPort(), QString("TCP1"));
        editFormat(w.get(), 0, "(TIMESTAMP),(DATA)\\0d\\0a");
        auto* header = w->findChild<io::ClickableLabel*>("m_header");
        QTest::mouseClick(header, Qt::LeftButton);
        auto* editor = child<EditFormatString>(w.get(), "m_edformat");
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->key(), QString("HEADER"));
        editor->setText("LINE7:");
        QTest::keyClick(editor->editor(), Qt::Key_Return);
        clickCell(child<QTableWidget>(w.get(), "m_grid"), 0, 2);
        QVERIFY(w->applyButton()->isEnabled());
        QTest::mouseClick(w->applyButton(), Qt::LeftButton);
        QCOMPARE(readerValue("OUTPUT TCP1 OKDEC"),
                 QString("OUTPUT TCP1 OKDEC Y \"(TIMESTAMP),(DATA)\\0d\\0a\" H"));
        QCOMPARE(readerValue("OUTPUT TCP1 H_T"), QString("OUTPUT TCP1 H_T \"LINE7:\" \"\\0d\\0a\""));
        QCOMPARE(readerValue("OUTPUT STANDARD OKDEC"), QString("OUTPUT STANDARD OKDEC Y \"(DATA)\" NONE"));

        QTcpSocket controller;
        controller.connectToHost(m_reader->address(), m_reader->outputPort(1));
        QVERIFY(controller.waitForConnected(5000));
        QByteArray stream;
        QVERIFY(QTest::qWaitFor(
            [&] {
                stream += controller.readAll();
                return stream.count("\r\n") >= 3;
            },
            10000));
        const QRegularExpression report(R"(^LINE7:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3},VELMARROW-[0-9]*$)");
        const QList<QByteArray> lines = stream.split('\n');
        for (int i = 0; i < 2; ++i) {
            QVERIFY(lines[i].endsWith('\r'));
            QVERIFY2(report.match(QString::fromUtf8(lines[i].chopped(1))).hasMatch(), lines[i].constData());
        }
        QTRY_VERIFY(w->previewText().startsWith("Decode Pass, TCP1: LINE7:"));
        const QString preview = w->previewText().mid(QString("Decode Pass, TCP1: ").size());
        QVERIFY2(preview.endsWith("<CR><LF>"), qPrintable(preview));
        QVERIFY2(report.match(preview.chopped(8)).hasMatch(), qPrintable(preview));
    }

    // Header and trailer checks write their combined use; switching tabs keeps each port's
    // edits to that port.
    void headerTrailerAndTabs() {
        startReader("3.0.2.1");
        readerHolds("OUTPUT STANDARD DECFL Y \"x\" H_T");
        auto w = openWindow<frmOutput>();
        auto* grid = child<QTableWidget>(w.get(), "m_grid");
        QCOMPARE(grid->item(1, 2)->text(), QString("\u2713"));
        clickCell(grid, 1, 2);
        QCOMPARE(w->parameters().GetParameter("OUTPUT STANDARD DECFL").Field(2), QString("T"));
        clickCell(grid, 1, 3);
        QCOMPARE(w->parameters().GetParameter("OUTPUT STANDARD DECFL").Field(2), QString("NONE"));
        clickCell(grid, 1, 1);
        QCOMPARE(w->parameters().GetParameter("OUTPUT STANDARD DECFL").Field(0), QString("N"));

        // An edit still open when the tab changes belongs to the port it began on.
        clickCell(grid, 2, 4);
        child<EditFormatString>(w.get(), "m_edformat")->setText("lost (DATA)");
        auto* tabs = child<QTabBar>(w.get(), "m_tabstrip");
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(2).center());
        QCOMPARE(w->currentPort(), QString("TCP2"));
        QCOMPARE(grid->item(2, 4)->text(), QString(""));
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(0).center());
        QCOMPARE(grid->item(2, 4)->text(), QString("lost (DATA)"));
        QVERIFY(w->apply());
        QCOMPARE(readerValue("OUTPUT STANDARD LOCFL"),
                 QString("OUTPUT STANDARD LOCFL N \"lost (DATA)\" NONE"));
        QCOMPARE(readerValue("OUTPUT STANDARD DECFL"), QString("OUTPUT STANDARD DECFL N \"x\" NONE"));
        QCOMPARE(readerValue("OUTPUT TCP2 LOCFL"), QString("OUTPUT TCP2 LOCFL N \"\" NONE"));
    }

    // The keyword menu inserts at the caret, keeps a selection after the keyword, and offers
    // the cycle-data fields only on the TCP ports.
    void keywordMenu() {
        startReader("3.0.2.1");
        auto w = openWindow<frmOutput>();
        auto* editor = child<EditFormatString>(w.get(), "m_edformat");
        clickCell(child<QTableWidget>(w.get(), "m_grid"), 0, 4);
        editor->setText("abc");
        editor->editor()->setSelection(1, 1);
        editor->keywordMenu()->findChild<QAction*>("menuKeyword(0)")->trigger();
        QCOMPARE(editor->text(), QString("a(DATA)bc"));
        QCOMPARE(editor->editor()->cursorPosition(), 7);
        editor->keywordMenu()->findChild<QAction*>("menuKeyword(13)")->trigger();
        QCOMPARE(editor->text(), QString("a(DATA)\\0d\\0abc"));
        editor->keywordMenu()->findChild<QAction*>("menuID(2)")->trigger();
        QCOMPARE(editor->text(), QString("a(DATA)\\0d\\0a(ID02)bc"));
        QTest::mouseClick(editor->keywordButton(), Qt::LeftButton);
        QTRY_VERIFY(editor->keywordMenu()->isVisible());
        QVERIFY(!editor->cycleDataMenu()->menuAction()->isEnabled());
        editor->keywordMenu()->close();
        QVERIFY(editor->isVisible());

        auto* tabs = child<QTabBar>(w.get(), "m_tabstrip");
        QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(3).center());
        clickCell(child<QTableWidget>(w.get(), "m_grid"), 0, 4);
        QTest::mouseClick(editor->keywordButton(), Qt::LeftButton);
        QTRY_VERIFY(editor->keywordMenu()->isVisible());
        QVERIFY(editor->cycleDataMenu()->menuAction()->isEnabled());
        editor->cycleDataMenu()->findChild<QAction*>("menuCD(7)")->trigger();
        editor->keywordMenu()->close();
        QVERIFY(editor->text().endsWith("(CD07)"));
    }

    // The fixed buffer length is held to 0..254 and shown only on the newest readers.
    void fixedBufferLength() {
        startReader("2.4.0.0"); // level 9
        auto w = openWindow<frmOutput>();
        auto* fixed = child<QLineEdit>(w.get(), "m_fixedBufSize");
        auto* state = child<QLabel>(w.get(), "lblFixedState");
        QVERIFY(child<QGroupBox>(w.get(), "FixedFrame")->isVisible());
        for (const auto& [typed, held, shown] :
             QList<std::tuple<QString, QString, QString>>{{"300", "254", "Enabled"},
                                                          {"-5", "0", "Disabled"},
                                                          {"1", "1", "Disabled"},
                                                          {"abc", "0", "Disabled"},
                                                          {"40", "40", "Enabled"}}) {
            typeAndLeave(fixed, typed);
            QCOMPARE(fixed->text(), held);
            QCOMPARE(state->text(), shown);
        }
        QVERIFY(w->apply());
        QCOMPARE(readerValue("OUTPUT STANDARD FIXED"), QString("OUTPUT STANDARD FIXED 40"));
        w->close();

        startReader("2.3.0.0"); // level 8
        auto older = openWindow<frmOutput>();
        QVERIFY(!child<QGroupBox>(older.get(), "FixedFrame")->isVisible());
        QVERIFY(older->parameters().Find("OUTPUT STANDARD FIXED"));
    }

    // Without control the grid and labels do nothing; losing control ends an edit unkept.
    void withoutControl() {
        startReader("3.0.2.1", false);
        auto w = openWindow<frmOutput>();
        auto* grid = child<QTableWidget>(w.get(), "m_grid");
        clickCell(grid, 0, 1);
        QCOMPARE(grid->item(0, 1)->text(), QString("\u2713"));
        clickCell(grid, 0, 4);
        QVERIFY(!child<EditFormatString>(w.get(), "m_edformat")->isVisible());
        QVERIFY(!w->applyButton()->isEnabled());

        QVERIFY(testing::takeControl(*m_conn));
        QTRY_VERIFY(w->connection()->HasControl());
        clickCell(grid, 0, 4);
        QVERIFY(child<EditFormatString>(w.get(), "m_edformat")->isVisible());
        m_reader->dropControl();
        QTRY_VERIFY(!child<EditFormatString>(w.get(), "m_edformat")->isVisible());
        QCOMPARE(w->parameters().GetParameter("OUTPUT STANDARD OKDEC").Modified(), false);
    }

    // A format the reader refuses (a quote followed by a blank ends its text field) is
    // reported and stays in the window.
    void refusedFormatIsReported() {
        startReader("3.0.2.1");
        auto w = openWindow<frmOutput>();
        editFormat(w.get(), 0, "say \"hi\" now");
        (*m_unexpectedBoxes)
            ->expectMessage("Velmarrow",
                            "The camera did not accept these settings:\r\n"
                            "OUTPUT STANDARD OKDEC: !OUTPUT ERROR 3 OUTPUT STANDARD OKDEC needs 3 fields",
                            PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        QVERIFY(!w->apply());
        QVERIFY(w->parameters().GetParameter("OUTPUT STANDARD OKDEC").Modified());
        QCOMPARE(readerValue("OUTPUT STANDARD OKDEC"), QString("OUTPUT STANDARD OKDEC Y \"(DATA)\" NONE"));
    }

    // Each generation gets its own output window; each hands over to the other.
    void windowByLevel() {
        QCOMPARE(io::outputWindowFor({true, false, false, 2, "1.0.1.13"}), QString("BasicOutput"));
        QCOMPARE(io::outputWindowFor({true, false, false, 3, "1.1.0.32"}), QString("frmOutput"));
        QCOMPARE(io::outputWindowFor({true, false, false, 10, "3.0.2.1"}), QString("frmOutput"));

        startReader("1.0.1.13"); // level 2
        QPointer<QWidget> editor = app::windows().open("frmOutput", nullptr);
        QTRY_VERIFY(app::windows().find("BasicOutput"));
        QTRY_VERIFY(!editor);
        QVERIFY(app::windows().find("BasicOutput")->isVisible());
        app::windows().close("BasicOutput");

        startReader("1.1.0.32"); // level 3
        QPointer<QWidget> older = app::windows().open("BasicOutput", nullptr);
        QTRY_VERIFY(app::windows().find("frmOutput"));
        QTRY_VERIFY(!older);
    }

    // The older dialog: quotes shown and written as the reader keeps them, the match check
    // box, keywords appended, and the reader's reports after OK.
    void olderOutputDialog() {
        startReader("1.0.1.13");
        readerHolds("DECFL Y \"ab\" N N 2");
        readerHolds("TRAILER \"a\"b\"");
        readerHolds("MATCHEX B \"\" 0 1 1 1");
        auto w = openWindow<BasicOutput>();
        QCOMPARE(child<QLineEdit>(w.get(), "ReportEdit(1)")->text(), QString("ab"));
        QCOMPARE(child<QLineEdit>(w.get(), "Trailer")->text(), QString("a\"b"));
        QCOMPARE(child<QComboBox>(w.get(), "BeepCombo(1)")->currentText(), QString("2 beeps"));
        QVERIFY(child<QCheckBox>(w.get(), "MatchEnable")->isChecked());
        QVERIFY(!w->okButton()->isEnabled());

        auto* report = child<QLineEdit>(w.get(), "ReportEdit(0)");
        report->setText("<");
        report->setCursorPosition(0);
        QTest::mouseClick(child<QPushButton>(w.get(), "btnKeyword(0)"), Qt::LeftButton);
        w->keywordMenu()->actions().at(0)->trigger();
        w->keywordMenu()->actions().at(7)->trigger();
        w->keywordMenu()->close();
        QCOMPARE(report->text(), QString("<(DATA)\\0d\\0a"));
        child<QLineEdit>(w.get(), "Header")->setText("say \"x\":");
        child<QCheckBox>(w.get(), "HeaderCheck(0)")->click();
        child<QCheckBox>(w.get(), "MatchEnable")->click();
        QVERIFY(w->okButton()->isEnabled());
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QCOMPARE(readerValue("OKDEC"), QString("OKDEC Y \"<(DATA)\\0d\\0a\" Y N 1"));
        QCOMPARE(readerValue("HEADER"), QString("HEADER \"say \"x\":\""));
        QCOMPARE(readerValue("MATCHEX"), QString("MATCHEX N \"\" 0 1 1 1"));

        QTcpSocket controller;
        controller.connectToHost(m_reader->address(), m_reader->outputPort(1));
        QVERIFY(controller.waitForConnected(5000));
        QByteArray stream;
        QVERIFY(QTest::qWaitFor(
            [&] {
                stream += controller.readAll();
                return stream.contains("\r\n");
            },
            10000));
        QVERIFY2(QRegularExpression(R"(say "x":<VELMARROW-[0-9]*\r\n)")
                     .match(QString::fromUtf8(stream))
                     .hasMatch(),
                 stream.constData());
    }

    // A reader that does not answer makes the older dialog say so; without control its
    // controls are off.
    void olderDialogFailures() {
        startReader("1.0.1.13", false);
        m_reader->setNextReplyFault(sim::ReplyFault::Silent, 0, "RTE");
        (*m_unexpectedBoxes)
            ->expectMessage("Query Error",
                            "Error querying camera for output settings (No reply to \"RTE\" within 500 ms)",
                            PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
        auto w = openWindow<BasicOutput>();
        QVERIFY(!child<QCheckBox>(w.get(), "EnableCheck(0)")->isEnabled());
        QVERIFY(!child<QLineEdit>(w.get(), "ReportEdit(0)")->isEnabled());
        QVERIFY(!child<QComboBox>(w.get(), "BeepCombo(0)")->isEnabled());
        QVERIFY(!child<QCheckBox>(w.get(), "OutFormat")->isEnabled());
        QVERIFY(!w->okButton()->isEnabled());
    }

    // Match settings: the mode's check boxes, the fields' limits, the match list by level,
    // and the reader's match decision afterwards.
    void matchSettings() {
        startReader("2.2.0.6"); // level 7
        readerHolds("MATCHEX S \"\" 0 1 1 10");
        auto w = openWindow<frmMatch>();
        QVERIFY(!child<QCheckBox>(w.get(), "enableTextMatching")->isChecked());
        QVERIFY(child<QCheckBox>(w.get(), "enableSerialMatching")->isChecked());
        QVERIFY(!child<QLineEdit>(w.get(), "m_ed(0)")->isEnabled());
        QVERIFY(!child<QGroupBox>(w.get(), "MatchListFrame")->isVisible());
        QVERIFY(!child<QCheckBox>(w.get(), "MatchListCheck")->isVisible());
        for (const auto& [field, typed, held] :
             QList<std::tuple<int, QString, QString>>{{3, "0", "1"},
                                                      {3, "12", "10"},
                                                      {2, "-5000", "-1000"},
                                                      {1, "-3", "0"},
                                                      {1, "abc", "0"},
                                                      {1, "99999999999", "2147483647"},
                                                      {3, "8", "8"},
                                                      {4, "5", "8"},
                                                      {4, "2000", "1000"}}) {
            typeAndLeave(child<QLineEdit>(w.get(), QString("m_ed(%1)").arg(field)), typed);
            QCOMPARE(child<QLineEdit>(w.get(), QString("m_ed(%1)").arg(field))->text(), held);
        }
        child<QCheckBox>(w.get(), "enableTextMatching")->click();
        QVERIFY(child<QCheckBox>(w.get(), "MatchListCheck")->isVisible());
        child<QCheckBox>(w.get(), "MatchListCheck")->click();
        QVERIFY(child<QGroupBox>(w.get(), "MatchListFrame")->isVisible());
        typeAndLeave(child<QLineEdit>(w.get(), "m_ed(0)"), "NO*");
        typeAndLeave(child<QLineEdit>(w.get(), "ml_ed(4)"), "VELM?RROW-*");
        child<QCheckBox>(w.get(), "enableSerialMatching")->click();
        QTest::mouseClick(w->okButton(), Qt::LeftButton);
        QCOMPARE(readerValue("MATCHEX"), QString("MATCHEX T \"NO*\" 2147483647 -1000 8 1000"));
        QCOMPARE(readerValue("MATCH_LIST 5"), QString("MATCH_LIST 5 \"VELM?RROW-*\""));
        QCOMPARE(readerValue("MATCH_LIST_ENABLE"), QString("MATCH_LIST_ENABLE ON"));

        // The reader now passes the text by the list's fifth entry.
        readerHolds("OUTPUT TCP2 OKMATCH Y \"M(MATCH_INDEX);\" NONE");
        readerHolds("OUTPUT TCP2 OKDEC N \"\" NONE");
        QTcpSocket controller;
        controller.connectToHost(m_reader->address(), m_reader->outputPort(2));
        QVERIFY(controller.waitForConnected(5000));
        QByteArray stream;
        QVERIFY(QTest::qWaitFor(
            [&] {
                stream += controller.readAll();
                return stream.contains(";");
            },
            10000));
        QVERIFY2(stream.startsWith("M5;"), stream.constData());

        startReader("2.1.0.4"); // level 6
        auto older = openWindow<frmMatch>();
        QVERIFY(!older->parameters().Find("MATCH_LIST 1"));
        QVERIFY(!child<QCheckBox>(older.get(), "MatchListCheck")->isVisible());
        QVERIFY(!child<QGroupBox>(older.get(), "MatchListFrame")->isVisible());
    }

    // Beep control sends each change at once and the reader then beeps for that event.
    void beepControl() {
        startReader("3.0.2.1");
        readerHolds("TRIG T");
        auto w = openWindow<frmBeep>();
        QCOMPARE(w->grid()->item(0, 1)->text(), QString("1 Beep"));
        QCOMPARE(w->grid()->item(2, 1)->text(), QString("OFF"));
        clickCell(w->grid(), 2, 1);
        QVERIFY(w->list()->isVisible());
        QCOMPARE(w->list()->currentText(), QString("OFF"));
        w->list()->setCurrentIndex(2);
        emit w->list()->activated(2);
        QCOMPARE(w->grid()->item(2, 1)->text(), QString("2 Beeps"));
        QCOMPARE(readerValue("OUTPUT BEEP"), QString("OUTPUT BEEP 1 0 2 0 0 0"));

        // Nothing in view: a locate fail beeps twice. Without a read time-out: on a loaded
        // machine the search of an empty picture can outlast the reader's 500 ms, and the cycle
        // would end as a time-out, not a locate fail.
        QString error;
        QVERIFY(m_reader->setScene("contrast", "0", &error));
        readerHolds("TIMEOUT READ 0");
        const quint64 before = m_reader->output().beeps();
        const int cycleWait = testing::triggeredCycleWaitMs(0);
        readerHolds("VT");
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->output().beeps(), before + 2, cycleWait);

        child<QCheckBox>(w.get(), "m_enable")->click();
        QCOMPARE(readerValue("BEEP"), QString("BEEP N"));
        const qint64 cycles = m_reader->cycles().lastNumber();
        readerHolds("VT");
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->cycles().lastNumber(), cycles + 1, cycleWait);
        QCOMPARE(m_reader->output().beeps(), before + 2);

        // Losing control hides an open list and turns the switch off.
        clickCell(w->grid(), 0, 1);
        QVERIFY(w->list()->isVisible());
        m_reader->dropControl();
        QTRY_VERIFY(!w->list()->isVisible());
        QVERIFY(!child<QCheckBox>(w.get(), "m_enable")->isEnabled());

        startReader("1.0.1.13");
        QPointer<QWidget> old = app::windows().open("BeepControl", nullptr);
        QTRY_VERIFY(!old || !old->isVisible());
    }
};

int runOutputWindowTests(int argc, char** argv) {
    TestOutputWindows t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_outputwindows.moc"
