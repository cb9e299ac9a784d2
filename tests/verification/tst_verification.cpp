// The verification windows against simulated readers with 0, 1 and 10 external light
// channels: calibration light by light, what the reader holds afterwards, and failures.
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/windowbench.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "settings/symbology.h"
#include "shell/programstate.h"
#include "verification/calibrationstate.h"
#include "verification/dlgcalibrate.h"
#include "verification/verificationreport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QRadioButton>

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
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
using verification::dlgCalibrate;
using verification::VerificationReport;

namespace {

QTableWidget* gridOf(QWidget* w) {
    return w->findChild<QTableWidget*>("CalibrateGrid");
}

QString cell(QTableWidget* grid, int row, int column) {
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

QColor statusColour(QTableWidget* grid, int row) {
    return grid->item(row, 7)->background().color();
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

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() {
        setUpBench();
        verification::calibrationState() = {};
        shell::setCalibrationText(QString());
    }
    void cleanup() { tearDownBench(); }

    // Every light of the reader calibrates under its own light; the grid shows what the
    // reader measured, and a dialog opened later reads the same values back from it.
    void calibrationPerLightChannel_data() {
        QTest::addColumn<int>("channels");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("internal light") << 0 << QStringList{"INTERNAL"};
        QTest::newRow("one channel") << 1 << QStringList{"90"};
        QTest::newRow("ten channels") << 10 << QStringList{"90",  "D",     "45Q",   "30T_NS", "30T_EW",
                                                           "30Q", "30S_N", "30S_E", "30S_S",  "30S_W"};
    }
    void calibrationPerLightChannel() {
        QFETCH(int, channels);
        QFETCH(QStringList, rows);
        startReader(channels);
        QList<QList<int>> values; // per row: cell unit, contrast max, contrast min, R_cal
        {
            dlgCalibrate dialog;
            QVERIFY(dialog.hasControl());
            QTableWidget* grid = gridOf(&dialog);
            QCOMPARE(grid->rowCount(), rows.size());
            for (int r = 0; r < rows.size(); ++r) {
                QCOMPARE(cell(grid, r, 0), rows[r]);
                QCOMPARE(cell(grid, r, 7), QString("Recalibrate - Camera was Reset"));
                QCOMPARE(statusColour(grid, r), QColor(255, 128, 128));
            }
            dialog.calibrate();
            QVERIFY(dialog.calibratedMark());
            for (int r = 0; r < rows.size(); ++r) {
                QVERIFY2(cell(grid, r, 7).startsWith("Calibrated Since Restart: "),
                         qPrintable(rows[r] + ": " + cell(grid, r, 7)));
                QCOMPARE(statusColour(grid, r), QColor(128, 255, 128));
                const int max = cell(grid, r, 4).toInt(), min = cell(grid, r, 5).toInt();
                QVERIFY2(max > min + 60 && min > 0,
                         qPrintable(rows[r] + QString(": %1 %2").arg(max).arg(min)));
                QVERIFY(cell(grid, r, 3).toInt() >= 5); // the scene prints 9 pixels a cell
                values.append({cell(grid, r, 3).toInt(), max, min, cell(grid, r, 6).toInt()});
            }
            // The reader holds the last light's values, whole numbers, not "0 0".
            const QStringList contrast = readerWords("CONTRAST");
            // The record carries the tenths the reader rounds away.
            QVERIFY(qAbs(contrast.value(1).toInt() - cell(grid, rows.size() - 1, 4).toInt()) <= 1);
            QVERIFY(qAbs(contrast.value(2).toInt() - cell(grid, rows.size() - 1, 5).toInt()) <= 1);
            QVERIFY(shell::calibrationText().startsWith("Calibrated Since Restart: "));
            QCOMPARE(readerWords("CALIBRATED").value(1), QString("TRUE"));
            QCOMPARE(readerWords("CELL_UNIT_REPORT").value(1), QString("MILS"));
            if (channels == 10) {
                // The low-angle lights return less light: they need more exposure and gain.
                const double bright =
                    cell(grid, 0, 1).toDouble() * std::pow(2.0, cell(grid, 0, 2).toDouble() / 320);
                const double low =
                    cell(grid, 6, 1).toDouble() * std::pow(2.0, cell(grid, 6, 2).toDouble() / 320);
                QVERIFY2(low > bright * 1.2, qPrintable(QString("%1 %2").arg(low).arg(bright)));
            }
            QSignalSpy announced(m_conn.get(), &link::Connection::OnBroadcastMessage);
            dialog.findChild<QPushButton*>("CloseButton")->click();
            QTRY_VERIFY(!announced.isEmpty());
            QCOMPARE(announced.first().at(1).toString(), QString("CALIBRATED"));
        }
        verification::calibrationState() = {};
        dlgCalibrate again;
        QTableWidget* grid = gridOf(&again);
        for (int r = 0; r < rows.size(); ++r) {
            QVERIFY(cell(grid, r, 7).startsWith("Calibrated Since Restart: "));
            for (int c = 0; c < 4; ++c)
                QVERIFY2(qAbs(cell(grid, r, 3 + c).toInt() - values[r][c]) <= 1, qPrintable(rows[r]));
        }
    }

    // A lamp too dim for the hall's light fails with the reader's error text, in red.
    void dimLightFailsCalibration() {
        startReader(1);
        QString error;
        QVERIFY2(m_reader->setLampOutput("90", "2", &error), qPrintable(error));
        dlgCalibrate dialog;
        (*m_unexpectedBoxes)
            ->expectMessage("Calibration Failure",
                            "The calibration on the currently selected light (90) was unsuccessful!",
                            PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
        dialog.calibrate();
        QTableWidget* grid = gridOf(&dialog);
        QCOMPARE(cell(grid, 0, 7), QString("ISO Verification mean light bad"));
        QCOMPARE(statusColour(grid, 0), QColor(255, 128, 128));
        QCOMPARE(cell(grid, 0, 4), QString("255"));
        QCOMPARE(cell(grid, 0, 6), QString("0"));
        QCOMPARE(shell::calibrationText(), QString("Not Calibrated"));
        QVERIFY(!dialog.calibratedMark());
        QCOMPARE(readerWords("CALIBRATED").value(1), QString("FALSE"));
        QCOMPARE(readerWords("CELL_UNIT_REPORT").value(1), QString("PIXELS"));
    }

    // Targets must lie strictly between 0 and 100; without control nothing is calibrated.
    void targetsAndControl() {
        startReader(0);
        {
            dlgCalibrate dialog;
            auto* contrast = dialog.findChild<QLineEdit*>("txtCalTargetContrast");
            auto* reflectance = dialog.findChild<QLineEdit*>("txtCalTargetReflectanceMax");
            QCOMPARE(contrast->text(), QString("80"));
            QCOMPARE(reflectance->text(), QString("85"));
            for (const QString bad : {"0", "100", "x"}) {
                reflectance->setText(bad);
                (*m_unexpectedBoxes)
                    ->expectMessage(app::DefaultPromptTitle, "Please Enter Numeric Value Between 0 and 100",
                                    PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
                dialog.calibrate();
                QCOMPARE(readerWords("TARGET_CALIB_REFLECTANCE").value(1), QString("85"));
            }
            reflectance->setText("99");
            contrast->setText("1");
            // A one percent target cannot match the printed contrast.
            (*m_unexpectedBoxes)
                ->expectMessage(
                    "Calibration Failure",
                    "The calibration on the currently selected light (INTERNAL) was unsuccessful!",
                    PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
            dialog.calibrate();
            QCOMPARE(readerWords("TARGET_CALIB_REFLECTANCE").value(1), QString("99"));
            QCOMPARE(readerWords("TARGET_CALIB_CONTRAST").value(1), QString("1"));
            QCOMPARE(cell(gridOf(&dialog), 0, 7), QString("Verification contrast calibration failure"));
        }
        m_conn->SendCommand("RELEASE");
        QTRY_VERIFY(!m_conn->HasControl());
        (*m_unexpectedBoxes)
            ->expectMessage(app::DefaultPromptTitle,
                            "Do you wish to control the camera " + m_reader->address().toString() + "?",
                            PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No);
        (*m_unexpectedBoxes)
            ->expectMessage(app::DefaultPromptTitle, "Cannot calibrate without control...", PromptIcon::None,
                            PromptButtons::Ok, PromptAnswer::Ok);
        dlgCalibrate refused;
        QVERIFY(!refused.hasControl());
        QVERIFY(!refused.findChild<QPushButton*>("CalibrateButton")->isEnabled());
        QCOMPARE(verification::verificationErrorText(4999), QString("Unknown error = 4999"));
    }

    // A reader that cannot grade has no verification report item.
    void readerWithoutVerification() {
        const app::WindowEntry* report = app::windows().entry(VerificationReport::WindowName);
        QVERIFY(report);
        app::ReaderInfo reader;
        reader.connected = true;
        reader.firmwareLevel = 3;
        QVERIFY(!report->menu.supports(reader));
        reader.firmwareLevel = 4;
        QVERIFY(report->menu.supports(reader));
    }

    // With one light channel switched off the dialog refuses to calibrate and sends nothing.
    void calibrateNeedsLight() {
        startReader(1);
        m_conn->SendCommand("TRIG C");
        Symbology w;
        w.show();
        w.findChild<QRadioButton*>("Light1Option0")->setChecked(true);
        bool ran = false;
        w.runCalibration = [&] { ran = true; };
        (*m_unexpectedBoxes)
            ->expectMessage("Calibration requires lighting to be ON",
                            "Calibration cannot be done with this lighting type OFF", PromptIcon::Information,
                            PromptButtons::Ok, PromptAnswer::Ok);
        w.calibrate();
        QVERIFY(!ran);
        QCOMPARE(readerWords("TRIG").value(1), QString("C"));
        w.findChild<QRadioButton*>("Light1Option1")->setChecked(true);
        w.runCalibration = [&] {
            ran = true;
            // Prepared for the calibration: triggered, grading Data Matrix.
            QCOMPARE(readerWords("TRIG").value(1), QString("T"));
            QCOMPARE(readerWords("VERIFY").value(1), QString("AIM"));
        };
        (*m_unexpectedBoxes)
            ->expectMessage(app::DefaultPromptTitle,
                            "Do you wish to apply the current changes before calibrating?\r\n"
                            "Note: Uncommitted changes may be lost!",
                            PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No);
        w.calibrate();
        QVERIFY(ran);
        QCOMPARE(readerWords("TRIG").value(1), QString("C"));
        QCOMPARE(readerWords("VERIFY").value(1), QString("NONE"));
    }

    // With ISO 15415 grading, a print fault of the part in view reaches the report as the
    // grade of its own parameter: a broken finder lowers Fixed Pattern Damage only.
    void printFaultShowsInItsOwnGrade() {
        startReader(0);
        m_conn->SendCommand("VERIFY ISO");
        m_conn->SendCommand("DM_ALLOW_SEVERE_DAMAGE ON");
        m_conn->SendCommand("TRIG T");
        auto* report = new VerificationReport;
        QPointer<VerificationReport> guard(report);
        report->show();
        QSignalSpy shown(report, &VerificationReport::recordShown);
        auto grades = [&] {
            QHash<QString, QString> byName;
            for (const link::VerificationParameter& p : report->shownRecord()->Verification()->parameters)
                byName.insert(p.name, p.grade);
            return byName;
        };
        // A few cycles let the reader's automatic photometry settle on the part.
        auto cycles = [&](int count) {
            for (int i = 0; i < count; ++i) {
                const qsizetype before = shown.size();
                m_reader->cycles().runOnce();
                QTRY_COMPARE(shown.size(), before + 1);
            }
        };
        cycles(3);
        QVERIFY(report->shownRecord()->HasVerification());
        const QHash<QString, QString> good = grades();
        QCOMPARE(good.value("Fixed Pattern Damage"), QString("A"));
        QCOMPARE(good.value("Symbol Contrast"), QString("A"));

        QString error;
        QVERIFY2(m_reader->setScene("fault", "finder 5", &error), qPrintable(error));
        cycles(2);
        const QHash<QString, QString> damaged = grades();
        QVERIFY2(damaged.value("Fixed Pattern Damage") > "A",
                 qPrintable(damaged.value("Fixed Pattern Damage")));
        QCOMPARE(damaged.value("Symbol Contrast"), QString("A"));
        QCOMPARE(damaged.value("Unused Error Correction"), QString("A"));
        QVERIFY(report->shownRecord()->Verification()->overallGrade > "A");
        report->close();
        QTRY_VERIFY(guard.isNull());
    }

    // The report shows the newest of records that come together, the calibration status in
    // its colour, saves a PDF that reads back, and will not print without a printer.
    void verificationReport() {
        startReader(0);
        m_conn->SendCommand("VERIFY ISO");
        m_conn->SendCommand("TRIG T");
        shell::setCalibrationText("Not Calibrated");
        auto* report = new VerificationReport;
        QPointer<VerificationReport> guard(report);
        report->show();
        link::ReaderConnection counter;
        QSignalSpy records(&counter, &link::Connection::OnNewRecord);
        QSignalSpy shown(report, &VerificationReport::recordShown);
        // Both cycles' records are on the wire before the program reads either.
        m_reader->cycles().runOnce();
        m_reader->cycles().runOnce();
        QTRY_COMPARE(records.size(), 2);
        QTRY_COMPARE(shown.size(), 1);
        const qint64 second = records.at(1).at(0).value<link::Record>().Number();
        QCOMPARE(report->shownRecord()->Number(), second);
        QVERIFY(!QTest::qWaitFor([&] { return shown.size() > 1; }, 100));
        auto* status = report->findChild<QLabel*>("lblCalibrateStatus");
        QCOMPARE(status->text(), QString("Not Calibrated"));
        QCOMPARE(status->palette().color(QPalette::Window), QColor(255, 128, 128));
        QVERIFY(report->findChild<QLabel*>("lblCurrentTime")
                    ->text()
                    .contains(QString::number(QDate::currentDate().year())));

        shell::setCalibrationText("Calibrated : Calibrated Since Restart: December 06 2026  10:00:00");
        m_reader->cycles().runOnce();
        QTRY_COMPARE(shown.size(), 2);
        QCOMPARE(status->text(), shell::calibrationText());
        QCOMPARE(status->palette().color(QPalette::Window), QColor(128, 255, 128));

        const link::VerificationResult result = *report->shownRecord()->Verification();
        QVERIFY(result.parameters.size() >= 5);
        const QString path = m_dir.filePath("report.pdf");
        QString error;
        QVERIFY2(report->savePdf(path, &error), qPrintable(error));
        QProcess pdftotext;
        pdftotext.start("pdftotext", {"-layout", path, "-"});
        QVERIFY(pdftotext.waitForFinished(30000));
        const QString text = QString::fromUtf8(pdftotext.readAllStandardOutput());
        QVERIFY2(text.contains("Overall Grade: " + result.overallGrade), qPrintable(text));
        QVERIFY(text.contains("Standard: ISO"));
        QVERIFY(text.simplified().contains(("Calibration: " + shell::calibrationText()).simplified()));
        QVERIFY(text.contains("Reader: " + m_reader->address().toString()));
        for (const link::VerificationParameter& p : result.parameters) {
            const QRegularExpression row(QRegularExpression::escape(p.name) + "\\s+" +
                                         QRegularExpression::escape(p.value) + "\\s+" + p.grade + "\\b");
            QVERIFY2(row.match(text).hasMatch(), qPrintable(p.name + " in\n" + text));
        }

        report->printerNames = [] { return QStringList(); };
        (*m_unexpectedBoxes)
            ->expectMessage("No printer installed", "Cannot print if no printer is installed",
                            PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
        report->findChild<QPushButton*>("cmdPrintForm")->click();
        report->close();
        QTRY_VERIFY(guard.isNull());
    }
};

QTEST_MAIN(TestVerification)
#include "tst_verification.moc"
