#include "settings/symbology.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/parameterset.h"
#include "link/record.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "settings/controls.h"
#include "verification/dlgaimdpmcompliance.h"
#include "verification/dlgcalibrate.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>

namespace vm::settings {

using vm::app::PromptAnswer;
using vm::app::PromptButtons;
using vm::app::PromptIcon;
using vm::app::showMessage;
namespace level = vm::link::level;

namespace {

constexpr const char* kBarcodeNames[] = {"Code 128",
                                         "Code 39",
                                         "Code 93",
                                         "Code 2 of 5",
                                         "Codabar",
                                         "UPC-A / EAN",
                                         "UPC-E",
                                         "UPS Supplemental",
                                         "PDF417",
                                         "BC412",
                                         "Postnet",
                                         "Pharma",
                                         "GS1 DataBar 14",
                                         "GS1 DataBar Limited",
                                         "GS1 DataBar Expanded",
                                         "GS1 DataBar Stacked",
                                         "GS1 DataBar Composite",
                                         "QR Code/Micro QR Code"};
// The items after these appeared with verification-capable readers.
constexpr int kEarlyBarcodes = 12;

struct StandardOption {
    const char* caption;
    const char* keyword;
};
constexpr StandardOption kStandards[] = {
    {"No Verification", "NONE"},  {"AIM (ISO 16022)", "AIM"},  {"ANSI (ISO 15416)", "ANSI"},
    {"IAQG (AS9132)", "IAQG"},    {"DPM Verification", "DPM"}, {"ISO 15415", "ISO"},
    {"AIM DPM-1-2006", "AIMDPM"},
};

struct DpmRow {
    const char* caption;
    const char* keyword;
};
constexpr DpmRow kDpmRowNames[] = {
    {"Cell Size", "CS"},           {"Center Offset", "CO"}, {"Size Offset", "SO"},
    {"Cell Modulation", "CM"},     {"Border Match", "BM"},  {"Symbol Contrast", "SC"},
    {"Axial Nonuniformity", "AN"}, {"Print Growth", "PG"},  {"Unused Error Correction", "UEC"},
    {"Angle of Distortion", "AD"},
};

const QStringList kLightKeywords = {"OFF", "90",    "D",     "45Q",   "30T_NS", "30T_EW",
                                    "30Q", "30S_N", "30S_E", "30S_S", "30S_W"};

const QString kNumDm = QStringLiteral("NUMDM");
const QString kNumBc = QStringLiteral("NUMBC");
const QString kBarcodeEnable = QStringLiteral("BARCODE ENABLE");
const QString kVerify = QStringLiteral("VERIFY");
const QString kVerStatus = QStringLiteral("VERSTATUS");
const QString kChannels = QStringLiteral("XLIGHTCHANNELS");
const QString kLight = QStringLiteral("LIGHT_CTL");
const QString kWavelength = QStringLiteral("WAVELENGTH");
const QString kIllum = QStringLiteral("ILLUM");

// Grade classes of the grade buttons, better ones larger.
enum class GradeClass { Poor = 1, Fair = 2, Good = 3 };
using GradeRow = std::array<GradeClass, 5>;

QColor classColour(GradeClass c) {
    switch (c) {
    case GradeClass::Good:
        return QColor(128, 255, 128);
    case GradeClass::Fair:
        return QColor(255, 255, 128);
    default:
        return QColor(255, 128, 128);
    }
}

// A row's range ("B C": worst Good grade, worst Fair grade) from the classes of its five
// buttons A to F, and back.
QString gradeRange(const GradeRow& row) {
    static const char letters[] = "ABCD";
    int good = 0, fair = 0;
    for (int i = 1; i <= 3; ++i) {
        if (row[size_t(i)] == GradeClass::Good)
            good = i;
        if (row[size_t(i)] != GradeClass::Poor)
            fair = i;
    }
    fair = std::max(fair, good);
    return QString(QLatin1Char(letters[good])) + QLatin1Char(' ') + QLatin1Char(letters[fair]);
}

GradeRow gradeClasses(const QString& range) {
    const QStringList parts = range.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    auto index = [](const QString& letter) {
        const int i = QStringLiteral("ABCD").indexOf(letter.trimmed().toUpper());
        return i < 0 ? 0 : i;
    };
    const int good = index(parts.value(0)), fair = std::max(good, index(parts.value(1)));
    GradeRow row{GradeClass::Good, GradeClass::Poor, GradeClass::Poor, GradeClass::Poor, GradeClass::Poor};
    for (int i = 1; i <= 3; ++i)
        row[size_t(i)] = i <= good ? GradeClass::Good : i <= fair ? GradeClass::Fair : GradeClass::Poor;
    return row;
}

// The class a B, C or D button (index 1 to 3) takes when clicked, kept between its neighbours.
GradeClass nextGradeClass(const GradeRow& row, int index) {
    if (index <= 0)
        return GradeClass::Good;
    if (index >= 4)
        return GradeClass::Poor;
    const int better = int(row[size_t(index - 1)]), worse = int(row[size_t(index + 1)]);
    if (better == worse)
        return GradeClass(better);
    const int next = int(row[size_t(index)]) - 1;
    return GradeClass(next < worse || next > better ? better : next);
}

QString verenable(int row) {
    return QStringLiteral("VERENABLE ") + QLatin1String(kDpmRowNames[row].keyword);
}

// The parameter of a grade row (0 the global range, 1 to 10 the DPM rows) and the field of
// its worst Good grade; the worst Fair grade is the next field.
QString rowParameter(int row) {
    return row == 0 ? kVerStatus : verenable(row - 1);
}
int rowField(int row) {
    return row == 0 ? 0 : 1;
}

QString aliasName(int channel) {
    return QStringLiteral("XLIGHTCHANNEL_%1_ALIASNAME").arg(channel);
}

quint32 hexMask(QString text) {
    text.remove(QStringLiteral("0x"), Qt::CaseInsensitive);
    return text.trimmed().toUInt(nullptr, 16);
}

} // namespace

Symbology::Symbology(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent, ConnectionKind::Reader) {
    setWindowTitle(QStringLiteral("(no camera) - Symbology / Verification"));
    m_update.setSingleShot(true);
    m_update.setInterval(kUncalibratedReloadMs);
    connect(&m_update, &QTimer::timeout, this, &Symbology::reload);
    runCalibration = [this] {
        vm::verification::dlgCalibrate dialog(this);
        if (dialog.hasControl())
            vm::app::runDialog(dialog);
    };
    buildControls();
    connect(connection(), &vm::link::Connection::OnNewRecord, this, &Symbology::recordArrived);
    connect(this, &SettingsWindow::applied, this, &Symbology::standardApplied);
    ensureLoaded();
}

vm::app::WindowEntry Symbology::windowEntry() {
    return settingsMenuWindow<Symbology>(WindowName, 2040, "mnuSymbology", vm::res::Str(204));
}

void Symbology::buildControls() {
    auto* layout = new QGridLayout(this);

    auto* symbols = new QGroupBox(vm::res::Str(20160), this);
    symbols->setObjectName(QStringLiteral("frmBarcodes"));
    auto* symbolsLayout = new QVBoxLayout(symbols);
    auto* matrix = new QCheckBox(vm::res::Str(20161), symbols);
    matrix->setObjectName(QStringLiteral("EnableMatrix"));
    auto* barcodes = new QCheckBox(vm::res::Str(20162), symbols);
    barcodes->setObjectName(QStringLiteral("EnableBarcodes"));
    m_barcodes = new QListWidget(symbols);
    m_barcodes->setObjectName(QStringLiteral("Barcodes"));
    m_barcodes->setAccessibleName(vm::res::Str(20163));
    symbolsLayout->addWidget(matrix);
    symbolsLayout->addWidget(barcodes);
    symbolsLayout->addWidget(m_barcodes);
    layout->addWidget(symbols, 0, 0, 3, 1);
    bindCheck(matrix, kNumDm, 0, QStringLiteral("1"), QStringLiteral("0"));
    bindCheck(barcodes, kNumBc, 0, QStringLiteral("1"), QStringLiteral("0"));
    declare(m_barcodes, kBarcodeEnable);
    connect(m_barcodes, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (updating())
            return;
        const quint32 bit = 1u << m_barcodes->row(item);
        const quint32 mask = hexMask(text(kBarcodeEnable, 0));
        put(kBarcodeEnable, 0,
            QStringLiteral("0x") +
                QString::number(item->checkState() == Qt::Checked ? (mask | bit) : (mask & ~bit), 16)
                    .toUpper());
        changed();
    });

