// Verification report: the newest record's grades, the time and the calibration status, the
// window sized to its report, and printing.
#include "contracts/contract.h"

#include "app/programstate.h"
#include "app/windowregistry.h"
#include "common/prompts.h"
#include "link/connection.h"
#include "link/record.h"
#include "verification/verificationreport.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using verification::VerificationReport;

const QColor kGreen(128, 255, 128);
const QColor kRed(255, 128, 128);
// The parameters of a 2-D symbol's grade: the symbol's grade is the lowest of theirs.
const QStringList kSymbolGrades = {"Symbol Contrast",
                                   "Modulation",
                                   "Axial Nonuniformity",
                                   "Grid Nonuniformity",
                                   "Fixed Pattern Damage",
                                   "Unused Error Correction",
                                   "Decode"};

VerificationReport* report(Stage& stage) {
    return qobject_cast<VerificationReport*>(stage.window());
}

QTableWidget* grid(Stage& stage) {
    return qobject_cast<QTableWidget*>(stage.control(QStringLiteral("VerifyReportGrid")));
}

QLabel* label(Stage& stage, const char* name) {
    return qobject_cast<QLabel*>(stage.control(QLatin1String(name)));
}

// The grid's rows as "name|value|grade".
QStringList rows(Stage& stage) {
    QStringList out;
    QTableWidget* g = grid(stage);
    for (int r = 0; g && r < g->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < 3; ++c)
            cells << (g->item(r, c) ? g->item(r, c)->text() : QString());
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

// The grade the grid shows beside a name.
QString gradeShown(Stage& stage, const QString& name) {
    for (const QString& row : rows(stage))
        if (row.section(QLatin1Char('|'), 0, 0).compare(name, Qt::CaseInsensitive) == 0)
            return row.section(QLatin1Char('|'), 2, 2);
    return QStringLiteral("(no row %1)").arg(name);
}

// Runs one read cycle and waits until the report shows its record; returns the record as
// the station received it.
link::Record cycle(Stage& stage) {
    QSignalSpy records(&stage.station(), &link::Connection::OnNewRecord);
    QSignalSpy shown(report(stage), &VerificationReport::recordShown);
    stage.reader().cycles().runOnce();
    if (!records.wait(3000) || (shown.isEmpty() && !shown.wait(3000)))
        qWarning("no record shown");
    return records.isEmpty() ? link::Record() : records.last().at(0).value<link::Record>();
}

void fresh(Stage& stage, const QString& standard) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("VERIFY ") + standard);
    stage.send(QStringLiteral("TRIG T"));
    QVERIFY(stage.open(QStringLiteral("VerificationReport")));
}

void texts(Stage& stage) {
    fresh(stage, QStringLiteral("ISO"));
    QWidget* w = stage.window();
    QVERIFY2(w->windowTitle().endsWith(QStringLiteral("- Verification Report")),
             qPrintable(w->windowTitle()));
    auto* print = qobject_cast<QPushButton*>(stage.control(QStringLiteral("cmdPrintForm")));
    QVERIFY(print);
    QCOMPARE(print->text().remove(QLatin1Char('&')), QStringLiteral("Print Form"));
    QVERIFY(label(stage, "lblCurrentTime"));
    QVERIFY(label(stage, "lblCalibrateStatus"));
    // Offered for readers that grade, from firmware level 4.
    const app::WindowEntry* entry = app::windows().entry(QStringLiteral("VerificationReport"));
    QVERIFY(entry && entry->menu.supports);
    app::ReaderInfo reader;
    reader.connected = true;
    reader.firmwareLevel = 3;
    QVERIFY(!entry->menu.supports(reader));
    reader.firmwareLevel = 4;
    QVERIFY(entry->menu.supports(reader));
    // Showing and printing need no programming control.
    stage.releaseControl();
    QTRY_VERIFY(!stage.station().HasControl());
    const link::Record record = cycle(stage);
    QVERIFY(report(stage)->shownRecord());
    QCOMPARE(report(stage)->shownRecord()->Number(), record.Number());
    QVERIFY(print->isEnabled());
    stage.regainControl();
}

