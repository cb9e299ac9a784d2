// AIM DPM compliance: the operator agrees to the set-up conditions before the standard is
// taken; OK only with both boxes ticked; every showing starts afresh.
#include "contracts/contract.h"
#include "contracts/tables/common.h"

#include "verification/dlgaimdpmcompliance.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace vm::contracts {

namespace {

verification::dlgAIMDPMCompliance* dialog(Stage& stage) {
    return qobject_cast<verification::dlgAIMDPMCompliance*>(stage.window());
}

void tick(Stage& stage, const QString& name) {
    auto* box = find<QCheckBox>(stage, name);
    QVERIFY(box);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
}

} // namespace

WindowContract aimDpmContract() {
    WindowContract w;
    w.window = QStringLiteral("dlgAIMDPMCompliance");
    w.opener = [](Stage&) -> QWidget* {
        auto* d = new verification::dlgAIMDPMCompliance;
        d->show();
        return d;
    };
    // The dialog sends nothing: its boxes and light options are only its caller's answer.
    w.notFields = {QStringLiteral("chkAIMDPMLight"), QStringLiteral("chkLXM2")};
    for (int i = 0; i < 6; ++i)
        w.notFields << QStringLiteral("optAIM_DPM_Light%1").arg(i);
    w.checks << [](Stage& stage) {
        stage.start(QStringLiteral("3.0.2.1"));
        testing::Received received(stage.reader());
        const QStringList before = stage.listing();
        auto* d = new verification::dlgAIMDPMCompliance;
        d->show();
        QVERIFY(stage.adopt(d));
        compareCaptions(stage, {{"lblFormPseudoCaption", "AIM DPM-1-2006 Compliance"},
                                {"lblInstructions1",
                                 "To ensure compliance to AIM DPM-1-2006, please agree that the following "
                                 "physical requirements will be met:"},
                                {"chkAIMDPMLight", "Use AIM DPM Compliant Light"},
                                {"lblLXM2Conditions", "The LXM2 will be configured for the following:"},
                                {"lblRetries", "No Retries"},
                                {"lblManPhoto", "Manual Photometry"},
                                {"lblIllumination", "Illumination is On"},
                                {"chkLXM2", "Lumivex M2"},
                                {"fraLightChoice", "Lighting Selection"},
                                {"cmdOK", "OK"},
                                {"cmdCancel", "Cancel"}});
        const QStringList lights = {"30S", "45Q", "30T", "D", "30Q", "90"};
        for (int i = 0; i < 6; ++i)
            QCOMPARE(caption(find<QWidget>(stage, QStringLiteral("optAIM_DPM_Light%1").arg(i))), lights[i]);

        // OK only with both boxes ticked, in either order.
        auto* ok = find<QPushButton>(stage, "cmdOK");
        QVERIFY(find<QRadioButton>(stage, "optAIM_DPM_Light0")->isChecked());
        QVERIFY(!ok->isEnabled());
        tick(stage, "chkLXM2");
        QVERIFY(!ok->isEnabled());
        tick(stage, "chkAIMDPMLight");
        QVERIFY(ok->isEnabled());
        tick(stage, "chkLXM2");
        QVERIFY(!ok->isEnabled());
        tick(stage, "chkLXM2");
        QVERIFY(ok->isEnabled());
        find<QRadioButton>(stage, "optAIM_DPM_Light4")->click();
        QCOMPARE(dialog(stage)->chosenLight(), QStringLiteral("30Q"));
        ok->click();
        QVERIFY(dialog(stage)->confirmed());
        QVERIFY(!dialog(stage)->isVisible());

        // Shown again: both boxes cleared, OK disabled, the first light chosen.
        dialog(stage)->show();
        QVERIFY(!find<QCheckBox>(stage, "chkAIMDPMLight")->isChecked());
        QVERIFY(!find<QCheckBox>(stage, "chkLXM2")->isChecked());
        QVERIFY(!ok->isEnabled());
        QVERIFY(find<QRadioButton>(stage, "optAIM_DPM_Light0")->isChecked());
        QCOMPARE(dialog(stage)->chosenLight(), QStringLiteral("30S"));
        QVERIFY(!dialog(stage)->confirmed());
        tick(stage, "chkAIMDPMLight");
        find<QPushButton>(stage, "cmdCancel")->click();
        QVERIFY(!dialog(stage)->confirmed());

        // With the light frame hidden, OK still passes the first light.
        dialog(stage)->HideLightFrame(true);
        dialog(stage)->show();
        QVERIFY(!find<QGroupBox>(stage, "fraLightChoice")->isVisibleTo(dialog(stage)));
        tick(stage, "chkAIMDPMLight");
        tick(stage, "chkLXM2");
        ok->click();
        QVERIFY(dialog(stage)->confirmed());
        QCOMPARE(dialog(stage)->chosenLight(), QStringLiteral("30S"));
        dialog(stage)->HideLightFrame(false);
        dialog(stage)->show();
        QVERIFY(find<QGroupBox>(stage, "fraLightChoice")->isVisibleTo(dialog(stage)));

        // The dialog itself sends nothing.
        QCOMPARE(received.lines(), QStringList());
        QCOMPARE(stage.listing(), before);
    };
    return w;
}

} // namespace vm::contracts
