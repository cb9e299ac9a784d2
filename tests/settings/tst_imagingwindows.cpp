// The photometry, learn and tuning windows against a simulated reader: what the reader's
// reads do in answer to what they send, and what the windows show of it.
#include "app/settingsstore.h"
#include "common/windowbench.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/record.h"
#include "settings/basicphotometry.h"
#include "settings/basictune.h"
#include "settings/learn.h"
#include "shell/programstate.h"
#include "tools/overlays.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

using namespace vm;
using settings::BasicPhotometry;
using settings::BasicTune;
using settings::Learn;
using testing::choose;
using testing::Received;
using testing::typeInto;

namespace {

// The records the reader delivers from now on.
class Records : public QObject {
public:
    explicit Records(link::Connection& conn) {
        connect(&conn, &link::Connection::OnNewRecord, this,
                [this](const link::Record& r) { m_records.append(r); });
    }
    // Waits for a record that satisfies `wanted`; records before it are dropped.
    bool waitFor(const std::function<bool(const link::Record&)>& wanted, int timeoutMs = 8000) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < timeoutMs) {
            while (!m_records.isEmpty()) {
                const link::Record r = m_records.takeFirst();
                if (wanted(r)) {
                    m_last = r;
                    return true;
                }
            }
            QTest::qWait(20);
        }
        return false;
    }
    // The share of the next `count` records that read.
    double readRate(int count) {
        m_records.clear();
        int seen = 0, read = 0;
        waitFor([&](const link::Record& r) {
            ++seen;
            read += r.Result().SymbolFound() ? 1 : 0;
            return seen >= count;
        });
        return seen ? double(read) / seen : 0.0;
    }
    link::Record m_last;

private:
    QList<link::Record> m_records;
};

} // namespace

class TestImagingWindows : public QObject, protected testing::WindowBench {
    Q_OBJECT

