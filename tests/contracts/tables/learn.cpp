// Auto-learn: the learn and unlearn commands each choice sends, what the dialog shows of
// the reader's outcome, the assisted learn's region, and the remembered choice.
#include "contracts/contract.h"
#include "contracts/tables/common.h"

#include "app/settingsstore.h"
#include "settings/learn.h"
#include "tools/overlays.h"

#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace vm::contracts {

namespace {

void click(Stage& stage, const QString& name) {
    auto* b = find<QAbstractButton>(stage, name);
    QVERIFY(b);
    QVERIFY2(b->isEnabled(), qPrintable(name + QStringLiteral(" disabled")));
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(b->height() / 2, b->height() / 2));
}

QString status(Stage& stage) {
    auto* s = find<QLabel>(stage, QStringLiteral("Status"));
    return s ? s->text() : QString();
}

QString option(int i) {
    return QStringLiteral("LearnOption(%1)").arg(i);
}

QWidget* fresh(Stage& stage) {
    stage.end();
    stage.begin();
    stage.start(QStringLiteral("3.0.2.1"));
    return stage.open(QStringLiteral("Learn"));
}

void texts(Stage& stage) {
    QWidget* w = fresh(stage);
    QVERIFY(w);
    QVERIFY(w->windowTitle().endsWith(QStringLiteral("- Learn")));
    compareCaptions(stage, {{option(0), "Learn Photometry Only"},
                            {option(1), "Learn Decoder Settings Only"},
                            {option(2), "Learn Photometry And Decoder Settings"},
                            {"Frame1", "Assisted Learn"},
                            {"EnableAssist", "Enable Assisted Learn"},
                            {"NumRowsLabel", "Num Rows"},
                            {"NumColsLabel", "Num Cols"},
                            {"PolarityLabel", "Polarity"},
                            {"Done", "Done"}});
    QStringList sizes;
    for (int n = 8; n <= 144; ++n)
        sizes << QString::number(n);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "NumRows")), sizes);
    QCOMPARE(testing::entries(find<QComboBox>(stage, "NumCols")), sizes);
    QCOMPARE(find<QComboBox>(stage, "NumRows")->currentText(), QStringLiteral("8"));
    QCOMPARE(find<QComboBox>(stage, "NumCols")->currentText(), QStringLiteral("8"));
    QCOMPARE(testing::entries(find<QComboBox>(stage, "Polarity")),
             QStringList({"DARK ON LIGHT", "LIGHT ON DARK"}));
    QCOMPARE(find<QComboBox>(stage, "Polarity")->currentText(), QStringLiteral("DARK ON LIGHT"));
    QCOMPARE(status(stage), QString());

    // No stored choice: decoder settings only, with the assisted frame, its lists off.
    QVERIFY(find<QRadioButton>(stage, option(1))->isChecked());
    QVERIFY(find<QGroupBox>(stage, "Frame1")->isVisibleTo(w));
    for (const char* name :
         {"NumRows", "NumCols", "Polarity", "NumRowsLabel", "NumColsLabel", "PolarityLabel"})
        QVERIFY2(!find<QWidget>(stage, QLatin1String(name))->isEnabled(), name);
    const QList<QStringList> buttons = {
        {"Learn Photometry", "Set Photo to AUTO"},
        {"Learn Decoder", "Unlearn Decoder"},
        {"Learn Decoder and Photometry", "Unlearn Decoder and Set Photo to AUTO"}};
    for (int i : {0, 2, 1}) {
        click(stage, option(i));
        QCOMPARE(caption(find<QPushButton>(stage, "Learn")), buttons[i][0]);
        QCOMPARE(caption(find<QPushButton>(stage, "Unlearn")), buttons[i][1]);
        QCOMPARE(find<QGroupBox>(stage, "Frame1")->isVisibleTo(w), i == 1);
    }
    click(stage, "EnableAssist");
    for (const char* name :
         {"NumRows", "NumCols", "Polarity", "NumRowsLabel", "NumColsLabel", "PolarityLabel"})
        QVERIFY2(find<QWidget>(stage, QLatin1String(name))->isEnabled(), name);
    // Another choice clears the assisted learn.
    click(stage, option(2));
    QVERIFY(!find<QCheckBox>(stage, "EnableAssist")->isChecked());

    // Without control nothing can be started.
    stage.releaseControl();
    for (const QString& name :
         {option(0), option(1), option(2), QStringLiteral("Frame1"), QStringLiteral("EnableAssist"),
          QStringLiteral("Learn"), QStringLiteral("Unlearn")})
        QTRY_VERIFY2(!find<QWidget>(stage, name)->isEnabled(), qPrintable(name));
    stage.regainControl();
    for (const QString& name : {option(0), option(1), option(2), QStringLiteral("EnableAssist"),
                                QStringLiteral("Learn"), QStringLiteral("Unlearn")})
        QTRY_VERIFY2(find<QWidget>(stage, name)->isEnabled(), qPrintable(name));

    // The choice is remembered when the dialog closes, and chosen again next time.
    const QStringList words = {"PHOTO", "DECODER", "BOTH"};
    for (int i : {0, 2, 1}) {
        QVERIFY(stage.open(QStringLiteral("Learn")));
        click(stage, option(i));
        click(stage, "Done");
        QCOMPARE(app::settings().GetValue(QStringLiteral("LearnSelect"), QString(),
                                          QStringLiteral("Learn Options")),
                 words[i]);
        QVERIFY(stage.open(QStringLiteral("Learn")));
        QVERIFY(find<QRadioButton>(stage, option(i))->isChecked());
    }
}

