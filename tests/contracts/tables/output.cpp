// The output format editor: per port and read event the report, its format string and its
// use of the port's header and trailer; each port's header and trailer and its fixed buffer.
// Its preview is checked against the bytes the reader really sends on that port.
#include "app/windowregistry.h"
#include "contracts/contract.h"
#include "contracts/tables/common.h"
#include "contracts/tables/outputport.h"
#include "io/editformatstring.h"
#include "io/frmoutput.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabBar>
#include <QTableWidget>
#include <QToolButton>

namespace vm::contracts {

namespace {

const QString kWindow = QStringLiteral("frmOutput");
const QStringList kPorts = {"STANDARD", "TCP1", "TCP2", "TCP3", "TCP4"};
const QStringList kEvents = {"OKDEC", "DECFL", "LOCFL", "OKMATCH", "MATCHFL", "RTE"};
const QStringList kCaptions = {"Decode Pass", "Decode Fail", "Locate Fail",
                               "Match Pass",  "Match Fail",  "RT Error"};

QTableWidget* grid(Stage& stage) {
    return find<QTableWidget>(stage, "m_grid");
}
io::EditFormatString* editor(Stage& stage) {
    return find<io::EditFormatString>(stage, "m_edformat");
}
io::ClickableLabel* label(Stage& stage, bool header) {
    return find<io::ClickableLabel>(stage, header ? "m_header" : "m_trailer");
}
bool checked(Stage& stage, int row, int column) {
    return !grid(stage)->item(row, column)->text().isEmpty();
}

// The tab of a port, clicked as the operator does.
void toPort(Stage& stage, int port) {
    auto* tabs = find<QTabBar>(stage, "m_tabstrip");
    QVERIFY(tabs);
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(port).center());
    QTRY_COMPARE(tabs->currentIndex(), port);
}

// Types a text into the open in-place editor and ends the edit with Enter.
void typeEdit(Stage& stage, const QString& text) {
    io::EditFormatString* e = editor(stage);
    QVERIFY(e && e->isVisible());
    testing::retype(e->editor(), text);
    QTest::keyClick(e->editor(), Qt::Key_Return);
    QVERIFY(!e->isVisible());
}

void editCell(Stage& stage, int row, const QString& text) {
    testing::clickCell(grid(stage), row, 4);
    typeEdit(stage, text);
}

void editLabel(Stage& stage, bool header, const QString& text) {
    QTest::mouseClick(label(stage, header), Qt::LeftButton);
    QCOMPARE(editor(stage)->key(), header ? QStringLiteral("HEADER") : QStringLiteral("TRAILER"));
    typeEdit(stage, text);
}

// Header and trailer cells of a row shown as "H/T", "H/-", "-/T" or "-/-".
QString use(Stage& stage, int row) {
    return QString(checked(stage, row, 2) ? QStringLiteral("H") : QStringLiteral("-")) + QLatin1Char('/') +
           (checked(stage, row, 3) ? QStringLiteral("T") : QStringLiteral("-"));
}
void setUse(Stage& stage, int row, const QString& shown) {
    if (checked(stage, row, 2) != (shown.at(0) == QLatin1Char('H')))
        testing::clickCell(grid(stage), row, 2);
    if (checked(stage, row, 3) != (shown.at(2) == QLatin1Char('T')))
        testing::clickCell(grid(stage), row, 3);
    QCOMPARE(use(stage, row), shown);
}

QString portEvent(int port, int row) {
    return QStringLiteral("OUTPUT ") + kPorts[port] + QLatin1Char(' ') + kEvents[row];
}

ControlContract gridRow(int port, int row, int field) {
    ControlContract c;
    c.name = QStringLiteral("m_grid");
    c.kind = Kind::Custom;
    c.parameter = portEvent(port, row);
    c.field = field;
    // The grid stays enabled without control; its clicks then do nothing (see the checks).
    c.needsControl = false;
    if (field == 0) {
        c.values = {{"N", "off"}, {"Y", "on"}, {"N", "off"}};
        c.set = [port, row](Stage& stage, const Value& v) {
            toPort(stage, port);
            if (checked(stage, row, 1) != (v.shown == QLatin1String("on")))
                testing::clickCell(grid(stage), row, 1);
        };
        c.read = [port, row](Stage& stage) {
            toPort(stage, port);
            return checked(stage, row, 1) ? QStringLiteral("on") : QStringLiteral("off");
        };
    } else if (field == 1) {
        c.values = {{"\"(DATA)\"", "(DATA)"}, {"\"<(DATA)>\\0d\\0a\"", "<(DATA)>\\0d\\0a"}, {"\"\"", ""}};
        c.set = [port, row](Stage& stage, const Value& v) {
            toPort(stage, port);
            editCell(stage, row, v.shown);
        };
        c.read = [port, row](Stage& stage) {
            toPort(stage, port);
            return grid(stage)->item(row, 4)->text();
        };
    } else {
        // One click a step, each box on and off with the other box off and on.
        c.values = {{"NONE", "-/-"}, {"H", "H/-"},   {"H_T", "H/T"}, {"T", "-/T"},   {"NONE", "-/-"},
                    {"T", "-/T"},    {"H_T", "H/T"}, {"H", "H/-"},   {"NONE", "-/-"}};
        c.set = [port, row](Stage& stage, const Value& v) {
            toPort(stage, port);
            setUse(stage, row, v.shown);
        };
        c.read = [port, row](Stage& stage) {
            toPort(stage, port);
            return use(stage, row);
        };
    }
    return c;
}

ControlContract labelRow(int port, bool header) {
    ControlContract c;
    c.name = header ? QStringLiteral("m_header") : QStringLiteral("m_trailer");
    c.kind = Kind::Custom;
    c.parameter = QStringLiteral("OUTPUT ") + kPorts[port] + QStringLiteral(" H_T");
    c.field = header ? 0 : 1;
    c.needsControl = false;
    c.values = header ? QList<Value>{{"\"\"", ""}, {"\"<(TIMESTAMP)>\"", "<(TIMESTAMP)>"}, {"\"L7:\"", "L7:"}}
                      : QList<Value>{{"\"\\0d\\0a\"", "\\0d\\0a"}, {"\"(CHECKSUM)\\03\"", "(CHECKSUM)\\03"}};
    c.set = [port, header](Stage& stage, const Value& v) {
        toPort(stage, port);
        editLabel(stage, header, v.shown);
    };
    c.read = [port, header](Stage& stage) {
        toPort(stage, port);
        return label(stage, header)->text();
    };
    return c;
}

ControlContract fixedRow(int port) {
    ControlContract c;
    c.name = QStringLiteral("m_fixedBufSize");
    c.kind = Kind::Custom;
    c.parameter = QStringLiteral("OUTPUT ") + kPorts[port] + QStringLiteral(" FIXED");
    c.field = 0;
    c.needsControl = false;
    c.fromLevel = 9;
    c.values = {{"0", "0"}, {"40", "40"}, {"254", "254"}, {"2", "2"}};
    c.set = [port](Stage& stage, const Value& v) {
        toPort(stage, port);
        testing::typeInto(find<QLineEdit>(stage, "m_fixedBufSize"), v.shown);
    };
    c.read = [port](Stage& stage) {
        toPort(stage, port);
        return find<QLineEdit>(stage, "m_fixedBufSize")->text();
    };
    return c;
}

// Bytes as the preview names them: CR, LF and TAB by name, other control characters as two
// hexadecimal digits in angle brackets, the rest as UTF-8 text.
QString named(const QByteArray& bytes) {
    QString out;
    for (const QChar c : QString::fromUtf8(bytes)) {
        const ushort u = c.unicode();
        if (u == '\r')
            out += QStringLiteral("<CR>");
        else if (u == '\n')
            out += QStringLiteral("<LF>");
        else if (u == '\t')
            out += QStringLiteral("<TAB>");
        else if (u < 0x20 || u == 0x7f)
            out += QStringLiteral("<%1>").arg(u, 2, 16, QLatin1Char('0')).toUpper();
        else
            out += c;
    }
    return out;
}

QString previewOf(Stage& stage) {
    return find<QLabel>(stage, "m_preview")->text();
}

void texts(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    // A reader that reads only when asked: no record reaches the preview before it is checked.
    stage.send(QStringLiteral("TRIG T"));
    QWidget* w = stage.open(kWindow);
    QVERIFY(w);
    QCOMPARE(w->windowTitle().section(QStringLiteral(" - "), -1),
             QStringLiteral("Configure Formatted Output"));
    auto* tabs = find<QTabBar>(stage, "m_tabstrip");
    QStringList captions;
    for (int i = 0; i < tabs->count(); ++i)
        captions << tabs->tabText(i);
    QCOMPARE(captions, (QStringList{"Standard", "TCP1", "TCP2", "TCP3", "TCP4"}));
    QCOMPARE(tabs->currentIndex(), 0);
    QTableWidget* g = grid(stage);
    QCOMPARE(g->rowCount(), 6);
    QCOMPARE(g->columnCount(), 5);
    for (int r = 0; r < 6; ++r)
        QCOMPARE(g->item(r, 0)->text(), kCaptions[r]);
    for (const auto& [column, title] :
         QList<std::pair<int, QString>>{{1, "Enabled"}, {2, "Header"}, {3, "Trailer"}})
        QCOMPARE(g->horizontalHeaderItem(column)->text(), title);
    compareCaptions(stage, {{"Header_Label", "Header"},
                            {"Trailer_Label", "Trailer"},
                            {"FixedFrame", "Fixed Buffer Length for K4 PLC"},
                            {"btnOK", "OK"},
                            {"btnApply", "Apply"},
                            {"btnCancel", "Cancel"}});
    QVERIFY(!find<QPushButton>(stage, "btnApply")->isEnabled());
    QVERIFY(!editor(stage)->isVisible());
    // A report that is off has its format in light grey.
    QVERIFY(checked(stage, 0, 1));
    QVERIFY(!checked(stage, 1, 1));
    QCOMPARE(g->item(1, 4)->foreground().color(), QColor(0xC0, 0xC0, 0xC0));
    QVERIFY(g->item(0, 4)->foreground().color() != QColor(0xC0, 0xC0, 0xC0));
    testing::clickCell(g, 1, 1);
    QVERIFY(g->item(1, 4)->foreground().color() != QColor(0xC0, 0xC0, 0xC0));
    QVERIFY(find<QPushButton>(stage, "btnApply")->isEnabled());
    QVERIFY(find<QPushButton>(stage, "btnOK")->isEnabled());
    QCOMPARE(previewOf(stage), QStringLiteral("No record received yet"));

    // The fixed buffer length is held to 0..254; above 1 it is in use.
    auto* fixed = find<QLineEdit>(stage, "m_fixedBufSize");
    auto* state = find<QLabel>(stage, "lblFixedState");
    for (const auto& [typed, held, shown] :
         QList<std::tuple<QString, QString, QString>>{{"300", "254", "Enabled"},
                                                      {"-5", "0", "Disabled"},
                                                      {"1", "1", "Disabled"},
                                                      {"abc", "0", "Disabled"},
                                                      {"2", "2", "Enabled"},
                                                      {"40", "40", "Enabled"}}) {
        testing::typeInto(fixed, typed);
        QCOMPARE(fixed->text(), held);
        QCOMPARE(state->text(), shown);
    }
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD FIXED")), QStringList{"40"});
    QCOMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD DECFL")).value(0), QStringLiteral("Y"));
    stage.close();
    // What the reader holds reads the same way when the window opens.
    for (const auto& [held, shown] :
         QList<std::pair<QString, QString>>{{"1", "Disabled"}, {"2", "Enabled"}}) {
        stage.setField(QStringLiteral("OUTPUT STANDARD FIXED"), 0, held);
        QVERIFY(stage.open(kWindow));
        QCOMPARE(find<QLabel>(stage, "lblFixedState")->text(), shown);
        stage.close();
    }

    // Below level 9 the fixed buffer is not shown, though it is asked for.
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("2.3.0.0"));
    testing::Received received(stage.reader());
    QVERIFY(stage.open(kWindow));
    QVERIFY(!find<QGroupBox>(stage, "FixedFrame")->isVisibleTo(stage.window()));
    QVERIFY(received.lines().contains(QStringLiteral("OUTPUT STANDARD FIXED")));
    stage.close();