    QString readerField(const QString& name, int field) {
        return m_conn->Query(name).split(' ').value(field + 1);
    }
    // Check boxes and options stretch wider than their caption: click on the indicator.
    void clickBox(QAbstractButton* button) {
        QVERIFY(button);
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() {
        setUpBench();
        startReader(testing::readerConfig("Cell4"));
        shell::setFirmwareLevel(5);
        shell::setImageFileAcquisition(false);
    }
    void cleanup() { tearDownBench(); }

    // A dark part beside a bright label: nothing reads under automatic photometry; with
    // manual photometry and the exposure raised in the window the reader reads it.
    void raisingExposureReadsTheDarkPart() {
        QString error;
        QVERIFY2(m_reader->setScene("part", "dark", &error), qPrintable(error));
        Records records(*m_conn);
        QCOMPARE(records.readRate(8), 0.0);
        auto w = openWindow<BasicPhotometry>();
        clickBox(w->findChild<QRadioButton*>("Manual"));
        QTRY_COMPARE(readerField("PHOTOEX", 0), QString("MANUAL"));
        typeInto(w->findChild<QLineEdit*>("ExposureText"), "16000");
        QVERIFY(records.waitFor([](const link::Record& r) { return r.Image().Exposure() == 16000; }));
        QVERIFY(records.readRate(8) >= 0.85);
    }

    // A preprocessing that closes the gaps between the modules spoils the read; going back
    // to none restores it.
    void morphologySpoilsTheReadAndUndoRestores() {
        Records records(*m_conn);
        QVERIFY(records.readRate(4) >= 0.75);
        auto w = openWindow<BasicPhotometry>();
        choose(w->findChild<QComboBox*>("PreprocMethod"), "DILATE");
        choose(w->findChild<QComboBox*>("PreprocIter"), "5");
        QCOMPARE(m_conn->Query("MORPH"), QString("MORPH DILATE 5"));
        QVERIFY(records.waitFor([](const link::Record& r) { return !r.Result().SymbolFound(); }));
        QCOMPARE(records.readRate(4), 0.0);
        choose(w->findChild<QComboBox*>("PreprocMethod"), "NONE");
        QVERIFY(records.waitFor([](const link::Record& r) { return r.Result().SymbolFound(); }));
        QVERIFY(records.readRate(4) >= 0.75);
    }

    // Learn with both options: the command goes out, the status says what was learned,
    // and the photometry window shows the values the reader chose.
    void learnFinishesAndValuesAreReloaded() {
        QString error;
        QVERIFY2(m_reader->setScene("part", "dark", &error), qPrintable(error));
        auto photometry = openWindow<BasicPhotometry>();
        auto w = openWindow<Learn>();
        QVERIFY(w->findChild<QGroupBox*>("Frame1")->isVisible()); // decoder only is the default
        clickBox(w->findChild<QRadioButton*>("LearnOption(2)"));
        QVERIFY(!w->findChild<QGroupBox*>("Frame1")->isVisible());
        auto* learn = w->findChild<QPushButton*>("Learn");
        QCOMPARE(learn->text(), QString("Learn Decoder and Photometry"));
        QCOMPARE(w->findChild<QPushButton*>("Unlearn")->text(),
                 QString("Unlearn Decoder and Set Photo to AUTO"));
        Received received(*m_reader);
        QSignalSpy reloaded(photometry.get(), &settings::SettingsWindow::loaded);
        QTest::mouseClick(learn, Qt::LeftButton);
        QCOMPARE(received.lines(), QStringList{"LEARNEX BOTH PHOTO"});
        QCOMPARE(w->statusText(), QString("Waiting for Learn..."));
        QTRY_VERIFY_WITH_TIMEOUT(!w->waiting(), 10000);
        QCOMPARE(w->statusText(), QString("Decoder Learn Status = 2D OK\r\nPhotometry Learned"));
        QVERIFY(reloaded.wait(3000));
        const QString learned = readerField("PHOTOEX", 1);
        QVERIFY(learned.toInt() > 3000);
        QCOMPARE(photometry->findChild<QLineEdit*>("ExposureText")->text(), learned);
        QVERIFY(photometry->findChild<QRadioButton*>("Manual")->isChecked());
        QCOMPARE(readerField("ROWS", 0), QString("16"));
        Records records(*m_conn);
        QVERIFY(records.readRate(6) >= 0.8);

        // Undo: automatic photometry again, and the decoder as it was before the learn.
        QTest::mouseClick(w->findChild<QPushButton*>("Unlearn"), Qt::LeftButton);
        QCOMPARE(w->statusText(), QString("UNLEARN command sent\r\nPHOTO AUTO command sent"));
        QCOMPARE(readerField("PHOTOEX", 0), QString("AUTO"));
        QCOMPARE(readerField("ROWS", 0), QString("AUTO"));
        w->close();
        QCOMPARE(app::settings().GetValue("LearnSelect", QString(), "Learn Options"), QString("BOTH"));
    }

    // Assisted learn sends the region drawn on the image, halves rounded to even, with the
    // matrix size and polarity; the main window's own region editing is switched off meanwhile.
    void assistedLearnSendsTheRegion() {
        auto w = openWindow<Learn>();
        clickBox(w->findChild<QRadioButton*>("LearnOption(1)"));
        QCOMPARE(w->learnCommand(), QString("LEARNEX BOTH NONE"));
        link::ReaderConnection other;
        QSignalSpy broadcasts(&other, &link::Connection::OnBroadcastMessage);
        clickBox(w->findChild<QCheckBox*>("EnableAssist"));
        QTRY_COMPARE(broadcasts.size(), 1);
        QCOMPARE(broadcasts.at(0), QVariantList({"BasicInterface", "ROI", "DISABLE"}));
        const QPointF handles[] = {{120.4, 80.6}, {240.5, 80.2}, {240.0, 199.5}, {120.0, 200.0}};
        for (int i = 0; i < 4; ++i)
            w->region()->MoveHandleTo(i, handles[i].x(), handles[i].y());
        choose(w->findChild<QComboBox*>("NumRows"), "16");
        choose(w->findChild<QComboBox*>("NumCols"), "16");
        choose(w->findChild<QComboBox*>("Polarity"), "LIGHT ON DARK");
        Received received(*m_reader);
        QTest::mouseClick(w->findChild<QPushButton*>("Learn"), Qt::LeftButton);
        QCOMPARE(received.lines(), QStringList{"LEARNASSIST 120 81 240 80 240 200 120 200 16 16 LD"});
        // No symbol in that region: the reader reports a failed learn.
        QTRY_VERIFY_WITH_TIMEOUT(!w->waiting(), 10000);
        QCOMPARE(w->statusText(), QString("Decoder Learn Status = Failed\r\n"));
        w->close();
        QTRY_COMPARE(broadcasts.size(), 2);
        QCOMPARE(broadcasts.at(1), QVariantList({"BasicInterface", "ROI", "ENABLE"}));
    }

    // The groups and rows a reader offers follow its firmware level.
    void tuningGroupsAndRowsByLevel_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("level");
        QTest::addColumn<QList<int>>("rowsPerGroup");
        QTest::addColumn<QStringList>("expertRows");
        const QStringList photo = {"Auto Min Exposure", "Auto Max Exposure", "Auto Min Gain",
                                   "Auto Max Gain"};
        QTest::newRow("3") << "1.2.0.0" << 3 << QList<int>{17, 13, 4} << photo;
        QTest::newRow("4") << "2.0.0.0" << 4 << QList<int>{17, 18, 7, 10, 4, 1}
                           << photo + QStringList{"Contrast Report", "Cell Unit Report", "Aperture"};
        QTest::newRow("5") << "2.0.1.0" << 5 << QList<int>{17, 18, 7, 10, 5, 2, 2, 2}
                           << photo + QStringList{"Contrast Report", "Cell Unit Report", "Aperture"};
        QTest::newRow("7") << "2.2.0.0" << 7 << QList<int>{17, 18, 7, 10, 5, 2, 2, 2, 1}
                           << photo + QStringList{"Contrast Report", "Cell Unit Report", "Aperture"};
        QTest::newRow("99") << "0.9.0.0" << 99 << QList<int>{17, 18, 7, 10, 5, 2, 2, 2, 1}
                            << photo + QStringList{"Min X Dimension (MILS*10)", "Max X Dimension (MILS*10)",
                                                   "Aperture"};
    }
    void tuningGroupsAndRowsByLevel() {
        QFETCH(QString, version);
        QFETCH(int, level);
        QFETCH(QList<int>, rowsPerGroup);
        QFETCH(QStringList, expertRows);
        m_coordinator->Focus("");
        m_reader = testing::startReader("Tune", testing::nextAddress(), version);
        QVERIFY(m_reader);
        testing::focusReader(*m_coordinator, m_reader->address().toString());
        QCOMPARE(shell::firmwareLevel(), level);
        auto w = openWindow<BasicTune>();
        QCOMPARE(w->findChild<QComboBox*>("ParamSelect")->count(), rowsPerGroup.size());
        for (int g = 0; g < rowsPerGroup.size(); ++g)
            QCOMPARE(w->grid(g)->rowCount(), rowsPerGroup.at(g));
        QStringList expert;
        for (int r = 0; r < w->grid(2)->rowCount(); ++r)
            expert << w->grid(2)->item(r, 0)->text();
        QCOMPARE(expert, expertRows);
        if (level == 4) {
            QCOMPARE(w->grid(3)->item(3, 0)->text(), QString("No Top Timing Border"));
            QCOMPARE(w->grid(4)->item(2, 0)->text(), QString("Check Sum Checking"));
            // Created but neither loaded nor shown on these readers.
            QCOMPARE(w->grid(2)->item(4, 1)->text(), QString());
        }
        if (level == 99)
            QCOMPARE(w->grid(2)->item(4, 1)->text(), QString("10"));
        QCOMPARE(w->grid(0)->item(2, 1)->text(), QString("AUTO"));
    }