    m_verificationFrame = new QGroupBox(vm::res::Str(20164), this);
    m_verificationFrame->setObjectName(QStringLiteral("frmVerification"));
    auto* verificationLayout = new QVBoxLayout(m_verificationFrame);
    auto* standards = new QButtonGroup(this);
    for (int i = 0; i < int(m_verification.size()); ++i) {
        m_verification[size_t(i)] =
            new QRadioButton(QLatin1String(kStandards[i].caption), m_verificationFrame);
        m_verification[size_t(i)]->setObjectName(QStringLiteral("Verification%1").arg(i));
        standards->addButton(m_verification[size_t(i)], i);
        verificationLayout->addWidget(m_verification[size_t(i)]);
        declare(m_verification[size_t(i)], kVerify);
    }
    connect(standards, &QButtonGroup::idClicked, this, &Symbology::standardChosen);
    layout->addWidget(m_verificationFrame, 0, 1);

    m_qualityFrame = new QGroupBox(vm::res::Str(20165), this);
    m_qualityFrame->setObjectName(QStringLiteral("QualityRangeFrame"));
    auto* qualityLayout = new QVBoxLayout(m_qualityFrame);
    auto* legend = new QHBoxLayout;
    struct Legend {
        const char* name;
        int caption;
        GradeClass grade;
    };
    for (const Legend& entry :
         {Legend{"GoodLabel", 2006, GradeClass::Good}, Legend{"FairLabel", 2007, GradeClass::Fair},
          Legend{"PoorLabel", 2008, GradeClass::Poor}}) {
        auto* label = new QLabel(vm::res::Str(entry.caption), m_qualityFrame);
        label->setObjectName(QLatin1String(entry.name));
        label->setAutoFillBackground(true);
        QPalette p = label->palette();
        p.setColor(QPalette::Window, classColour(entry.grade));
        p.setColor(QPalette::WindowText, Qt::black);
        label->setPalette(p);
        legend->addWidget(label);
    }
    qualityLayout->addLayout(legend);
    qualityLayout->addWidget(buildGradeRow(m_qualityFrame, 0, nullptr));
    layout->addWidget(m_qualityFrame, 1, 1);

