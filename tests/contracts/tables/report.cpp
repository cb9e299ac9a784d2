// Camera report: a grid of the reader's newest records under a toolbar whose one reader
// command, the statistics reset, needs programming control. It binds no reader field; its
// checks pin the rows the reader's records make, the reset's boxes and commands, and the
// window's size.
#include "app/programstate.h"
#include "contracts/contract.h"
#include "contracts/tables/monitoring.h"
#include "display/reportgrid.h"
#include "display/twips.h"
#include "link/device.h"
#include "tools/basicreport.h"

#include <QAction>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QScreen>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using monitoring::Records;

const QString kReport = QStringLiteral("BasicReport");
const QString kRefused = QStringLiteral("Cannot clear statistics without control...");
const QString kConfirm = QStringLiteral("Are you sure you want to reset the camera statistics?");

// The question names the reader as the link knows it (here by its address).
QString askControl(Stage& stage) {
    return QStringLiteral("Do you wish to control the camera ") + stage.station().Device()->Name() +
           QLatin1Char('?');
}

QTableWidget* grid(Stage& stage) {
    return qobject_cast<QTableWidget*>(stage.control(QStringLiteral("Grid")));
}

QAction* clearCounters(Stage& stage) {
    return stage.window()->findChild<QAction*>(QStringLiteral("clearcounters"));
}

QString cell(Stage& stage, int row, int column) {
    QTableWidget* g = grid(stage);
    return g && row < g->rowCount() && g->item(row, column) ? g->item(row, column)->text() : QString();
}

// Clicks the toolbar button as the operator does.
void clickClearCounters(Stage& stage) {
    auto* bar = stage.window()->findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    QVERIFY(bar);
    QWidget* button = bar->widgetForAction(clearCounters(stage));
    QVERIFY(button && button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
}

// The reads the reader's statistics count.
quint64 counted(Stage& stage) {
    const sim::CycleStats stats = stage.reader().cycles().stats();
    return stats.passes + stats.fails;
}

// Commands the reader received, control claims included.
class Commands {
public:
    explicit Commands(Stage& stage)
        : m_spy(&stage.reader(), &sim::Reader::commandReceived) {}
    QStringList lines() const {
        QStringList out;
        for (const auto& args : m_spy)
            out << args.at(0).toString();
        return out;
    }

private:
    QSignalSpy m_spy;
};

// Each record makes one row on top: its image number, time, verdict, text (or the
// reader's status when nothing was read), grade and decode time, as the reader sent them.
void rowsFollowTheRecords(Stage& stage) {
    monitoring::startQuietReader(stage, QStringLiteral("REPORT-ROW"));
    stage.send(QStringLiteral("VERIFY ISO"));
    Records records;
    QWidget* window = stage.open(kReport);
    QVERIFY(window);
    QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Camera Report"));
    QTableWidget* g = grid(stage);
    QVERIFY(g);
    QStringList header;
    for (int c = 0; c < g->columnCount(); ++c)
        header << g->horizontalHeaderItem(c)->text();
    QCOMPARE(header, (QStringList{"Image", "Time", "Result", "Text", "Grade", "Decode (ms)"}));
    QCOMPARE(g->rowCount(), 0);
    QAction* reset = clearCounters(stage);
    QVERIFY(reset);
    QCOMPARE(reset->toolTip(), QStringLiteral("Reset Statistics"));

    link::Record read;
    QVERIFY(records.cycle(stage, &read));
    QElapsedTimer drawn;
    drawn.start();
    // The newest record is drawn from a 10 ms timer, never later than a moment after it came.
    QTRY_COMPARE_WITH_TIMEOUT(cell(stage, 0, 0), QString::number(read.Number()), 1000);
    QVERIFY2(drawn.elapsed() < 250, qPrintable(QString::number(drawn.elapsed())));
    QVERIFY(read.Passed());
    QCOMPARE(cell(stage, 0, 1), QDateTime::fromMSecsSinceEpoch(read.TimeMs()).toString("hh:mm:ss.zzz"));
    QCOMPARE(cell(stage, 0, 2), QStringLiteral("PASS"));
    QCOMPARE(cell(stage, 0, 3), QStringLiteral("REPORT-ROW"));
    QVERIFY(read.HasVerification());
    QCOMPARE(cell(stage, 0, 4), read.Verification()->overallGrade);
    QCOMPARE(cell(stage, 0, 5), QString::number(read.Result().DecodeMilliseconds(), 'f', 1));

    monitoring::printSymbol(stage, false);
    stage.send(QStringLiteral("VERIFY NONE"));
    link::Record failed;
    QVERIFY(records.cycle(stage, &failed));
    QTRY_COMPARE(cell(stage, 0, 0), QString::number(failed.Number()));
    QCOMPARE(g->rowCount(), 2);
    QCOMPARE(cell(stage, 0, 2), QStringLiteral("FAIL"));
    QCOMPARE(cell(stage, 0, 3), QStringLiteral("No Read"));
    QCOMPARE(cell(stage, 0, 4), QString());
    // The older row moves down unchanged.
    QCOMPARE(cell(stage, 1, 0), QString::number(read.Number()));
    QCOMPARE(cell(stage, 1, 2), QStringLiteral("PASS"));

    // In its normal state the window fits its grid as a record arrives, before that record
    // is drawn: the toolbar, the grid's content and 548 + 20 twips high, the content and
    // 178 twips wide.
    auto* bar = window->findChild<QToolBar*>(QStringLiteral("Toolbar1"));
    const auto fits = [&] {
        const int contentBefore = qobject_cast<display::ReportGrid*>(g)->ContentHeight() -
                                  display::PixelsToTwipsY(window, g->rowHeight(0));
        const int height = display::TwipsToPixelsY(window, display::PixelsToTwipsY(window, bar->height()) +
                                                               contentBefore + 548 + 20);
        const int width =
            display::TwipsToPixelsX(window, qobject_cast<display::ReportGrid*>(g)->ContentWidth() + 178);
        return std::abs(window->frameGeometry().height() - height) <= 2 &&
               std::abs(window->frameGeometry().width() - width) <= 2;
    };
    QTRY_VERIFY(fits());
    const int twoRows = window->height();
    QVERIFY(records.cycle(stage));
    QTRY_COMPARE(g->rowCount(), 3);
    QTRY_VERIFY(fits());
    QVERIFY(window->height() > twoRows);
    // Maximised, it keeps its size as rows come.
    window->showMaximized();
    QTRY_VERIFY(window->isMaximized() &&
                window->height() >= window->screen()->availableGeometry().height() - 50);
    const QSize maximised = window->size();
    QVERIFY(records.cycle(stage));
    QTRY_COMPARE(g->rowCount(), 4);
    QCOMPARE(window->size(), maximised);

    // The link goes down just after a record reached the PC, while another window waits for
    // a reply: the record, coming with the reader gone, empties the grid, and the window
    // shrinks below the height its rows needed.
    window->showNormal();
    QVERIFY(!window->isMaximized());
    const int withRows = display::TwipsToPixelsY(
        window, display::PixelsToTwipsY(window, bar->height()) +
                    qobject_cast<display::ReportGrid*>(g)->ContentHeight() + 548 + 20);
    {
        const QMetaObject::Connection drop = QObject::connect(
            stage.station().Device(), &link::Device::recordReceived, &stage.reader(),
            [&stage] { stage.reader().dropConnections(); }, Qt::DirectConnection);
        stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("VERSION"));
        QTimer::singleShot(0, &stage.reader(), [&stage] { stage.reader().cycles().runOnce(); });
        QVERIFY(!stage.station().SendCommand(QStringLiteral("VERSION")).ok);
        QObject::disconnect(drop);
    }
    QTRY_COMPARE_WITH_TIMEOUT(g->rowCount(), 0, 5000);
    QVERIFY2(
        window->frameGeometry().height() < withRows - 2,
        qPrintable(
            QStringLiteral("%1 for rows needing %2").arg(window->frameGeometry().height()).arg(withRows)));
    QTRY_VERIFY_WITH_TIMEOUT(stage.station().Connected(), 5000);

    // A new connection to the reader starts an empty grid.
    QVERIFY(records.cycle(stage));
    QTRY_COMPARE(g->rowCount(), 1);
    stage.reader().dropConnections();
    QTRY_COMPARE_WITH_TIMEOUT(g->rowCount(), 0, 5000);
}

