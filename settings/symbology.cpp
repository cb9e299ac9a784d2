#include "settings/symbology.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/parameterset.h"
#include "link/record.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "verification/dlgaimdpmcompliance.h"
#include "verification/dlgcalibrate.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
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

QString unquote(QString text) {
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

QString verenable(int row) {
    return QStringLiteral("VERENABLE ") + QLatin1String(kDpmRowNames[row].keyword);
}

quint32 hexMask(QString text) {
    text.remove(QStringLiteral("0x"), Qt::CaseInsensitive);
    return text.trimmed().toUInt(nullptr, 16);
}

} // namespace

QString gradeRange(const std::array<GradeClass, 5>& row) {
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

std::array<GradeClass, 5> gradeClasses(const QString& range) {
    const QStringList parts = range.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    auto index = [](const QString& letter) {
        const int i = QStringLiteral("ABCD").indexOf(letter.trimmed().toUpper());
        return i < 0 ? 0 : i;
    };
    const int good = index(parts.value(0)), fair = std::max(good, index(parts.value(1)));
    std::array<GradeClass, 5> row{GradeClass::Good, GradeClass::Poor, GradeClass::Poor, GradeClass::Poor,
                                  GradeClass::Poor};
    for (int i = 1; i <= 3; ++i)
        row[size_t(i)] = i <= good ? GradeClass::Good : i <= fair ? GradeClass::Fair : GradeClass::Poor;
    return row;
}

GradeClass nextGradeClass(const std::array<GradeClass, 5>& row, int index) {
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

QString barcodeSummary(quint32 mask) {
    static const char* names[] = {"128",      "Code 39 ", "Code 93 ", "Code 2 of 5 ",
                                  "Codabar ", "UPC EN8 ", "UPC E ",   "UPS Supplemental ",
                                  "PDF417 ",  "BC412 ",   "Postnet ", "Pharma "};
    QString name;
    int count = 0;
    for (int bit = 0; bit < 12; ++bit)
        if (mask & (1u << bit)) {
            name = QLatin1String(names[bit]);
            ++count;
        }
    return count > 1 ? QStringLiteral("MULTIPLE") : name;
}

QString barcodeSummary(vm::link::Connection& connection) {
    vm::link::ParameterSet set;
    set.Load(connection.Response(), QStringLiteral("BARCODE ENABLE"));
    return barcodeSummary(hexMask(set.GetParameter(QStringLiteral("BARCODE ENABLE")).Field(0)));
}

Symbology::Symbology(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::OkApply, parent, ConnectionKind::Reader) {
    setWindowTitle(QStringLiteral("(no camera) - Symbology / Verification"));
    for (auto& row : m_grades)
        row = gradeClasses(QStringLiteral("B C"));
    m_update.setSingleShot(true);
    m_update.setInterval(kUncalibratedReloadMs);
    connect(&m_update, &QTimer::timeout, this, &Symbology::reload);
    confirmAimDpm = [this](bool hide, QString* light) {
        vm::verification::dlgAIMDPMCompliance dialog(this);
        dialog.HideLightFrame(hide);
        dialog.exec();
        *light = dialog.chosenLight();
        return dialog.confirmed();
    };
    runCalibration = [this] {
        vm::verification::dlgCalibrate dialog(this);
        if (dialog.hasControl())
            dialog.exec();
    };
    buildControls();
    connect(connection(), &vm::link::Connection::OnNewRecord, this, &Symbology::recordArrived);
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
    m_enableMatrix = new QCheckBox(vm::res::Str(20161), symbols);
    m_enableMatrix->setObjectName(QStringLiteral("EnableMatrix"));
    m_enableBarcodes = new QCheckBox(vm::res::Str(20162), symbols);
    m_enableBarcodes->setObjectName(QStringLiteral("EnableBarcodes"));
    m_barcodes = new QListWidget(symbols);
    m_barcodes->setObjectName(QStringLiteral("Barcodes"));
    m_barcodes->setAccessibleName(vm::res::Str(20163));
    symbolsLayout->addWidget(m_enableMatrix);
    symbolsLayout->addWidget(m_enableBarcodes);
    symbolsLayout->addWidget(m_barcodes);
    layout->addWidget(symbols, 0, 0, 3, 1);

    connect(m_enableMatrix, &QCheckBox::toggled, this, [this](bool on) {
        if (updating())
            return;
        m_matrixEnable = on ? 1 : 0;
        changed();
    });
    connect(m_enableBarcodes, &QCheckBox::toggled, this, [this](bool on) {
        if (updating())
            return;
        m_barcodeEnable = on ? 1 : 0;
        changed();
    });
    connect(m_barcodes, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (updating())
            return;
        const quint32 bit = 1u << m_barcodes->row(item);
        m_mask = item->checkState() == Qt::Checked ? (m_mask | bit) : (m_mask & ~bit);
        changed();
    });

    m_verificationFrame = new QGroupBox(vm::res::Str(20164), this);
    m_verificationFrame->setObjectName(QStringLiteral("frmVerification"));
    auto* verificationLayout = new QVBoxLayout(m_verificationFrame);
    m_verificationGroup = new QButtonGroup(this);
    for (int i = 0; i < int(m_verification.size()); ++i) {
        m_verification[size_t(i)] =
            new QRadioButton(QLatin1String(kStandards[i].caption), m_verificationFrame);
        m_verification[size_t(i)]->setObjectName(QStringLiteral("Verification%1").arg(i));
        m_verificationGroup->addButton(m_verification[size_t(i)], i);
        verificationLayout->addWidget(m_verification[size_t(i)]);
    }
    connect(m_verificationGroup, &QButtonGroup::idClicked, this, &Symbology::standardChosen);
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
        connect(check, &QCheckBox::toggled, this, [this] {
            if (!updating())
                changed();
        });
        dpmLayout->addWidget(buildGradeRow(m_dpmFrame, r, check));
    }
    layout->addWidget(m_dpmFrame, 0, 2, 3, 1);

    // The three light frames: one shows, by the reader's external channel count.
    m_light0Frame = new QGroupBox(vm::res::Str(20167), this);
    m_light0Frame->setObjectName(QStringLiteral("XLight0Frame"));
    auto* light0 = new QGridLayout(m_light0Frame);
    m_alias0 = new QLineEdit(m_light0Frame);
    m_alias0->setObjectName(QStringLiteral("AliasName0"));
    m_wavelength0 = new QLineEdit(m_light0Frame);
    m_wavelength0->setObjectName(QStringLiteral("Wavelength0"));
    light0->addWidget(labelFor(m_alias0, vm::res::Str(20168), m_light0Frame), 0, 0);
    light0->addWidget(m_alias0, 0, 1);
    light0->addWidget(labelFor(m_wavelength0, vm::res::Str(20169), m_light0Frame), 1, 0);
    light0->addWidget(m_wavelength0, 1, 1);

    m_light1Frame = new QGroupBox(vm::res::Str(20167), this);
    m_light1Frame->setObjectName(QStringLiteral("XLight1Frame"));
    auto* light1 = new QGridLayout(m_light1Frame);
    m_light1[0] = new QRadioButton(QStringLiteral("OFF"), m_light1Frame);
    m_light1[1] = new QRadioButton(QStringLiteral("ON"), m_light1Frame);
    for (int i = 0; i < 2; ++i) {
        m_light1[size_t(i)]->setObjectName(QStringLiteral("Light1Option%1").arg(i));
        light1->addWidget(m_light1[size_t(i)], 0, i);
        connect(m_light1[size_t(i)], &QRadioButton::toggled, this, [this](bool on) {
            if (on && !updating())
                changed();
        });
    }
    m_alias1 = new QLineEdit(m_light1Frame);
    m_alias1->setObjectName(QStringLiteral("AliasName1"));
    m_wavelength1 = new QLineEdit(m_light1Frame);
    m_wavelength1->setObjectName(QStringLiteral("Wavelength1"));
    light1->addWidget(labelFor(m_alias1, vm::res::Str(20170), m_light1Frame), 1, 0);
    light1->addWidget(m_alias1, 1, 1);
    light1->addWidget(labelFor(m_wavelength1, vm::res::Str(20171), m_light1Frame), 2, 0);
    light1->addWidget(m_wavelength1, 2, 1);

    m_light10Frame = new QGroupBox(vm::res::Str(20167), this);
    m_light10Frame->setObjectName(QStringLiteral("XLight10Frame"));
    auto* light10 = new QGridLayout(m_light10Frame);
    for (int i = 0; i < int(m_light10.size()); ++i) {
        // The dome light's option has no caption; its name stays for screen readers.
        m_light10[size_t(i)] = new QRadioButton(i == 2 ? QString() : kLightKeywords[i], m_light10Frame);
        m_light10[size_t(i)]->setObjectName(QStringLiteral("Light10Option%1").arg(i));
        m_light10[size_t(i)]->setAccessibleName(kLightKeywords[i]);
        light10->addWidget(m_light10[size_t(i)], i / 4, i % 4);
        connect(m_light10[size_t(i)], &QRadioButton::toggled, this, [this, i](bool on) {
            if (!on || updating())
                return;
            m_lightIndex = i;
            changed();
        });
    }

    for (QLineEdit* box : {m_wavelength0, m_wavelength1}) {
        box->setMaxLength(4);
        box->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), box));
        connect(box, &QLineEdit::editingFinished, this, [this, box] { wavelengthLeft(box); });
    }
    for (QLineEdit* box : {m_alias0, m_alias1}) {
        box->setMaxLength(9);
        box->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[A-Za-z0-9]*")), box));
        connect(box, &QLineEdit::textEdited, box, [box](const QString& text) {
            if (text != text.toUpper()) {
                const int at = box->cursorPosition();
                box->setText(text.toUpper());
                box->setCursorPosition(at);
            }
        });
        connect(box, &QLineEdit::editingFinished, this,
                [this, box] { aliasLeft(box, box == m_alias0 ? 0 : 1); });
    }
    auto* lights = new QVBoxLayout;
    lights->addWidget(m_light0Frame);
    lights->addWidget(m_light1Frame);
    lights->addWidget(m_light10Frame);
    layout->addLayout(lights, 2, 1);

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

    m_light0Frame->hide();
    m_light1Frame->hide();
    m_light10Frame->hide();
    m_dpmFrame->hide();
    m_qualityFrame->hide();
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
        connect(button, &QPushButton::clicked, this, [this, row, i] { gradeClicked(row, i); });
        line->addWidget(button);
    }
    return box;
}

