#include "io/frmiosettings.h"

#include "app/prompts.h"
#include "app/windowroutines.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::io {

using vm::settings::Choice;
using vm::settings::labelFor;

namespace {

constexpr IOModeEntry kModes[] = {
    {"Disabled", "NONE", false, false},
    {"Pass/Fail Only - Full Handshake", "LX_HS", false, false},
    {"Pass/Fail Only - Pipelined", "LX_PULSE", true, false},
    {"Data Valid - Full Handshake", "DV_HS", false, true},
    {"Data Valid - Pipelined", "DV_PULSE", true, true},
    {"DV - 2 Line Verify - Full HS", "DV_2LINE_HS", false, true},
    {"DV - 3 Line Verify - Full HS", "DV_3LINE_HS", false, true},
    {"DV - 2 Line Verify - Pulse", "DV_2LINE_PULSE", true, true},
    {"DV - 3 Line Verify - Pulse", "DV_3LINE_PULSE", true, true},
};
constexpr int kOlderModes = 5;

// Which line captions each mode needs: Pass, Fail, DV, RTE, Good, Fair, Poor.
constexpr bool kModeLines[9][7] = {
    {false, false, false, false, false, false, false}, {true, true, true, true, false, false, false},
    {true, true, true, true, false, false, false},     {true, true, true, true, false, false, false},
    {true, true, true, true, false, false, false},     {false, false, true, true, true, false, true},
    {false, false, true, true, true, true, true},      {false, false, true, true, true, false, true},
    {false, false, true, true, true, true, true},
};

const QString kTrig = QStringLiteral("TRIG");
const QString kIOMode = QStringLiteral("IO_MODE");
const QString kRtePolarity = QStringLiteral("SIGOUT RTE");
constexpr int kMaxUserTriggerLength = 32;
const char* const kOldPolarities[] = {"SIGOUT PASS", "SIGOUT FAIL", "SIGOUT DV"};

} // namespace

QList<IOModeEntry> ioModes(int firmwareLevel) {
    const int count = firmwareLevel >= vm::link::level::Verification ? int(std::size(kModes)) : kOlderModes;
    return QList<IOModeEntry>(std::begin(kModes), std::begin(kModes) + count);
}

frmIOSettings::frmIOSettings(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(QStringLiteral("(no camera) - IO Settings"));
    buildControls();
    ensureLoaded();
}

vm::app::WindowEntry frmIOSettings::windowEntry() {
    return vm::settings::settingsMenuWindow<frmIOSettings>(WindowName, 2030, "mnuIOSettings",
                                                           vm::res::Str(203));
}