// Each choice's learn command and the outcome the reader reports.
void learns(Stage& stage) {
    struct Case {
        int option;
        QString scene;
        QString command;
        QString outcome;
    };
    const QList<Case> cases = {
        {0, QString(), "LEARNEX NONE PHOTO", "Photometry Learned"},
        {1, QString(), "LEARNEX BOTH NONE", "Decoder Learn Status = 2D OK\r\n"},
        {2, QString(), "LEARNEX BOTH PHOTO", "Decoder Learn Status = 2D OK\r\nPhotometry Learned"},
        {1, "Code 39", "LEARNEX BOTH NONE", "Decoder Learn Status = 1D OK\r\nBarcode Type = Code 39 \r\n"},
    };
    for (const Case& c : cases) {
        fresh(stage);
        if (!c.scene.isEmpty()) {
            QString error;
            QVERIFY2(stage.reader().setScene(QStringLiteral("symbology"), c.scene, &error),
                     qPrintable(error));
        }
        click(stage, option(c.option));
        testing::Received received(stage.reader());
        click(stage, "Learn");
        QCOMPARE(received.lines(), QStringList{c.command});
        QCOMPARE(status(stage), QStringLiteral("Waiting for Learn..."));
        QTRY_COMPARE_WITH_TIMEOUT(status(stage), c.outcome, 10000);
    }

    // Nothing in view: the decoder learn failed. A learn cancelled before the reader took a
    // picture: no learn at all.
    fresh(stage);
    stage.send(QStringLiteral("TRIG T"));
    QString error;
    QVERIFY2(stage.reader().setScene(QStringLiteral("contrast"), QStringLiteral("0"), &error),
             qPrintable(error));
    click(stage, option(1));
    click(stage, "Learn");
    stage.send(QStringLiteral("VT"));
    QTRY_COMPARE_WITH_TIMEOUT(status(stage), QStringLiteral("Decoder Learn Status = Failed\r\n"), 10000);
    click(stage, "Learn");
    stage.send(QStringLiteral("LEARNCANCEL"));
    stage.send(QStringLiteral("VT"));
    QTRY_COMPARE_WITH_TIMEOUT(status(stage), QStringLiteral("Decoder Learn Status = NO LEARN\r\n"), 10000);

    // A reader that does not answer is given 500 ms before the dialog waits for the outcome.
    fresh(stage);
    stage.reader().setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("LEARNEX"));
    QElapsedTimer timer;
    timer.start();
    click(stage, "Learn");
    const qint64 took = timer.elapsed();
    QVERIFY2(took >= 450 && took < 2000, qPrintable(QString::number(took)));
    QCOMPARE(status(stage), QStringLiteral("Waiting for Learn..."));
}