    // Below level 3 the older output dialog takes over.
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("1.0.1.13"));
    QPointer<QWidget> editorWindow = app::windows().open(kWindow, nullptr);
    QTRY_VERIFY(app::windows().find(QStringLiteral("BasicOutput")));
    QTRY_VERIFY(!editorWindow || !editorWindow->isVisible());
}

// The format editor's keyword menu and its edits.
void language(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    testing::clickCell(grid(stage), 0, 4);
    io::EditFormatString* e = editor(stage);
    QVERIFY(e->isVisible());
    QCOMPARE(e->text(), QStringLiteral("(DATA)"));
    const QStringList keywords = {
        "(DATA)",        "(DATAHEX)",      "(PID#)",           "(TIMESTAMP)",         "(DETAILED)",
        "(VERI_GRADE)",  "(VERI_DETAIL)",  "(VERI_FORMATTED)", "(VERI_STATUS)",       "(VERI_1_IAQG)",
        "(VERI_AIMDPM)", "(ANGLE)",        "(CHECKSUM)",       "New line (\\0d\\0a)", "(MATCH_INDEX)",
        "(UII_ONLY)",    "(UII_WITH_INFO)"};
    for (int i = 0; i < keywords.size(); ++i) {
        auto* a = e->keywordMenu()->findChild<QAction*>(QStringLiteral("menuKeyword(%1)").arg(i));
        QVERIFY2(a, qPrintable(keywords[i]));
        QCOMPARE(a->text(), keywords[i]);
        // Inserted at the caret; the caret follows what was inserted.
        const QString inserted = i == 13 ? QStringLiteral("\\0d\\0a") : keywords[i];
        e->setText(QStringLiteral("ab"));
        e->editor()->setCursorPosition(1);
        a->trigger();
        QCOMPARE(e->text(), QStringLiteral("a") + inserted + QStringLiteral("b"));
        QCOMPARE(e->editor()->cursorPosition(), 1 + int(inserted.size()));
    }
    // A selection stays, after the keyword.
    e->setText(QStringLiteral("abc"));
    e->editor()->setSelection(1, 1);
    e->keywordMenu()->findChild<QAction*>(QStringLiteral("menuKeyword(0)"))->trigger();
    QCOMPARE(e->text(), QStringLiteral("a(DATA)bc"));
    QCOMPARE(e->editor()->cursorPosition(), 7);

    QCOMPARE(e->cycleDataMenu()->title(), QStringLiteral("Cycle Data Fields"));
    const QStringList cycle = {"(CD00) All Data",
                               "(CD01) Overall Pass/Fail",
                               "(CD02) Count of triggers",
                               "(CD03) Count of passes",
                               "(CD04) Count of failures",
                               "(CD05) Count of successful locates",
                               "(CD06) Count of failed locates",
                               "(CD07) Count of successful decodes",
                               "(CD08) Count of failed decodes",
                               "(CD09) Count of successful matches",
                               "(CD10) Count of failed Matches",
                               "(CD11) Count of alarms",
                               "(CD12) Count of trigger overruns",
                               "(CD13) Count of decode overruns",
                               "(CD14) Count of acquisition timeouts",
                               "(CD15) PID",
                               "(CD16) Symbol Pass/Fail",
                               "(CD17) Located / Not Located",
                               "(CD18) Decoded / Not Decoded",
                               "(CD19) Matched / Not Matched",
                               "(CD20) Detailed Decode Failure",
                               "(CD21) Overall AIM Verification Grade",
                               "(CD22) Unformatted decode data",
                               "(CD23) Photometry Settings",
                               "(CD24) Image TimeStamp",
                               "(CD25) Image Data Raw"};
    for (int i = 0; i < cycle.size(); ++i) {
        auto* a = e->cycleDataMenu()->findChild<QAction*>(QStringLiteral("menuCD(%1)").arg(i));
        QVERIFY2(a, qPrintable(cycle[i]));
        QCOMPARE(a->text(), cycle[i]);
        e->setText(QString());
        a->trigger();
        QCOMPARE(e->text(), cycle[i].left(6));
    }
    for (const auto& [i, caption] : QList<std::pair<int, QString>>{{1, "(ID01) Image Data as Bitmap"},
                                                                   {2, "(ID02) Image Data as TIFF"}}) {
        auto* a = e->keywordMenu()->findChild<QAction*>(QStringLiteral("menuID(%1)").arg(i));
        QVERIFY(a);
        QCOMPARE(a->text(), caption);
        e->setText(QStringLiteral("x"));
        e->editor()->setCursorPosition(1);
        a->trigger();
        QCOMPARE(e->text(), QStringLiteral("x") + caption.left(6));
    }
    // The cycle-data fields are offered on the TCP ports only.
    QTest::mouseClick(e->keywordButton(), Qt::LeftButton);
    QTRY_VERIFY(e->keywordMenu()->isVisible());
    QVERIFY(!e->cycleDataMenu()->menuAction()->isEnabled());
    e->keywordMenu()->close();
    QVERIFY(e->isVisible());
    // Enter ends the edit into the cell.
    testing::retype(e->editor(), QStringLiteral("kept"));
    QTest::keyClick(e->editor(), Qt::Key_Return);
    QVERIFY(!e->isVisible());
    QCOMPARE(grid(stage)->item(0, 4)->text(), QStringLiteral("kept"));

    toPort(stage, 1);
    testing::clickCell(grid(stage), 0, 4);
    QTest::mouseClick(e->keywordButton(), Qt::LeftButton);
    QTRY_VERIFY(e->keywordMenu()->isVisible());
    QVERIFY(e->cycleDataMenu()->menuAction()->isEnabled());
    e->keywordMenu()->close();
    // Leaving the editor for another control ends the edit too.
    testing::retype(e->editor(), QStringLiteral("left"));
    // The closed menu leaves the window to be activated again.
    stage.window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(stage.window()));
    e->editor()->setFocus();
    QTRY_VERIFY(e->editor()->hasFocus());
    find<QLineEdit>(stage, "m_fixedBufSize")->setFocus();
    QTRY_VERIFY(!e->isVisible());
    QCOMPARE(grid(stage)->item(0, 4)->text(), QStringLiteral("left"));

    // An edit open when the tab changes belongs to the port it began on.
    testing::clickCell(grid(stage), 2, 4);
    testing::retype(e->editor(), QStringLiteral("lost"));
    toPort(stage, 2);
    QVERIFY(!e->isVisible());
    QCOMPARE(grid(stage)->item(2, 4)->text(), QString());
    toPort(stage, 1);
    QCOMPARE(grid(stage)->item(2, 4)->text(), QStringLiteral("lost"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT TCP1 LOCFL")).value(1), QStringLiteral("\"lost\""));
    QCOMPARE(stage.fields(QStringLiteral("OUTPUT TCP1 OKDEC")).value(1), QStringLiteral("\"left\""));
    QCOMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD OKDEC")).value(1), QStringLiteral("\"kept\""));
    QCOMPARE(stage.fields(QStringLiteral("OUTPUT TCP2 LOCFL")).value(1), QStringLiteral("\"\""));

    // Without control the grid and the labels do nothing; losing control ends an edit unkept.
    testing::clickCell(grid(stage), 1, 4);
    QVERIFY(e->isVisible());
    testing::retype(e->editor(), QStringLiteral("dropped"));
    stage.releaseControl();
    QTRY_VERIFY(!e->isVisible());
    QCOMPARE(grid(stage)->item(1, 4)->text(), QString());
    testing::clickCell(grid(stage), 1, 1);
    QVERIFY(!checked(stage, 1, 1));
    testing::clickCell(grid(stage), 0, 2);
    QVERIFY(!checked(stage, 0, 2));
    testing::clickCell(grid(stage), 0, 4);
    QVERIFY(!e->isVisible());
    QTest::mouseClick(label(stage, true), Qt::LeftButton);
    QVERIFY(!e->isVisible());
    QTest::mouseClick(label(stage, false), Qt::LeftButton);
    QVERIFY(!e->isVisible());
    QVERIFY(!find<QPushButton>(stage, "btnApply")->isEnabled());
    QVERIFY(!find<QPushButton>(stage, "btnOK")->isEnabled());
    stage.regainControl();
    QTRY_VERIFY(stage.station().HasControl());
    testing::clickCell(grid(stage), 1, 4);
    QTRY_VERIFY(e->isVisible());
    QCOMPARE(e->text(), QString());
}

