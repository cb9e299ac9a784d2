// Match settings: text matching with a match string (and, from level 7, a list of fifteen
// more), serial-number matching against the reader's counter, both or neither.
#include "contracts/contract.h"
#include "contracts/tables/common.h"
#include "contracts/tables/outputport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace vm::contracts {

namespace {

const QString kWindow = QStringLiteral("frmMatch");
const QString kTextOnly = QStringLiteral("MATCHEX T \"\" 0 1 1 1");
const QString kSerialOnly = QStringLiteral("MATCHEX S \"\" 0 1 1 10");

ControlContract row(const QString& name, Kind kind, const QString& parameter, int field,
                    const QList<Value>& values, const QStringList& needs = {}, int fromLevel = 0) {
    ControlContract c = fieldRow(name, kind, parameter, field, values);
    c.needs = needs;
    c.fromLevel = fromLevel;
    return c;
}

QLineEdit* ed(Stage& stage, int i) {
    return find<QLineEdit>(stage, QStringLiteral("m_ed(%1)").arg(i));
}

// The label whose caption (mnemonic left out) is `caption`.
QLabel* label(Stage& stage, const QString& caption) {
    for (QLabel* l : stage.window()->findChildren<QLabel*>())
        if (QString(l->text()).remove(QLatin1Char('&')) == caption)
            return l;
    qWarning("frmMatch has no label %s", qPrintable(caption));
    return nullptr;
}

// Clicks the two mode boxes until they show `text` and `serial`.
void setMode(Stage& stage, bool text, bool serial) {
    for (auto [name, on] :
         {std::pair{"enableTextMatching", text}, std::pair{"enableSerialMatching", serial}}) {
        auto* box = find<QCheckBox>(stage, QLatin1String(name));
        QVERIFY(box);
        if (box->isChecked() != on)
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
        QCOMPARE(box->isChecked(), on);
    }
}

void texts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("MATCHEX B \"\" 0 1 1 1"));
    stage.send(QStringLiteral("MATCH_LIST_ENABLE ON"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Match Mode Setup"));
    compareCaptions(stage, {{"frameTextMatching", "Text Matching"},
                            {"frameSerialMatching", "Serial Number Matching"},
                            {"enableTextMatching", "EnableText Matching"},
                            {"enableSerialMatching", "Enable Serial Number Matching"},
                            {"MatchListCheck", " Enable MatchList"},
                            {"btnOK", "OK"},
                            {"btnCancel", "Cancel"},
                            {"btnApply", "Apply"}});
    for (const char* caption : {"Match String", "Start Count", "Increment", "Character Positions:", "First",
                                "Last", "Note: Wildcard characters are * and ?"})
        QVERIFY2(label(stage, QLatin1String(caption)), caption);
    QVERIFY(label(stage, "Note: Wildcard characters are * and ?")->isVisible());
    // The list's entries are numbered from 1, each caption naming its own entry.
    for (int i = 0; i < 15; ++i) {
        auto* entry = find<QLabel>(stage, QStringLiteral("labelText(%1)").arg(i + 1));
        QVERIFY(entry);
        QCOMPARE(caption(entry), QStringLiteral("Match String %1").arg(i + 1));
        QCOMPARE(entry->buddy(), stage.control(QStringLiteral("ml_ed(%1)").arg(i)));
    }
    // Nothing changed yet: OK and Apply wait for a change.
    QVERIFY(!find<QPushButton>(stage, "btnOK")->isEnabled());
    QVERIFY(!find<QPushButton>(stage, "btnApply")->isEnabled());

    // A focused number field is light yellow, and back to the window colour when left.
    QLineEdit* start = ed(stage, 1);
    const QColor normal = start->palette().color(QPalette::Base);
    start->setFocus();
    QTRY_VERIFY(start->hasFocus());
    QCOMPARE(start->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xC0));
    ed(stage, 2)->setFocus();
    QTRY_VERIFY(ed(stage, 2)->hasFocus());
    QCOMPARE(start->palette().color(QPalette::Base), normal);
    QCOMPARE(ed(stage, 2)->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xC0));
}

