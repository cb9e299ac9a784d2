// The verification windows against simulated readers with 0, 1 and 10 external light
// channels: calibration light by light, what the reader holds afterwards, and failures.
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/prompts.h"
#include "common/readers.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "shell/programstate.h"
#include "verification/calibrationstate.h"
#include "verification/dlgcalibrate.h"

#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using verification::dlgCalibrate;

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

class TestVerification : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<testing::ExpectPrompts> m_unexpectedBoxes;
    std::unique_ptr<sim::Reader> m_reader;
    std::unique_ptr<link::Coordinator> m_coordinator;
    std::unique_ptr<link::ReaderConnection> m_conn;

    void startReader(int lightChannels, bool control = true) {
        sim::ReaderConfig config = testing::readerConfig("Verifier", "3.0.2.1");
        config.lightChannels = lightChannels;
        m_reader = testing::startReader(config);
        QVERIFY(m_reader);
        testing::focusReader(*m_coordinator, m_reader->address().toString());
        QVERIFY(m_conn->Connected());
        if (control)
            QVERIFY(testing::takeControl(*m_conn));
    }
    QStringList readerWords(const QString& query) { return m_conn->Query(query).split(' '); }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() {
        testing::startWindowTest(m_dir.path());
        app::windows().clear();
        app::registerWindows(app::windows());
        m_unexpectedBoxes = std::make_unique<testing::ExpectPrompts>();
        m_coordinator = std::make_unique<link::Coordinator>();
        m_conn = std::make_unique<link::ReaderConnection>();
        verification::calibrationState() = {};
        shell::setCalibrationText(QString());
    }

    void cleanup() {
        m_unexpectedBoxes.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        m_coordinator->Focus("");
        shell::setFirmwareLevel(0);
        m_conn.reset();
        m_coordinator.reset();
        m_reader.reset();
        app::windows().clear();
        app::installSettings(nullptr);
    }

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
};

QTEST_MAIN(TestVerification)
#include "tst_verification.moc"