// Format strings with a double quote inside: kept whole, or refused with the reader's reason.
void quotes(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    QVERIFY(stage.open(kWindow));
    editCell(stage, 0, QStringLiteral("a\"b"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD OKDEC")),
                 (QStringList{"Y", "\"a\"b\"", "NONE"}));
    // Read back, the inner quote stays in the text.
    QVERIFY(stage.open(kWindow));
    QCOMPARE(grid(stage)->item(0, 4)->text(), QStringLiteral("a\"b"));

    // A quote followed by a blank would end the reader's text early: the editor does not take
    // it, says why naming the row, and stays open with it.
    stage.send(QStringLiteral("OUTPUT STANDARD OKDEC Y \"(DATA)\" NONE"));
    QVERIFY(stage.open(kWindow));
    testing::clickCell(grid(stage), 0, 4);
    stage.unexpected()->expectMessage(QStringLiteral("Velmarrow"),
                                      QStringLiteral("The text in \"%1\" cannot hold a double quote followed "
                                                     "by a blank: the camera would read it as two settings.")
                                          .arg(QStringLiteral("Decode Pass")),
                                      app::PromptIcon::Exclamation, app::PromptButtons::Ok,
                                      app::PromptAnswer::Ok);
    testing::retype(editor(stage)->editor(), QStringLiteral("say \"hi\" now"));
    QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);
    QCOMPARE(stage.unexpected()->pendingCount(), 0);
    QVERIFY(editor(stage)->isVisible());
    QCOMPARE(editor(stage)->editor()->text(), QStringLiteral("say \"hi\" now"));
    QCOMPARE(grid(stage)->item(0, 4)->text(), QStringLiteral("(DATA)"));
    QVERIFY(!find<QPushButton>(stage, "btnApply")->isEnabled());
    // A text longer than the reader keeps is refused with the reader's limit; the window keeps
    // its width however long the text.
    const int width = stage.window()->width();
    const QString longText(200, QLatin1Char('x'));
    stage.unexpected()->expectMessage(
        QStringLiteral("Velmarrow"),
        QStringLiteral("The text in \"Decode Pass\" has 200 characters; the camera keeps at most 128."),
        app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
    testing::retype(editor(stage)->editor(), longText);
    QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);
    QCOMPARE(stage.unexpected()->pendingCount(), 0);
    QVERIFY(editor(stage)->isVisible());
    QCoreApplication::processEvents();
    QCOMPARE(stage.window()->width(), width);
    testing::retype(editor(stage)->editor(), longText.left(128));
    QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);
    QVERIFY(!editor(stage)->isVisible());
    QCOMPARE(grid(stage)->item(0, 4)->text(), longText.left(128));
    QCOMPARE(stage.window()->width(), width);
    // The header and the trailer are refused naming themselves.
    for (const bool header : {true, false}) {
        QTest::mouseClick(label(stage, header), Qt::LeftButton);
        const QString was = editor(stage)->editor()->text();
        stage.unexpected()->expectMessage(
            QStringLiteral("Velmarrow"),
            QStringLiteral("The text in \"%1\" has 200 characters; the camera keeps at most 128.")
                .arg(header ? QStringLiteral("Header") : QStringLiteral("Trailer")),
            app::PromptIcon::Exclamation, app::PromptButtons::Ok, app::PromptAnswer::Ok);
        testing::retype(editor(stage)->editor(), longText);
        QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);
        QCOMPARE(stage.unexpected()->pendingCount(), 0);
        testing::retype(editor(stage)->editor(), was);
        QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);
        QVERIFY(!editor(stage)->isVisible());
    }
    testing::clickCell(grid(stage), 0, 4);
    testing::retype(editor(stage)->editor(), QStringLiteral("say \"hi\""));
    QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);
    QVERIFY(!editor(stage)->isVisible());
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD OKDEC")),
                 (QStringList{"Y", "\"say \"hi\"\"", "NONE"}));

    // The reader keeps a quote followed by a letter and a later blank ...
    stage.setField(QStringLiteral("OUTPUT STANDARD OKDEC"), 1, QStringLiteral("\"a\"b c\""));
    QCOMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD OKDEC")), (QStringList{"Y", "\"a\"b c\"", "NONE"}));
    // ... and so does the program when it reads it back.
    QVERIFY(stage.open(kWindow));
    QCOMPARE(grid(stage)->item(0, 4)->text(), QStringLiteral("a\"b c"));
}