    m_dpmFrame = new QGroupBox(vm::res::Str(20166), this);
    m_dpmFrame->setObjectName(QStringLiteral("DPMFrame"));
    auto* dpmLayout = new QVBoxLayout(m_dpmFrame);
    for (int r = 1; r <= kDpmRows; ++r) {
        auto* check = new QCheckBox(QLatin1String(kDpmRowNames[r - 1].caption), m_dpmFrame);
        check->setObjectName(QStringLiteral("VerenableCheck%1").arg(r - 1));
        m_verenable[size_t(r - 1)] = check;
        declare(check, verenable(r - 1));
        connect(check, &QCheckBox::toggled, this, [this, r](bool on) {
            if (updating())
                return;
            put(verenable(r - 1), 0, on ? QStringLiteral("Y") : QStringLiteral("N"));
            changed();
        });
        dpmLayout->addWidget(buildGradeRow(m_dpmFrame, r, check));
    }
    layout->addWidget(m_dpmFrame, 0, 2, 3, 1);

    buildLights(layout);

    auto* bottom = new QHBoxLayout;
    m_calibrate = new QPushButton(vm::res::Str(20172), this);
    m_calibrate->setObjectName(QStringLiteral("CalibrateButton"));
    connect(m_calibrate, &QPushButton::clicked, this, &Symbology::calibrate);
    m_calibrateStatus = new QLabel(this);
    m_calibrateStatus->setObjectName(QStringLiteral("lblCalibrateStatus"));
    m_calibrateStatus->setFocusPolicy(Qt::StrongFocus);
    m_calibrateStatus->setAccessibleName(vm::res::Str(20173));
    bottom->addWidget(m_calibrate);
    bottom->addWidget(m_calibrateStatus, 1);
    bottom->addWidget(buttonBox());
    layout->addLayout(bottom, 3, 0, 1, 3);
    setButtonNames(QStringLiteral("OK"), QStringLiteral("Cancel"), QStringLiteral("Apply"));