// Each mode word shows as its boxes, and the boxes decide what can be used.
void modes(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("MATCH_LIST_ENABLE ON"));
    for (const auto& [word, text, serial] : QList<std::tuple<QString, bool, bool>>{
             {"N", false, false}, {"T", true, false}, {"S", false, true}, {"B", true, true}}) {
        stage.setField(QStringLiteral("MATCHEX"), 0, word);
        QVERIFY(stage.open(kWindow));
        QCOMPARE(find<QCheckBox>(stage, "enableTextMatching")->isChecked(), text);
        QCOMPARE(find<QCheckBox>(stage, "enableSerialMatching")->isChecked(), serial);
        QCOMPARE(ed(stage, 0)->isEnabled(), text);
        QCOMPARE(label(stage, "Match String")->isEnabled(), text);
        for (int i = 1; i <= 4; ++i)
            QCOMPARE(ed(stage, i)->isEnabled(), serial);
        for (const char* caption : {"Start Count", "Increment", "First", "Last"})
            QCOMPARE(label(stage, QLatin1String(caption))->isEnabled(), serial);
        QCOMPARE(find<QCheckBox>(stage, "MatchListCheck")->isVisible(), text);
        QCOMPARE(find<QGroupBox>(stage, "MatchListFrame")->isVisible(), text);
    }
    // The list frame follows its check box while text matching is on.
    stage.setField(QStringLiteral("MATCH_LIST_ENABLE"), 0, QStringLiteral("OFF"));
    stage.setField(QStringLiteral("MATCHEX"), 0, QStringLiteral("T"));
    QVERIFY(stage.open(kWindow));
    QVERIFY(find<QCheckBox>(stage, "MatchListCheck")->isVisible());
    QVERIFY(!find<QGroupBox>(stage, "MatchListFrame")->isVisible());
    auto* list = find<QCheckBox>(stage, "MatchListCheck");
    QTest::mouseClick(list, Qt::LeftButton, {}, QPoint(list->height() / 2, list->height() / 2));
    QVERIFY(find<QGroupBox>(stage, "MatchListFrame")->isVisible());
    QVERIFY(find<QPushButton>(stage, "btnOK")->isEnabled());

    // Every pair of boxes writes its word: serial alone, both, text alone, neither.
    stage.setField(QStringLiteral("MATCHEX"), 0, QStringLiteral("N"));
    QVERIFY(stage.open(kWindow));
    for (const auto& [text, serial, word] : QList<std::tuple<bool, bool, QString>>{
             {false, true, "S"}, {true, true, "B"}, {true, false, "T"}, {false, false, "N"}}) {
        setMode(stage, text, serial);
        QVERIFY(find<QPushButton>(stage, "btnApply")->isEnabled());
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")).value(0), word);
    }
}

// What a number field holds when it is left, and what then reaches the reader.
void limits(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(kSerialOnly);
    QVERIFY(stage.open(kWindow));
    for (const auto& [field, typed, held] : QList<std::tuple<int, QString, QString>>{
             {3, "0", "1"},
             {3, "12", "10"},
             {2, "-5000", "-1000"},
             {2, "1500", "1000"},
             {2, "12abc", "12"},
             {1, "-3", "0"},
             {1, "abc", "0"},
             {1, "99999999999", "2147483647"},
             {3, "8", "8"},
             {4, "5", "8"},
             {4, "2000", "1000"},
             {3, "1001", "1000"},
         }) {
        testing::typeInto(ed(stage, field), typed);
        QVERIFY2(ed(stage, field)->text() == held, qPrintable(QStringLiteral("m_ed(%1) typed %2 shows %3")
                                                                  .arg(field)
                                                                  .arg(typed, ed(stage, field)->text())));
    }
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")),
                 (QStringList{"S", "\"\"", "2147483647", "12", "1000", "1000"}));
}

// Below level 7 the list is neither asked for, shown nor written.
void olderReader(Stage& stage) {
    stage.start(QStringLiteral("2.1.0.4"));
    stage.send(kTextOnly);
    testing::Received received(stage.reader());
    QVERIFY(stage.open(kWindow));
    QVERIFY(!received.starting(QStringLiteral("MATCHEX")).isEmpty());
    for (const QString& line : received.lines())
        QVERIFY2(!line.startsWith(QLatin1String("MATCH_LIST")), qPrintable(line));
    QVERIFY(!find<QCheckBox>(stage, "MatchListCheck")->isVisible());
    QVERIFY(!find<QGroupBox>(stage, "MatchListFrame")->isVisible());
    testing::typeInto(ed(stage, 0), QStringLiteral("AB*"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")).value(1), QStringLiteral("\"AB*\""));
    for (const QString& line : received.lines())
        QVERIFY2(!line.startsWith(QLatin1String("MATCH_LIST")), qPrintable(line));
}

