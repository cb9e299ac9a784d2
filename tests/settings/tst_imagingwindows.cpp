// The photometry and learn windows against a simulated reader: what the reader's reads do
// in answer to what they send, and what the windows show of it.
#include "app/programstate.h"
#include "common/windowbench.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/record.h"
#include "settings/basicphotometry.h"
#include "settings/learn.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
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
    // A reader reached over its serial line instead of the bench's network reader, under the
    // test station's control.
    void reachOverSerial() {
        sim::ReaderConfig config = testing::readerConfig("Serial4");
        config.serial = true;
        startReader(config, false);
        const QString port = m_reader->serialPortName() + ":";
        testing::focusReader(*m_coordinator, port);
        QTRY_VERIFY(m_conn->Connected());
        QVERIFY(m_conn->IsSerial());
        QVERIFY(testing::takeControl(*m_conn));
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "TEST-PC");
        qputenv("VELMARROW_SIM_PORTS_DIR", m_dir.filePath("ports").toLocal8Bit());
        QVERIFY(QDir().mkpath(m_dir.filePath("ports")));
    }

    void init() {
        setUpBench();
        startReader(testing::readerConfig("Cell4"));
        app::setFirmwareLevel(5);
        app::setImageFileAcquisition(false);
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

    // Learn with both options on a dark part: the photometry window shows the exposure the
    // reader chose, and the part reads. (The commands and status texts of each choice are
    // pinned by the learn window's contract.)
    void learnFinishesAndValuesAreReloaded() {
        QString error;
        QVERIFY2(m_reader->setScene("part", "dark", &error), qPrintable(error));
        auto photometry = openWindow<BasicPhotometry>();
        auto w = openWindow<Learn>();
        clickBox(w->findChild<QRadioButton*>("LearnOption(2)"));
        QSignalSpy reloaded(photometry.get(), &settings::SettingsWindow::loaded);
        QTest::mouseClick(w->findChild<QPushButton*>("Learn"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w->waiting(), 10000);
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
        QCOMPARE(readerField("PHOTOEX", 0), QString("AUTO"));
        QCOMPARE(readerField("ROWS", 0), QString("AUTO"));
    }

    // Over a serial line the reader sends a record only when asked: the learn window asks for
    // the records until the one with the outcome comes.
    void learnOverSerialReachesItsOutcome() {
        reachOverSerial();
        auto w = openWindow<Learn>();
        clickBox(w->findChild<QRadioButton*>("LearnOption(0)"));
        Received received(*m_reader);
        QTest::mouseClick(w->findChild<QPushButton*>("Learn"), Qt::LeftButton);
        QCOMPARE(received.lines().value(0), QString("LEARNEX NONE PHOTO"));
        QVERIFY(received.starting("REPORTREQ").size() >= 1);
        QTRY_VERIFY_WITH_TIMEOUT(!w->waiting(), 10000);
        QCOMPARE(w->statusText(), QString("Photometry Learned"));
        QCOMPARE(readerField("PHOTOEX", 0), QString("MANUAL"));
    }

    // A serial line does not carry each step of a dragged slider, but the value the slider
    // rests at reaches the reader, once, and the typed one too.
    void photometryOverSerialSendsTheRestingValue() {
        reachOverSerial();
        auto w = openWindow<BasicPhotometry>();
        clickBox(w->findChild<QRadioButton*>("Manual"));
        QTRY_COMPARE(readerField("PHOTOEX", 0), QString("MANUAL"));
        Received received(*m_reader);
        auto* exposure = w->findChild<QSlider*>("Exposure");
        QVERIFY(exposure);
        for (int value : {2100, 2200, 2300, 2400})
            exposure->setValue(value);
        QTRY_COMPARE(m_reader->parameters().fields("PHOTOEX").value(1), QString("2400"));
        QCOMPARE(received.starting("PHOTOEX").size(), 1);
        auto* gain = w->findChild<QSlider*>("Gain");
        QVERIFY(gain);
        gain->setValue(gain->value() == 300 ? 301 : 300);
        const QString gainSet = QString::number(gain->value());
        QTRY_COMPARE(m_reader->parameters().fields("PHOTOEX").value(2), gainSet);
        typeInto(w->findChild<QLineEdit*>("ExposureText"), "5000");
        QTRY_COMPARE(m_reader->parameters().fields("PHOTOEX").value(1), QString("5000"));
        QCOMPARE(received.starting("PHOTOEX").size(), 3);
    }
};

QTEST_MAIN(TestImagingWindows)
#include "tst_imagingwindows.moc"
