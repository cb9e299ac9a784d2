// The application mode window, and the IO assignment window's live lines, against simulated
// readers of several generations: what they show, what they ask, and what the reader receives.
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/windowbench.h"
#include "io/frmioassign.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/parameterset.h"
#include "settings/basicapplication.h"
#include "shell/basicinterface.h"
#include "shell/programstate.h"
#include "shell/statusbar.h"

#include <QCheckBox>
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

    // The summary and the preset follow what the reader holds.
    void applicationShowsTheReader() {
        startReader("3.0.2.1");
        readerHolds("TRIG T");
        QStringList retry = readerValue("RETRYEX").split(' ');
        retry[1] = "TIME";
        retry[2] = "800";
        readerHolds(retry.join(' '));
        readerHolds("ILLUM ON_AND_STROBED");
        auto w = openWindow<BasicApplication>();
        QCOMPARE(w->summary(), QString("Trigger on OPTO IN 1\r\nRetry for 800 ms\r\nOn and Strobed\r\n"
                                       "Auto Photometry\r\n"));
        QCOMPARE(child<QComboBox>(w.get(), "AppMode")->currentText(), QString("Stop and Scan"));
        QCOMPARE(child<QComboBox>(w.get(), "Lighting")->currentText(), QString("On w/Power Strobe"));
        QCOMPARE(child<QComboBox>(w.get(), "RetryMode")->currentText(), QString("Time"));
        QCOMPARE(child<QLineEdit>(w.get(), "RetryTime")->text(), QString("800"));
        QVERIFY(child<QLineEdit>(w.get(), "RetryTime")->isVisible());
        QVERIFY(!child<QComboBox>(w.get(), "RetryCount")->isVisible());
        QVERIFY(!w->okButton()->isEnabled());
    }

    // A preset lists only what it changes; a refusal puts the list back; OK writes it.
    void presetsConfirmTheirChanges() {
        startReader("3.0.2.1");
        auto w = openWindow<BasicApplication>();
        auto* preset = child<QComboBox>(w.get(), "AppMode");
        QCOMPARE(preset->currentText(), QString("Demo"));
        const QString changes = "Please confirm the following changes:\r\nTrigger to Use Trigger\r\n"
                                "Photometry to Manual\r\nIllumination to Power Strobe";
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Confirm application mode changes", changes, PromptIcon::Question,
                                 PromptButtons::OkCancel, PromptAnswer::Cancel);
            choose(preset, "Motion");
        }
        QCOMPARE(preset->currentText(), QString("Demo"));
        QVERIFY(!w->isModified());
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Confirm application mode changes", changes, PromptIcon::Question,
                                 PromptButtons::OkCancel, PromptAnswer::Ok);
            choose(preset, "Motion");
        }
        QCOMPARE(preset->currentText(), QString("Motion"));
        QVERIFY(w->okButton()->isEnabled());
        QSignalSpy applied(w.get(), &settings::SettingsWindow::applied);
        w->okButton()->click();
        QCOMPARE(applied.size(), 1);
        QCOMPARE(applied.at(0).at(0).toBool(), true);
        QVERIFY(!w->isVisible());
        QCOMPARE(readerValue("TRIG"), QString("TRIG T"));
        QVERIFY(readerValue("PHOTOEX").startsWith("PHOTOEX MANUAL"));
        QCOMPARE(readerValue("ILLUM"), QString("ILLUM POWER_STROBE"));
    }

    // Every preset applies from a state where it changes something, asking about exactly
    // that; a PID list keeps the retry mode except for the supermarket.
    void everyPresetApplies_data() {
        QTest::addColumn<QString>("preset");
        QTest::addColumn<QStringList>("start"); // TRIG, PHOTOEX, RETRYEX, ILLUM
        QTest::addColumn<QString>("changes");
        QTest::addColumn<QStringList>("result");
        QTest::newRow("demo") << "Demo" << QStringList{"T", "AUTO", "NONE", "STROBE"}
                              << "Trigger to Continuous\r\nIllumination to ON"
                              << QStringList{"C", "AUTO", "NONE", "ON"};
        QTest::newRow("motion") << "Motion" << QStringList{"C", "AUTO", "SUPERMARKET", "ON"}
                                << "Trigger to Use Trigger\r\nPhotometry to Manual\r\nRetry to None\r\n"
                                   "Illumination to Power Strobe"
                                << QStringList{"T", "MANUAL", "NONE", "POWER_STROBE"};
        QTest::newRow("stop and scan")
            << "Stop and Scan" << QStringList{"T", "MANUAL", "NONE", "POWER_STROBE"}
            << "Photometry to Automatic\r\nIllumination to Strobe"
            << QStringList{"T", "AUTO", "NONE", "STROBE"};
        QTest::newRow("supermarket")
            << "Presentation / Supermarket" << QStringList{"T", "MANUAL", "NONE", "POWER_STROBE"}
            << "Trigger to Continuous\r\nPhotometry to Automatic\r\nRetry to Supermarket\r\n"
               "Illumination to ON"
            << QStringList{"C", "AUTO", "SUPERMARKET", "ON"};
        QTest::newRow("stop and scan keeps a list")
            << "Stop and Scan" << QStringList{"C", "AUTO", "LIST", "ON"}
            << "Trigger to Use Trigger\r\nIllumination to Strobe"
            << QStringList{"T", "AUTO", "LIST", "STROBE"};
        QTest::newRow("supermarket replaces a list")
            << "Presentation / Supermarket" << QStringList{"C", "AUTO", "LIST", "ON"} << ""
            << QStringList{"C", "AUTO", "SUPERMARKET", "ON"};
    }
    void everyPresetApplies() {
        QFETCH(QString, preset);
        QFETCH(QStringList, start);
        QFETCH(QString, changes);
        QFETCH(QStringList, result);
        startReader("3.0.2.1");
        auto setMode = [this](const QString& parameter, const QString& mode) {
            QStringList words = readerValue(parameter).split(' ');
            words[parameter.count(' ') + 1] = mode;
            readerHolds(words.join(' '));
        };
        readerHolds("TRIG " + start[0]);
        setMode("PHOTOEX", start[1]);
        setMode("RETRYEX", start[2]);
        readerHolds("ILLUM " + start[3]);
        auto w = openWindow<BasicApplication>();
        {
            testing::ExpectPrompts boxes;
            if (!changes.isEmpty())
                boxes->expectMessage("Confirm application mode changes",
                                     "Please confirm the following changes:\r\n" + changes,
                                     PromptIcon::Question, PromptButtons::OkCancel, PromptAnswer::Ok);
            choose(child<QComboBox>(w.get(), "AppMode"), preset);
        }
        QVERIFY(w->apply());
        QCOMPARE(readerValue("TRIG"), "TRIG " + result[0]);
        QCOMPARE(readerValue("PHOTOEX").section(' ', 1, 1), result[1]);
        QCOMPARE(readerValue("RETRYEX").section(' ', 1, 1), result[2]);
        QCOMPARE(readerValue("ILLUM"), "ILLUM " + result[3]);

        // Chosen again, the preset it now shows changes nothing and asks nothing.
        const int before = int(m_reader->receivedCommands().size());
        choose(child<QComboBox>(w.get(), "AppMode"), child<QComboBox>(w.get(), "AppMode")->currentText());
        QVERIFY(w->apply());
        QCOMPARE(m_reader->receivedCommands().size(), before);
    }

    // The retry fields by reader generation: the short form of the oldest readers, three
    // PID slots, fifteen.
    void retryLayouts_data() {
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("modes");
        QTest::addColumn<int>("pidSlots");
        QTest::newRow("level 3") << "1.2.0.0" << 5 << 0;
        QTest::newRow("level 5") << "2.0.1.0" << 8 << 3;
        QTest::newRow("level 10") << "3.0.2.1" << 8 << 15;
    }
    void retryLayouts() {
        QFETCH(QString, version);
        QFETCH(int, modes);
        QFETCH(int, pidSlots);
        startReader(version);
        if (pidSlots > 0) {
            readerHolds("STORE 9");
            readerHolds("STORE 2");
        }
        auto w = openWindow<BasicApplication>();
        auto* mode = child<QComboBox>(w.get(), "RetryMode");
        QCOMPARE(mode->count(), modes);
        QCOMPARE(w->layout().pidSlots, pidSlots);
        if (pidSlots == 0)
            return;
        choose(mode, "PID List w/Acquire");
        int shown = 0;
        for (int i = 0; i < 15; ++i)
            shown += child<QComboBox>(w.get(), QString("PID(%1)").arg(i))->isVisible() ? 1 : 0;
        QCOMPARE(shown, pidSlots);
        auto* first = child<QComboBox>(w.get(), "PID(0)");
        const QStringList pids = entries(first);
        QCOMPARE(QSet<QString>(pids.cbegin(), pids.cend()), QSet<QString>({"0", "2", "9"}));
        choose(first, "9");
        QVERIFY(w->summary().contains("Retry using PID List (9)"));
        QVERIFY(w->apply());
        const QStringList fields = readerValue("RETRYEX").split(' ');
        QCOMPARE(fields.value(1), QString("LIST"));
        QCOMPARE(fields.value(5), QString("9"));
        QCOMPARE(fields.value(1 + w->layout().lightingField + 2), QString("A"));
    }

    // Retry time and inter-symbol wait are held to 35..60000 with a message.
    void retryTimeRange() {
        startReader("3.0.2.1");
        auto w = openWindow<BasicApplication>();
        choose(child<QComboBox>(w.get(), "RetryMode"), "Time");
        auto* time = child<QLineEdit>(w.get(), "RetryTime");
        for (const auto& [typed, held] :
             {std::pair<QString, QString>{"20", "35"}, {"70000", "60000"}, {"abc", "35"}}) {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", "Value must be in range 35 - 60000", PromptIcon::None,
                                 PromptButtons::Ok, PromptAnswer::Ok);
            typeAndLeave(time, typed);
            QCOMPARE(time->text(), held);
        }
        typeAndLeave(time, "1200");
        QVERIFY(w->apply());
        QCOMPARE(readerValue("RETRYEX").section(' ', 1, 2), QString("TIME 1200"));
        // In supermarket mode the box holds the inter-symbol wait; "Infinite" writes 0.
        choose(child<QComboBox>(w.get(), "RetryMode"), "Intersymbol Wait");
        typeAndLeave(time, "900");
        QVERIFY(w->apply());
        QCOMPARE(readerValue("RETRYEX").section(' ', 4, 4), QString("900"));
        child<QCheckBox>(w.get(), "InfiniteISWT")->click();
        QVERIFY(!time->isEnabled());
        QVERIFY(w->summary().contains("Infinite Inter Symbol Wait"));
        QVERIFY(w->apply());
        QCOMPARE(readerValue("RETRYEX").section(' ', 4, 4), QString("0"));
    }

    // External lights need GPIO 1; a line assigned there refuses them.
    void externalLightingNeedsGpio1() {
        startReader("3.0.2.1");
        readerHolds("IOASSIGN GPIO_OUT1 PASS");
        auto w = openWindow<BasicApplication>();
        auto* lighting = child<QComboBox>(w.get(), "Lighting");
        QCOMPARE(lighting->count(), 10);
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", "External Lighting is not allowed while GPIO 1 is in use",
                                 PromptIcon::None, PromptButtons::Ok, PromptAnswer::Ok);
            choose(lighting, "On & External");
        }
        QCOMPARE(lighting->currentText(), QString("On"));
        QVERIFY(!w->isModified());
        readerHolds("IOASSIGN GPIO_OUT1 CLEAR");
        choose(lighting, "On & External");
        QVERIFY(w->apply());
        QCOMPARE(readerValue("ILLUM"), QString("ILLUM ON_AND_EXT"));
    }

    // Without control nothing is sent; a reset reloads the windows.
    void controlAndReset() {
        startReader("3.0.2.1", false);
        auto w = openWindow<BasicApplication>();
        QVERIFY(!child<QComboBox>(w.get(), "RetryMode")->isEnabled());
        QVERIFY(!child<QCheckBox>(w.get(), "TRIG_Enabled")->isEnabled());
        const int before = int(m_reader->receivedCommands().size());
        w->parameters().GetParameter("TRIG").SetField(0, "T");
        QVERIFY(!w->apply());
        QCOMPARE(m_reader->receivedCommands().size(), before);

        auto second = testing::startReader("Second", testing::nextAddress(), "2.0.1.0");
        QSignalSpy loaded(w.get(), &settings::SettingsWindow::loaded);
        testing::focusReader(*m_coordinator, second->address().toString());
        QTRY_COMPARE(loaded.size(), 1);
        QVERIFY(!w->isModified());
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
