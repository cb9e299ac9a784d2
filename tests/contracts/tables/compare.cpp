// Configuration compare: the reader's configuration beside a configuration file, beside its
// factory defaults, or two files side by side; only the fields that differ are listed, and
// the ticked ones are sent to the reader. Its inputs choose what is compared and show no
// reader field, so the window is pinned in the checks: the rows it lists for a known
// difference, and what the reader holds after a send.
#include "contracts/contract.h"

#include <QCheckBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>

namespace vm::contracts {

namespace {

using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;

const QString kWindow = QStringLiteral("frmCompare");

// A configuration file of these lines, as the File menu saves one.
QString writeFile(const QString& path, const QStringList& lines) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return {};
    f.write((lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toUtf8());
    return path;
}

// The rows as "parameter|field|left|right", with the check box state of the first cell.
QStringList rows(Stage& stage) {
    auto* grid = find<QTableWidget>(stage, "grdDifferences");
    QStringList out;
    for (int r = 0; r < grid->rowCount(); ++r)
        out << QStringLiteral("%1|%2|%3|%4")
                   .arg(grid->item(r, 0)->text(), grid->item(r, 1)->text(), grid->item(r, 2)->text(),
                        grid->item(r, 3)->text());
    return out;
}

int rowOf(Stage& stage, const QString& parameter, const QString& field) {
    auto* grid = find<QTableWidget>(stage, "grdDifferences");
    for (int r = 0; r < grid->rowCount(); ++r)
        if (grid->item(r, 0)->text() == parameter && grid->item(r, 1)->text() == field)
            return r;
    return -1;
}

void tick(Stage& stage, int row) {
    QTableWidgetItem* item = find<QTableWidget>(stage, "grdDifferences")->item(row, 0);
    QVERIFY(item);
    if (item->flags() & Qt::ItemIsUserCheckable)
        item->setCheckState(Qt::Checked);
}

QString summary(Stage& stage) {
    return find<QLabel>(stage, "lblSummary")->text();
}

void compare(Stage& stage) {
    find<QPushButton>(stage, "btnCompare")->click();
}

// The caption of the label that names a file box.
QString caption(Stage& stage, const char* box) {
    auto* edit = find<QLineEdit>(stage, box);
    for (QLabel* label : edit->window()->findChildren<QLabel*>())
        if (label->buddy() == edit)
            return label->text();
    return {};
}

// The reader beside a file saved before three changes: the changed fields and no others,
// and a send of two ticked rows puts back exactly those.
// The file boxes and Browse buttons the mode offers, by name.
QString filesOffered(Stage& stage) {
    QStringList on;
    for (const char* name : {"txtLeftFile", "btnLeftBrowse", "txtRightFile", "btnRightBrowse"})
        if (find<QWidget>(stage, QLatin1String(name))->isEnabled())
            on << QLatin1String(name);
    return on.join(QLatin1Char(' '));
}

void cameraAndFile(Stage& stage) {
    QTemporaryDir dir;
    stage.start(QStringLiteral("3.0.2.1"));
    const QString file = writeFile(dir.filePath(QStringLiteral("before.lcf")), stage.listing());
    stage.send(QStringLiteral("TRIG T"));
    stage.send(QStringLiteral("BARQZ 40"));
    stage.send(QStringLiteral("OUTPUT TCP3 LOCFL Y \"NOREAD\" NONE"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Compare Configuration"));
    QCOMPARE(testing::entries(find<QComboBox>(stage, "cmbMode")),
             QStringList({"Camera and a configuration file", "Camera and its factory defaults",
                          "Two configuration files"}));
    // Beside a file: the file box is the second side; the first is the camera.
    QCOMPARE(filesOffered(stage), QStringLiteral("txtRightFile btnRightBrowse"));
    QCOMPARE(caption(stage, "txtRightFile"), QStringLiteral("&File:"));
    QVERIFY(!find<QPushButton>(stage, "btnSend")->isEnabled());
    {
        testing::ExpectPrompts boxes;
        boxes->expectMessage(QStringLiteral("Velmarrow"),
                             QStringLiteral("Choose a configuration file first."), PromptIcon::Exclamation,
                             PromptButtons::Ok, PromptAnswer::Ok);
        compare(stage);
    }
    testing::typeInto(find<QLineEdit>(stage, "txtRightFile"), file);
    compare(stage);
    QCOMPARE(rows(stage), QStringList({"TRIG|0|T|C", "BARQZ|0|40|10", "OUTPUT TCP3 LOCFL|0|Y|N",
                                       "OUTPUT TCP3 LOCFL|1|\"NOREAD\"|\"\""}));
    auto* grid = find<QTableWidget>(stage, "grdDifferences");
    QCOMPARE(grid->horizontalHeaderItem(2)->text(), QStringLiteral("Camera"));
    QCOMPARE(grid->horizontalHeaderItem(3)->text(), QStringLiteral("before.lcf"));
    QCOMPARE(summary(stage), QStringLiteral("4 fields differ."));

    // Ticking enables the send; only what was ticked goes back to the file's values.
    tick(stage, 0);
    tick(stage, 3);
    QVERIFY(find<QPushButton>(stage, "btnSend")->isEnabled());
    // The send follows control.
    stage.releaseControl();
    QTRY_VERIFY(!find<QPushButton>(stage, "btnSend")->isEnabled());
    stage.regainControl();
    QTRY_VERIFY(find<QPushButton>(stage, "btnSend")->isEnabled());
    const QStringList before = stage.listing();
    testing::Received received(stage.reader());
    QSignalSpy heard(&stage.station(), &link::Connection::OnBroadcastMessage);
    find<QPushButton>(stage, "btnSend")->click();
    QStringList writes;
    for (const QString& line : received.lines())
        if (line.contains(QLatin1Char(' ')) && !line.startsWith(QLatin1String("SHOW")))
            writes << line;
    writes.sort();
    QCOMPARE(writes, QStringList({"OUTPUT TCP3 LOCFL Y \"\" NONE", "TRIG C"}));
    QCOMPARE(stage.fields("TRIG"), QStringList({"C"}));
    QCOMPARE(stage.fields("BARQZ").value(0), QStringLiteral("40"));
    QStringList changed;
    for (const QString& line : stage.listing())
        if (!before.contains(line))
            changed << line.section(QLatin1Char(' '), 0, 0);
    changed.sort();
    QCOMPARE(changed, QStringList({"OUTPUT", "TRIG"}));
    QTRY_COMPARE(heard.size(), 5);
    QStringList words;
    for (const auto& b : heard) {
        QCOMPARE(b.at(0).toString(), kWindow);
        words << b.at(1).toString();
    }
    QCOMPARE(words, QStringList({"UPDATEPHOTO", "UPDATEIO", "UPDATETIMEOUT", "UPDATELASER", "UPDATEBC"}));
    // Compared again after the send: what is left.
    QCOMPARE(rows(stage), QStringList({"BARQZ|0|40|10", "OUTPUT TCP3 LOCFL|0|Y|N"}));

    // Put back to the file's values, the reader differs in nothing.
    stage.send(QStringLiteral("BARQZ 10"));
    stage.send(QStringLiteral("OUTPUT TCP3 LOCFL N \"\" NONE"));
    compare(stage);
    QCOMPARE(rows(stage), QStringList());
    QCOMPARE(summary(stage), QStringLiteral("No differences."));
    // Two files: the send is not offered.
    stage.send(QStringLiteral("BARQZ 40"));
    const QString after = writeFile(dir.filePath(QStringLiteral("after.lcf")), stage.listing());
    testing::choose(find<QComboBox>(stage, "cmbMode"), QStringLiteral("Two configuration files"));
    QCOMPARE(filesOffered(stage), QStringLiteral("txtLeftFile btnLeftBrowse txtRightFile btnRightBrowse"));
    // Two files are the first and the second.
    QCOMPARE(caption(stage, "txtLeftFile"), QStringLiteral("&First file:"));
    QCOMPARE(caption(stage, "txtRightFile"), QStringLiteral("&Second file:"));
    testing::typeInto(find<QLineEdit>(stage, "txtLeftFile"), after);
    compare(stage);
    QCOMPARE(rows(stage), QStringList({"BARQZ|0|40|10"}));
    QCOMPARE(summary(stage), QStringLiteral("One field differs."));
    QCOMPARE(grid->horizontalHeaderItem(2)->text(), QStringLiteral("after.lcf"));
    tick(stage, 0);
    QVERIFY(!find<QPushButton>(stage, "btnSend")->isEnabled());

    // Beside the factory defaults: no file; the changed field is listed, the reader's name is
    // not a difference there.
    testing::choose(find<QComboBox>(stage, "cmbMode"), QStringLiteral("Camera and its factory defaults"));
    QCOMPARE(filesOffered(stage), QString());
    compare(stage);
    QVERIFY(rowOf(stage, QStringLiteral("BARQZ"), QStringLiteral("0")) >= 0);
    QCOMPARE(grid->item(rowOf(stage, QStringLiteral("BARQZ"), QStringLiteral("0")), 3)->text(),
             QStringLiteral("10"));
    QCOMPARE(rowOf(stage, QStringLiteral("IP (identity)"), QStringLiteral("0")), -1);
    QCOMPARE(grid->horizontalHeaderItem(3)->text(), QStringLiteral("Defaults"));
}

// Another reader's file: its name and address are marked and stay out of a send unless the
// operator includes the identity.
void identity(Stage& stage) {
    QTemporaryDir dir;
    stage.start(QStringLiteral("3.0.2.1"));
    QStringList lines = stage.listing();
    for (QString& line : lines)
        if (line.startsWith(QLatin1String("IP ")))
            line = QStringLiteral("IP Other 127.0.0.99 255.0.0.0 0.0.0.0");
    const QString file = writeFile(dir.filePath(QStringLiteral("other.lcf")), lines);
    QVERIFY(stage.open(kWindow));
    testing::typeInto(find<QLineEdit>(stage, "txtRightFile"), file);
    compare(stage);
    const int name = rowOf(stage, QStringLiteral("IP (identity)"), QStringLiteral("0"));
    QVERIFY2(name >= 0, qPrintable(rows(stage).join(QLatin1Char(','))));
    tick(stage, name);
    auto* grid = find<QTableWidget>(stage, "grdDifferences");
    // The identity row is shaded across all its cells, the parameter's included.
    QVERIFY(grid->item(name, 0)->background().style() != Qt::NoBrush);
    for (int c = 1; c < grid->columnCount(); ++c)
        QCOMPARE(grid->item(name, c)->background(), grid->item(name, 0)->background());
    QCOMPARE(grid->item(name, 0)->checkState(), Qt::Unchecked);
    QVERIFY(!find<QPushButton>(stage, "btnSend")->isEnabled());
    find<QCheckBox>(stage, "chkIdentity")->click();
    tick(stage, name);
    QCOMPARE(grid->item(name, 0)->checkState(), Qt::Checked);
    QVERIFY(find<QPushButton>(stage, "btnSend")->isEnabled());
    find<QPushButton>(stage, "btnSend")->click();
    QTRY_COMPARE(stage.fields("IP").value(0), QStringLiteral("Other"));
    QCOMPARE(stage.fields("IP").value(1), stage.reader().address().toString());
}

// Parameters of two and three words are named as the reader names them, their fields counted
// after the name, in every mode; a ticked row goes back under that name.
void readerNames(Stage& stage) {
    QTemporaryDir dir;
    stage.start(QStringLiteral("3.0.2.1"));
    const QString file = writeFile(dir.filePath(QStringLiteral("named.lcf")), stage.listing());
    stage.send(QStringLiteral("TIMEOUT READ 700"));
    stage.send(QStringLiteral("BARCODE ENABLE 0x3"));
    stage.send(QStringLiteral("OUTPUT TCP1 OKDEC Y \"(DATA)\" H"));
    QVERIFY(stage.open(kWindow));
    testing::typeInto(find<QLineEdit>(stage, "txtRightFile"), file);
    compare(stage);
    const QStringList named = {"TIMEOUT READ|0|700|500", "BARCODE ENABLE|0|0x3|0x1",
                               "OUTPUT TCP1 OKDEC|2|H|NONE"};
    QCOMPARE(rows(stage), named);
    // Two files: the same names, without the reader.
    const QString after = writeFile(dir.filePath(QStringLiteral("after.lcf")), stage.listing());
    testing::choose(find<QComboBox>(stage, "cmbMode"), QStringLiteral("Two configuration files"));
    testing::typeInto(find<QLineEdit>(stage, "txtLeftFile"), after);
    compare(stage);
    QCOMPARE(rows(stage), named);
    // Beside the file again, two ticked rows put back just those parameters.
    testing::choose(find<QComboBox>(stage, "cmbMode"), QStringLiteral("Camera and a configuration file"));
    QCOMPARE(caption(stage, "txtRightFile"), QStringLiteral("&File:"));
    compare(stage);
    tick(stage, rowOf(stage, QStringLiteral("BARCODE ENABLE"), QStringLiteral("0")));
    tick(stage, rowOf(stage, QStringLiteral("TIMEOUT READ"), QStringLiteral("0")));
    testing::Received received(stage.reader());
    find<QPushButton>(stage, "btnSend")->click();
    QStringList writes =
        received.starting(QStringLiteral("BARCODE")) + received.starting(QStringLiteral("TIMEOUT"));
    writes.removeAll(QStringLiteral("BARCODE ENABLE"));
    writes.removeAll(QStringLiteral("TIMEOUT READ"));
    QCOMPARE(writes, QStringList({"BARCODE ENABLE 0x1", "TIMEOUT READ 500"}));
    QCOMPARE(stage.fields(QStringLiteral("BARCODE ENABLE")), QStringList{"0x1"});
    QCOMPARE(stage.fields(QStringLiteral("TIMEOUT READ")), QStringList{"500"});
    QCOMPARE(rows(stage), QStringList{"OUTPUT TCP1 OKDEC|2|H|NONE"});
}

} // namespace

WindowContract compareContract() {
    WindowContract w;
    w.window = kWindow;
    // What to compare, the two files, whether the identity may be sent and the list of
    // differences choose what is compared and sent; none shows a reader field.
    w.notFields = {QStringLiteral("cmbMode"), QStringLiteral("txtLeftFile"), QStringLiteral("txtRightFile"),
                   QStringLiteral("chkIdentity"), QStringLiteral("grdDifferences")};
    w.checks = {cameraAndFile, identity, readerNames};
    return w;
}

} // namespace vm::contracts