void Symbology::changed() {
    // The dialog keeps its choices in its own state; the set holds them at once so that
    // OK and Apply know there is something to send.
    writeControls();
    markModified();
}

QString Symbology::text(const QString& name, int field) {
    const vm::link::Parameter* p = parameters().Find(name);
    return p ? p->Field(field) : QString();
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
    load(QStringLiteral("NUMDM"));
    load(QStringLiteral("NUMBC"));
    load(QStringLiteral("BARCODE ENABLE"));
    m_mask = hexMask(text(QStringLiteral("BARCODE ENABLE"), 0));
    m_barcodeEnable = text(QStringLiteral("NUMBC"), 0).toInt();
    m_matrixEnable = text(QStringLiteral("NUMDM"), 0).toInt();

    load(QStringLiteral("VERIFY"));
    m_standard = text(QStringLiteral("VERIFY"), 0).toUpper();
    vm::app::setVerificationStandard(vm::app::VerificationStandardCode(m_standard));
    if (fw < level::DpmStandardName && m_standard == QLatin1String("KVTA"))
        m_standard = QStringLiteral("DPM");
    if (fw < level::AimDpmStandardName && m_standard == QLatin1String("ISOAIM"))
        m_standard = QStringLiteral("AIMDPM");
    m_previousStandard = m_standard;

    m_channels = 0;
    if (fw >= level::LightControl) {
        load(QStringLiteral("XLIGHTCHANNELS"));
        m_channels = text(QStringLiteral("XLIGHTCHANNELS"), 0).toInt();
        load(QStringLiteral("LIGHT_CTL"));
        const QString light = text(QStringLiteral("LIGHT_CTL"), 0).toUpper();
        if (kLightKeywords.contains(light))
            m_lightIndex = int(kLightKeywords.indexOf(light));
        for (const char* name : {"WAVELENGTH", "XLIGHTCHANNEL_0_ALIASNAME", "XLIGHTCHANNEL_1_ALIASNAME"})
            load(QLatin1String(name));
        if (fw >= level::Calibration)
            for (const char* name : {"ILLUM", "MORPH", "NEGATIVE"})
                load(QLatin1String(name));
        if (m_channels == 0 && light != QLatin1String("OFF"))
            sendNow(QStringLiteral("LIGHT_CTL OFF"));
        if (m_channels == 1 &&
            (fw < level::Calibration || text(QStringLiteral("ILLUM"), 0).toUpper() != QLatin1String("OFF")))
            sendNow(QStringLiteral("ILLUM OFF"));
    }

    const bool on = m_standard != QLatin1String("NONE");
    vm::app::setVerificationEnabled(on);
    load(QStringLiteral("VERSTATUS"));
    m_grades[0] = gradeClasses(text(QStringLiteral("VERSTATUS"), 0) + QLatin1Char(' ') +
                               text(QStringLiteral("VERSTATUS"), 1));
    connection()->BroadcastMessage(QLatin1String(WindowName),
                                   QLatin1String(fw >= level::Verification && on
                                                     ? vm::link::broadcast::VerificationOn
                                                     : vm::link::broadcast::VerificationOff),
                                   QString());
    if (m_standard == QLatin1String("DPM"))
        loadDpmRows();
    if (fw >= level::Calibration)
        showCalibrationStatus();
}

