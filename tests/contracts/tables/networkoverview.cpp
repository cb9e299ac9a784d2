// Network overview: every reader that discovery finds, one row each with its state. It
// binds no reader field; its checks pin the rows against the readers on the network and
// the window's width rule.
#include "contracts/contract.h"
#include "display/cameras.h"
#include "display/twips.h"
#include "link/coordinator.h"

#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QTableWidget>

namespace vm::contracts {

namespace {

const QString kOverview = QStringLiteral("NetworkOverview");
enum Column { Name, Address, Software, Controller, Reachable };

QTableWidget* overview(Stage& stage) {
    return qobject_cast<QTableWidget*>(stage.control(QStringLiteral("ctl")));
}

// The row whose name starts with the reader's; -1 when it is not listed.
int rowOf(Stage& stage, const QString& name) {
    QTableWidget* t = overview(stage);
    for (int r = 0; t && r < t->rowCount(); ++r)
        if (t->item(r, Name) && t->item(r, Name)->text().section(QLatin1Char(' '), 0, 0) == name)
            return r;
    return -1;
}

QString cell(Stage& stage, const QString& reader, int column) {
    const int r = rowOf(stage, reader);
    return r < 0 ? QStringLiteral("(not listed)") : overview(stage)->item(r, column)->text();
}

void rowsPerReader(Stage& stage) {
    const QByteArray targets = qgetenv("VELMARROW_DISCOVERY_TARGETS");
    sim::ReaderConfig one = testing::readerConfig(QStringLiteral("Overview1"), QStringLiteral("3.0.2.1"));
    sim::ReaderConfig two = testing::readerConfig(QStringLiteral("Overview2"), QStringLiteral("2.3.0.0"));
    for (sim::ReaderConfig* c : {&one, &two}) {
        c->commandPort = 0;
        c->dataPort = 0;
        c->publishSerial = false;
    }
    auto network = testing::startSimulator({one, two});
    QVERIFY(network);
    sim::Reader* first = network->reader(0);
    sim::Reader* second = network->reader(1);
    second->takeControl(QStringLiteral("LINE-PC"));

    QWidget* window = stage.open(kOverview);
    QVERIFY(window);
    QLabel* count = find<QLabel>(stage, QStringLiteral("lblCount"));
    QVERIFY(count);
    QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Network Overview"));
    QTRY_VERIFY_WITH_TIMEOUT(rowOf(stage, "Overview1") >= 0 && rowOf(stage, "Overview2") >= 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(cell(stage, "Overview2", Controller), QStringLiteral("LINE-PC"), 5000);
    QCOMPARE(cell(stage, "Overview1", Name), QStringLiteral("Overview1"));
    QCOMPARE(cell(stage, "Overview1", Address), first->address().toString());
    QCOMPARE(cell(stage, "Overview2", Address), second->address().toString());
    QCOMPARE(cell(stage, "Overview1", Software), QStringLiteral("3.0.2.1"));
    QCOMPARE(cell(stage, "Overview2", Software), QStringLiteral("2.3.0.0"));
    QCOMPARE(cell(stage, "Overview1", Controller), QStringLiteral("(none)"));
    QCOMPARE(cell(stage, "Overview1", Reachable), QStringLiteral("Yes"));
    QCOMPARE(cell(stage, "Overview2", Reachable), QStringLiteral("Yes"));
    QCOMPARE(count->text(), QStringLiteral("2 readers"));
    // A filter that leaves some of them says how many of how many.
    auto* filterBox = find<QLineEdit>(stage, QStringLiteral("txtFilter"));
    QTest::keyClicks(filterBox, QStringLiteral("view2"));
    QCOMPARE(count->text(), QStringLiteral("1 of 2 readers"));
    filterBox->clear();
    QCOMPARE(count->text(), QStringLiteral("2 readers"));

    // Narrowed, the window widens again to its columns plus 158 + 20 + 320 twips as soon as
    // they need more room (here: the focused reader's name grows).
    window->resize(200, window->height());
    QTRY_COMPARE(window->width(), 200);
    link::Coordinator coordinator;
    coordinator.Focus(QStringLiteral("Overview1"));
    QTRY_COMPARE(cell(stage, "Overview1", Name), QStringLiteral("Overview1 (focused)"));
    auto* cameras = qobject_cast<display::Cameras*>(overview(stage));
    QVERIFY(cameras);
    const auto widened = [&] {
        const int wanted = display::TwipsToPixelsX(window, cameras->ContentWidth() + 158 + 20 + 320);
        return std::abs(window->frameGeometry().width() - wanted) <= 2;
    };
    QTRY_VERIFY(widened());
    coordinator.Focus(QString());
    QTRY_COMPARE(cell(stage, "Overview1", Name), QStringLiteral("Overview1"));
    // Maximised, it keeps filling the screen when the columns grow past it (here: a
    // controller with a long name).
    window->showMaximized();
    QTRY_VERIFY(window->isMaximized() &&
                window->height() >= window->screen()->availableGeometry().height() - 50);
    const QSize maximised = window->size();
    const QString station(60, QLatin1Char('W'));
    first->takeControl(station);
    QTRY_COMPARE_WITH_TIMEOUT(cell(stage, "Overview1", Controller), station, 10000);
    QVERIFY2(display::TwipsToPixelsX(window, cameras->ContentWidth() + 158 + 20 + 320) > maximised.width(),
             qPrintable(QString::number(cameras->ContentWidth())));
    QVERIFY(window->isMaximized());
    QCOMPARE(window->size(), maximised);
    first->dropControl();
    window->showNormal();

    // A reader that stops answering is shown as gone, and back when it answers again.
    second->setListening(false);
    QTRY_COMPARE_WITH_TIMEOUT(cell(stage, "Overview2", Reachable), QStringLiteral("No"), 15000);
    QCOMPARE(cell(stage, "Overview1", Reachable), QStringLiteral("Yes"));
    // Gone on light red, answering on light green.
    const auto shade = [&](const char* reader) {
        return overview(stage)->item(rowOf(stage, reader), Reachable)->background().color();
    };
    QCOMPARE(shade("Overview2"), QColor(255, 128, 128));
    QCOMPARE(shade("Overview1"), QColor(128, 255, 128));
    second->setListening(true);
    QTRY_COMPARE_WITH_TIMEOUT(cell(stage, "Overview2", Reachable), QStringLiteral("Yes"), 15000);
    QCOMPARE(shade("Overview2"), QColor(128, 255, 128));
    // The focused reader too: once its link is lost and it no longer answers, it is gone.
    coordinator.Focus(QStringLiteral("Overview2"));
    QTRY_COMPARE(cell(stage, "Overview2", Name), QStringLiteral("Overview2 (focused)"));
    second->setListening(false);
    second->dropConnections();
    QTRY_COMPARE_WITH_TIMEOUT(cell(stage, "Overview2", Reachable), QStringLiteral("No"), 15000);
    coordinator.Focus(QString());
    second->setListening(true);
    stage.close();
    network.reset();
    qputenv("VELMARROW_DISCOVERY_TARGETS", targets);
}

// With no reader on the network the count says so, in the plural.
void noReaders(Stage& stage) {
    QVERIFY(stage.open(kOverview));
    QCOMPARE(overview(stage)->rowCount(), 0);
    QCOMPARE(find<QLabel>(stage, QStringLiteral("lblCount"))->text(), QStringLiteral("0 readers"));
    stage.close();
}

} // namespace

WindowContract networkOverviewContract() {
    WindowContract w;
    w.window = kOverview;
    w.notFields = {
        // The list of readers; the operator only selects rows in it.
        QStringLiteral("ctl"),
        // Narrows the rows shown; nothing of it reaches a reader.
        QStringLiteral("txtFilter"),
    };
    w.checks = {noReaders, rowsPerReader};
    return w;
}

} // namespace vm::contracts