    m_dpmFrame->hide();
    m_qualityFrame->hide();
}

// The three light frames: one shows, by the reader's external channel count.
void Symbology::buildLights(QGridLayout* layout) {
    std::array<QLineEdit*, 2> alias{}, wavelength{};
    std::array<QLabel*, 2> aliasLabel{}, wavelengthLabel{};
    auto boxes = [&](int channel, QGroupBox* frame, QGridLayout* grid, int row) {
        alias[size_t(channel)] = namedBox(channel == 0 ? "AliasName0" : "AliasName1", frame);
        wavelength[size_t(channel)] = namedBox(channel == 0 ? "Wavelength0" : "Wavelength1", frame);
        aliasLabel[size_t(channel)] =
            labelFor(alias[size_t(channel)], vm::res::Str(channel == 0 ? 20168 : 20170), frame);
        grid->addWidget(aliasLabel[size_t(channel)], row, 0);
        grid->addWidget(alias[size_t(channel)], row, 1);
        wavelengthLabel[size_t(channel)] =
            labelFor(wavelength[size_t(channel)], vm::res::Str(channel == 0 ? 20169 : 20171), frame);
        grid->addWidget(wavelengthLabel[size_t(channel)], row + 1, 0);
        grid->addWidget(wavelength[size_t(channel)], row + 1, 1);
    };
    m_light0Frame = new QGroupBox(vm::res::Str(20167), this);
    m_light0Frame->setObjectName(QStringLiteral("XLight0Frame"));
    boxes(0, m_light0Frame, new QGridLayout(m_light0Frame), 0);

    m_light1Frame = new QGroupBox(vm::res::Str(20167), this);
    m_light1Frame->setObjectName(QStringLiteral("XLight1Frame"));
    auto* light1 = new QGridLayout(m_light1Frame);
    for (int i = 0; i < 2; ++i) {
        m_light1[size_t(i)] =
            new QRadioButton(i == 0 ? QStringLiteral("OFF") : QStringLiteral("ON"), m_light1Frame);
        m_light1[size_t(i)]->setObjectName(QStringLiteral("Light1Option%1").arg(i));
        light1->addWidget(m_light1[size_t(i)], 0, i);
    }
    boxes(1, m_light1Frame, light1, 1);

    m_light10Frame = new QGroupBox(vm::res::Str(20167), this);
    m_light10Frame->setObjectName(QStringLiteral("XLight10Frame"));
    auto* light10 = new QGridLayout(m_light10Frame);
    for (int i = 0; i < int(m_light10.size()); ++i) {
        // The dome light's option has no caption; its name stays for screen readers.
        m_light10[size_t(i)] = new QRadioButton(i == 2 ? QString() : kLightKeywords[i], m_light10Frame);
        m_light10[size_t(i)]->setObjectName(QStringLiteral("Light10Option%1").arg(i));
        m_light10[size_t(i)]->setAccessibleName(kLightKeywords[i]);
        light10->addWidget(m_light10[size_t(i)], i / 4, i % 4);
    }

    // Operator choices, also those the program makes (the calibration's light check).
    auto options = [this](QRadioButton* option, int index) {
        declare(option, kLight).fromLevel(level::LightControl);
        m_lightControls << option;
        connect(option, &QRadioButton::toggled, this, [this, index](bool on) {
            if (on && !updating())
                lightChosen(index);
        });
    };
    for (int i = 0; i < 2; ++i)
        options(m_light1[size_t(i)], i);
    for (int i = 0; i < int(m_light10.size()); ++i)
        options(m_light10[size_t(i)], i);
    for (int channel : {0, 1}) {
        QLineEdit* box = wavelength[size_t(channel)];
        box->setMaxLength(4);
        box->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
        // Held to 280..880 nm without a message.
        bindNumber(box, kWavelength, 0, 280, 880)
            .fromLevel(level::LightControl)
            .withLabels({wavelengthLabel[size_t(channel)]});

        box = alias[size_t(channel)];
        box->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9]*")), box));
        connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
            if (text != text.toUpper()) {
                const int at = box->cursorPosition();
                box->setText(text.toUpper());
                box->setCursorPosition(at);
            }
        });
        // Cleaned before the base takes the name (connected first): upper case, at most 11
        // of A-Z, 0-9, "-" and "_"; an empty name is the channel's own.
        connect(box, &QLineEdit::editingFinished, this, [this, box, channel] {
            if (updating())
                return;
            QString name = box->text().toUpper().left(11);
            name.remove(QRegularExpression(QStringLiteral("[^A-Z0-9_-]")));
            if (box->text().isEmpty())
                name = channel == 0 ? QStringLiteral("INTERNAL") : QStringLiteral("90");
            if (name != box->text())
                box->setText(name);
        });
        bindText(box, aliasName(channel), 0, Quotes::Pair, 9)
            .fromLevel(level::LightControl)
            .withLabels({aliasLabel[size_t(channel)]});
        m_lightControls << wavelength[size_t(channel)] << box;
    }

    auto* lights = new QVBoxLayout;
    lights->addWidget(m_light0Frame);
    lights->addWidget(m_light1Frame);
    lights->addWidget(m_light10Frame);
    layout->addLayout(lights, 2, 1);
    m_light0Frame->hide();
    m_light1Frame->hide();
    m_light10Frame->hide();
}