void frmIOSettings::buildControls() {
    auto* layout = new QVBoxLayout(this);

    const vm::settings::TriggerFrame trigger = addTriggerFrame();
    m_trigFrame = trigger.frame;
    m_trigEnabled = trigger.enabled;
    m_trigPolarity = trigger.edge;
    m_trigPolarityLabel = trigger.edgeLabel;
    m_userTrigger = new QLineEdit(m_trigFrame);
    m_userTrigger->setObjectName(QStringLiteral("UserTrigger"));
    m_userTriggerLabel = labelFor(m_userTrigger, vm::res::Str(20039), m_trigFrame);
    m_userTriggerLabel->setObjectName(QStringLiteral("UTRIG_Label"));
    trigger.grid->addWidget(m_userTriggerLabel, 2, 0);
    trigger.grid->addWidget(m_userTrigger, 2, 1);
    layout->addWidget(m_trigFrame);

    m_ioFrame = new QGroupBox(vm::res::Str(20040), this);
    m_ioFrame->setObjectName(QStringLiteral("IO_Frame"));
    auto* io = new QGridLayout(m_ioFrame);
    m_ioMode = new QComboBox(m_ioFrame);
    m_ioMode->setObjectName(QStringLiteral("IOMode"));
    m_ioModeLabel = labelFor(m_ioMode, vm::res::Str(20041), m_ioFrame);
    m_ioModeLabel->setObjectName(QStringLiteral("IOMode_Label"));
    m_duration = new QLineEdit(m_ioFrame);
    m_duration->setObjectName(QStringLiteral("Duration"));
    m_durationLabel = labelFor(m_duration, vm::res::Str(20042), m_ioFrame);
    m_durationLabel->setObjectName(QStringLiteral("SigDurationLabel"));
    m_durationUnits = new QLabel(vm::res::Str(20043), m_ioFrame);
    m_durationUnits->setObjectName(QStringLiteral("SigDurationUnits"));
    io->addWidget(m_ioModeLabel, 0, 0);
    io->addWidget(m_ioMode, 0, 1, 1, 2);
    io->addWidget(m_durationLabel, 1, 0);
    io->addWidget(m_duration, 1, 1);
    io->addWidget(m_durationUnits, 1, 2);
    layout->addWidget(m_ioFrame);

    m_optoFrame = new QGroupBox(vm::res::Str(20044), this);
    m_optoFrame->setObjectName(QStringLiteral("OPTOFrame"));
    auto* opto = new QGridLayout(m_optoFrame);
    const char* names[] = {"Pass_Label", "Fail_Label", "DV_Label"};
    const QString captions[] = {vm::res::Str(20045), vm::res::Str(20046), vm::res::Str(20047)};
    for (int i = 0; i < 3; ++i) {
        auto* list = new QComboBox(m_optoFrame);
        list->setObjectName(QStringLiteral("Polarity(%1)").arg(i + 1));
        QLabel* label = labelFor(list, captions[i], m_optoFrame);
        label->setObjectName(QLatin1String(names[i]));
        opto->addWidget(label, i, 0);
        opto->addWidget(list, i, 1);
        m_polarityLabels << label;
        m_polarities << list;
        // Read below level 4 only; from level 4 the frame is hidden.
        bindChoice(list, QLatin1String(kOldPolarities[i]), 0,
                   {{vm::res::Str(20048), QStringLiteral("H")}, {vm::res::Str(20049), QStringLiteral("L")}});
    }
    layout->addWidget(m_optoFrame);

    m_rteFrame = new QGroupBox(vm::res::Str(20050), this);
    m_rteFrame->setObjectName(QStringLiteral("RTEFrame"));
    auto* rte = new QGridLayout(m_rteFrame);
    m_rtePolarity = new QComboBox(m_rteFrame);
    m_rtePolarity->setObjectName(QStringLiteral("RTE_Polarity"));
    m_rtePolarityLabel = labelFor(m_rtePolarity, vm::res::Str(20051), m_rteFrame);
    m_rtePolarityLabel->setObjectName(QStringLiteral("Polarity_Label"));
    rte->addWidget(m_rtePolarityLabel, 0, 0);
    rte->addWidget(m_rtePolarity, 0, 1);
    layout->addWidget(m_rteFrame);

    m_assignFrame = new QGroupBox(vm::res::Str(20052), this);
    m_assignFrame->setObjectName(QStringLiteral("IOAssignmentFrame"));
    auto* assign = new QGridLayout(m_assignFrame);
    auto* instruct = new QLabel(vm::res::Str(20053), m_assignFrame);
    instruct->setObjectName(QStringLiteral("IOInstructLabel"));
    instruct->setWordWrap(true);
    assign->addWidget(instruct, 0, 0, 1, 7);
    const char* lineNames[] = {"PassLabel", "FailLabel", "DVLabel",  "RTELabel",
                               "GoodLabel", "FairLabel", "PoorLabel"};
    const QString lineCaptions[] = {vm::res::Str(1515),  vm::res::Str(1516), vm::res::Str(20054),
                                    vm::res::Str(20055), vm::res::Str(2006), vm::res::Str(2007),
                                    vm::res::Str(2008)};
    for (int i = 0; i < 7; ++i) {
        auto* label = new QLabel(lineCaptions[i], m_assignFrame);
        label->setObjectName(QLatin1String(lineNames[i]));
        assign->addWidget(label, 1, i);
        m_lineLabels << label;
    }
    m_assignButton = new QPushButton(vm::res::Str(20056), m_assignFrame);
    m_assignButton->setObjectName(QStringLiteral("IOAssignCommand"));
    assign->addWidget(m_assignButton, 2, 0, 1, 7, Qt::AlignRight);
    connect(m_assignButton, &QPushButton::clicked, this,
            [] { vm::app::windows().open(QStringLiteral("frmIOAssign"), vm::app::mainWindow()); });
    layout->addWidget(m_assignFrame);
    layout->addWidget(buttonBox());

    declareGroup(kTriggered, [this] { return m_trigEnabled->isChecked(); });
    declareGroup(kPulsed, [this] { return selectedMode().pulsed; });
    bindText(m_userTrigger, QStringLiteral("TRIG U"), 0, Quotes::DropEnds, kMaxUserTriggerLength)
        .inGroup(kTriggered);
    bindChoice(m_rtePolarity, kRtePolarity, 0,
               {{vm::res::Str(20057), QStringLiteral("H")}, {vm::res::Str(20058), QStringLiteral("L")}});
    bindChoice(m_ioMode, kIOMode, 0, [this] {
        QList<Choice> choices;
        for (const IOModeEntry& e : ioModes(readerLevel()))
            choices.append({QString::fromLatin1(e.caption), QString::fromLatin1(e.keyword)});
        return choices;
    });
    bindNumber(m_duration, kIOMode, 1, 0, kMaxSignalDurationMs).inGroup(kPulsed);
    // Until the reader has answered, a list shows no entry rather than its first one.
    for (QComboBox* list :
         {m_trigPolarity, m_ioMode, m_rtePolarity, m_polarities[0], m_polarities[1], m_polarities[2]})
        list->setCurrentIndex(-1);
}