    // A list choice goes out at once; a typed value out of range or past its partner is
    // refused with the reader's own message, sends nothing and shows the cached value again.
    void tuningEditsAndValidation() {
        shell::setFirmwareLevel(5);
        readerHolds("PHOTOEX AUTO 1000 0 30 31 0 1023");
        auto w = openWindow<BasicTune>();
        Received received(*m_reader);
        w->editCell(4); // Polarity
        auto* combo = w->comboEditor();
        QVERIFY(combo->isVisible());
        QCOMPARE(combo->currentText(), QString("AUTO"));
        combo->setCurrentIndex(combo->findText("LD"));
        emit combo->activated(combo->currentIndex());
        QCOMPARE(received.lines(), QStringList{"POL LD"});
        QCOMPARE(w->grid(0)->item(4, 1)->text(), QString("LD"));

        link::ReaderConnection other;
        QSignalSpy broadcasts(&other, &link::Connection::OnBroadcastMessage);
        w->selectGroup(2);
        w->editCell(0); // Auto Min Exposure
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow", "Max is less than Min!", app::PromptIcon::None,
                             app::PromptButtons::Ok, app::PromptAnswer::Ok);
        w->textEditor()->setText("31");
        QTest::keyClick(w->textEditor(), Qt::Key_Return);
        QCOMPARE(w->grid(2)->item(0, 1)->text(), QString("30"));
        QCOMPARE(received.lines(), QStringList{"POL LD"});