// Assisted learn: the region's corners rounded half to even, the matrix size and polarity;
// the main window's own region is switched off while the learn region shows.
void assisted(Stage& stage) {
    fresh(stage);
    auto* learn = qobject_cast<settings::Learn*>(stage.window());
    QVERIFY(learn);
    QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
    click(stage, "EnableAssist");
    QTRY_COMPARE(broadcasts.size(), 1);
    QCOMPARE(broadcasts.at(0), QVariantList({"BasicInterface", "ROI", "DISABLE"}));
    const QPointF handles[] = {{120.4, 80.6}, {240.5, 80.2}, {240.0, 199.5}, {120.0, 200.0}};
    for (int i = 0; i < 4; ++i)
        learn->region()->MoveHandleTo(i, handles[i].x(), handles[i].y());
    testing::choose(find<QComboBox>(stage, "NumRows"), QStringLiteral("16"));
    testing::choose(find<QComboBox>(stage, "NumCols"), QStringLiteral("24"));
    testing::choose(find<QComboBox>(stage, "Polarity"), QStringLiteral("LIGHT ON DARK"));
    testing::Received received(stage.reader());
    click(stage, "Learn");
    QCOMPARE(received.lines(), QStringList{"LEARNASSIST 120 81 240 80 240 200 120 200 16 24 LD"});
    QTRY_VERIFY_WITH_TIMEOUT(status(stage) != QLatin1String("Waiting for Learn..."), 10000);
    testing::choose(find<QComboBox>(stage, "Polarity"), QStringLiteral("DARK ON LIGHT"));
    received.clear();
    click(stage, "Learn");
    QCOMPARE(received.lines().value(0).section(QLatin1Char(' '), -3), QStringLiteral("16 24 DL"));
    click(stage, "EnableAssist");
    QTRY_COMPARE(broadcasts.size(), 2);
    QCOMPARE(broadcasts.at(1), QVariantList({"BasicInterface", "ROI", "ENABLE"}));
    // Cleared, the plain learn goes out again.
    received.clear();
    click(stage, "Learn");
    QCOMPARE(received.lines(), QStringList{"LEARNEX BOTH NONE"});
}

// Undo, by choice: the commands, the status lines and the words the other windows hear.
void unlearns(Stage& stage) {
    struct Case {
        int option;
        QStringList commands;
        QString status;
        QStringList broadcasts;
    };
    const QList<Case> cases = {
        {0, {"PHOTO AUTO"}, "PHOTO AUTO command sent", {"UPDATEPHOTO"}},
        {1, {"UNLEARN"}, "UNLEARN command sent", {"UNLEARN"}},
        {2,
         {"PHOTO AUTO", "UNLEARN"},
         "UNLEARN command sent\r\nPHOTO AUTO command sent",
         {"UPDATEPHOTO", "UNLEARN"}},
    };
    for (const Case& c : cases) {
        fresh(stage);
        click(stage, option(c.option));
        testing::Received received(stage.reader());
        QSignalSpy broadcasts(&stage.station(), &link::Connection::OnBroadcastMessage);
        click(stage, "Unlearn");
        QCOMPARE(received.lines(), c.commands);
        QCOMPARE(status(stage), c.status);
        QTRY_COMPARE(broadcasts.size(), c.broadcasts.size());
        for (int i = 0; i < c.broadcasts.size(); ++i)
            QCOMPARE(broadcasts.at(i), QVariantList({"Learn", c.broadcasts[i], ""}));
    }
}

} // namespace

WindowContract learnContract() {
    WindowContract w;
    w.window = QStringLiteral("Learn");
    // The choices say what the next learn asks of the reader; none shows a reader field.
    w.notFields = {QStringLiteral("LearnOption(0)"), QStringLiteral("LearnOption(1)"),
                   QStringLiteral("LearnOption(2)"), QStringLiteral("EnableAssist"),
                   QStringLiteral("NumRows"),        QStringLiteral("NumCols"),
                   QStringLiteral("Polarity")};
    w.checks = {texts, learns, assisted, unlearns};
    return w;
}

} // namespace vm::contracts
