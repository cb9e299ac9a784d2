// Beep control: the beeper switch and one beep count per read event, each sent at once.
#include "contracts/contract.h"

#include <QComboBox>
#include <QTableWidget>

namespace vm::contracts {

namespace {

const QStringList kEvents = {"Decode Pass", "Decode Fail", "Locate Fail",
                             "Match Pass",  "Match Fail",  "RT Error"};
const QStringList kCounts = {"OFF", "1 Beep", "2 Beeps", "3 Beeps"};

QTableWidget* grid(Stage& stage) {
    return qobject_cast<QTableWidget*>(stage.control(QStringLiteral("m_grid")));
}

// Grid row `row`: the count of its event, chosen from the list shown over the cell.
ControlContract countRow(int row) {
    ControlContract c;
    c.name = QStringLiteral("m_grid");
    c.kind = Kind::Custom;
    c.parameter = QStringLiteral("OUTPUT BEEP");
    c.field = row;
    c.values = {{"0", "OFF"}, {"2", "2 Beeps"}, {"3", "3 Beeps"}, {"1", "1 Beep"}};
    c.set = [row](Stage& stage, const Value& v) {
        QTableWidget* g = grid(stage);
        QVERIFY(g);
        testing::clickCell(g, row, 1);
        auto* list = qobject_cast<QComboBox*>(stage.control(QStringLiteral("m_combo")));
        QVERIFY(list);
        QTRY_VERIFY(list->isVisible());
        testing::choose(list, v.shown);
    };
    c.read = [row](Stage& stage) {
        QTableWidget* g = grid(stage);
        return g && g->item(row, 1) ? g->item(row, 1)->text() : QString();
    };
    return c;
}

} // namespace

WindowContract beepContract() {
    WindowContract w;
    w.window = QStringLiteral("BeepControl");
    w.immediate = true;
    w.broadcasts = {QStringLiteral("UPDATEBEEP")};

    ControlContract enable;
    enable.name = QStringLiteral("m_enable");
    enable.kind = Kind::Check;
    enable.parameter = QStringLiteral("BEEP");
    enable.field = 0;
    enable.values = {{"N", "off"}, {"Y", "on"}};
    w.controls << enable;
    for (int row = 0; row < 6; ++row)
        w.controls << countRow(row);
    // The list that is shown over a beep cell belongs to the grid's rows.
    w.notFields = {QStringLiteral("m_combo")};

    w.checks << [](Stage& stage) {
        stage.start(QStringLiteral("3.0.2.1"));
        stage.setField(QStringLiteral("OUTPUT BEEP"), 2, QStringLiteral("2"));
        stage.setField(QStringLiteral("OUTPUT BEEP"), 4, QStringLiteral("3"));
        QWidget* window = stage.open(QStringLiteral("BeepControl"));
        QVERIFY(window);
        QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Beep Control"));
        QTableWidget* g = grid(stage);
        QCOMPARE(g->rowCount(), 6);
        for (int row = 0; row < 6; ++row)
            QCOMPARE(g->item(row, 0)->text(), kEvents[row]);
        auto* list = qobject_cast<QComboBox*>(stage.control(QStringLiteral("m_combo")));
        QCOMPARE(testing::entries(list), kCounts);
        // The list opens on the count the reader holds for the clicked event.
        for (const auto& [row, count] : {std::pair{4, "3 Beeps"}, {0, "1 Beep"}, {2, "2 Beeps"}}) {
            testing::clickCell(g, row, 1);
            QTRY_VERIFY(list->isVisible());
            QCOMPARE(list->currentText(), QString::fromLatin1(count));
        }
        // Losing control while the list is open hides it.
        stage.releaseControl();
        QTRY_VERIFY(!list->isVisible());
        stage.regainControl();
        stage.close();
        // Below level 3 the beeps belong to the output dialog: the window closes as it connects.
        stage.end();
        stage.begin();
        stage.start(QStringLiteral("1.0.1.0"));
        QPointer<QWidget> old = stage.open(QStringLiteral("BeepControl"));
        QTRY_VERIFY(!old || !old->isVisible());
    };
    return w;
}

} // namespace vm::contracts