void Symbology::loadDpmRows() {
    // The row checks show the loaded rows before anything is written from them.
    const auto guard = updateGuard();
    for (int r = 0; r < kDpmRows; ++r) {
        load(verenable(r));
        m_grades[size_t(r + 1)] =
            gradeClasses(text(verenable(r), 1) + QLatin1Char(' ') + text(verenable(r), 2));
        m_verenable[size_t(r)]->setChecked(text(verenable(r), 0).toUpper() != QLatin1String("N"));
    }
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
    for (int i = 0; i < m_barcodes->count(); ++i) {
        QListWidgetItem* item = m_barcodes->item(i);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(m_mask & (1u << i) ? Qt::Checked : Qt::Unchecked);
    }
    m_enableMatrix->setChecked(m_matrixEnable > 0);
    m_enableBarcodes->setChecked(m_barcodeEnable > 0);

    // Verification belongs to readers that grade.
    m_verificationFrame->setVisible(fw >= level::Verification);
    m_verification[6]->setText(fw >= level::LightControl ? QStringLiteral("AIM DPM-1-2006")
                                                         : QStringLiteral("ISO-AIM E Verification"));
    int option = 0;
    for (int i = 1; i < int(std::size(kStandards)); ++i)
        if (m_standard == QLatin1String(kStandards[i].keyword))
            option = i;
    m_verification[size_t(option)]->setChecked(true);
    m_qualityFrame->setVisible(fw >= level::Verification);
    m_dpmFrame->setVisible(fw >= level::Verification && m_standard == QLatin1String("DPM"));
    for (int r = 0; r < kDpmRows; ++r)
        m_verenable[size_t(r)]->setChecked(text(verenable(r), 0).toUpper() != QLatin1String("N"));
    for (int r = 0; r <= kDpmRows; ++r)
        paintRow(r);

    const bool lights = fw >= level::LightControl;
    m_light0Frame->setVisible(lights && m_channels == 0);
    m_light1Frame->setVisible(lights && m_channels == 1);
    m_light10Frame->setVisible(lights && m_channels == 10);
    m_wavelength0->setText(text(QStringLiteral("WAVELENGTH"), 0));
    m_wavelength1->setText(text(QStringLiteral("WAVELENGTH"), 0));
    m_alias0->setText(unquote(text(QStringLiteral("XLIGHTCHANNEL_0_ALIASNAME"), 0)));
    m_alias1->setText(unquote(text(QStringLiteral("XLIGHTCHANNEL_1_ALIASNAME"), 0)));
    m_light1[m_lightIndex == 1 ? 1 : 0]->setChecked(true);
    m_light10[size_t(std::clamp(m_lightIndex, 0, 10))]->setChecked(true);
    m_calibrate->setVisible(fw >= level::Calibration);
    m_calibrateStatus->setVisible(fw >= level::Calibration);
}