// A port the reader does not answer in full: the load ends at the parameter it left
// unanswered; that row and what was not read keep what they showed, greyed, and take no
// clicks; the window names it, and a change of what was read goes out without it.
void unread(Stage& stage) {
    stage.start(QStringLiteral("3.0.2.1"));
    stage.send(QStringLiteral("OUTPUT STANDARD OKMATCH Y \"M!\" H_T"));
    stage.send(QStringLiteral("OUTPUT TCP1 OKMATCH Y \"T1!\" H_T"));
    // The reader leaves the port query after `after` unanswered.
    QString after = QStringLiteral("OUTPUT STANDARD LOCFL");
    QObject armed;
    QObject::connect(&stage.reader(), &sim::Reader::commandReceived, &armed, [&](const QString& line) {
        if (!after.isEmpty() && line == after) {
            after.clear();
            stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("OUTPUT"));
        }
    });
    testing::Received received(stage.reader());
    QVERIFY(stage.open(kWindow));
    QCOMPARE(received.lines(), (QStringList{"OUTPUT STANDARD OKDEC", "OUTPUT STANDARD DECFL",
                                            "OUTPUT STANDARD LOCFL", "OUTPUT STANDARD OKMATCH"}));
    auto* note = find<QLabel>(stage, "NotReadNote");
    QVERIFY(note && note->isVisibleTo(stage.window()));
    QVERIFY2(note->text().contains(QLatin1String("OUTPUT STANDARD OKMATCH")), qPrintable(note->text()));
    QTableWidget* g = grid(stage);
    auto greyed = [&](int row) { return !(g->item(row, 1)->flags() & Qt::ItemIsEnabled); };
    for (int row = 0; row < 6; ++row)
        QCOMPARE(greyed(row), row >= 3);
    QVERIFY(checked(stage, 0, 1));
    QCOMPARE(g->item(0, 4)->text(), QStringLiteral("(DATA)"));
    // Nothing unread takes a click: its rows, the header and trailer, the fixed buffer.
    QVERIFY(!checked(stage, 3, 1));
    testing::clickCell(g, 3, 1);
    QVERIFY(!checked(stage, 3, 1));
    testing::clickCell(g, 4, 2);
    QVERIFY(!checked(stage, 4, 2));
    testing::clickCell(g, 5, 4);
    QVERIFY(!editor(stage)->isVisible());
    QTest::mouseClick(label(stage, true), Qt::LeftButton);
    QVERIFY(!editor(stage)->isVisible());
    QVERIFY(!find<QLineEdit>(stage, "m_fixedBufSize")->isEnabled());
    QVERIFY(!find<QPushButton>(stage, "btnApply")->isEnabled());

    testing::clickCell(g, 0, 1);
    QVERIFY(!checked(stage, 0, 1));
    received.clear();
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD OKDEC")).value(0), QStringLiteral("N"));
    QCOMPARE(received.lines(), QStringList{"OUTPUT STANDARD OKDEC N \"(DATA)\" NONE"});
    QCOMPARE(stage.fields(QStringLiteral("OUTPUT STANDARD OKMATCH")), (QStringList{"Y", "\"M!\"", "H_T"}));

    // A port read once and not answered when its tab comes back keeps what it showed.
    toPort(stage, 1);
    QVERIFY(!greyed(3));
    QCOMPARE(g->item(3, 4)->text(), QStringLiteral("T1!"));
    toPort(stage, 0);
    after = QStringLiteral("OUTPUT TCP1 LOCFL");
    toPort(stage, 1);
    QTRY_VERIFY(after.isEmpty());
    QVERIFY(greyed(3));
    QCOMPARE(g->item(3, 4)->text(), QStringLiteral("T1!"));
    QVERIFY(checked(stage, 3, 1));
    QCOMPARE(use(stage, 3), QStringLiteral("H/T"));
    testing::clickCell(g, 3, 1);
    QVERIFY(checked(stage, 3, 1));
    QVERIFY2(note->text().contains(QLatin1String("OUTPUT TCP1 OKMATCH")), qPrintable(note->text()));
}

