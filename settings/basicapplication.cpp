#include "settings/basicapplication.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "link/connection.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/pidlist.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::settings {

namespace {

const QString kTrig = QStringLiteral("TRIG");
const QString kEdge = QStringLiteral("TE");
const QString kRetry = QStringLiteral("RETRYEX");
const QString kPhoto = QStringLiteral("PHOTOEX");
const QString kTarget = QStringLiteral("TARGET");
const QString kIllum = QStringLiteral("ILLUM");
const QString kTimeout = QStringLiteral("TIMEOUT READ");
const QString kDwell = QStringLiteral("DWELLTIME");

// The retry modes: the list entry and what it writes into field 0 (and the list flag).
struct RetryMode {
    const char* caption;
    const char* keyword;
    const char* listFlag; // "N" or "A" for the PID lists, else null
};
constexpr RetryMode kRetryModes[] = {
    {"None", "NONE", nullptr},
    {"Time", "TIME", nullptr},
    {"Count", "COUNT", nullptr},
    {"RETRY input Duration", "GPIO", nullptr},
    {"Intersymbol Wait", "SUPERMARKET", nullptr},
    {"PID List", "LIST", "N"},
    {"PID List w/Acquire", "LIST", "A"},
    {"Light", "LIGHT", nullptr},
};
// The oldest readers know the first five.
constexpr int kShortRetryModes = 5;

struct Preset {
    const char* caption;
    const char* trig;
    const char* photo;
    const char* retry;
    const char* illum;
};
constexpr Preset kPresets[] = {
    {"Demo", "C", "AUTO", "NONE", "ON"},
    {"Motion", "T", "MANUAL", "NONE", "POWER_STROBE"},
    {"Stop and Scan", "T", "AUTO", "NONE", "STROBE"},
    {"Presentation / Supermarket", "C", "AUTO", "SUPERMARKET", "ON"},
};

QString illuminationSummary(const QString& keyword) {
    static const QHash<QString, QString> texts = {
        {"OFF", "Illumination is OFF"},
        {"ON", "Illumination is On"},
        {"STROBE", "Normal Strobe"},
        {"POWER_STROBE", "Power Strobe"},
        {"ON_AND_PSTROBED", "On and Power Strobe"},
        {"ON_AND_STROBED", "On and Strobed"},
        {"EXTERNAL", "External Illumination"},
        {"ON_AND_EXT", "Illumination is On and External"},
        {"STROBE_AND_EXT", "Normal Strobe and External"},
        {"POWER_STROBE_AND_EXT", "Power Strobe and External"},
        {"ON_AND_PSTROBED_AND_EXT", "On and Power Strobe and External"},
        {"ON_AND_STROBED_AND_EXT", "On and Strobed and External"},
    };
    return texts.value(keyword);
}

QString retryLightingSummary(const QString& keyword) {
    static const QHash<QString, QString> texts = {
        {"OFF", "Off"},
        {"ON", "On"},
        {"STROBE", "Normal Strobe"},
        {"POWER_STROBE", "Power Strobe"},
        {"ON_AND_PSTROBED", "On and Power Strobe"},
        {"ON_AND_STROBED", "On and Strobed"},
        {"EXTERNAL", "External"},
        {"ON_AND_EXT", "On and External"},
        {"STROBE_AND_EXT", "Normal Strobe and External"},
        {"POWER_STROBE_AND_EXT", "Power Strobe and External"},
        {"ON_AND_PSTROBED_AND_EXT", "On and Power Strobe and External"},
        {"ON_AND_STROBED_EXT", "On and Strobed and External"},
        {"ON_AND_STROBED_AND_EXT", "On and Strobed and External"},
    };
    const QString text = texts.value(keyword);
    return text.isEmpty() ? QString() : QStringLiteral("Retry with Lighting set to ") + text;
}

// The enable groups: the presets and retries belong to the symbology window under the AIM
// DPM set-up; the retry time box is off while the inter-symbol wait is infinite; the
// lighting is also the symbology window's when a light controller is fitted.
enum Group { kRetries = 1, kRetryWait, kLights };

// Refills a list only when its entries change, so that a refresh keeps the operator's place.
void setEntries(QComboBox* list, const QStringList& entries) {
    QStringList shown;
    for (int i = 0; i < list->count(); ++i)
        shown << list->itemText(i);
    if (shown != entries) {
        list->clear();
        list->addItems(entries);
    }
}

} // namespace