void Symbology::paintRow(int row) {
    for (int i = 0; i < 5; ++i) {
        QPushButton* button = m_gradeButtons[size_t(5 * row + i)];
        QPalette p = button->palette();
        p.setColor(QPalette::Button, classColour(m_grades[size_t(row)][size_t(i)]));
        p.setColor(QPalette::ButtonText, Qt::black);
        button->setPalette(p);
        button->setProperty("gradeClass", int(m_grades[size_t(row)][size_t(i)]));
    }
}

void Symbology::applyControlState(bool control) {
    for (QWidget* w : {static_cast<QWidget*>(m_enableMatrix), static_cast<QWidget*>(m_enableBarcodes),
                       static_cast<QWidget*>(m_barcodes)})
        w->setEnabled(control);
    for (QRadioButton* option : m_verification)
        option->setEnabled(control);
    for (QPushButton* button : m_gradeButtons)
        button->setEnabled(control);
    for (QCheckBox* check : m_verenable)
        check->setEnabled(control);
}

void Symbology::gradeClicked(int row, int index) {
    m_grades[size_t(row)][size_t(index)] = nextGradeClass(m_grades[size_t(row)], index);
    paintRow(row);
    changed();
}

void Symbology::standardChosen(int index) {
    if (updating())
        return;
    const QString previous = m_standard;
    const QString chosen = QLatin1String(kStandards[index].keyword);
    if (index == 6 && vm::app::firmwareLevel() >= level::Calibration && previous != QLatin1String("AIMDPM") &&
        m_channels < 10) {
        QString light;
        if (!confirmAimDpm(true, &light)) {
            // Refused: the previous standard stays, and nothing else changes.
            const auto guard = updateGuard();
            for (int i = 0; i < int(std::size(kStandards)); ++i)
                if (previous == QLatin1String(kStandards[i].keyword))
                    m_verification[size_t(i)]->setChecked(true);
            if (previous == QLatin1String("NONE") || !m_verificationGroup->checkedButton())
                m_verification[0]->setChecked(true);
            return;
        }
        m_aimDpmLight = light;
    }
    m_previousStandard = previous;
    m_standard = chosen;
    if (index == 4)
        loadDpmRows();
    changed();
    refreshDisplay();
}