QGroupBox* Symbology::buildGradeRow(QGroupBox* frame, int row, QCheckBox* check) {
    auto* box = new QGroupBox(frame);
    box->setFlat(true);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(0, 0, 0, 0);
    if (check)
        line->addWidget(check, 1);
    static const char* letters[] = {"A", "B", "C", "D", "F"};
    for (int i = 0; i < 5; ++i) {
        auto* button = new QPushButton(QLatin1String(letters[i]), box);
        const int index = 5 * row + i;
        button->setObjectName(QStringLiteral("GradeCommand%1").arg(index));
        button->setAccessibleName((check ? check->text() : vm::res::Str(20165)) + QLatin1Char(' ') +
                                  QLatin1String(letters[i]));
        button->setFixedWidth(28);
        button->setAutoFillBackground(true);
        m_gradeButtons[size_t(index)] = button;
        declare(button, rowParameter(row));
        connect(button, &QPushButton::clicked, this, [this, row, i] { gradeClicked(row, i); });
        line->addWidget(button);
    }
    return box;
}

void Symbology::changed() {
    writeForStandard();
    markModified();
}

// A grading standard clears the reader's image preprocessing, and AIM DPM needs its light
// on; written with every change and again before an apply.
void Symbology::writeForStandard() {
    if (vm::app::firmwareLevel() < level::Calibration)
        return;
    const QString chosen = standard();
    if (chosen == QLatin1String("AIMDPM"))
        put(kIllum, 0, QStringLiteral("ON"));
    if (vm::app::VerificationStandardCode(chosen) > 0) {
        put(QStringLiteral("MORPH"), 0, QStringLiteral("NONE"));
        put(QStringLiteral("NEGATIVE"), 0, QStringLiteral("OFF"));
    }
}

// Only a field that changes goes into the set, so that an operator's click that changes
// nothing sends nothing; what the reader did not answer is never written.
void Symbology::put(const QString& name, int field, const QString& value) {
    if (!wasRead(name))
        return;
    vm::link::Parameter& p = parameters().GetParameter(name);
    if (p.Field(field) != value)
        p.SetField(field, value);
}

QString Symbology::text(const QString& name, int field) {
    const vm::link::Parameter* p = parameters().Find(name);
    return p ? p->Field(field) : QString();
}

// Whether a refresh shows what the set holds for the parameter: what the reader did not
// answer keeps what its controls showed.
bool Symbology::shows(const QString& name) {
    return wasRead(name) || !isConnected();
}

int Symbology::channels() {
    return text(kChannels, 0).toInt();
}