QList<LightingEntry> lightingEntries(int firmwareLevel) {
    QList<LightingEntry> entries = {
        {"Off", "OFF", {}, false},
        {"On", "ON", {}, false},
        {"Strobe", "STROBE", {}, false},
        {"Power Strobe", "POWER_STROBE", {}, false},
        {"On w/Power Strobe", "ON_AND_PSTROBED", {QStringLiteral("ON_AND_STROBED")}, false},
        // External lights switch through GPIO 1 on the readers that have the line.
        {"External", "EXTERN", {QStringLiteral("EXTERNAL")}, firmwareLevel >= vm::link::level::Verification},
    };
    if (firmwareLevel >= vm::link::level::Verification) {
        entries.append({"On & External", "ON_AND_EXT", {}, true});
        entries.append({"Strobe & Ext", "STROBE_AND_EXT", {}, true});
        entries.append({"Power Strobe & Ext", "POWER_STROBE_AND_EXT", {}, true});
        entries.append({"On/PowerStrb/Ext",
                        "ON_AND_PSTROBED_AND_EXT",
                        {QStringLiteral("ON_AND_STROBED_AND_EXT")},
                        true});
    }
    return entries;
}

RetryLayout retryLayout(int fieldCount) {
    RetryLayout layout;
    if (fieldCount > 10) {
        layout.lightingField = 19;
        layout.pidSlots = 15;
    } else if (fieldCount >= 5) {
        layout.lightingField = 7;
        layout.pidSlots = 3;
    } else {
        layout.lightingField = 7;
        layout.pidSlots = 0;
        layout.shortForm = true;
    }
    return layout;
}

BasicApplication::BasicApplication(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent) {
    setWindowTitle(QStringLiteral("(no camera) - Application"));
    buildControls();
    ensureLoaded();
}

vm::app::WindowEntry BasicApplication::windowEntry() {
    return settingsMenuWindow<BasicApplication>(WindowName, 2020, "mnuApplication", vm::res::Str(202));
}

