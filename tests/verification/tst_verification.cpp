// The symbology dialog's calibrate preparation and the verification report's PDF. The rest of
// the dialog, the calibration dialog and the report window are pinned by their contract tables.
#include "app/programstate.h"
#include "common/windowbench.h"
#include "link/connection.h"
#include "settings/symbology.h"
#include "sim/readcycle.h"
#include "verification/calibrationstate.h"
#include "verification/verificationreport.h"

#include <QProcess>
#include <QRadioButton>

#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using settings::Symbology;
using verification::VerificationReport;

namespace {

// The report as the window's grid shows it: one "name | value | grade" line per row.
QStringList gridRows(const QWidget& report) {
    QStringList rows;
    const auto* grid = report.findChild<QTableWidget*>();
    for (int r = 0; grid && r < grid->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < grid->columnCount(); ++c)
            cells << (grid->item(r, c) ? grid->item(r, c)->text() : QString());
        rows << cells.join(" | ");
    }
    return rows;
}

} // namespace

class TestVerification : public QObject, protected testing::WindowBench {
    Q_OBJECT

    void startReader(int lightChannels, bool control = true) {
        sim::ReaderConfig config = testing::readerConfig("Verifier", "3.0.2.1");
        config.lightChannels = lightChannels;
        WindowBench::startReader(config, control);
    }
    QStringList readerWords(const QString& query) { return m_conn->Query(query).split(' '); }
    // The report window, shown, for a reader that grades by ISO and waits for its trigger.
    VerificationReport* openReport() {
        startReader(0);
        m_conn->SendCommand("VERIFY ISO");
        m_conn->SendCommand("TRIG T");
        auto* report = new VerificationReport;
        report->show();
        return report;
    }
    // Runs one read cycle; true once the report has shown its record.
    bool cycleShown(const QSignalSpy& shown) {
        const qsizetype before = shown.size();
        m_reader->cycles().runOnce();
        return QTest::qWaitFor([&] { return shown.size() == before + 1; });
    }
    // The text of the report saved as the PDF `name`, in the compatibility form (its font may
    // set "ff" and "fi" as ligatures). A save that fails fails the test.
    QString savedPdfText(VerificationReport& report, const QString& name) {
        const QString path = m_dir.filePath(name);
        QString error;
        if (!QTest::qVerify(report.savePdf(path, &error), "report.savePdf(path, &error)", qPrintable(error),
                            __FILE__, __LINE__))
            return {};
        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-layout", path, "-"});
        if (!pdftotext.waitForFinished(30000))
            return {};
        return QString::fromUtf8(pdftotext.readAllStandardOutput()).normalized(QString::NormalizationForm_KC);
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() {
        setUpBench();
        verification::calibrationState() = {};
        app::setCalibrationText(QString());
    }
    void cleanup() { tearDownBench(); }

    // With one light channel switched off the dialog refuses to calibrate and sends nothing.
    void calibrateNeedsLight() {
        startReader(1);
        m_conn->SendCommand("TRIG C");
        m_conn->SendCommand("NUMBC 1");
        Symbology w;
        w.show();
        w.findChild<QRadioButton*>("Light1Option0")->setChecked(true);
        bool ran = false;
        w.runCalibration = [&] { ran = true; };
        // With the window changed, calibrating asks first; the operator keeps the changes
        // unapplied.
        auto expectApplyFirst = [this] {
            (*m_unexpectedBoxes)
                ->expectMessage(app::DefaultPromptTitle,
                                "Do you wish to apply the current changes before calibrating?\r\n"
                                "Note: Uncommitted changes may be lost!",
                                PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No);
        };
        (*m_unexpectedBoxes)
            ->expectMessage("Calibration requires lighting to be ON",
                            "Calibration cannot be done with this lighting type OFF", PromptIcon::Information,
                            PromptButtons::Ok, PromptAnswer::Ok);
        w.calibrate();
        QVERIFY(!ran);
        QCOMPARE(readerWords("TRIG").value(1), QString("C"));
        // With the light on it calibrates. (How the reader is prepared for the calibration and
        // put back after it is pinned by the symbology dialog's contract.)
        w.findChild<QRadioButton*>("Light1Option1")->setChecked(true);
        expectApplyFirst();
        w.calibrate();
        QVERIFY(ran);

        // ANSI grading is put on AIM for the calibration and back after it; ISO stays.
        for (const QString& standard : {QStringLiteral("ANSI"), QStringLiteral("ISO")}) {
            QVERIFY(m_conn->SendCommand("VERIFY " + standard).ok);
            ran = false;
            w.runCalibration = [&] {
                ran = true;
                QCOMPARE(readerWords("VERIFY").value(1),
                         standard == QLatin1String("ANSI") ? QStringLiteral("AIM") : standard);
            };
            w.findChild<QRadioButton*>("Light1Option1")->setChecked(true);
            expectApplyFirst();
            w.calibrate();
            QVERIFY(ran);
            QCOMPARE(readerWords("VERIFY").value(1), standard);
        }
    }

    // A graded record and one whose symbol was not read show the same rows in the window as in
    // the PDF saved from it, which also names the reader, the standard and the calibration; the
    // unread one says "No Read" with the decode's F.
    void reportWindowAndPdfAgree() {
        app::setCalibrationText("Calibrated : Calibrated Since Restart: December 06 2026  10:00:00");
        auto* report = openReport();
        QPointer<VerificationReport> guard(report);
        QSignalSpy shown(report, &VerificationReport::recordShown);
        sim::ReadCycle* camera = sim::ReadCycle::serving(m_reader->parameters());
        QVERIFY(camera);
        QImage blank(659, 494, QImage::Format_Grayscale8);
        blank.fill(218);
        const QString blankPath = m_dir.filePath("blank.png");
        QVERIFY(blank.save(blankPath));
        for (const bool read : {true, false}) {
            if (!read)
                QVERIFY(camera->showPicture(blankPath));
            QVERIFY(cycleShown(shown));
            const link::VerificationResult result = *report->shownRecord()->Verification();
            QCOMPARE(report->shownRecord()->Passed(), read);
            const QStringList rows = gridRows(*report);
            QVERIFY2(rows.contains("Overall grade |  | " + result.overallGrade), qPrintable(rows.join('\n')));
            if (!read) {
                QCOMPARE(result.overallGrade, QString("F"));
                QVERIFY2(rows.contains("Decode | No Read | F"), qPrintable(rows.join('\n')));
            }
            const QString text = savedPdfText(*report, read ? "read.pdf" : "unread.pdf");
            QVERIFY2(text.contains("Overall Grade: " + result.overallGrade), qPrintable(text));
            QVERIFY2(text.contains("Standard: ISO"), qPrintable(text));
            QVERIFY(text.simplified().contains(("Calibration: " + app::calibrationText()).simplified()));
            QVERIFY(text.contains("Reader: " + m_reader->address().toString()));
            // Every parameter row of the window is a row of the PDF, and the PDF has no other.
            int parameterRows = 0;
            for (const QString& row : rows) {
                const QStringList cells = row.split(" | ");
                if (cells.value(0) == "Image" || cells.value(0) == "Standard" ||
                    cells.value(0) == "Overall grade")
                    continue;
                ++parameterRows;
                // A row without a grade (the calibration, a saturation) ends with its value.
                const QRegularExpression inPdf(
                    "(?m)" + QRegularExpression::escape(cells.value(0)) + "\\s+" +
                    QRegularExpression::escape(cells.value(1)) +
                    (cells.value(2).isEmpty() ? QString("[ \\t]*$") : "\\s+" + cells.value(2) + "\\b"));
                QVERIFY2(inPdf.match(text).hasMatch(), qPrintable(row + " in\n" + text));
            }
            // The reader here is not calibrated: the report's row that says so (see
            // uncalibratedGradesSaySo) is in the PDF too.
            QCOMPARE(parameterRows, int(result.parameters.size()) + 1);
        }
        camera->removePicture();
        report->close();
        QTRY_VERIFY(guard.isNull());
    }

    // A reader without a calibration grades all the same, on its camera's own scale, and says so
    // with the result; the report shows it before the parameters as "Calibration | Not
    // Calibrated", the value in the red of the "Not Calibrated" status, and the PDF has the same
    // row. Once the reader is calibrated the row is gone from both.
    void uncalibratedGradesSaySo() {
        auto* report = openReport();
        QPointer<VerificationReport> guard(report);
        QSignalSpy shown(report, &VerificationReport::recordShown);
        const QRegularExpression pdfRow("(?m)^\\s*Calibration\\s+Not Calibrated[ \\t]*$");
        for (const bool calibrated : {false, true}) {
            if (calibrated) {
                m_conn->SendCommand("LEARN CALIBRATE");
                QVERIFY(cycleShown(shown));
                QTRY_COMPARE(m_conn->Query("CALIBRATED"), QString("CALIBRATED TRUE"));
            }
            QVERIFY(cycleShown(shown));
            QVERIFY(report->shownRecord()->Passed());
            const link::VerificationResult result = *report->shownRecord()->Verification();
            QCOMPARE(result.raw.value("calibrated").toBool(), calibrated);
            QCOMPARE(result.raw.value("warning").toString().startsWith("Not Calibrated: "), !calibrated);
            const QStringList rows = gridRows(*report);
            const QString text = savedPdfText(*report, calibrated ? "calibrated.pdf" : "uncalibrated.pdf");
            if (!calibrated) {
                // Image, Standard and Overall grade come first, then the parameters.
                QCOMPARE(rows.indexOf("Calibration | Not Calibrated | "), 3);
                const auto* grid = report->findChild<QTableWidget*>();
                QCOMPARE(grid->item(3, 1)->background().color(), QColor(255, 128, 128));
                QVERIFY2(!result.overallGrade.isEmpty(), qPrintable(rows.join('\n')));
                const QRegularExpressionMatch row = pdfRow.match(text);
                QVERIFY2(row.hasMatch(), qPrintable(text));
                QVERIFY2(row.capturedStart() < text.indexOf("Symbol Contrast"), qPrintable(text));
            } else {
                for (const QString& row : rows)
                    QVERIFY2(!row.startsWith("Calibration |"), qPrintable(rows.join('\n')));
                QVERIFY2(!pdfRow.match(text).hasMatch(), qPrintable(text));
            }
        }
        report->close();
        QTRY_VERIFY(guard.isNull());
    }
};

QTEST_MAIN(TestVerification)
#include "tst_verification.moc"