// The standard the reader grades by, under the names of the options: older readers call
// DPM "KVTA" and AIM DPM "ISOAIM".
QString Symbology::standard() {
    const int fw = vm::app::firmwareLevel();
    const QString held = text(kVerify, 0).toUpper();
    if (held.isEmpty())
        return QStringLiteral("NONE");
    if (fw < level::DpmStandardName && held == QLatin1String("KVTA"))
        return QStringLiteral("DPM");
    if (fw < level::AimDpmStandardName && held == QLatin1String("ISOAIM"))
        return QStringLiteral("AIMDPM");
    return held;
}

void Symbology::sendNow(const QString& command) {
    if (isConnected())
        connection()->SendCommand(command, 500);
}

QStringList Symbology::reloadOn() const {
    return {QLatin1String(vm::link::broadcast::Unlearn), QLatin1String(vm::link::broadcast::UpdateBarcodes)};
}

void Symbology::broadcastReceived(const QString& message, const QString&) {
    if (message == QLatin1String(vm::link::broadcast::Uncalibrated))
        m_update.start();
}

QStringList Symbology::broadcastsAfterApply() const {
    namespace b = vm::link::broadcast;
    if (vm::app::firmwareLevel() >= level::Calibration)
        return {b::UpdateBarcodes, b::UpdatePhoto, b::UpdateAppMode, b::UpdateDropWhenBusy};
    return {b::UpdateBarcodes};
}

void Symbology::loadParameters() {
    if (!isConnected())
        return;
    const int fw = vm::app::firmwareLevel();
    for (const QString& name : {kNumDm, kNumBc, kBarcodeEnable, kVerify})
        load(name);
    vm::app::setVerificationStandard(vm::app::VerificationStandardCode(standard()));

    if (fw >= level::LightControl) {
        load(kChannels);
        load(kLight);
        const QString light = text(kLight, 0).toUpper();
        if (kLightKeywords.contains(light))
            m_lightIndex = int(kLightKeywords.indexOf(light));
        for (const QString& name : {kWavelength, aliasName(0), aliasName(1)})
            load(name);
        if (fw >= level::Calibration)
            for (const QString& name : {kIllum, QStringLiteral("MORPH"), QStringLiteral("NEGATIVE")})
                load(name);
        if (channels() == 0 && light != QLatin1String("OFF"))
            sendNow(QStringLiteral("LIGHT_CTL OFF"));
        if (channels() == 1 && (fw < level::Calibration || text(kIllum, 0).toUpper() != QLatin1String("OFF")))
            sendNow(QStringLiteral("ILLUM OFF"));
    }

    const bool on = standard() != QLatin1String("NONE");
    vm::app::setVerificationEnabled(on);
    load(kVerStatus);
    connection()->BroadcastMessage(QLatin1String(WindowName),
                                   QLatin1String(fw >= level::Verification && on
                                                     ? vm::link::broadcast::VerificationOn
                                                     : vm::link::broadcast::VerificationOff),
                                   QString());
    if (standard() == QLatin1String("DPM"))
        loadDpmRows();
    if (fw >= level::Calibration)
        showCalibrationStatus();
}

// The ten rows are read only while the standard is DPM.
void Symbology::loadDpmRows() {
    for (int r = 0; r < kDpmRows; ++r)
        load(verenable(r));
}