        w->selectGroup(0);
        const QString timeout = w->grid(0)->item(9, 1)->text();
        QVERIFY(!timeout.isEmpty());
        w->editCell(9); // Read Timeout
        boxes->expectMessage("Velmarrow", "Value out of range!", app::PromptIcon::None,
                             app::PromptButtons::Ok, app::PromptAnswer::Ok);
        w->textEditor()->setText("10000");
        QTest::keyClick(w->textEditor(), Qt::Key_Return);
        QCOMPARE(w->grid(0)->item(9, 1)->text(), timeout);
        QCOMPARE(received.lines(), QStringList{"POL LD"});
        w->editCell(9);
        w->textEditor()->setText("250");
        QTest::keyClick(w->textEditor(), Qt::Key_Return);
        QCOMPARE(received.lines(), QStringList({"POL LD", "TIMEOUT READ 250"}));
        QVERIFY(!w->textEditor()->isVisible());
        QTRY_COMPARE(broadcasts.size(), 1);
        QCOMPARE(broadcasts.at(0), QVariantList({"BasicTune", "UPDATETIMEOUT", ""}));
        // Without control a click opens nothing.
        QVERIFY(m_conn->SendCommand("RELEASE").ok);
        QTRY_VERIFY(!w->learnAction()->isEnabled());
        w->editCell(9);
        QVERIFY(!w->textEditor()->isVisible());
    }

    // The toolbar's learn: pressed sends LEARN BOTH, the outcome record releases it and the
    // grid shows the learned values; released early it cancels; undo puts the values back.
    void tuningLearnFinishesCancelsAndUndoes() {
        shell::setFirmwareLevel(5);
        auto w = openWindow<BasicTune>();
        QCOMPARE(w->grid(0)->item(2, 1)->text(), QString("AUTO"));
        Received received(*m_reader);
        w->learnAction()->trigger();
        QCOMPARE(received.lines(), QStringList{"LEARN BOTH"});
        QTRY_VERIFY_WITH_TIMEOUT(!w->learnAction()->isChecked(), 10000);
        QCOMPARE(w->lastLearnStatus(), 6);
        QTRY_COMPARE_WITH_TIMEOUT(w->grid(0)->item(2, 1)->text(), QString("16"), 5000); // Num Rows
        QCOMPARE(w->grid(0)->item(5, 1)->text(), QString("NORMAL"));                    // Image Style

        // Cancelled before the next cycle (the reader waits for a trigger): nothing is learned.
        readerHolds("TRIG T");
        w->learnAction()->trigger();
        w->learnAction()->trigger();
        QVERIFY(received.lines().contains("LEARNCANCEL"));
        m_reader->cycles().trigger(QStringLiteral("VT"));
        QTRY_COMPARE_WITH_TIMEOUT(w->lastLearnStatus(), -1, 10000);

        w->unlearnAction()->trigger();
        QVERIFY(received.lines().contains("UNLEARN"));
        QTRY_COMPARE_WITH_TIMEOUT(w->grid(0)->item(2, 1)->text(), QString("AUTO"), 5000);
    }

    // Outcome texts for the codes a reader reports, by option.
    void outcomeTexts() {
        auto w = openWindow<Learn>();
        clickBox(w->findChild<QRadioButton*>("LearnOption(0)"));
        QCOMPARE(w->outcomeText(4), QString("Photometry Learned"));
        clickBox(w->findChild<QRadioButton*>("LearnOption(1)"));
        QCOMPARE(w->outcomeText(-1), QString("Decoder Learn Status = NO LEARN\r\n"));
        readerHolds("BARCODE ENABLE 0x2");
        QCOMPARE(w->outcomeText(1), QString("Decoder Learn Status = 1D OK\r\nBarcode Type = Code 39 \r\n"));
        QVERIFY(m_conn->SendCommand("RELEASE").ok);
        QTRY_VERIFY(!w->findChild<QPushButton*>("Learn")->isEnabled());
    }
};

QTEST_MAIN(TestImagingWindows)
#include "tst_imagingwindows.moc"
