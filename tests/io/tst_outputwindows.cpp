// Beep control against a simulated reader: the reader beeps as the window set it. (The
// output and match windows are pinned by their contract tables.)
#include "app/windowregistry.h"
#include "common/waits.h"
#include "common/windowbench.h"
#include "io/frmbeep.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPointer>
#include <QTableWidget>
#include <QTest>

using namespace vm;
using io::frmBeep;

using testing::child;
using testing::clickCell;

class TestOutputWindows : public QObject, protected testing::WindowBench {
    Q_OBJECT

    void startReader(const QString& version, bool control = true) {
        WindowBench::startReader("Out7", version, control);
    }

private slots:
    void initTestCase() { qputenv("VELMARROW_STATION", "TEST-PC"); }

    void init() { setUpBench(); }
    void cleanup() { tearDownBench(); }

    // Beep control sends each change at once and the reader then beeps for that event.
    void beepControl() {
        startReader("3.0.2.1");
        readerHolds("TRIG T");
        auto w = openWindow<frmBeep>();
        QCOMPARE(w->grid()->item(0, 1)->text(), QString("1 Beep"));
        QCOMPARE(w->grid()->item(2, 1)->text(), QString("OFF"));
        clickCell(w->grid(), 2, 1);
        QVERIFY(w->list()->isVisible());
        QCOMPARE(w->list()->currentText(), QString("OFF"));
        w->list()->setCurrentIndex(2);
        emit w->list()->activated(2);
        QCOMPARE(w->grid()->item(2, 1)->text(), QString("2 Beeps"));
        QCOMPARE(readerValue("OUTPUT BEEP"), QString("OUTPUT BEEP 1 0 2 0 0 0"));

        // Nothing in view: a locate fail beeps twice. Without a read time-out: on a loaded
        // machine the search of an empty picture can outlast the reader's 500 ms, and the cycle
        // would end as a time-out, not a locate fail.
        QString error;
        QVERIFY(m_reader->setScene("contrast", "0", &error));
        readerHolds("TIMEOUT READ 0");
        const quint64 before = m_reader->output().beeps();
        const int cycleWait = testing::triggeredCycleWaitMs(0);
        readerHolds("VT");
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->output().beeps(), before + 2, cycleWait);

        child<QCheckBox>(w.get(), "m_enable")->click();
        QCOMPARE(readerValue("BEEP"), QString("BEEP N"));
        const qint64 cycles = m_reader->cycles().lastNumber();
        readerHolds("VT");
        QTRY_COMPARE_WITH_TIMEOUT(m_reader->cycles().lastNumber(), cycles + 1, cycleWait);
        QCOMPARE(m_reader->output().beeps(), before + 2);

        // Losing control hides an open list and turns the switch off.
        clickCell(w->grid(), 0, 1);
        QVERIFY(w->list()->isVisible());
        m_reader->dropControl();
        QTRY_VERIFY(!w->list()->isVisible());
        QVERIFY(!child<QCheckBox>(w.get(), "m_enable")->isEnabled());

        startReader("1.0.1.13");
        QPointer<QWidget> old = app::windows().open("BeepControl", nullptr);
        QTRY_VERIFY(!old || !old->isVisible());
    }
};

int runOutputWindowTests(int argc, char** argv) {
    TestOutputWindows t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_outputwindows.moc"