// Saved as comma-separated values, a text with a comma and double quotes stays one field:
// enclosed in double quotes, each of its own double quotes doubled.
void exportKeepsTheReadersText(Stage& stage) {
    const QString text = QStringLiteral("LOT \"7\", TRAY 2");
    monitoring::startQuietReader(stage, text);
    Records records;
    auto* window = qobject_cast<tools::BasicReport*>(stage.open(kReport));
    QVERIFY(window);
    QVERIFY(records.cycle(stage));
    QTRY_COMPARE(cell(stage, 0, 3), text);
    // A comma alone is enough to enclose a text.
    QString error;
    QVERIFY(stage.reader().setScene(QStringLiteral("text"), QStringLiteral("LOT 8, TRAY 3"), &error));
    QVERIFY(records.cycle(stage));
    QTRY_COMPARE(grid(stage)->rowCount(), 2);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("report.csv"));
    window->setFileChooser([path](QWidget*) { return path; });
    window->exportButton()->trigger();
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines =
        QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    // The header names each column, separated by commas as the rows are.
    QStringList headers;
    for (int c = 0; c < grid(stage)->columnCount(); ++c)
        headers << grid(stage)->horizontalHeaderItem(c)->text();
    QCOMPARE(lines.at(0), headers.join(QLatin1Char(',')));
    const QString rows = lines.mid(1).join(QLatin1Char('\n'));
    QVERIFY2(rows.contains(QStringLiteral(",\"LOT \"\"7\"\", TRAY 2\",")), qPrintable(rows));
    QVERIFY2(rows.contains(QStringLiteral(",\"LOT 8, TRAY 3\",")), qPrintable(rows));

    // Closed by the operator, it opens again where it was left and as large.
    window->move(90, 70);
    window->resize(520, 330);
    QTRY_COMPARE(window->size(), QSize(520, 330));
    const QPoint place = window->pos();
    stage.close();
    QWidget* again = stage.open(kReport);
    QVERIFY(again);
    QCOMPARE(again->pos(), place);
    QCOMPARE(again->size(), QSize(520, 330));
    stage.close();
}