// One report, set in the window: its port, grid row, format, use, header and trailer, and
// the text that ends the reader's bytes.
struct Report {
    int port;
    int row;
    QString format;
    QString use; // "H/T" ...
    QString header;
    QString trailer;
    QByteArray end;
};

// The preview as the reader's bytes: each value the record does not carry is named in «»
// where the reader sends a number (or, for whether a symbol was located, LOCATED or NOT
// LOCATED), and the rest is the reader's bytes. The names are returned in order.
bool shownAsSent(const QString& shown, const QString& sent, QStringList* names) {
    QString pattern;
    names->clear();
    for (qsizetype at = 0;;) {
        const qsizetype open = shown.indexOf(QChar(0xAB), at), close = shown.indexOf(QChar(0xBB), open);
        if (open < 0 || close < 0) {
            pattern += QRegularExpression::escape(shown.mid(at));
            break;
        }
        const QString name = shown.mid(open + 1, close - open - 1);
        pattern += QRegularExpression::escape(shown.mid(at, open - at)) +
                   (name == QLatin1String("located or not") ? QStringLiteral("(NOT )?LOCATED")
                                                            : QStringLiteral("\\d+"));
        *names << name;
        at = close + 1;
    }
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(sent).hasMatch();
}

// The preview of each report against the bytes the reader sends on that port for the same
// record. Reports exercise the check sum (an exclusive or of the bytes before it),
// hexadecimal data, escapes, header and trailer, cycle data and every port.
void preview(Stage& stage) {
    sim::ReaderConfig config = testing::readerConfig(QStringLiteral("Contract"), QStringLiteral("3.0.2.1"));
    config.serial = true;
    stage.start(config);
    stage.send(QStringLiteral("TRIG T"));
    stage.send(QStringLiteral("MATCHEX T \"*\" 0 1 1 1"));
    QString error;
    QVERIFY(stage.reader().setScene(QStringLiteral("text"), QStringLiteral("Lot-42"), &error));
    QVERIFY(stage.reader().setScene(QStringLiteral("serialdigits"), QStringLiteral("0"), &error));
    const QList<Report> reports = {
        {0, 0, "S:(DATA)(CD01)|(CHECKSUM)", "-/-", "", "", ""},
        {1, 0, "AB(CHECKSUM);(DATA)(CHECKSUM)|", "-/-", "", "", "|"},
        {2, 0, "(DATAHEX)\\09\\41\\1b(data)\\7f|", "-/-", "", "", "|"},
        {3, 0, "(CD01)/(CD16)/(CD18)(CHECKSUM)", "H/T", "<(TIMESTAMP)>", "(CHECKSUM)!\\0d\\0a", "\r\n"},
        {4, 3, "M:(DATA)", "-/T", "unused", "\\0d\\0a", "\r\n"},
    };
    QVERIFY(stage.open(kWindow));
    for (const Report& r : reports) {
        toPort(stage, r.port);
        editCell(stage, r.row, r.format);
        setUse(stage, r.row, r.use);
        if (!checked(stage, r.row, 1))
            testing::clickCell(grid(stage), r.row, 1);
        // Decode pass stays on only where it is the report read.
        if (r.row != 0 && checked(stage, 0, 1))
            testing::clickCell(grid(stage), 0, 1);
        editLabel(stage, true, r.header);
        editLabel(stage, false, r.trailer);
    }
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT TCP4 OKDEC")).value(0), QStringLiteral("N"));

    PortReader ports[5];
    for (int n = 0; n < 5; ++n)
        QVERIFY2(ports[n].open(stage, n), qPrintable(kPorts[n]));
    // One read cycle: every port reports it.
    stage.send(QStringLiteral("VT"));
    for (const Report& r : reports) {
        const QByteArray bytes = r.port == 0 ? ports[0].framedReport() : ports[r.port].until(r.end);
        QVERIFY2(!bytes.isEmpty() && bytes.endsWith(r.end), qPrintable(kPorts[r.port] + ": " + named(bytes)));
        toPort(stage, r.port);
        testing::clickCell(grid(stage), r.row, 0);
        const QString expected =
            kCaptions[r.row] + QStringLiteral(", ") + kPorts[r.port] + QStringLiteral(": ") + named(bytes);
        QTRY_COMPARE(previewOf(stage), expected);
    }
    // The check sum is the exclusive or of the bytes before it: "A" ^ "B" is 03.
    toPort(stage, 1);
    testing::clickCell(grid(stage), 0, 0);
    QVERIFY2(previewOf(stage).startsWith(QStringLiteral("Decode Pass, TCP1: AB03;Lot-42")),
             qPrintable(previewOf(stage)));

    // Data in hexadecimal, as the reader's output format says, shows so in the preview too.
    stage.send(QStringLiteral("OUTPUT FORMAT HEX"));
    toPort(stage, 1); // a port is loaded again when its tab is chosen
    stage.send(QStringLiteral("VT"));
    const QByteArray hex = ports[1].until("|");
    QVERIFY2(hex.startsWith("AB03;" + QByteArray("Lot-42").toHex().toUpper()), hex.constData());
    QTRY_COMPARE(previewOf(stage), QStringLiteral("Decode Pass, TCP1: ") + named(hex));
    stage.send(QStringLiteral("OUTPUT FORMAT RAW"));
    toPort(stage, 1);

    // A graded record: the verification keywords as the reader sends them, at a fair grade
    // (the worst grade allowed for fair is D) and at a poor one (only A is fair).
    stage.send(QStringLiteral("VERIFY ISO"));
    QVERIFY(stage.reader().setScene(QStringLiteral("contrast"), QStringLiteral("60"), &error));
    toPort(stage, 1);
    editCell(stage, 0, QStringLiteral("(VERI_STATUS);(VERI_GRADE);(VERI_1_IAQG)|"));
    stage.apply();
    QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT TCP1 OKDEC")).value(1),
                 QStringLiteral("\"(VERI_STATUS);(VERI_GRADE);(VERI_1_IAQG)|\""));
    for (const auto& [thresholds, status] :
         {std::pair{"VERSTATUS A D", "FAIR;"}, {"VERSTATUS A A", "POOR;"}}) {
        stage.send(QLatin1String(thresholds));
        stage.send(QStringLiteral("VT"));
        const QByteArray graded = ports[1].until("|");
        QVERIFY2(graded.startsWith(status), graded.constData());
        toPort(stage, 1);
        testing::clickCell(grid(stage), 0, 0);
        QTRY_COMPARE(previewOf(stage), QStringLiteral("Decode Pass, TCP1: ") + named(graded));
    }

    // Every keyword family against the reader's bytes for the same record. A value the record
    // does not carry (a counter, the PID, the match index) is shown by name in «»; the reader
    // sends a number there, and the rest of the line is the reader's bytes.
    struct Keywords {
        QString command; // sent before the read
        QString text;    // of the symbol in view
        QString format;
        QStringList unknown;
    };
    const QString gs = QStringLiteral("\x1d"), rs = QStringLiteral("\x1e");
    const QString uiiParts = "[)>" + rs + "06" + gs + "18VLMX" + gs + "1PPN-7" + gs + "S0042" + rs + "\x04";
    QStringList counters;
    for (const char* c : {"triggers", "passes", "failures", "successful locates", "failed locates",
                          "successful decodes", "failed decodes", "successful matches", "failed matches",
                          "alarms", "trigger overruns", "decode overruns", "acquisition timeouts"})
        counters << QStringLiteral("count of ") + QLatin1String(c);
    const QList<Keywords> families = {
        {"", "Lot-42", "\\4a\\4B\\6d\\6E\\2f\\3D;(DATA)(UII_ONLY)|", {}},
        {"", "Lot-42", "(VERI_DETAIL)#(VERI_FORMATTED)#(VERI_AIMDPM)|", {}},
        {"", uiiParts, "(UII_ONLY)#(UII_WITH_INFO)|", {}},
        {"", "[)>" + rs + "06" + gs + "S9" + gs + "25SUN77" + rs + "\x04", "(UII_ONLY)#(UII_WITH_INFO)|", {}},
        {"", "Lot-42", "(PID#)/(TIMESTAMP)/(DETAILED)/(ANGLE)/(MATCH_INDEX)|", {"PID", "match index"}},
        {"",
         "Lot-42",
         "(CD01)/(CD15)/(CD16)/(CD17)/(CD18)/(CD19)/(CD20)/(CD21)/(CD22)/(CD23)/(CD24)|",
         {"PID"}},
        {"", "Lot-42",
         "(CD02)/(CD03)/(CD04)/(CD05)/(CD06)/(CD07)/(CD08)/(CD09)/(CD10)/(CD11)/(CD12)/(CD13)/(CD14)|",
         counters},
        {"", "Lot-42", "(CD00)|", counters + QStringList{"PID"}},
        {"MATCHEX T \"Other\" 0 1 1 1", "Lot-42", "(CD01)/(CD19)/(CD00)|", counters + QStringList{"PID"}},
    };
    for (const Keywords& k : families) {
        toPort(stage, 1);
        editCell(stage, 0, k.format);
        stage.apply();
        QTRY_COMPARE(stage.fields(QStringLiteral("OUTPUT TCP1 OKDEC")).value(1),
                     QLatin1Char('"') + k.format + QLatin1Char('"'));
        if (!k.command.isEmpty())
            stage.send(k.command);
        QVERIFY(stage.reader().setScene(QStringLiteral("text"), k.text, &error));
        stage.send(QStringLiteral("VT"));
        const QByteArray bytes = ports[1].until("|");
        QVERIFY2(!bytes.isEmpty(), qPrintable(k.format));
        toPort(stage, 1);
        testing::clickCell(grid(stage), 0, 0);
        const QString sent = QStringLiteral("Decode Pass, TCP1: ") + named(bytes);
        QStringList names;
        QTRY_VERIFY2(shownAsSent(previewOf(stage), sent, &names),
                     qPrintable(previewOf(stage) + QStringLiteral("\n   reader: ") + sent));
        QCOMPARE(names, k.unknown);
    }

    // While a format is edited the preview follows the text being typed.
    testing::clickCell(grid(stage), 0, 4);
    testing::retype(editor(stage)->editor(), QStringLiteral("x\\41(DATA)"));
    QCOMPARE(previewOf(stage), QStringLiteral("Decode Pass, TCP1: xALot-42"));
    // The picture is not in the record: it is named, not made up.
    testing::retype(editor(stage)->editor(), QStringLiteral("(CD25)(id01)(ID02)"));
    QCOMPARE(previewOf(stage), QStringLiteral("Decode Pass, TCP1: «raw image»«image as BMP»«image as TIFF»"));
    // A long format without blanks is cut in the preview: the window keeps its width.
    const int width = stage.window()->width();
    const QString longest(128, QLatin1Char('W'));
    testing::retype(editor(stage)->editor(), longest);
    QCOMPARE(previewOf(stage), QStringLiteral("Decode Pass, TCP1: ") + longest);
    QCoreApplication::processEvents();
    QCOMPARE(stage.window()->width(), width);
    QTest::keyClick(editor(stage)->editor(), Qt::Key_Return);

    // Failed reads: a symbol located but not decoded is reported on Decode Fail, nothing found
    // on Locate Fail. The record does not say whether the symbol was located: the preview names
    // that, where the reader sends LOCATED or NOT LOCATED; the status is the reader's.
    struct Failed {
        int row;
        QString contrast, symbols;
        QByteArray located;
    };
    const QString failedFormat =
        QStringLiteral("(CD01)/(CD16)/(CD17)/(CD18)/(CD19)/(CD20)/(CD22)/(DETAILED)|");
    stage.send(QStringLiteral("MATCHEX N \"*\" 0 1 1 1"));
    QVERIFY(stage.reader().setScene(QStringLiteral("text"), QStringLiteral("Lot-42"), &error));
    for (const Failed& f :
         {Failed{1, "90", "0", "/LOCATED/NOT DECODED/"}, Failed{2, "0", "1", "/NOT LOCATED/NOT DECODED/"}}) {
        toPort(stage, 1);
        editCell(stage, f.row, failedFormat);
        if (!checked(stage, f.row, 1))
            testing::clickCell(grid(stage), f.row, 1);
        setUse(stage, f.row, QStringLiteral("-/-"));
        stage.apply();
        QTRY_COMPARE(stage.fields(portEvent(1, f.row)),
                     (QStringList{"Y", QLatin1Char('"') + failedFormat + QLatin1Char('"'), "NONE"}));
        QVERIFY(stage.reader().setScene(QStringLiteral("contrast"), f.contrast, &error));
        stage.send(QStringLiteral("NUMDM ") + f.symbols);
        stage.send(QStringLiteral("VT"));
        const QByteArray bytes = ports[1].until("|");
        QVERIFY2(bytes.startsWith("FAIL/FAIL" + f.located + "MATCH OFF/"), qPrintable(named(bytes)));
        toPort(stage, 1);
        testing::clickCell(grid(stage), f.row, 0);
        const QString sent = kCaptions[f.row] + QStringLiteral(", TCP1: ") + named(bytes);
        QStringList names;
        QTRY_VERIFY2(shownAsSent(previewOf(stage), sent, &names),
                     qPrintable(previewOf(stage) + QStringLiteral("\n   reader: ") + sent));
        QCOMPARE(names, QStringList{QStringLiteral("located or not")});
    }
}

} // namespace

WindowContract outputContract() {
    WindowContract w;
    w.window = kWindow;
    w.lowVersion = QStringLiteral("2.3.0.0"); // level 8: no fixed buffer

    // Every event of the standard port, each field.
    for (int row = 0; row < 6; ++row)
        for (int field = 0; field < 3; ++field)
            w.controls << gridRow(0, row, field);
    w.controls << labelRow(0, true) << labelRow(0, false);
    // The network ports: each field on a different event, and each port's header and trailer.
    for (int port = 1; port <= 4; ++port) {
        for (int field = 0; field < 3; ++field)
            w.controls << gridRow(port, (port + 2 * field) % 6, field);
        w.controls << labelRow(port, port % 2 == 1) << labelRow(port, port % 2 == 0);
    }
    w.controls << fixedRow(0) << fixedRow(3);
    // The text box of the in-place editor is worked through the grid's format rows and the
    // header and trailer rows.
    w.notFields = {QStringLiteral("m_edit")};

    w.checks = {texts, language, quotes, unread, preview};
    return w;
}

} // namespace vm::contracts