// Each record shows its grades, overall grade and standard; the time of display and the
// calibration status in its colour; the window takes the report's size.
void records(Stage& stage) {
    fresh(stage, QStringLiteral("ISO"));
    // Pale ink lowers the contrast: the symbol's grade is below A.
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("fault"), QStringLiteral("fade 45"), &error),
             qPrintable(error));
    link::Record record;
    for (int i = 0; i < 4 && !(record.HasVerification() && record.Result().SymbolFound()); ++i)
        record = cycle(stage);
    QVERIFY(record.HasVerification() && record.Result().SymbolFound());
    const link::VerificationResult& v = *record.Verification();
    QCOMPARE(v.standard, QStringLiteral("ISO"));
    QCOMPARE(report(stage)->shownRecord()->Number(), record.Number());
    const QStringList shown = rows(stage);
    for (const link::VerificationParameter& p : v.parameters)
        QVERIFY2(shown.contains(p.name + QLatin1Char('|') + p.value + QLatin1Char('|') + p.grade),
                 qPrintable(p.name + " in " + shown.join(" / ")));
    QVERIFY2(shown.join(QLatin1Char('/')).contains(QStringLiteral("ISO")), qPrintable(shown.join(" / ")));
    // The symbol's grade is the lowest of its parameters'.
    QString lowest = QStringLiteral("A");
    for (const QString& name : kSymbolGrades) {
        const QString g = gradeShown(stage, name);
        if (g.size() == 1 && g > lowest)
            lowest = g;
    }
    QVERIFY2(lowest > QStringLiteral("A"), qPrintable(shown.join(" / ")));
    QCOMPARE(v.overallGrade, lowest);
    QCOMPARE(gradeShown(stage, QStringLiteral("Overall grade")), lowest);

    // The time of display, "MMMM DD YYYY  hh:mm:ss".
    const QString time = label(stage, "lblCurrentTime")->text();
    const QDateTime at = QLocale::c().toDateTime(time, QStringLiteral("MMMM dd yyyy  hh:mm:ss"));
    QVERIFY2(at.isValid() && std::abs(at.secsTo(QDateTime::currentDateTime())) <= 5, qPrintable(time));
    QVERIFY2(QRegularExpression(QStringLiteral("^[A-Z][a-z]+ \\d\\d \\d{4}  \\d\\d:\\d\\d:\\d\\d$"))
                 .match(time)
                 .hasMatch(),
             qPrintable(time));

    // The window is the report's size: 1068 twips taller and 178 twips wider than the grid's
    // content, at 15 twips a pixel.
    cycle(stage); // sized by the report shown before it, which is alike
    QTableWidget* table = grid(stage);
    int contentHeight = 2 * table->frameWidth() + table->horizontalHeader()->sizeHint().height();
    for (int r = 0; r < table->rowCount(); ++r)
        contentHeight += table->rowHeight(r);
    QVERIFY2(std::abs(stage.window()->height() - (contentHeight + 1068 / 15)) <= 2,
             qPrintable(QStringLiteral("%1 for %2").arg(stage.window()->height()).arg(contentHeight)));

    // The calibration status, by the program-wide calibration text, at the next record.
    QLabel* status = label(stage, "lblCalibrateStatus");
    const QList<QPair<QString, QString>> states = {
        {QString(), "Not Calibrated"},
        {"Not Calibrated", "Not Calibrated"},
        {"Calibrated : Calibrated Since Restart: December 06 2026  10:00:00",
         "Calibrated : Calibrated Since Restart: December 06 2026  10:00:00"},
    };
    for (const auto& [text, expected] : states) {
        app::setCalibrationText(text);
        cycle(stage);
        QCOMPARE(status->text(), expected);
        QCOMPARE(status->palette().color(QPalette::Window), expected == "Not Calibrated" ? kRed : kGreen);
    }
}

