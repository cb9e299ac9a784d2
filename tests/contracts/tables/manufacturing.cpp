// Manufacturing settings viewer: three read-only boxes filled from the reader's factory
// blocks, the end-of-block line left out; nothing is written.
#include "contracts/contract.h"
#include "settings/frmsettings.h"

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>

namespace vm::contracts {

namespace {

QString boxText(Stage& stage, const QString& name) {
    auto* box = stage.window() ? stage.window()->findChild<QPlainTextEdit*>(name) : nullptr;
    // The box keeps the reply's line breaks; compare them as CR LF.
    return box ? box->toPlainText()
                     .replace(QStringLiteral("\r\n"), QStringLiteral("\n"))
                     .replace(QLatin1Char('\n'), QStringLiteral("\r\n"))
               : QStringLiteral("(no box %1)").arg(name);
}

} // namespace

WindowContract manufacturingContract() {
    WindowContract w;
    w.window = QStringLiteral("frmSettings");
    // The three boxes only show what the reader says; the operator can select, not change.
    w.notFields = {QStringLiteral("HardwareText"), QStringLiteral("CustomerText"),
                   QStringLiteral("ManufacturingText")};
    w.checks << [](Stage& stage) {
        stage.start(QStringLiteral("3.0.2.1"), false);
        testing::Received received(stage.reader());
        QWidget* window = stage.open(QStringLiteral("frmSettings"));
        QVERIFY(window);
        QCOMPARE(window->windowTitle().section(QStringLiteral(" - "), -1), QStringLiteral("Settings"));
        const QStringList frames = {"HardwareFrame", "CustomerFrame", "ManufacturingFrame"};
        const QStringList captions = {"Hardware Settings Installed in Manufacturing",
                                      "Customer Settings Installed in Manufacturing", "Manufacturing Data"};
        int lastTop = -1;
        for (int i = 0; i < 3; ++i) {
            auto* frame = window->findChild<QGroupBox*>(frames[i]);
            QVERIFY(frame);
            QCOMPARE(frame->title(), captions[i]);
            // Top to bottom in table order.
            QVERIFY(frame->mapTo(window, QPoint()).y() > lastTop);
            lastTop = frame->mapTo(window, QPoint()).y();
        }
        // The three blocks asked in order, nothing written.
        QTRY_COMPARE(received.lines(),
                     QStringList({"SETTINGS_HARDWARE", "SETTINGS_CUSTOMER", "SETTINGS_MANUFACTURING"}));
        QCOMPARE(boxText(stage, "HardwareText"),
                 QStringLiteral("MODEL LXM2\r\nSENSOR 659x494 GREY8\r\nINTERNAL_LIGHT RED 625NM\r\n"
                                "EXTERNAL_LIGHT_CHANNELS 0\r\nIO OPTO_IN1 OPTO_OUT1 OPTO_OUT2 OPTO_OUT3 "
                                "GPIO_OUT1 GPIO_OUT2 GPIO_OUT3 GPIO_OUT4\r\nSERIAL RS232 115200"));
        QCOMPARE(boxText(stage, "CustomerText"),
                 QStringLiteral("CUSTOMER STANDARD\r\nDEFAULT_PID NONE\r\nLOCKED_PARAMETERS NONE"));
        const QString manufacturing = boxText(stage, "ManufacturingText");
        QVERIFY2(manufacturing.startsWith(QStringLiteral("SERIAL_NUMBER LVX-")), qPrintable(manufacturing));
        QVERIFY(manufacturing.contains(QStringLiteral("\r\nSOFTWARE 3.0.2.1\r\nSOFTWARE_LEVEL 10\r\n")));
        QVERIFY(manufacturing.endsWith(QStringLiteral("\r\nMANUFACTURED 2021-03-14")));
        QVERIFY(!manufacturing.contains(QStringLiteral("!SETTINGS")));

        // A slow reader is waited for well past an ordinary command's time-out.
        stage.close();
        stage.reader().setNextReplyFault(sim::ReplyFault::Slow, 1500, QStringLiteral("SETTINGS_CUSTOMER"));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(stage.open(QStringLiteral("frmSettings")));
        QTRY_COMPARE_WITH_TIMEOUT(
            boxText(stage, "CustomerText"),
            QStringLiteral("CUSTOMER STANDARD\r\nDEFAULT_PID NONE\r\nLOCKED_PARAMETERS NONE"), 10000);
        QVERIFY2(timer.elapsed() >= 1400, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(boxText(stage, "ManufacturingText").startsWith(QStringLiteral("SERIAL_NUMBER LVX-")));

        // A block the reader refuses stays empty, the others are filled, and the window names it.
        stage.close();
        stage.reader().setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("SETTINGS_CUSTOMER"));
        QWidget* refused = stage.open(QStringLiteral("frmSettings"));
        QVERIFY(refused);
        QCOMPARE(boxText(stage, "CustomerText"), QString());
        QVERIFY(boxText(stage, "HardwareText").startsWith(QStringLiteral("MODEL LXM2")));
        QVERIFY(boxText(stage, "ManufacturingText").startsWith(QStringLiteral("SERIAL_NUMBER LVX-")));
        auto* note = refused->findChild<QLabel*>(QStringLiteral("NotReadNote"));
        QVERIFY(note && note->isVisibleTo(refused));
        QVERIFY2(note->text().contains(QStringLiteral("SETTINGS_CUSTOMER")), qPrintable(note->text()));

        // A connection reset empties and refills all three boxes; with no reader they stay empty.
        testing::Received again(stage.reader());
        stage.reader().dropConnections();
        QTRY_COMPARE_WITH_TIMEOUT(
            again.lines(), QStringList({"SETTINGS_HARDWARE", "SETTINGS_CUSTOMER", "SETTINGS_MANUFACTURING"}),
            10000);
        QTRY_VERIFY(boxText(stage, "CustomerText").startsWith(QStringLiteral("CUSTOMER STANDARD")));
        QVERIFY(!note->isVisibleTo(refused));
        // The end-of-block line is left out wherever it comes; it still counts as a line, so a
        // block that begins with it begins with a line break.
        const QString end = QStringLiteral("!SETTINGS_HARDWARE OK");
        QCOMPARE(settings::BlockText({"MODEL LXM2", "SERIAL RS232", end}, end),
                 QStringLiteral("MODEL LXM2\r\nSERIAL RS232"));
        QCOMPARE(settings::BlockText({end, "MODEL LXM2", "SERIAL RS232"}, end),
                 QStringLiteral("\r\nMODEL LXM2\r\nSERIAL RS232"));
        QCOMPARE(settings::BlockText({end}, end), QString());
        stage.end();
        stage.begin();
        QWidget* empty = stage.open(QStringLiteral("frmSettings"));
        QVERIFY(empty);
        for (const char* name : {"HardwareText", "CustomerText", "ManufacturingText"})
            QCOMPARE(boxText(stage, QLatin1String(name)), QString());
    };
    return w;
}

} // namespace vm::contracts