IOModeEntry frmIOSettings::selectedMode() const {
    const QList<IOModeEntry> modes = ioModes(readerLevel());
    const int index = m_ioMode->currentIndex();
    return index >= 0 && index < modes.size() ? modes[index] : IOModeEntry{"", "", false, false};
}

QStringList frmIOSettings::parametersToLoad() const {
    QStringList names = {kTrig, QStringLiteral("TRIG U"), QStringLiteral("TE")};
    if (newerReader()) {
        // Read for the lines the IO assignment window drives; not shown here.
        for (const char* line :
             {"OPTO_OUT1", "OPTO_OUT2", "OPTO_OUT3", "GPIO_OUT1", "GPIO_OUT2", "GPIO_OUT3", "GPIO_OUT4"})
            names << QStringLiteral("SIGOUT ") + QLatin1String(line);
    } else {
        for (const char* name : kOldPolarities)
            names << QLatin1String(name);
    }
    names << kRtePolarity << kIOMode;
    return names;
}

void frmIOSettings::loadParameters() {
    m_loadError.clear();
    if (!isConnected())
        return;
    for (const QString& name : parametersToLoad()) {
        QString error;
        if (!load(name, &error) && m_loadError.isEmpty())
            m_loadError = error;
    }
}

void frmIOSettings::refresh() {
    const bool newer = newerReader();
    const int mode = m_ioMode->currentIndex();
    const IOModeEntry selected = selectedMode();

    m_assignFrame->setVisible(newer);
    m_optoFrame->setVisible(!newer && mode > 0);
    m_rteFrame->setVisible(!newer && mode > 0);
    // A greyed value without its caption means nothing to the operator: the duration goes
    // with its caption and unit.
    m_duration->setVisible(selected.pulsed);
    m_durationLabel->setVisible(selected.pulsed);
    m_durationUnits->setVisible(selected.pulsed);
    m_polarityLabels[2]->setVisible(selected.dataValid);
    m_polarities[2]->setVisible(selected.dataValid);
    m_polarityLabels[1]->setVisible(!selected.dataValid);
    m_polarities[1]->setVisible(!selected.dataValid);
    // A polarity the list does not know reads as its second word.
    for (int i = 0; i < m_polarities.size(); ++i)
        if (wasRead(QLatin1String(kOldPolarities[i])) && m_polarities[i]->currentIndex() < 0)
            m_polarities[i]->setCurrentIndex(1);
    if (wasRead(kRtePolarity) && m_rtePolarity->currentIndex() < 0)
        m_rtePolarity->setCurrentIndex(1);

    // The check box, not the set: a trigger mode the reader did not answer keeps what it showed.
    const bool triggered = m_trigEnabled->isChecked();
    m_trigPolarity->setVisible(triggered);
    m_trigPolarityLabel->setVisible(triggered);
    m_userTriggerLabel->setVisible(triggered);
    m_userTrigger->setVisible(triggered);
    if (newer)
        showModeLines(std::max(mode, 0));
    fitHeight();

    if (!m_loadError.isEmpty()) {
        const QString error = m_loadError;
        m_loadError.clear();
        vm::app::showMessage(
            this, QStringLiteral("Error querying IO settings from camera (") + error + QLatin1Char(')'),
            vm::app::PromptButtons::Ok, vm::app::PromptIcon::Exclamation, QStringLiteral("Query Error"));
    }
}

// Frames and lines come and go with the mode, and the wrapped instruction needs the height its
// width gives it: the window grows to what it shows rather than clipping it.
void frmIOSettings::fitHeight() {
    if (!layout())
        return;
    layout()->activate();
    const int need = std::max(heightForWidth(width()), minimumSizeHint().height());
    if (need > height())
        resize(width(), need);
}

void frmIOSettings::showModeLines(int mode) {
    for (int i = 0; i < m_lineLabels.size(); ++i)
        m_lineLabels[i]->setVisible(mode < 9 && kModeLines[mode][i]);
}

QStringList frmIOSettings::reloadOn() const {
    return {QLatin1String(vm::link::broadcast::UpdateIO)};
}

QStringList frmIOSettings::broadcastsAfterApply() const {
    return {QLatin1String(vm::link::broadcast::UpdateIO)};
}

void frmIOSettings::applyControlState(bool control) {
    // The frames grey their captions with them; the lists and boxes are the base's.
    for (QGroupBox* frame : {m_trigFrame, m_ioFrame, m_optoFrame, m_rteFrame})
        frame->setEnabled(control);
}

} // namespace vm::io