void Symbology::wavelengthLeft(QLineEdit* box) {
    if (updating())
        return;
    const int value = std::clamp(box->text().toInt(), 280, 880);
    box->setText(QString::number(value));
    if (parameters().Contains(QStringLiteral("WAVELENGTH")) &&
        text(QStringLiteral("WAVELENGTH"), 0) != box->text()) {
        parameters().GetParameter(QStringLiteral("WAVELENGTH")).SetField(0, box->text());
        changed();
    }
}

void Symbology::aliasLeft(QLineEdit* box, int channel) {
    if (updating())
        return;
    QString alias = box->text().toUpper().left(11);
    alias.remove(QRegularExpression(QStringLiteral("[^A-Z0-9_-]")));
    if (box->text().isEmpty())
        alias = channel == 0 ? QStringLiteral("INTERNAL") : QStringLiteral("90");
    box->setText(alias);
    const QString name = QStringLiteral("XLIGHTCHANNEL_%1_ALIASNAME").arg(channel);
    if (parameters().Contains(name) && unquote(text(name, 0)) != alias) {
        parameters().GetParameter(name).SetField(0, QLatin1Char('"') + alias + QLatin1Char('"'));
        changed();
    }
}

bool Symbology::writeControls() {
    const int fw = vm::app::firmwareLevel();
    auto set = [this](const QString& name, int field, const QString& value) {
        vm::link::Parameter& p = parameters().GetParameter(name);
        if (p.Field(field) != value)
            p.SetField(field, value);
    };
    set(QStringLiteral("NUMDM"), 0, m_matrixEnable >= 1 ? QStringLiteral("1") : QStringLiteral("0"));
    set(QStringLiteral("NUMBC"), 0, m_barcodeEnable >= 1 ? QStringLiteral("1") : QStringLiteral("0"));
    set(QStringLiteral("BARCODE ENABLE"), 0, QStringLiteral("0x") + QString::number(m_mask, 16).toUpper());
    QString standard = m_standard;
    if (fw < level::DpmStandardName && standard == QLatin1String("DPM"))
        standard = QStringLiteral("KVTA");
    if (fw < level::AimDpmStandardName && standard == QLatin1String("AIMDPM"))
        standard = QStringLiteral("ISOAIM");
    set(QStringLiteral("VERIFY"), 0, standard);
    if (fw >= level::LightControl) {
        vm::app::setVerificationStandard(vm::app::VerificationStandardCode(m_standard));
        if (m_channels == 1)
            set(QStringLiteral("LIGHT_CTL"), 0,
                m_light1[1]->isChecked() ? QStringLiteral("90") : QStringLiteral("OFF"));
        else if (m_channels == 10)
            set(QStringLiteral("LIGHT_CTL"), 0, kLightKeywords[std::clamp(m_lightIndex, 0, 10)]);
    }
    if (fw >= level::Calibration) {
        if (m_standard == QLatin1String("AIMDPM"))
            set(QStringLiteral("ILLUM"), 0, QStringLiteral("ON"));
        if (vm::app::VerificationStandardCode(m_standard) > 0) {
            set(QStringLiteral("MORPH"), 0, QStringLiteral("NONE"));
            set(QStringLiteral("NEGATIVE"), 0, QStringLiteral("OFF"));
        }
    }
    const QStringList global = gradeRange(m_grades[0]).split(QLatin1Char(' '));
    set(QStringLiteral("VERSTATUS"), 0, global[0]);
    set(QStringLiteral("VERSTATUS"), 1, global[1]);
    if (m_standard == QLatin1String("DPM")) {
        for (int r = 0; r < kDpmRows; ++r) {
            const QStringList range = gradeRange(m_grades[size_t(r + 1)]).split(QLatin1Char(' '));
            set(verenable(r), 0,
                m_verenable[size_t(r)]->isChecked() ? QStringLiteral("Y") : QStringLiteral("N"));
            set(verenable(r), 1, range[0]);
            set(verenable(r), 2, range[1]);
        }
    }
    return true;
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
    if (m_channels == 1 && m_light1[0]->isChecked()) {
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
    const bool numbc = word(QStringLiteral("NUMBC")) == QLatin1String("1");
    if (numbc)
        sendNow(QStringLiteral("NUMBC 0"));
    const bool numdm = word(QStringLiteral("NUMDM")) == QLatin1String("0");
    if (numdm)
        sendNow(QStringLiteral("NUMDM 1"));
    const QString verify = word(QStringLiteral("VERIFY"));
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
