// Beep control against a simulated reader: the reader beeps as the window set it. (The
// output and match windows are pinned by their contract tables.)
#include "common/waits.h"
#include "common/windowbench.h"
#include "io/frmbeep.h"

#include <QComboBox>
#include <QTableWidget>
#include <QTest>

using namespace vm;
using io::frmBeep;

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

    // The reader beeps as the window set it: the count chosen in the grid for a locate fail.
    // (What the grid and the switch show and write, their control rule and the window's
    // closing on older readers are pinned by the beep window's contract; that a reader at
    // BEEP N sounds nothing, by the simulated reader's output transcript.)
    void beepControl() {
        startReader("3.0.2.1");
        readerHolds("TRIG T");
        auto w = openWindow<frmBeep>();
        clickCell(w->grid(), 2, 1);
        QVERIFY(w->list()->isVisible());
        w->list()->setCurrentIndex(2);
        emit w->list()->activated(2);

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
    }
};

int runOutputWindowTests(int argc, char** argv) {
    TestOutputWindows t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_outputwindows.moc"