void BasicApplication::buildControls() {
    auto* layout = new QVBoxLayout(this);

    auto* top = new QGridLayout;
    m_appMode = new QComboBox(this);
    m_appMode->setObjectName(QStringLiteral("AppMode"));
    for (const Preset& p : kPresets)
        m_appMode->addItem(QString::fromLatin1(p.caption));
    m_appLabel = labelFor(m_appMode, vm::res::Str(20090), this);
    m_appLabel->setObjectName(QStringLiteral("App_Label"));
    m_appInfo = new QLabel(this);
    m_appInfo->setObjectName(QStringLiteral("AppInfo"));
    m_appInfo->setFrameShape(QFrame::StyledPanel);
    m_appInfo->setMinimumHeight(90);
    m_appInfo->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    m_appInfo->setAccessibleName(vm::res::Str(20091));
    m_appInfo->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_appInfo->setFocusPolicy(Qt::StrongFocus);
    top->addWidget(m_appLabel, 0, 0);
    top->addWidget(m_appMode, 0, 1);
    top->addWidget(m_appInfo, 1, 0, 1, 2);
    layout->addLayout(top);

    const TriggerFrame trigger = addTriggerFrame();
    m_trigFrame = trigger.frame;
    m_trigPolarity = trigger.edge;
    m_trigPolarityLabel = trigger.edgeLabel;
    m_advancedIO = new QPushButton(vm::res::Str(20092), m_trigFrame);
    m_advancedIO->setObjectName(QStringLiteral("AdvancedIO"));
    trigger.grid->addWidget(m_advancedIO, 2, 1);
    layout->addWidget(m_trigFrame);

    auto* retryBox = new QGroupBox(vm::res::Str(20093), this);
    auto* retry = new QGridLayout(retryBox);
    m_retryMode = new QComboBox(retryBox);
    m_retryMode->setObjectName(QStringLiteral("RetryMode"));
    m_retryLabel = labelFor(m_retryMode, vm::res::Str(20094), retryBox);
    m_retryLabel->setObjectName(QStringLiteral("Retry_Label"));
    m_retryTime = new QLineEdit(retryBox);
    m_retryTime->setObjectName(QStringLiteral("RetryTime"));
    m_retryTime->setAccessibleName(vm::res::Str(20095));
    m_retryCount = new QComboBox(retryBox);
    m_retryCount->setObjectName(QStringLiteral("RetryCount"));
    m_retryCount->setAccessibleName(vm::res::Str(20096));
    m_retryUnits = new QLabel(retryBox);
    m_retryUnits->setObjectName(QStringLiteral("RetryUnits"));
    m_infiniteIswt = new QCheckBox(vm::res::Str(20097), retryBox);
    m_infiniteIswt->setObjectName(QStringLiteral("InfiniteISWT"));
    retry->addWidget(m_retryLabel, 0, 0);
    retry->addWidget(m_retryMode, 0, 1, 1, 3);
    retry->addWidget(m_retryTime, 1, 1);
    retry->addWidget(m_retryCount, 1, 2);
    retry->addWidget(m_retryUnits, 1, 3);
    retry->addWidget(m_infiniteIswt, 2, 1, 1, 3);
    m_pidLabel = new QLabel(vm::res::Str(20030), retryBox);
    m_pidLabel->setObjectName(QStringLiteral("PID_Label"));
    auto* pids = new QGridLayout;
    for (int i = 0; i < 15; ++i) {
        auto* list = new QComboBox(retryBox);
        list->setObjectName(QStringLiteral("PID(%1)").arg(i));
        list->setAccessibleName(vm::res::Str(20098).arg(i + 1));
        list->setMinimumContentsLength(3);
        pids->addWidget(list, i / 5, i % 5);
        m_pids << list;
    }
    retry->addWidget(m_pidLabel, 3, 0, Qt::AlignTop);
    retry->addLayout(pids, 3, 1, 1, 3);
    m_retryLightFrame = new QGroupBox(vm::res::Str(20099), retryBox);
    m_retryLightFrame->setObjectName(QStringLiteral("RetryLightFrame"));
    auto* retryLight = new QHBoxLayout(m_retryLightFrame);
    m_retryLighting = new QComboBox(m_retryLightFrame);
    m_retryLighting->setObjectName(QStringLiteral("RetryLighting"));
    m_retryLighting->setAccessibleName(vm::res::Str(20100));
    m_retryLightPid = new QComboBox(m_retryLightFrame);
    m_retryLightPid->setObjectName(QStringLiteral("RetryLightPID"));
    m_retryLightPid->setAccessibleName(vm::res::Str(20101));
    retryLight->addWidget(m_retryLighting, 1);
    retryLight->addWidget(new QLabel(vm::res::Str(20030), m_retryLightFrame));
    retryLight->addWidget(m_retryLightPid);
    retry->addWidget(m_retryLightFrame, 4, 0, 1, 4);
    layout->addWidget(retryBox);

    auto* other = new QGridLayout;
    m_lighting = new QComboBox(this);
    m_lighting->setObjectName(QStringLiteral("Lighting"));
    m_lightingLabel = labelFor(m_lighting, vm::res::Str(20102), this);
    m_lightingLabel->setObjectName(QStringLiteral("Lighting_Label"));
    m_target = new QComboBox(this);
    m_target->setObjectName(QStringLiteral("Target"));
    m_targetLabel = labelFor(m_target, vm::res::Str(20103), this);
    m_targetLabel->setObjectName(QStringLiteral("Target_Label"));
    m_timeout = new QLineEdit(this);
    m_timeout->setObjectName(QStringLiteral("TimeoutEdit"));
    m_timeoutLabel = labelFor(m_timeout, vm::res::Str(20104), this);
    m_timeoutLabel->setObjectName(QStringLiteral("TimeoutLabel"));
    m_timeoutUnits = new QLabel(vm::res::Str(20105), this);
    m_timeoutUnits->setObjectName(QStringLiteral("Label1"));
    m_dwell = new QLineEdit(this);
    m_dwell->setObjectName(QStringLiteral("DwellEdit"));
    m_dwellLabel = labelFor(m_dwell, vm::res::Str(20106), this);
    m_dwellLabel->setObjectName(QStringLiteral("DwellLabel"));
    m_dwellUnits = new QLabel(vm::res::Str(20105), this);
    m_dwellUnits->setObjectName(QStringLiteral("Label2"));
    other->addWidget(m_lightingLabel, 0, 0);
    other->addWidget(m_lighting, 0, 1, 1, 2);
    other->addWidget(m_targetLabel, 1, 0);
    other->addWidget(m_target, 1, 1, 1, 2);
    other->addWidget(m_timeoutLabel, 2, 0);
    other->addWidget(m_timeout, 2, 1);
    other->addWidget(m_timeoutUnits, 2, 2);
    other->addWidget(m_dwellLabel, 3, 0);
    other->addWidget(m_dwell, 3, 1);
    other->addWidget(m_dwellUnits, 3, 2);
    layout->addLayout(other);
    layout->addWidget(buttonBox());

    declareGroup(kRetries, [this] { return retriesEditable(); });
    declareGroup(kRetryWait, [this] { return retriesEditable() && !infiniteWait(); });
    declareGroup(kLights, [this] { return retriesEditable() && m_lightChannels <= 0; });

    // The trigger frame bound TRIG and TE. The preset, the retry mode and time and the
    // retry lighting write more than one field, or a field that depends on the reader's
    // layout: the window fills and writes them itself.
    declare(m_appMode, kTrig).inGroup(kRetries);
    declare(m_retryMode, kRetry).inGroup(kRetries);
    declare(m_retryTime, kRetry, 1).inGroup(kRetryWait);
    QList<Choice> counts;
    for (int n = 1; n <= 15; ++n)
        counts.append({QString::number(n), QString::number(n)});
    bindChoice(m_retryCount, kRetry, 2, counts).inGroup(kRetries);
    bindCheck(m_infiniteIswt, kRetry, 3, QStringLiteral("0"), QStringLiteral("500")).inGroup(kRetries);
    for (int i = 0; i < m_pids.size(); ++i)
        bindChoice(m_pids[i], kRetry, 4 + i, [this] { return pidChoices(); }).inGroup(kRetries);
    // Their fields follow the reader's layout (retryLayout).
    declare(m_retryLighting, kRetry).inGroup(kRetries);
    declare(m_retryLightPid, kRetry).inGroup(kRetries);
    bindChoice(
        m_lighting, kIllum, 0,
        [] {
            QList<Choice> choices;
            for (const LightingEntry& e : lightingEntries(vm::app::firmwareLevel()))
                choices.append({QString::fromLatin1(e.caption), QString::fromLatin1(e.keyword), e.reads});
            return choices;
        },
        [this](const Choice& chosen) {
            for (const LightingEntry& e : lightingEntries(vm::app::firmwareLevel()))
                if (QLatin1String(e.keyword) == chosen.value && e.needsGpio1)
                    return gpio1Free();
            return true;
        })
        .inGroup(kLights);
    bindChoice(m_target, kTarget, 0,
               {{vm::res::Str(20107), QStringLiteral("OFF")},
                {vm::res::Str(20108), QStringLiteral("ON")},
                {vm::res::Str(20109), QStringLiteral("T")}});
    bindNumber(m_timeout, kTimeout, 0, 0, 9999);
    bindNumber(m_dwell, kDwell, 0, 0, 60);

    connect(m_appMode, &QComboBox::activated, this, &BasicApplication::presetChosen);
    connect(m_retryMode, &QComboBox::activated, this, &BasicApplication::retryModeChosen);
    connect(m_retryLighting, &QComboBox::activated, this, &BasicApplication::retryLightingChosen);
    connect(m_retryLightPid, &QComboBox::activated, this, &BasicApplication::retryLightPidChosen);
    connect(m_retryTime, &QLineEdit::textEdited, this, [this] {
        if (updating())
            return;
        m_retryTimeEdited = true;
        markEdited();
    });
    connect(m_retryTime, &QLineEdit::editingFinished, this, &BasicApplication::retryTimeLeft);
    connect(m_advancedIO, &QPushButton::clicked, this,
            [] { vm::app::windows().open(QStringLiteral("frmIOSettings"), vm::app::mainWindow()); });
}