void Symbology::refresh() {
    const int fw = vm::app::firmwareLevel();
    if (vm::link::Device* device = connection()->Device(); device && isConnected())
        setWindowTitle(device->Name() + QStringLiteral(" - Symbology / Verification"));
    const int items = fw >= level::Verification ? int(std::size(kBarcodeNames)) : kEarlyBarcodes;
    if (m_barcodes->count() != items) {
        m_barcodes->clear();
        for (int i = 0; i < items; ++i)
            m_barcodes->addItem(QLatin1String(kBarcodeNames[i]));
    }
    const quint32 mask = hexMask(text(kBarcodeEnable, 0));
    for (int i = 0; i < m_barcodes->count(); ++i) {
        QListWidgetItem* item = m_barcodes->item(i);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        if (shows(kBarcodeEnable))
            item->setCheckState(mask & (1u << i) ? Qt::Checked : Qt::Unchecked);
    }

    // Verification belongs to readers that grade.
    const QString chosen = standard();
    m_verificationFrame->setVisible(fw >= level::Verification);
    m_verification[6]->setText(fw >= level::LightControl ? QStringLiteral("AIM DPM-1-2006")
                                                         : QStringLiteral("ISO-AIM E Verification"));
    int option = 0;
    for (int i = 1; i < int(std::size(kStandards)); ++i)
        if (chosen == QLatin1String(kStandards[i].keyword))
            option = i;
    if (shows(kVerify))
        m_verification[size_t(option)]->setChecked(true);
    m_qualityFrame->setVisible(fw >= level::Verification);
    m_dpmFrame->setVisible(fw >= level::Verification && chosen == QLatin1String("DPM"));
    for (int row = 0; row <= kDpmRows; ++row) {
        if (!shows(rowParameter(row)))
            continue;
        paintRow(row);
        if (row > 0)
            m_verenable[size_t(row - 1)]->setChecked(text(rowParameter(row), 0).toUpper() !=
                                                     QLatin1String("N"));
    }

    const bool lights = fw >= level::LightControl;
    m_light0Frame->setVisible(lights && channels() == 0);
    m_light1Frame->setVisible(lights && channels() == 1);
    m_light10Frame->setVisible(lights && channels() == 10);
    m_light1[m_lightIndex == 1 ? 1 : 0]->setChecked(true);
    m_light10[size_t(std::clamp(m_lightIndex, 0, 10))]->setChecked(true);
    m_calibrate->setVisible(fw >= level::Calibration);
    m_calibrateStatus->setVisible(fw >= level::Calibration);
}

void Symbology::paintRow(int row) {
    const QString name = rowParameter(row);
    const int field = rowField(row);
    const GradeRow classes = gradeClasses(text(name, field) + QLatin1Char(' ') + text(name, field + 1));
    for (int i = 0; i < 5; ++i) {
        QPushButton* button = m_gradeButtons[size_t(5 * row + i)];
        QPalette p = button->palette();
        p.setColor(QPalette::Button, classColour(classes[size_t(i)]));
        p.setColor(QPalette::ButtonText, Qt::black);
        button->setPalette(p);
        button->setProperty("gradeClass", int(classes[size_t(i)]));
    }
}

// The lights are set up without programming control (only Apply needs it): enabled while
// what they show was read.
void Symbology::applyControlState(bool) {
    for (const Declared* d : declaredControls())
        if (m_lightControls.contains(d->control()))
            d->control()->setEnabled(!isConnected() || wasRead(d->parameter()));
}

void Symbology::gradeClicked(int row, int index) {
    const QString name = rowParameter(row);
    const int field = rowField(row);
    GradeRow classes = gradeClasses(text(name, field) + QLatin1Char(' ') + text(name, field + 1));
    classes[size_t(index)] = nextGradeClass(classes, index);
    const QStringList range = gradeRange(classes).split(QLatin1Char(' '));
    put(name, field, range[0]);
    put(name, field + 1, range[1]);
    paintRow(row);
    changed();
}

void Symbology::lightChosen(int index) {
    m_lightIndex = index;
    put(kLight, 0, kLightKeywords[index]);
    changed();
}

void Symbology::standardChosen(int index) {
    if (updating())
        return;
    const int fw = vm::app::firmwareLevel();
    if (index == 6 && fw >= level::Calibration && standard() != QLatin1String("AIMDPM") && channels() < 10 &&
        !confirmAimDpm()) {
        // Refused: the previous standard stays, and nothing else changes.
        refreshDisplay();
        return;
    }
    if (index == 4)
        loadDpmRows();
    QString chosen = QLatin1String(kStandards[index].keyword);
    if (fw < level::DpmStandardName && chosen == QLatin1String("DPM"))
        chosen = QStringLiteral("KVTA");
    if (fw < level::AimDpmStandardName && chosen == QLatin1String("AIMDPM"))
        chosen = QStringLiteral("ISOAIM");
    put(kVerify, 0, chosen);
    changed();
    refreshDisplay();
}

