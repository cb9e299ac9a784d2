// Terminal: the operator types reader commands and reads the reader's replies. It binds no
// reader field; its checks pin the lines sent and the lines shown, with their colours.
#include "contracts/contract.h"
#include "link/device.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>

namespace vm::contracts {

namespace {

const QString kTerminal = QStringLiteral("BasicTerminal");

QPlainTextEdit* output(Stage& stage) {
    return qobject_cast<QPlainTextEdit*>(stage.control(QStringLiteral("TerminalOutput")));
}

QLineEdit* input(Stage& stage) {
    return qobject_cast<QLineEdit*>(stage.control(QStringLiteral("TerminalInput")));
}

QStringList shownLines(Stage& stage) {
    return output(stage)->toPlainText().split(QLatin1Char('\n'));
}

// The colour of a shown line, counted from the end (1 the last).
QColor colourFromEnd(Stage& stage, int back) {
    QTextBlock block = output(stage)->document()->lastBlock();
    for (int i = 1; i < back; ++i)
        block = block.previous();
    return block.begin().fragment().charFormat().foreground().color();
}

// Types a line and presses Enter, as the operator does.
void type(Stage& stage, const QString& line) {
    QLineEdit* box = input(stage);
    QVERIFY(box);
    box->setFocus();
    QTest::keyClicks(box, line);
    QTest::keyClick(box, Qt::Key_Return);
}

const QColor kCommand(0, 255, 0);
const QColor kReply(255, 255, 255);
const QColor kOk(0, 255, 255);
const QColor kError(255, 80, 80);

void linesSentAndReceived(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("BEEP N"));
    QWidget* window = stage.open(kTerminal);
    QVERIFY(window);
    QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Terminal"));
    QVERIFY(output(stage) && input(stage));
    QVERIFY(output(stage)->isReadOnly());
    QTRY_COMPARE(shownLines(stage).constLast(),
                 QStringLiteral("-- Connected to ") + stage.station().Device()->Name());

    // A query: the line as typed, then the reader's answer as another station gets it.
    const link::CommandReply expected = stage.station().SendCommand(QStringLiteral("TRIG"));
    QVERIFY(expected.ok && expected.lines.size() == 1);
    testing::Received received(stage.reader());
    type(stage, QStringLiteral("TRIG"));
    QTRY_COMPARE(received.lines(), QStringList{"TRIG"});
    QStringList lines = shownLines(stage);
    QCOMPARE(lines.mid(lines.size() - 3), (QStringList{"> TRIG", expected.lines.first(), expected.status}));
    QCOMPARE(expected.status, QStringLiteral("!TRIG OK"));
    QCOMPARE(colourFromEnd(stage, 3), kCommand);
    QCOMPARE(colourFromEnd(stage, 2), kReply);
    QCOMPARE(colourFromEnd(stage, 1), kOk);
    QCOMPARE(input(stage)->text(), QString());

    // A change, with programming control: the reader takes exactly the typed line.
    received.clear();
    type(stage, QStringLiteral("BEEP Y"));
    QTRY_COMPARE(received.lines(), QStringList{"BEEP Y"});
    QCOMPARE(stage.fields(QStringLiteral("BEEP")).value(0), QStringLiteral("Y"));
    QCOMPARE(shownLines(stage).constLast(), QStringLiteral("!BEEP OK"));

    // Without control the reader refuses and the refusal shows in red; nothing changes.
    stage.releaseControl();
    const link::CommandReply refused = stage.station().SendCommand(QStringLiteral("BEEP N"));
    QVERIFY(!refused.ok && !refused.status.isEmpty());
    type(stage, QStringLiteral("BEEP N"));
    QTRY_COMPARE(shownLines(stage).constLast(), refused.status);
    QCOMPARE(colourFromEnd(stage, 1), kError);
    QCOMPARE(stage.fields(QStringLiteral("BEEP")).value(0), QStringLiteral("Y"));
    stage.regainControl();

    // An unknown word: the reader's error, in red.
    const link::CommandReply unknown = stage.station().SendCommand(QStringLiteral("NOSUCHWORD"));
    type(stage, QStringLiteral("NOSUCHWORD"));
    QTRY_COMPARE(shownLines(stage).constLast(), unknown.status);
    QCOMPARE(colourFromEnd(stage, 1), kError);

    // Up recalls the lines typed before, newest first.
    QTest::keyClick(input(stage), Qt::Key_Up);
    QCOMPARE(input(stage)->text(), QStringLiteral("NOSUCHWORD"));
    QTest::keyClick(input(stage), Qt::Key_Up);
    QCOMPARE(input(stage)->text(), QStringLiteral("BEEP N"));
    QTest::keyClick(input(stage), Qt::Key_Down);
    QCOMPARE(input(stage)->text(), QStringLiteral("NOSUCHWORD"));
    // Down past the newest line brings back what was being typed before Up: nothing, then "BEE".
    QTest::keyClick(input(stage), Qt::Key_Down);
    QCOMPARE(input(stage)->text(), QString());
    input(stage)->setText(QStringLiteral("BEE"));
    QTest::keyClick(input(stage), Qt::Key_Up);
    QCOMPARE(input(stage)->text(), QStringLiteral("NOSUCHWORD"));
    QTest::keyClick(input(stage), Qt::Key_Down);
    QCOMPARE(input(stage)->text(), QStringLiteral("BEE"));
    // The same line twice running is kept once: two Ups reach the line before it.
    input(stage)->clear();
    type(stage, QStringLiteral("NOSUCHWORD"));
    QTRY_COMPARE(shownLines(stage).constLast(), unknown.status);
    QTest::keyClick(input(stage), Qt::Key_Up);
    QTest::keyClick(input(stage), Qt::Key_Up);
    QCOMPARE(input(stage)->text(), QStringLiteral("BEEP N"));
}

} // namespace

WindowContract terminalContract() {
    WindowContract w;
    w.window = kTerminal;
    w.notFields = {
        // The command line the operator types; it goes to the reader as typed.
        QStringLiteral("TerminalInput"),
        // The read-only lines sent and received.
        QStringLiteral("TerminalOutput"),
    };
    w.checks = {linesSentAndReceived};
    return w;
}

} // namespace vm::contracts