QString BasicApplication::field(const QString& parameter, int index) {
    return parameters().GetParameter(parameter).Field(index);
}

void BasicApplication::setField(const QString& parameter, int index, const QString& value) {
    parameters().GetParameter(parameter).SetField(index, value);
}

bool BasicApplication::retriesEditable() const {
    return vm::app::firmwareLevel() < vm::link::level::Calibration ||
           vm::app::verificationStandard() != vm::app::kAimDpmStandard;
}

bool BasicApplication::infiniteWait() {
    return field(kRetry, 0) == QLatin1String("SUPERMARKET") && field(kRetry, 3) == QLatin1String("0");
}

bool BasicApplication::triggered() {
    return field(kTrig, 0) == QLatin1String("T");
}

QList<Choice> BasicApplication::pidChoices() const {
    QList<Choice> choices = {{QStringLiteral("0"), QStringLiteral("0")}};
    for (const QString& pid : m_storedPids)
        choices.append({pid, pid});
    return choices;
}

bool BasicApplication::answered(const QStringList& names) const {
    if (!isConnected())
        return true;
    for (const QString& name : names)
        if (!wasRead(name))
            return false;
    return true;
}

QStringList BasicApplication::parametersToLoad() const {
    // OKDEC, DECFL and MATCH are loaded with the others, and shown nowhere.
    QStringList names = {kTrig, kEdge, kRetry, kPhoto, kTarget, kIllum};
    return names << QStringLiteral("OKDEC") << QStringLiteral("DECFL") << QStringLiteral("MATCH") << kTimeout
                 << kDwell;
}