// The AIM DPM set-up, shown modally without its light choice; true when the operator agreed.
bool Symbology::confirmAimDpm() {
    vm::verification::dlgAIMDPMCompliance dialog(this);
    dialog.HideLightFrame(true);
    vm::app::runDialog(dialog);
    return dialog.confirmed();
}

bool Symbology::writeControls() {
    writeForStandard();
    return true;
}

// The program-wide standard is the one the reader grades by: a chosen standard becomes it
// once the reader took it, not when it is chosen or refused.
void Symbology::standardApplied() {
    if (vm::app::firmwareLevel() < level::LightControl || !wasRead(kVerify))
        return;
    const vm::link::Parameter* verify = parameters().Find(kVerify);
    if (verify && !verify->Modified())
        vm::app::setVerificationStandard(vm::app::VerificationStandardCode(standard()));
}

void Symbology::showCalibrationStatus() {
    const QString state =
        connection()->Query(QStringLiteral("CALIBRATED"), 500).section(QLatin1Char(' '), 1, 1);
    if (state == QLatin1String("FALSE")) {
        m_calibrateStatus->setText(QStringLiteral("Not Calibrated"));
        vm::app::setCalibrationText(QStringLiteral("Not Calibrated"));
        return;
    }
    const QString reply = connection()->Query(QStringLiteral("CALIBRATED_STRING"), 500);
    const QString stored = reply.mid(int(qstrlen("CALIBRATED_STRING ")));
    const QString text = QStringLiteral("Calibrated : ") + stored.mid(1, stored.size() - 2);
    m_calibrateStatus->setText(text);
    vm::app::setCalibrationText(text);
}

void Symbology::calibrate() {
    if (!isConnected()) {
        showMessage(this, QStringLiteral("Must be connected to a camera in order to perform calibration"),
                    PromptButtons::Ok, PromptIcon::Exclamation);
        return;
    }
    if (channels() == 1 && m_light1[0]->isChecked()) {
        showMessage(this, QStringLiteral("Calibration cannot be done with this lighting type OFF"),
                    PromptButtons::Ok, PromptIcon::Information,
                    QStringLiteral("Calibration requires lighting to be ON"));
        return;
    }
    m_busy = true;
    auto word = [this](const QString& name) {
        return connection()->Query(name, 500).section(QLatin1Char(' '), 1, 1);
    };
    const bool trig = word(QStringLiteral("TRIG")) == QLatin1String("C");
    if (trig)
        sendNow(QStringLiteral("TRIG T"));
    const bool numbc = word(kNumBc) == QLatin1String("1");
    if (numbc)
        sendNow(QStringLiteral("NUMBC 0"));
    const bool numdm = word(kNumDm) == QLatin1String("0");
    if (numdm)
        sendNow(QStringLiteral("NUMDM 1"));
    const QString verify = word(kVerify);
    const bool changedVerify = verify == QLatin1String("NONE") || verify == QLatin1String("ANSI");
    if (changedVerify)
        sendNow(QStringLiteral("VERIFY AIM"));

    if (vm::app::firmwareLevel() < level::Calibration) {
        showMessage(this, QStringLiteral("Unable to calibrate this version of Lumivex firmware"),
                    PromptButtons::Ok, PromptIcon::Exclamation, QStringLiteral("Upgrade Firmware"));
    } else {
        if (isModified() &&
            showMessage(this,
                        QStringLiteral("Do you wish to apply the current changes before calibrating?\r\n"
                                       "Note: Uncommitted changes may be lost!"),
                        PromptButtons::YesNo, PromptIcon::Question) == PromptAnswer::Yes)
            apply();
        hide();
        runCalibration();
        show();
    }
    if (changedVerify)
        sendNow(QStringLiteral("VERIFY ") + verify);
    if (numdm)
        sendNow(QStringLiteral("NUMDM 0"));
    if (numbc)
        sendNow(QStringLiteral("NUMBC 1"));
    if (trig)
        sendNow(QStringLiteral("TRIG C"));
    m_busy = false;
    reload();
}

void Symbology::recordArrived(const vm::link::Record& record) {
    if (m_busy || !record.HasLearnStatus() || record.Result().StatusText().endsWith(QLatin1String("Overrun")))
        return;
    reload();
}

} // namespace vm::settings