// Records closer than the report's 10 ms show only the newer one.
void twoRecords(Stage& stage) {
    fresh(stage, QStringLiteral("ISO"));
    QSignalSpy records(&stage.station(), &link::Connection::OnNewRecord);
    QSignalSpy shown(report(stage), &VerificationReport::recordShown);
    // Both cycles' records are on the wire before the program reads either.
    stage.reader().cycles().runOnce();
    stage.reader().cycles().runOnce();
    QTRY_COMPARE(records.size(), 2);
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(report(stage)->shownRecord()->Number(), records.at(1).at(0).value<link::Record>().Number());
    QVERIFY(!QTest::qWaitFor([&] { return shown.size() > 1; }, 100));
}

// A symbol located but not decoded: the record fails with grade F and the report says so.
void locatedNotDecoded(Stage& stage) {
    fresh(stage, QStringLiteral("ISO"));
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("fault"), QStringLiteral("finder 100"), &error),
             qPrintable(error));
    link::Record record;
    for (int i = 0; i < 3; ++i)
        record = cycle(stage);
    QVERIFY(!record.Result().SymbolFound());
    QCOMPARE(record.Result().StatusText(), QStringLiteral("No Read"));
    QVERIFY(record.HasVerification());
    QCOMPARE(record.Verification()->overallGrade, QStringLiteral("F"));
    QCOMPARE(record.Verification()->gradeCode, 0);
    QCOMPARE(report(stage)->shownRecord()->Number(), record.Number());
    QCOMPARE(gradeShown(stage, QStringLiteral("Overall grade")), QStringLiteral("F"));
    // Nothing of it is graded as passing.
    for (const QString& row : rows(stage))
        QVERIFY2(!QStringList({"A", "B", "C"}).contains(row.section(QLatin1Char('|'), 2, 2)),
                 qPrintable(row));
}

// A barcode's grade is the average of its scans' grades, shown as its "Scan Grade".
void barcode(Stage& stage) {
    fresh(stage, QStringLiteral("ANSI"));
    stage.send(QStringLiteral("NUMBC 1"));
    stage.send(QStringLiteral("NUMDM 0"));
    stage.send(QStringLiteral("BARCODE ENABLE 0x1"));
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("symbology"), QStringLiteral("CODE128"), &error),
             qPrintable(error));
    QVERIFY(stage.reader().setScene(QStringLiteral("rotation"), QStringLiteral("0"), &error));
    link::Record record;
    for (int i = 0; i < 4 && !record.Result().SymbolFound(); ++i)
        record = cycle(stage);
    QVERIFY(record.Result().SymbolFound() && record.HasVerification());
    QCOMPARE(gradeShown(stage, QStringLiteral("Overall grade")),
             gradeShown(stage, QStringLiteral("Scan Grade")));
    QCOMPARE(record.Verification()->overallGrade, gradeShown(stage, QStringLiteral("Scan Grade")));
}

// Print Form copies the window to the clipboard and needs a printer.
void print(Stage& stage) {
    fresh(stage, QStringLiteral("ISO"));
    cycle(stage);
    report(stage)->printerNames = [] { return QStringList(); };
    QGuiApplication::clipboard()->clear();
    stage.unexpected()->expectMessage(QStringLiteral("No printer installed"),
                                      QStringLiteral("Cannot print if no printer is installed"),
                                      PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
    qobject_cast<QPushButton*>(stage.control(QStringLiteral("cmdPrintForm")))->click();
    const QImage copied = QGuiApplication::clipboard()->image();
    QVERIFY(!copied.isNull());
    QCOMPARE(copied.size() / copied.devicePixelRatio(), stage.window()->size());
}

// The report follows whichever reader is focused: leaving a camera keeps it open.
void followsTheReader(Stage& stage) {
    fresh(stage, QStringLiteral("ISO"));
    QPointer<QWidget> w = stage.window();
    app::windows().unloadReaderWindows(nullptr);
    QVERIFY(w && w->isVisible());
}

} // namespace

WindowContract verificationReportContract() {
    WindowContract w;
    w.window = QStringLiteral("VerificationReport");
    // The report is drawn into the grid; nothing of it is edited.
    w.notFields = {QStringLiteral("VerifyReportGrid")};
    w.checks = {texts, records, twoRecords, locatedNotDecoded, barcode, print, followsTheReader};
    return w;
}

} // namespace vm::contracts