void BasicApplication::loadParameters() {
    if (!isConnected())
        return;
    SettingsWindow::loadParameters();
    // A retry setting the reader did not answer leaves the layout as it was.
    if (wasRead(kRetry))
        m_layout = retryLayout(parameters().GetParameter(kRetry).FieldCount());
    m_storedPids = vm::link::readStoredPids(connection()->Response());
    if (vm::app::firmwareLevel() >= vm::link::level::Calibration) {
        if (load(QStringLiteral("VERIFY")))
            vm::app::setVerificationStandard(
                vm::app::VerificationStandardCode(field(QStringLiteral("VERIFY"), 0)));
        m_lightChannels = load(QStringLiteral("XLIGHTCHANNELS"))
                              ? int(leadingNumber(field(QStringLiteral("XLIGHTCHANNELS"), 0)))
                              : 0;
    } else {
        m_lightChannels = 0;
    }
}

void BasicApplication::refresh() {
    QStringList modes;
    for (int i = 0; i < (m_layout.shortForm ? kShortRetryModes : int(std::size(kRetryModes))); ++i)
        modes << QString::fromLatin1(kRetryModes[i].caption);
    setEntries(m_retryMode, modes);
    // The retry lighting offers what the lighting list offers, and its PID what the PID lists do.
    QStringList lights;
    for (const LightingEntry& e : lightingEntries(vm::app::firmwareLevel()))
        lights << QString::fromLatin1(e.caption);
    setEntries(m_retryLighting, lights);
    QStringList pids;
    for (const Choice& c : pidChoices())
        pids << c.text;
    setEntries(m_retryLightPid, pids);
    m_retryTimeEdited = false;

    // What the reader did not answer keeps what the window showed.
    QStringList lines;
    if (answered({kRetry}))
        refreshRetry(lines);
    if (!answered({kTrig, kRetry, kIllum, kPhoto}))
        return;
    lines.prepend(triggered() ? vm::res::Str(20110) : vm::res::Str(20111));
    if (const QString text = illuminationSummary(field(kIllum, 0)); !text.isEmpty())
        lines << text;
    lines << (field(kPhoto, 0) == QLatin1String("AUTO") ? vm::res::Str(20112) : vm::res::Str(2306));
    m_summary.clear();
    for (const QString& line : std::as_const(lines))
        m_summary += line + QLatin1String("\r\n");
    m_appInfo->setText(lines.join(QLatin1Char('\n')));

    QString preset = QString::fromLatin1(kPresets[0].caption);
    if (triggered())
        preset = QString::fromLatin1(kPresets[1].caption);
    if (field(kRetry, 0) == QLatin1String("SUPERMARKET"))
        preset = QString::fromLatin1(kPresets[3].caption);
    if (preset == QLatin1String(kPresets[1].caption) && field(kPhoto, 0) == QLatin1String("AUTO"))
        preset = QString::fromLatin1(kPresets[2].caption);
    m_appMode->setCurrentIndex(m_appMode->findText(preset));
    m_shownPreset = preset;
}