// A match string with a double quote inside goes out unescaped in its pair of quotes.
void quotes(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(kTextOnly);
    QVERIFY(stage.open(kWindow));
    testing::typeInto(ed(stage, 0), QStringLiteral("a\"b"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")).value(1), QStringLiteral("\"a\"b\""));
    // Read back, the inner quote stays in the text.
    QVERIFY(stage.open(kWindow));
    QCOMPARE(ed(stage, 0)->text(), QStringLiteral("a\"b"));

    // With a blank after the inner quote the reader keeps the text whole ...
    stage.send(kTextOnly);
    QVERIFY(stage.open(kWindow));
    testing::typeInto(ed(stage, 0), QStringLiteral("a\"b c"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")),
                 (QStringList{"T", "\"a\"b c\"", "0", "1", "1", "1"}));
    // ... and so does the program when it reads it back.
    QVERIFY(stage.open(kWindow));
    QCOMPARE(ed(stage, 0)->text(), QStringLiteral("a\"b c"));
}

// Each mode, set in the window, against what the reader then reports for a code that
// matches and one that does not: "D;" for every decode, "+entry:data;" for a match pass and
// "-data;" for a match fail, on TCP2.
void readerDecides(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    for (const char* command :
         {"TRIG T", "OUTPUT TCP2 OKDEC Y \"D;\" NONE",
          "OUTPUT TCP2 OKMATCH Y \"+(MATCH_INDEX):(DATA);\" NONE", "OUTPUT TCP2 MATCHFL Y \"-(DATA);\" NONE",
          "MATCHEX N \"\" 0 1 1 1", "MATCH_LIST_ENABLE OFF"})
        stage.send(QLatin1String(command));
    QString error;
    QVERIFY(stage.reader().setScene(QStringLiteral("text"), QStringLiteral("SN"), &error));
    QVERIFY(stage.reader().setScene(QStringLiteral("serialdigits"), QStringLiteral("3"), &error));
    PortReader port;
    QVERIFY(port.open(stage, 2));
    QVERIFY(stage.open(kWindow));
    auto cycle = [&](int serial) {
        QString e;
        QVERIFY(stage.reader().setScene(QStringLiteral("serial"), QString::number(serial), &e));
        stage.send(QStringLiteral("VT"));
    };
    auto reports = [&](int n) {
        QByteArray out;
        for (int i = 0; i < n; ++i)
            out += port.until(";");
        return out;
    };
    auto applied = [&](const QString& mode) {
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("MATCHEX")).value(0), mode);
    };

    // Neither: no match report between two decodes.
    cycle(5);
    cycle(6);
    QCOMPARE(reports(2), QByteArray("D;D;"));

    // Text against the match string.
    setMode(stage, true, false);
    testing::typeInto(ed(stage, 0), QStringLiteral("SN00?"));
    applied(QStringLiteral("T"));
    cycle(5);
    QCOMPARE(reports(2), QByteArray("D;+0:SN005;"));
    testing::typeInto(ed(stage, 0), QStringLiteral("AB*"));
    applied(QStringLiteral("T"));
    cycle(6);
    QCOMPARE(reports(2), QByteArray("D;-SN006;"));

    // Text against the list: its fifth entry matches.
    auto* listCheck = find<QCheckBox>(stage, "MatchListCheck");
    QTest::mouseClick(listCheck, Qt::LeftButton, {},
                      QPoint(listCheck->height() / 2, listCheck->height() / 2));
    testing::typeInto(find<QLineEdit>(stage, "ml_ed(4)"), QStringLiteral("SN0*"));
    applied(QStringLiteral("T"));
    cycle(7);
    QCOMPARE(reports(2), QByteArray("D;+5:SN007;"));
    testing::typeInto(find<QLineEdit>(stage, "ml_ed(4)"), QStringLiteral("ZZ*"));
    applied(QStringLiteral("T"));
    cycle(8);
    QCOMPARE(reports(2), QByteArray("D;-SN008;"));
    QTest::mouseClick(listCheck, Qt::LeftButton, {},
                      QPoint(listCheck->height() / 2, listCheck->height() / 2));

    // Serial number: positions 3 to 5 against the counter from 20, advancing by 2.
    setMode(stage, false, true);
    testing::typeInto(ed(stage, 1), QStringLiteral("20"));
    testing::typeInto(ed(stage, 2), QStringLiteral("2"));
    testing::typeInto(ed(stage, 4), QStringLiteral("5"));
    testing::typeInto(ed(stage, 3), QStringLiteral("3"));
    applied(QStringLiteral("S"));
    QCOMPARE(stage.fields(QStringLiteral("MATCHEX")).mid(2), (QStringList{"20", "2", "3", "5"}));
    cycle(20);
    cycle(22);
    cycle(23);
    QCOMPARE(reports(6), QByteArray("D;+0:SN020;D;+0:SN022;D;-SN023;"));

    // Both: text and serial number must each pass.
    setMode(stage, true, true);
    testing::typeInto(ed(stage, 0), QStringLiteral("SN*"));
    testing::typeInto(ed(stage, 1), QStringLiteral("40"));
    applied(QStringLiteral("B"));
    cycle(40);
    QCOMPARE(reports(2), QByteArray("D;+0:SN040;"));
    cycle(41); // the counter is at 42 now
    QCOMPARE(reports(2), QByteArray("D;-SN041;"));
    testing::typeInto(ed(stage, 0), QStringLiteral("XX*"));
    applied(QStringLiteral("B"));
    cycle(42);
    QCOMPARE(reports(2), QByteArray("D;-SN042;"));
}

} // namespace