// The reset button follows programming control; declining control leaves the statistics
// untouched and sends nothing.
void resetAsksForControl(Stage& stage) {
    monitoring::startQuietReader(stage, QStringLiteral("REPORT-RESET"), false);
    Records records;
    QVERIFY(records.cycle(stage));
    QVERIFY(records.cycle(stage));
    QCOMPARE(counted(stage), quint64(2));
    QVERIFY(stage.open(kReport));
    QAction* reset = clearCounters(stage);
    QVERIFY(!reset->isEnabled());
    stage.regainControl();
    QTRY_VERIFY(reset->isEnabled());
    stage.releaseControl();
    QTRY_VERIFY(!reset->isEnabled());

    // Without control the toolbar button cannot be clicked; asked for all the same, the
    // reset asks for control first.
    auto* report = qobject_cast<tools::BasicReport*>(stage.window());
    QVERIFY(report);
    {
        Commands sent(stage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", askControl(stage), PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::No);
        boxes->expectMessage("Velmarrow", kRefused, PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
        report->ResetStatistics();
        QVERIFY2(!sent.lines().contains("CONTROL"), qPrintable(sent.lines().join(" | ")));
        QVERIFY(!sent.lines().contains("STATS RESET"));
    }
    QCOMPARE(counted(stage), quint64(2));
    QVERIFY(stage.reader().controller().isEmpty());

    // Yes: control is taken, then the reset is confirmed and sent.
    {
        Commands sent(stage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", askControl(stage), PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::Yes);
        boxes->expectMessage("Velmarrow", kConfirm, PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::Yes);
        report->ResetStatistics();
        QTRY_COMPARE(sent.lines(), (QStringList{"CONTROL", "STATS RESET"}));
    }
    QCOMPARE(counted(stage), quint64(0));
    QTRY_VERIFY(reset->isEnabled());

    // With control held there is only the confirmation; No sends nothing.
    QVERIFY(records.cycle(stage));
    {
        Commands sent(stage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", kConfirm, PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::No);
        clickClearCounters(stage);
        QVERIFY(sent.lines().isEmpty());
    }
    QCOMPARE(counted(stage), quint64(1));
    {
        Commands sent(stage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", kConfirm, PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::Yes);
        clickClearCounters(stage);
        QTRY_COMPARE(sent.lines(), QStringList{"STATS RESET"});
    }
    QCOMPARE(counted(stage), quint64(0));

    // The reader still known but its link lost: the reset says so and asks for nothing.
    stage.reader().setListening(false);
    stage.reader().dropConnections();
    QTRY_VERIFY(!stage.station().Connected());
    {
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", "No Connection To Camera", PromptIcon::Exclamation,
                             PromptButtons::Ok, PromptAnswer::Ok);
        report->ResetStatistics();
    }
    stage.reader().setListening(true);
}

// With a control password the reset asks for it, masked; a wrong one stops everything.
void resetAsksThePassword(Stage& stage) {
    monitoring::startQuietReader(stage, QStringLiteral("REPORT-PASSWORD"), false);
    app::setControlPassword(QStringLiteral("sesame"));
    auto* report = qobject_cast<tools::BasicReport*>(stage.open(kReport));
    QVERIFY(report);
    {
        Commands sent(stage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", askControl(stage), PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::Yes);
        boxes->expectInput("VelmarrowPassword", "Enter Password", QString(), true, QStringLiteral("open up"));
        boxes->expectMessage("Velmarrow", "Invalid Password", PromptIcon::None, PromptButtons::Ok,
                             PromptAnswer::Ok);
        report->ResetStatistics();
        QVERIFY(sent.lines().isEmpty());
    }
    {
        Commands sent(stage);
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", askControl(stage), PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::Yes);
        boxes->expectInput("VelmarrowPassword", "Enter Password", QString(), true, QStringLiteral("sesame"));
        boxes->expectMessage("Velmarrow", kConfirm, PromptIcon::Question, PromptButtons::YesNo,
                             PromptAnswer::No);
        report->ResetStatistics();
        QTRY_COMPARE(sent.lines(), QStringList{"CONTROL"});
    }
    QTRY_COMPARE(stage.reader().controller(), QStringLiteral("TEST-PC"));
    app::setControlPassword(QString());
}

} // namespace

WindowContract reportContract() {
    WindowContract w;
    w.window = kReport;
    w.notFields = {
        // The grid shows records; the operator only selects rows in it.
        QStringLiteral("Grid"),
    };
    w.checks = {rowsFollowTheRecords, exportKeepsTheReadersText, resetAsksForControl, resetAsksThePassword};
    return w;
}

} // namespace vm::contracts