void BasicApplication::refreshRetry(QStringList& lines) {
    const QString mode = field(kRetry, 0);
    int entry = -1;
    for (int i = 0; i < m_retryMode->count(); ++i) {
        const RetryMode& m = kRetryModes[i];
        if (mode != QLatin1String(m.keyword))
            continue;
        // The two PID list entries differ only in the acquire flag.
        const bool acquire = field(kRetry, m_layout.lightingField + 2) == QLatin1String("A");
        if (m.listFlag && (QLatin1String(m.listFlag) == QLatin1String("A")) != acquire)
            continue;
        entry = i;
        break;
    }
    m_retryMode->setCurrentIndex(entry);

    // Only the controls of the reader's retry mode show.
    const bool time = mode == QLatin1String("TIME");
    const bool count = mode == QLatin1String("COUNT");
    const bool wait = mode == QLatin1String("SUPERMARKET");
    const bool list = mode == QLatin1String("LIST");
    const bool light = mode == QLatin1String("LIGHT");
    m_retryTime->setVisible(time || wait);
    m_retryCount->setVisible(count);
    m_retryUnits->setVisible(time || count || wait);
    m_infiniteIswt->setVisible(wait);
    m_pidLabel->setVisible(list);
    for (int i = 0; i < m_pids.size(); ++i)
        m_pids[i]->setVisible(list && i < m_layout.pidSlots);
    m_retryLightFrame->setVisible(light);

    if (mode == QLatin1String("NONE")) {
        lines << vm::res::Str(2305);
    } else if (time) {
        m_retryTime->setText(field(kRetry, 1));
        m_retryUnits->setText(vm::res::Str(20043));
        lines << vm::res::Str(20113).arg(field(kRetry, 1));
    } else if (count) {
        m_retryUnits->setText(vm::res::Str(20114));
        lines << vm::res::Str(20115).arg(field(kRetry, 2));
    } else if (mode == QLatin1String("GPIO")) {
        lines << vm::res::Str(20116);
    } else if (wait) {
        const QString period = field(kRetry, 3);
        m_retryTime->setText(period);
        m_retryUnits->setText(vm::res::Str(20117));
        lines << (infiniteWait() ? vm::res::Str(20118) : vm::res::Str(20119).arg(period));
    } else if (list) {
        QStringList used;
        for (int i = 0; i < m_layout.pidSlots && i < m_pids.size(); ++i) {
            const QString pid = field(kRetry, 4 + i);
            if (!pid.isEmpty() && pid != QLatin1String("0"))
                used << pid;
        }
        lines << vm::res::Str(20120).arg(used.join(QLatin1Char(',')));
    } else if (light) {
        const QString lighting = field(kRetry, m_layout.lightingField);
        const QList<LightingEntry> entries = lightingEntries(vm::app::firmwareLevel());
        int index = -1;
        for (int i = 0; i < entries.size(); ++i)
            if (QLatin1String(entries[i].keyword) == lighting || entries[i].reads.contains(lighting))
                index = i;
        m_retryLighting->setCurrentIndex(index);
        m_retryLightPid->setCurrentIndex(
            m_retryLightPid->findText(field(kRetry, m_layout.lightingField + 1)));
        if (const QString text = retryLightingSummary(lighting); !text.isEmpty())
            lines << text;
    }
}

