#include "verification/dlgaimdpmcompliance.h"

#include "resources/strings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace vm::verification {

dlgAIMDPMCompliance::dlgAIMDPMCompliance(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QLatin1String(WindowName));
    setWindowTitle(vm::res::Str(2301));
    auto* layout = new QVBoxLayout(this);
    auto label = [this, layout](const char* name, int id) {
        auto* l = new QLabel(vm::res::Str(id), this);
        l->setObjectName(QLatin1String(name));
        l->setWordWrap(true);
        layout->addWidget(l);
        return l;
    };
    QFont caption = label("lblFormPseudoCaption", 2301)->font();
    caption.setBold(true);
    findChild<QLabel*>(QStringLiteral("lblFormPseudoCaption"))->setFont(caption);
    label("lblInstructions1", 2302);
    m_light = new QCheckBox(vm::res::Str(2303), this);
    m_light->setObjectName(QStringLiteral("chkAIMDPMLight"));
    layout->addWidget(m_light);
    label("lblLXM2Conditions", 2304);
    label("lblRetries", 2305);
    label("lblManPhoto", 2306);
    label("lblIllumination", 2307);
    m_reader = new QCheckBox(vm::res::Str(2308), this);
    m_reader->setObjectName(QStringLiteral("chkLXM2"));
    layout->addWidget(m_reader);

    m_lightFrame = new QGroupBox(QStringLiteral("Lighting Selection"), this);
    m_lightFrame->setObjectName(QStringLiteral("fraLightChoice"));
    auto* lights = new QHBoxLayout(m_lightFrame);
    const char* captions[] = {"30S", "45Q", "30T", "D", "30Q", "90"};
    for (int i = 0; i < int(m_options.size()); ++i) {
        m_options[size_t(i)] = new QRadioButton(QLatin1String(captions[i]), m_lightFrame);
        m_options[size_t(i)]->setObjectName(QStringLiteral("optAIM_DPM_Light%1").arg(i));
        lights->addWidget(m_options[size_t(i)]);
    }
    layout->addWidget(m_lightFrame);

    auto* buttons = new QHBoxLayout;
    m_ok = new QPushButton(QStringLiteral("&") + vm::res::Str(51), this);
    m_ok->setObjectName(QStringLiteral("cmdOK"));
    m_cancel = new QPushButton(vm::res::Str(52), this);
    m_cancel->setObjectName(QStringLiteral("cmdCancel"));
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    layout->addLayout(buttons);

    connect(m_light, &QCheckBox::toggled, this, &dlgAIMDPMCompliance::updateOk);
    connect(m_reader, &QCheckBox::toggled, this, &dlgAIMDPMCompliance::updateOk);
    connect(m_ok, &QPushButton::clicked, this, [this] {
        m_confirmed = true;
        accept();
    });
    updateOk();
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        m_confirmed = false;
        reject();
    });
}

void dlgAIMDPMCompliance::HideLightFrame(bool hide) {
    m_lightFrame->setHidden(hide);
}

QString dlgAIMDPMCompliance::chosenLight() const {
    for (QRadioButton* option : m_options)
        if (option->isChecked())
            return option->text();
    return m_options[0]->text();
}

void dlgAIMDPMCompliance::showEvent(QShowEvent* event) {
    // Every showing asks again: both boxes cleared, the first light chosen.
    m_light->setChecked(false);
    m_reader->setChecked(false);
    m_options[0]->setChecked(true);
    m_confirmed = false;
    updateOk();
    QDialog::showEvent(event);
}

void dlgAIMDPMCompliance::updateOk() {
    m_ok->setEnabled(m_light->isChecked() && m_reader->isChecked());
}

} // namespace vm::verification
