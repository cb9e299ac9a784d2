// The photometry and learn windows against a simulated reader: what the reader's reads do
// in answer to what they send, and what the windows show of it.
#include "app/programstate.h"
#include "common/windowbench.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "settings/basicphotometry.h"
#include "settings/learn.h"

#include <QAbstractButton>
#include <QCheckBox>
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
using testing::Received;
using testing::typeInto;

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

    // Learn with both options on a dark part: the open photometry window reloads on the
    // learn's record and shows the exposure the reader chose, under manual photometry. (The
    // commands and status texts of each choice are pinned by the learn window's contract; what
    // the learn and its undo do to the reader's settings and reads, by tst_simengine.)
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