void BasicApplication::presetChosen(int index) {
    if (updating() || loading() || !connection() || index < 0 || index >= int(std::size(kPresets)))
        return;
    const Preset& preset = kPresets[index];
    const QString chosen = QString::fromLatin1(preset.caption);
    if (chosen == m_shownPreset || !isConnected())
        return;
    const bool retryMayChange = field(kRetry, 0) != QLatin1String("LIST");
    QStringList changes;
    if (field(kTrig, 0) != QLatin1String(preset.trig))
        changes << (QLatin1String(preset.trig) == QLatin1String("C") ? vm::res::Str(20121)
                                                                     : vm::res::Str(20122));
    if (field(kPhoto, 0) != QLatin1String(preset.photo))
        changes << (QLatin1String(preset.photo) == QLatin1String("AUTO") ? vm::res::Str(20123)
                                                                         : vm::res::Str(20124));
    if (retryMayChange && field(kRetry, 0) != QLatin1String(preset.retry))
        changes << (QLatin1String(preset.retry) == QLatin1String("NONE") ? vm::res::Str(20125)
                                                                         : vm::res::Str(20126));
    if (field(kIllum, 0) != QLatin1String(preset.illum)) {
        const QString illum = QLatin1String(preset.illum);
        changes << (illum == QLatin1String("ON")       ? vm::res::Str(20127)
                    : illum == QLatin1String("STROBE") ? vm::res::Str(20128)
                                                       : vm::res::Str(20129));
    }
    if (!changes.isEmpty()) {
        const auto answer = vm::app::showMessage(
            this, vm::res::Str(20130) + QLatin1String("\r\n") + changes.join(QLatin1String("\r\n")),
            vm::app::PromptButtons::OkCancel, vm::app::PromptIcon::Question, vm::res::Str(20131));
        if (answer != vm::app::PromptAnswer::Ok) {
            const auto guard = updateGuard();
            m_appMode->setCurrentIndex(m_appMode->findText(m_shownPreset));
            return;
        }
    }
    setField(kTrig, 0, QLatin1String(preset.trig));
    setField(kPhoto, 0, QLatin1String(preset.photo));
    setField(kIllum, 0, QLatin1String(preset.illum));
    if (retryMayChange)
        setField(kRetry, 0, QStringLiteral("NONE"));
    if (index == 3)
        setField(kRetry, 0, QStringLiteral("SUPERMARKET"));
    refreshDisplay();
    m_shownPreset = chosen;
    markModified();
}

void BasicApplication::retryModeChosen(int index) {
    if (updating() || loading() || index < 0 || index >= m_retryMode->count())
        return;
    const RetryMode& mode = kRetryModes[index];
    setField(kRetry, 0, QLatin1String(mode.keyword));
    if (mode.listFlag)
        setField(kRetry, m_layout.lightingField + 2, QLatin1String(mode.listFlag));
    refreshDisplay();
    markModified();
}

void BasicApplication::retryTimeLeft() {
    if (updating() || !m_retryTimeEdited)
        return;
    m_retryTimeEdited = false;
    const qint64 typed = leadingNumber(m_retryTime->text());
    const qint64 value = std::clamp(typed, kRetryTimeMin, kRetryTimeMax);
    if (value != typed)
        vm::app::showMessage(this, vm::res::Str(20132));
    {
        const auto guard = updateGuard();
        m_retryTime->setText(QString::number(value));
    }
    const bool time = m_retryMode->currentText() == QLatin1String(kRetryModes[1].caption);
    setField(kRetry, time ? 1 : 3, QString::number(value));
    refreshDisplay();
    markModified();
}