WindowContract matchContract() {
    WindowContract w;
    w.window = kWindow;
    w.lowVersion = QStringLiteral("2.1.0.4"); // level 6: no match list

    const QList<Value> offOnOff = {{"OFF", "off"}, {"ON", "on"}, {"OFF", "off"}};
    w.controls << row("enableTextMatching", Kind::Check, "MATCHEX", 0,
                      {{"N", "off"}, {"T", "on"}, {"N", "off"}});
    // Serial matching added to text matching is both.
    w.controls << row("enableSerialMatching", Kind::Check, "MATCHEX", 0,
                      {{"T", "off"}, {"B", "on"}, {"T", "off"}});
    w.controls << row("m_ed(0)", Kind::Box, "MATCHEX", 1,
                      {{"\"\"", ""}, {"\"NO*\"", "NO*"}, {"\"VELM?RROW-*\"", "VELM?RROW-*"}}, {kTextOnly});
    w.controls << row("m_ed(1)", Kind::Box, "MATCHEX", 2, {{"0", "0"}, {"25", "25"}, {"7", "7"}},
                      {kSerialOnly});
    w.controls << row("m_ed(2)", Kind::Box, "MATCHEX", 3, {{"1", "1"}, {"-5", "-5"}, {"1000", "1000"}},
                      {kSerialOnly});
    w.controls << row("m_ed(3)", Kind::Box, "MATCHEX", 4, {{"1", "1"}, {"4", "4"}, {"10", "10"}},
                      {kSerialOnly});
    w.controls << row("m_ed(4)", Kind::Box, "MATCHEX", 5, {{"5", "5"}, {"12", "12"}, {"1000", "1000"}},
                      {QStringLiteral("MATCHEX S \"\" 0 1 3 5")});
    const QStringList listShown = {kTextOnly, QStringLiteral("MATCH_LIST_ENABLE ON")};
    w.controls << row("MatchListCheck", Kind::Check, "MATCH_LIST_ENABLE", 0, offOnOff, {kTextOnly}, 7);
    for (int i = 0; i < 15; ++i)
        w.controls << row(QStringLiteral("ml_ed(%1)").arg(i), Kind::Box,
                          QStringLiteral("MATCH_LIST %1").arg(i + 1), 0,
                          {{"\"\"", ""}, {"\"L*\"", "L*"}, {"\"AB?D\"", "AB?D"}}, listShown, 7);

    w.checks = {texts, modes, limits, olderReader, quotes, readerDecides};
    return w;
}

} // namespace vm::contracts
