// The application mode window, and the IO assignment window's live lines, against simulated
// readers of several generations: what they show, what they ask, and what the reader receives.
#include "app/programstate.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/windowbench.h"
#include "io/frmioassign.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/parameterset.h"
#include "settings/basicapplication.h"
#include "shell/basicinterface.h"
#include "shell/statusbar.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using io::frmIOAssign;
using settings::BasicApplication;

using testing::child;
using testing::choose;
using testing::entries;
using testing::typeAndLeave;

class TestIO : public QObject, protected testing::WindowBench {
    Q_OBJECT

    // A reader of this software version, focused, and this PC in control of it.
    void startReader(const QString& version, bool control = true) {
        WindowBench::startReader("Cell7", version, control);
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }
    void init() { setUpBench(); }
    void cleanup() { tearDownBench(); }

    // A reset to a reader of another generation lays the window out for that reader.
    void resetLaysOutForTheNewReader() {
        startReader("3.0.2.1", false);
        auto w = openWindow<BasicApplication>();
        auto second = testing::startReader("Second", testing::nextAddress(), "2.0.1.0");
        QSignalSpy loaded(w.get(), &settings::SettingsWindow::loaded);
        testing::focusReader(*m_coordinator, second->address().toString());
        QTRY_COMPARE(loaded.size(), 1);
        QCOMPARE(w->layout().pidSlots, 3);
        QCOMPARE(child<QComboBox>(w.get(), "Lighting")->count(), 10);
    }

    // The assignment window shows each line as the reader switches it: an output given
    // to decode failures comes on while reads fail and goes off when they succeed.
    void linesShowTheirLiveState() {
        startReader("3.0.2.1");
        auto w = openWindow<frmIOAssign>();
        QTRY_COMPARE(w->lineState(0), QString("OFF")); // every line is announced at once
        choose(child<QComboBox>(w.get(), "TagNameCombo(0)"), "DECODE_FAILURE");
        QVERIFY(w->apply());
        QString error;
        QVERIFY2(m_reader->setScene("contrast", "0", &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(w->lineState(0), QString("ON"), 10000);
        QVERIFY2(m_reader->setScene("contrast", "90", &error), qPrintable(error));
        QTRY_COMPARE_WITH_TIMEOUT(w->lineState(0), QString("OFF"), 10000);
    }

    // As an integrator would: Stop and Scan, the reader waits for its input; the input
    // comes, the reader reads, the output given to PASS switches and the counters move.
    void stopAndScanWaitsForTheInput() {
        startReader("3.0.2.1");
        // Triggered already, so that no continuous read is still on its way; "Motion" shows.
        readerHolds("TRIG T");
        QStringList photo = readerValue("PHOTOEX").split(' ');
        photo[1] = "MANUAL";
        readerHolds(photo.join(' '));
        readerHolds("RELEASE");
        shell::BasicInterface main;
        main.setProgramVersion("3.0.2.1");
        main.setLegacyFolder(m_dir.filePath("nolegacy"));
        main.Load(); // starts with nothing focused
        testing::focusReader(*m_coordinator, m_reader->address().toString());
        QTRY_VERIFY(main.imageConnection()->Connected());
        QVERIFY(testing::takeControl(*m_conn));
        QTRY_VERIFY(main.imageConnection()->HasControl());

        auto app = openWindow<BasicApplication>();
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Confirm application mode changes",
                                 "Please confirm the following changes:\r\nPhotometry to Automatic\r\n"
                                 "Illumination to Strobe",
                                 PromptIcon::Question, PromptButtons::OkCancel, PromptAnswer::Ok);
            choose(child<QComboBox>(app.get(), "AppMode"), "Stop and Scan");
        }
        auto assign = openWindow<frmIOAssign>();
        choose(child<QComboBox>(assign.get(), "TagNameCombo(0)"), "PASS");
        QSignalSpy refreshed(&main.externalUpdateTimer(), &QTimer::timeout);
        QVERIFY(assign->apply());
        QVERIFY(app->apply());
        // The main window hears UPDATEIO and waits for the trigger.
        QTRY_VERIFY(main.triggerMode());
        // Readers of this generation also get the main window's full refresh, which starts
        // the counters again; the read comes after it.
        QTRY_COMPARE(refreshed.size(), 1);
        QVERIFY(!main.externalUpdateTimer().isActive());
        QTRY_VERIFY(main.vmStatusBar()->WaitingForTrigger());
        QCOMPARE(main.counts()[0], qint64(0));

        QSignalSpy delivered(m_reader.get(), &sim::Reader::recordDelivered);
        m_reader->setExternalInput(true);
        QTRY_COMPARE_WITH_TIMEOUT(delivered.size(), 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(main.counts()[0], qint64(1), 10000);
        QCOMPARE(main.counts()[1], qint64(1)); // a pass
        QVERIFY(readerValue("ILLUM") == "ILLUM STROBE");
        QTRY_COMPARE(assign->lineState(0), QString("ON"));
        m_reader->setExternalInput(false);
        main.close();
    }
};

int runIOTests(int argc, char** argv) {
    TestIO t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_io.moc"