void BasicApplication::retryLightingChosen(int index) {
    if (updating() || loading() || index < 0)
        return;
    const QList<LightingEntry> entries = lightingEntries(vm::app::firmwareLevel());
    if (index >= entries.size())
        return;
    if (!entries[index].needsGpio1 || gpio1Free())
        setField(kRetry, m_layout.lightingField, QLatin1String(entries[index].keyword));
    refreshDisplay();
    markModified();
}

void BasicApplication::retryLightPidChosen(int index) {
    if (updating() || loading() || index < 0)
        return;
    const QString text = m_retryLightPid->itemText(index);
    setField(kRetry, m_layout.lightingField + 1, text.isEmpty() ? QStringLiteral("0") : text);
    refreshDisplay();
    markModified();
}

bool BasicApplication::gpio1Free() {
    load(QStringLiteral("IOASSIGN GPIO_OUT1"));
    bool free = vm::link::isEmptyQuotedField(field(QStringLiteral("IOASSIGN GPIO_OUT1"), 0));
    // An assignment made in the IO assignment window but not yet sent counts too.
    if (QWidget* assign = vm::app::windows().find(QStringLiteral("frmIOAssign")))
        free = free && assign->property("gpio1Selection").toInt() == 0;
    if (!free)
        vm::app::showMessage(this, vm::res::Str(20133));
    return free;
}

QStringList BasicApplication::reloadOn() const {
    return {QLatin1String(vm::link::broadcast::UpdateIO), QLatin1String(vm::link::broadcast::UpdateAppMode)};
}

void BasicApplication::broadcastReceived(const QString& message, const QString&) {
    if (!isConnected())
        return;
    if (message == QLatin1String(vm::link::broadcast::UpdateLaser)) {
        load(kTarget);
    } else if (message == QLatin1String(vm::link::broadcast::UpdateTimeout)) {
        load(kTimeout);
    } else if (message == QLatin1String(vm::link::broadcast::UpdateRetry)) {
        if (load(kRetry))
            m_layout = retryLayout(parameters().GetParameter(kRetry).FieldCount());
        m_storedPids = vm::link::readStoredPids(connection()->Response());
    } else {
        return;
    }
    refreshDisplay();
}

QStringList BasicApplication::broadcastsAfterApply() const {
    using namespace vm::link::broadcast;
    QStringList words = {QLatin1String(UpdatePhoto), QLatin1String(UpdateIO), QLatin1String(UpdateTimeout),
                         QLatin1String(UpdateLaser)};
    if (vm::app::firmwareLevel() >= vm::link::level::Calibration)
        words << QLatin1String(UpdateDropWhenBusy);
    return words;
}

void BasicApplication::applyControlState(bool control) {
    // The frames first: what the base enabled inside them counts only once they are on.
    m_trigFrame->setEnabled(control);
    m_retryLightFrame->setEnabled(control && retriesEditable());
    m_appInfo->setEnabled(control);
    m_advancedIO->setEnabled(control);
    // The edge means something only while the trigger is used.
    m_trigPolarity->setEnabled(m_trigPolarity->isEnabled() && triggered());
    m_pidLabel->setEnabled(control && retriesEditable());
    m_retryUnits->setEnabled(control && retriesEditable() && !infiniteWait());
    // Each caption greys with the control it names, programming control included.
    for (QLabel* caption : {m_appLabel, m_retryLabel, m_lightingLabel, m_targetLabel, m_trigPolarityLabel,
                            m_timeoutLabel, m_dwellLabel})
        caption->setEnabled(caption->buddy()->isEnabled());
}

QString BasicApplication::lightingText() const {
    return m_lighting->currentText();
}

QString BasicApplication::retryModeText() const {
    return m_retryMode->currentText();
}

QString BasicApplication::retryLightingText() const {
    return m_retryLighting->currentText();
}

} // namespace vm::settings
