// PID copy: copies the reader's current settings to one of its stored parameter sets, or a
// stored set back to the current settings. It shows no reader field: what it does is the
// command OK sends ("STORE n" or "LOAD n"), so the window is pinned in the checks, where
// the reader's own settings show what each copy did.
#include "contracts/contract.h"

#include "shell/frmpidcopy.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace vm::contracts {

namespace {

const QString kWindow = QStringLiteral("frmPIDCopy");

// The dialog as the File menu shows it, for one direction.
shell::frmPIDCopy* openCopy(Stage& stage, bool toPid) {
    auto* w = new shell::frmPIDCopy(nullptr);
    w->SetDirection(toPid);
    w->show();
    return qobject_cast<shell::frmPIDCopy*>(stage.adopt(w));
}

QStringList offered(shell::frmPIDCopy* w) {
    QStringList out;
    for (int i = 0; i < w->pidList()->count(); ++i)
        out << w->pidList()->item(i)->text();
    return out;
}

void choose(shell::frmPIDCopy* w, const QString& pid) {
    const auto items = w->pidList()->findItems(pid, Qt::MatchExactly);
    QVERIFY2(items.size() == 1, qPrintable(pid));
    w->pidList()->setCurrentItem(items.first());
}

QPushButton* button(shell::frmPIDCopy* w, const char* name) {
    return w->findChild<QPushButton*>(QLatin1String(name));
}

// Chooses a PID and presses the button, which closes the dialog.
void chooseAndPress(shell::frmPIDCopy* w, const QString& pid, const char* name) {
    choose(w, pid);
    button(w, name)->click();
    QTRY_VERIFY(!w->isVisible());
}

// Texts, and what the reader holds after a copy each way.
void copies(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("BARQZ 10"));
    shell::frmPIDCopy* to = openCopy(stage, true);
    QVERIFY(to);
    QCOMPARE(to->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("PID Copy"));
    QVERIFY(to->isModal());
    QCOMPARE(to->caption()->text(), QStringLiteral("Copy Current Settings to PID #"));
    QStringList all;
    for (int pid = 1; pid <= 15; ++pid)
        all << QString::number(pid);
    QCOMPARE(offered(to), all);
    // It opens on the first PID offered: OK at once copies to PID 1.
    QVERIFY(to->pidList()->currentItem());
    QCOMPARE(to->pidList()->currentItem()->text(), QStringLiteral("1"));
    QCOMPARE(button(to, "OK")->text(), QStringLiteral("OK"));
    QCOMPARE(button(to, "Cancel")->text(), QStringLiteral("Cancel"));

    // To PID 5 and PID 12: the reader stores its settings under each.
    QSignalSpy heard(&stage.station(), &link::Connection::OnBroadcastMessage);
    testing::Received received(stage.reader());
    chooseAndPress(to, QStringLiteral("5"), "OK");
    QCOMPARE(received.starting(QStringLiteral("STORE")), QStringList({"STORE 5"}));
    QTRY_COMPARE(heard.size(), 1);
    QCOMPARE(heard.at(0).at(0).toString(), kWindow);
    QCOMPARE(heard.at(0).at(1).toString(), QStringLiteral("UPDATERETRY"));
    stage.send(QStringLiteral("BARQZ 40"));
    to = openCopy(stage, true);
    chooseAndPress(to, QStringLiteral("12"), "OK");

    // From a PID: only the stored ones are offered; PID 5 brings back what it holds.
    shell::frmPIDCopy* from = openCopy(stage, false);
    QCOMPARE(from->caption()->text(), QStringLiteral("Copy to Current Settings from PID #"));
    QCOMPARE(offered(from), QStringList({"5", "12"}));
    QVERIFY(from->pidList()->currentItem());
    QCOMPARE(from->pidList()->currentItem()->text(), QStringLiteral("5"));
    heard.clear();
    received.clear();
    chooseAndPress(from, QStringLiteral("5"), "OK");
    QCOMPARE(received.starting(QStringLiteral("LOAD")), QStringList({"LOAD 5"}));
    QCOMPARE(stage.fields(QStringLiteral("BARQZ")).value(0), QStringLiteral("10"));
    QTRY_COMPARE(heard.size(), 1);
    QCOMPARE(heard.at(0).at(1).toString(), QStringLiteral("UPDATERETRY"));

    // Cancel sends nothing and tells nobody.
    heard.clear();
    received.clear();
    from = openCopy(stage, false);
    chooseAndPress(from, QStringLiteral("12"), "Cancel");
    QCOMPARE(received.starting(QStringLiteral("LOAD")), QStringList());
    QCOMPARE(stage.fields(QStringLiteral("BARQZ")).value(0), QStringLiteral("10"));
    QCOMPARE(heard.size(), 0);

    // A copy the reader refuses is told: the command, then the reader's reason; nothing changed.
    stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("LOAD"));
    from = openCopy(stage, false);
    {
        testing::ExpectPrompts boxes;
        boxes->expectMessage(
            QStringLiteral("Velmarrow"),
            QStringLiteral("The camera did not carry out \"LOAD 12\": refused by the reader: "
                           "the value cannot be applied now"),
            app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
        chooseAndPress(from, QStringLiteral("12"), "OK");
    }
    QCOMPARE(stage.fields(QStringLiteral("BARQZ")).value(0), QStringLiteral("10"));
}

// A reader with nothing stored offers nothing; one that does not answer its listing is
// given up after the dialog's 600 ms.
void silentListing(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QCOMPARE(offered(openCopy(stage, false)), QStringList());
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("DIR"));
    QElapsedTimer clock;
    clock.start();
    shell::frmPIDCopy* from = openCopy(stage, false);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(offered(from), QStringList());
    QVERIFY2(elapsed >= 550 && elapsed < 1500, qPrintable(QString::number(elapsed)));
}

// Without a reader the dialog offers the PIDs to copy to, and OK just closes.
void noReader(Stage& stage) {
    shell::frmPIDCopy* to = openCopy(stage, true);
    QCOMPARE(offered(to).size(), 15);
    QCOMPARE(offered(openCopy(stage, false)), QStringList());
    to = openCopy(stage, true);
    QSignalSpy heard(&stage.station(), &link::Connection::OnBroadcastMessage);
    button(to, "OK")->click();
    QTRY_VERIFY(!to->isVisible());
    QCOMPARE(heard.size(), 0);
}

} // namespace

WindowContract pidCopyContract() {
    WindowContract w;
    w.window = kWindow;
    // Its list of PIDs is no reader field (and not counted as an input); the copies are
    // the window's commands, pinned in the checks.
    w.notFields = {QStringLiteral("PID")};
    w.checks = {copies, silentListing, noReader};
    return w;
}

} // namespace vm::contracts
