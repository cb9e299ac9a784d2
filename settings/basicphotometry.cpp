#include "settings/basicphotometry.h"

#include "app/programstate.h"
#include "app/prompts.h"
#include "link/connection.h"
#include "link/parameterset.h"
#include "link/record.h"
#include "link/vocabulary.h"
#include "resources/strings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace vm::settings {

namespace {

const QString kPhoto = QStringLiteral("PHOTOEX");
const QString kMorph = QStringLiteral("MORPH");
const QString kNegative = QStringLiteral("NEGATIVE");
const QString kIllum = QStringLiteral("ILLUM");
constexpr int kExposureField = 1;
constexpr int kGainField = 2;
const QStringList kMethods = {"NONE", "ERODE", "DILATE", "OPEN", "CLOSE"};
// Negative image from this firmware level, calibration from level 9.
constexpr int kNegativeLevel = vm::link::level::NegativeImage;
constexpr int kCalibrationLevel = vm::link::level::Calibration;

bool powerStrobed(const QString& illumination) {
    return illumination == QLatin1String("POWER_STROBE") ||
           illumination == QLatin1String("ON_AND_PSTROBED") ||
           illumination == QLatin1String("ON_AND_STROBED");
}

void setRange(QSlider* slider, int minimum, int maximum) {
    slider->setRange(minimum, maximum);
    slider->setPageStep(int(std::lround((maximum - minimum) / 10.0)));
}

// The enable groups: automatic or manual photometry; the exposure and gain, only in manual
// photometry; the preprocessing; the iterations, only for a method other than none.
enum Group { kPhotometry = 1, kManualValues, kPreprocessing, kIterations };

bool truthValue(const QString& text) {
    const QString t = text.trimmed().toUpper();
    return t == QLatin1String("TRUE") || t == QLatin1String("ON") || t == QLatin1String("Y") ||
           t == QLatin1String("YES") || (!t.isEmpty() && t != QLatin1String("0") && t.toInt() != 0);
}

} // namespace

BasicPhotometry::BasicPhotometry(QWidget* parent)
    : SettingsWindow(QLatin1String(WindowName), Mode::Immediate, parent, ConnectionKind::Image) {
    setWindowTitle(QStringLiteral("(no camera) - Photometry"));
    m_updateTimer.setSingleShot(true);
    m_updateTimer.setInterval(kUpdateDelayMs);
    connect(&m_updateTimer, &QTimer::timeout, this, &SettingsWindow::reload);
    m_serialSend.setSingleShot(true);
    m_serialSend.setInterval(kSerialSettleMs);
    connect(&m_serialSend, &QTimer::timeout, this, &BasicPhotometry::send);
    buildControls();
    connect(connection(), &vm::link::Connection::OnNewRecord, this, &BasicPhotometry::newRecord);
    ensureLoaded();
}

vm::app::WindowEntry BasicPhotometry::windowEntry() {
    vm::app::WindowEntry entry =
        settingsMenuWindow<BasicPhotometry>(WindowName, 2060, "mnuPhotometry", vm::res::Str(206));
    entry.button.bar = vm::app::Toolbar::Control;
    entry.button.position = 60;
    entry.button.key = QStringLiteral("photometry");
    entry.button.caption = vm::res::Str(1530);
    entry.button.image = QStringLiteral("exposure");
    entry.button.tag = QStringLiteral("both");
    entry.button.rule = vm::app::ItemRule::Control;
    return entry;
}

void BasicPhotometry::buildControls() {
    auto* layout = new QVBoxLayout(this);
    auto* mode = new QHBoxLayout;
    m_auto = new QRadioButton(vm::res::Str(20134), this);
    m_auto->setObjectName(QStringLiteral("Auto"));
    m_manual = new QRadioButton(vm::res::Str(20135), this);
    m_manual->setObjectName(QStringLiteral("Manual"));
    mode->addWidget(m_auto);
    mode->addWidget(m_manual);
    layout->addLayout(mode);

    auto* sliders = new QGridLayout;
    auto* digits = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this);
    auto addSlider = [&](int row, const QString& caption, const QString& name, QLabel*& label,
                         QSlider*& slider, QLineEdit*& text) {
        slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(name);
        text = new QLineEdit(this);
        text->setObjectName(name + QStringLiteral("Text"));
        text->setValidator(digits);
        text->setMaximumWidth(70);
        label = labelFor(slider, caption, this);
        label->setObjectName(name + QStringLiteral("Label"));
        text->setAccessibleName(QString(caption).remove(QLatin1Char('&')) + vm::res::Str(20136));
        sliders->addWidget(label, row, 0);
        sliders->addWidget(slider, row, 1);
        sliders->addWidget(text, row, 2);
    };
    addSlider(0, vm::res::Str(20137), QStringLiteral("Exposure"), m_exposureLabel, m_exposure,
              m_exposureText);
    addSlider(1, vm::res::Str(20138), QStringLiteral("Gain"), m_gainLabel, m_gain, m_gainText);
    m_exposure->setMinimumWidth(260);
    setRange(m_gain, 0, kGainMax);
    setRange(m_exposure, kExposureMin, kExposureMax);
    layout->addLayout(sliders);

    m_preprocessFrame = new QGroupBox(vm::res::Str(20139), this);
    m_preprocessFrame->setObjectName(QStringLiteral("PreprocessFrame"));
    auto* pre = new QGridLayout(m_preprocessFrame);
    m_method = new QComboBox(m_preprocessFrame);
    m_method->setObjectName(QStringLiteral("PreprocMethod"));
    m_method->addItems(kMethods);
    m_methodLabel = labelFor(m_method, vm::res::Str(20140), m_preprocessFrame);
    m_methodLabel->setObjectName(QStringLiteral("PreprocMethodLabel"));
    m_iter = new QComboBox(m_preprocessFrame);
    m_iter->setObjectName(QStringLiteral("PreprocIter"));
    m_iterLabel = labelFor(m_iter, vm::res::Str(20141), m_preprocessFrame);
    m_iterLabel->setObjectName(QStringLiteral("PreprocIterLabel"));
    pre->addWidget(m_methodLabel, 0, 0);
    pre->addWidget(m_method, 0, 1);
    pre->addWidget(m_iterLabel, 1, 0);
    pre->addWidget(m_iter, 1, 1);
    layout->addWidget(m_preprocessFrame);

    m_negative = new QCheckBox(vm::res::Str(20142), this);
    m_negative->setObjectName(QStringLiteral("NegativeImage"));
    layout->addWidget(m_negative);
    m_calibrationWarning = new QLabel(vm::res::Str(20316), this);
    m_calibrationWarning->setObjectName(QStringLiteral("lblCalibrationWarning"));
    m_calibrationWarning->setWordWrap(true);
    m_calibrationWarning->hide();
    layout->addWidget(m_calibrationWarning);
    m_photoInfo = new QLabel(this);
    m_photoInfo->setObjectName(QStringLiteral("PhotoInfo"));
    m_photoInfo->setAccessibleName(vm::res::Str(20143));
    m_photoInfo->setTextInteractionFlags(Qt::TextSelectableByKeyboard | Qt::TextSelectableByMouse);
    m_photoInfo->setFocusPolicy(Qt::StrongFocus);
    layout->addWidget(m_photoInfo);

    m_method->setCurrentIndex(0);

    declareGroup(kPhotometry, [this] { return photometryEditable(); });
    declareGroup(kManualValues, [this] { return photometryEditable() && !m_auto->isChecked(); });
    declareGroup(kPreprocessing, [this] { return preprocessingEditable(); });
    declareGroup(kIterations, [this] { return preprocessingEditable() && m_method->currentIndex() > 0; });
    // The options, the sliders and their boxes and the method ask, put back or send in ways
    // of their own: the window fills and writes them itself.
    declare(m_auto, kPhoto).inGroup(kPhotometry);
    declare(m_manual, kPhoto).inGroup(kPhotometry);
    declare(m_exposure, kPhoto, kExposureField).inGroup(kManualValues);
    declare(m_exposureText, kPhoto, kExposureField).inGroup(kManualValues);
    declare(m_gain, kPhoto, kGainField).inGroup(kManualValues);
    declare(m_gainText, kPhoto, kGainField).inGroup(kManualValues);
    declare(m_method, kMorph).inGroup(kPreprocessing);
    QList<Choice> iterations;
    for (int i = 1; i <= 5; ++i)
        iterations.append({QString::number(i), QString::number(i)});
    bindChoice(m_iter, kMorph, 1, iterations).inGroup(kIterations);
    bindCheck(m_negative, kNegative, 0, QStringLiteral("ON"), QStringLiteral("OFF"))
        .fromLevel(kNegativeLevel)
        .inGroup(kPreprocessing);

    connect(m_auto, &QRadioButton::clicked, this, &BasicPhotometry::autoClicked);
    connect(m_manual, &QRadioButton::clicked, this, &BasicPhotometry::manualClicked);
    for (auto [slider, box, fieldIndex] : {std::tuple{m_exposure, m_exposureText, kExposureField},
                                           std::tuple{m_gain, m_gainText, kGainField}}) {
        // A drag sends once, where the operator lets go; keys and clicks send at once.
        connect(slider, &QSlider::valueChanged, this, [this, slider, box, fieldIndex](int value) {
            if (updating())
                return;
            if (slider->isSliderDown()) {
                const auto guard = updateGuard();
                box->setText(QString::number(value));
                return;
            }
            sliderChanged(slider, fieldIndex, false);
        });
        connect(slider, &QSlider::sliderReleased, this,
                [this, slider, fieldIndex] { sliderChanged(slider, fieldIndex, false); });
        connect(box, &QLineEdit::editingFinished, this,
                [this, box, slider, fieldIndex] { textLeft(box, slider, fieldIndex); });
    }
    connect(m_method, &QComboBox::activated, this, &BasicPhotometry::methodChosen);
}

QString BasicPhotometry::field(const QString& parameter, int index) {
    return parameters().GetParameter(parameter).Field(index);
}

void BasicPhotometry::setField(const QString& parameter, int index, const QString& value) {
    parameters().GetParameter(parameter).SetField(index, value);
}

QStringList BasicPhotometry::parametersToLoad() const {
    // ILLUM sets the exposure's range.
    QStringList names = {kPhoto, kMorph, kIllum};
    if (readerLevel() >= kNegativeLevel)
        names << kNegative;
    return names;
}

void BasicPhotometry::loadParameters() {
    if (!isConnected())
        return;
    SettingsWindow::loadParameters();
    bool warn = false;
    if (vm::app::firmwareLevel() >= kCalibrationLevel) {
        if (load(QStringLiteral("VERIFY"))) {
            const int code = vm::app::VerificationStandardCode(field(QStringLiteral("VERIFY"), 0));
            vm::app::setVerificationStandard(code);
            vm::app::setVerificationEnabled(code != 0);
        }
        if (load(QStringLiteral("CALIBRATED")))
            vm::app::setReaderCalibrated(truthValue(field(QStringLiteral("CALIBRATED"), 0)));
        const int code = vm::app::verificationStandard();
        warn = vm::app::readerCalibrated() && code >= 1 && code <= 5;
    }
    m_calibrationWarning->setVisible(warn);
}

void BasicPhotometry::refresh() {
    // What the reader did not answer keeps what the window showed.
    if (shows(kIllum)) {
        const QString illumination = field(kIllum, 0).toUpper();
        setRange(m_exposure, kExposureMin,
                 powerStrobed(illumination) ? kPowerStrobeExposureMax : kExposureMax);
    }
    if (shows(kPhoto)) {
        const QString exposure = field(kPhoto, kExposureField);
        const QString gain = field(kPhoto, kGainField);
        m_exposure->setValue(exposure.toInt());
        m_exposureText->setText(exposure);
        m_gain->setValue(gain.toInt());
        m_gainText->setText(gain);
        m_lastExposure = m_putBackExposure = m_exposure->value();
        m_lastGain = m_putBackGain = m_gain->value();
        const bool automatic = field(kPhoto, 0).toUpper() == QLatin1String("AUTO");
        m_auto->setChecked(automatic);
        m_manual->setChecked(!automatic);
    }
    if (shows(kMorph)) {
        // A method the list does not know shows as none.
        m_method->setCurrentIndex(int(std::max<qsizetype>(0, kMethods.indexOf(field(kMorph, 0).toUpper()))));
    }
}

bool BasicPhotometry::shows(const QString& parameter) const {
    return !isConnected() || wasRead(parameter);
}

bool BasicPhotometry::photometryEditable() const {
    // Under the AIM DPM set-up the photometry is the verification's.
    return !vm::app::imageFileAcquisition() && !(vm::app::firmwareLevel() >= kCalibrationLevel &&
                                                 vm::app::verificationStandard() == vm::app::kAimDpmStandard);
}

bool BasicPhotometry::preprocessingEditable() const {
    // Preprocessing applies to image files too on the readers that grade nothing; on those
    // that grade, it is the verification's while verification is on.
    if (vm::app::firmwareLevel() < kCalibrationLevel)
        return true;
    return photometryEditable() && !vm::app::verificationEnabled();
}

void BasicPhotometry::applyControlState(bool control) {
    m_preprocessFrame->setEnabled(control && isConnected() && preprocessingEditable());
    // Each caption greys with the control it names, programming control included.
    for (QLabel* caption : {m_exposureLabel, m_gainLabel, m_methodLabel, m_iterLabel})
        caption->setEnabled(caption->buddy()->isEnabled());
}

void BasicPhotometry::send() {
    if (connection() && connection()->Response().IsOpen())
        markModified();
}

bool BasicPhotometry::confirmCalibrationChange() {
    if (vm::app::firmwareLevel() < kCalibrationLevel || m_calibrationWarning->isHidden())
        return true;
    if (updating() || m_calibrationResetConfirmed)
        return true;
    const auto answer =
        vm::app::showMessage(this,
                             QStringLiteral("Changing the Exposure or the Gain will reset the calibration.") +
                                 QLatin1String("\r\n") + QStringLiteral("Do you wish to proceed?"),
                             vm::app::PromptButtons::YesNo, vm::app::PromptIcon::Question,
                             QStringLiteral("Confirm Calibration Cancellation"));
    if (answer != vm::app::PromptAnswer::Yes)
        return false;
    m_calibrationResetConfirmed = true;
    return true;
}

void BasicPhotometry::cancelCalibration() {
    if (vm::app::firmwareLevel() < kCalibrationLevel || !m_calibrationResetConfirmed || !connection())
        return;
    m_calibrationResetConfirmed = false;
    // Sending the reader's own calibration photometry back as a command drops the calibration.
    const QString reply = connection()->Query(QStringLiteral("CONTRASTCAL"));
    connection()->SendCommand(reply, 500);
    connection()->BroadcastMessage(objectName(), QLatin1String(vm::link::broadcast::Uncalibrated), QString());
    vm::app::setReaderCalibrated(false);
    m_calibrationWarning->hide();
}

void BasicPhotometry::autoClicked() {
    if (updating() || !wasRead(kPhoto))
        return;
    if (!confirmCalibrationChange()) {
        const auto guard = updateGuard();
        m_manual->setChecked(true);
        return;
    }
    cancelCalibration();
    setField(kPhoto, 0, QStringLiteral("AUTO"));
    refreshDisplay();
    send();
}

void BasicPhotometry::manualClicked() {
    if (updating() || !wasRead(kPhoto))
        return;
    setField(kPhoto, 0, QStringLiteral("MANUAL"));
    // Manual photometry starts from what automatic photometry found.
    if (m_recordPhotometry) {
        setField(kPhoto, kExposureField, QString::number(m_recordExposure));
        setField(kPhoto, kGainField, QString::number(m_recordGain));
    }
    refreshDisplay();
    send();
}

void BasicPhotometry::sliderChanged(QSlider* slider, int fieldIndex, bool force) {
    if (updating() || !wasRead(kPhoto))
        return;
    const bool exposure = fieldIndex == kExposureField;
    int& last = exposure ? m_lastExposure : m_lastGain;
    int& putBack = exposure ? m_putBackExposure : m_putBackGain;
    QLineEdit* box = exposure ? m_exposureText : m_gainText;
    const int value = slider->value();
    if (value == last && !force) {
        const auto guard = updateGuard();
        box->setText(QString::number(value));
        return;
    }
    if (!confirmCalibrationChange()) {
        const auto guard = updateGuard();
        slider->setValue(putBack);
        box->setText(QString::number(putBack));
        return;
    }
    cancelCalibration();
    {
        const auto guard = updateGuard();
        box->setText(QString::number(value));
    }
    setField(kPhoto, fieldIndex, QString::number(value));
    last = putBack = value;
    // Over a serial line each step of a dragged slider would cost a command: the value goes
    // out once the slider rests.
    if (connection()->IsSerial())
        m_serialSend.start();
    else
        send();
}

void BasicPhotometry::textLeft(QLineEdit* box, QSlider* slider, int fieldIndex) {
    if (updating() || !wasRead(kPhoto))
        return;
    const bool exposure = fieldIndex == kExposureField;
    const int last = exposure ? m_lastExposure : m_lastGain;
    const qint64 typed = leadingNumber(box->text());
    if (typed == last)
        return;
    if (!confirmCalibrationChange()) {
        const auto guard = updateGuard();
        box->setText(QString::number(last));
        return;
    }
    const int held = int(std::clamp<qint64>(typed, slider->minimum(), slider->maximum()));
    {
        const auto guard = updateGuard();
        box->setText(QString::number(held));
        slider->setValue(held);
    }
    sliderChanged(slider, fieldIndex, true);
}

void BasicPhotometry::methodChosen(int index) {
    if (updating() || index < 0 || index >= kMethods.size())
        return;
    setField(kMorph, 0, kMethods.at(index));
    if (field(kMorph, 1).toInt() < 1)
        setField(kMorph, 1, QStringLiteral("1"));
    updateControlState(); // the iterations follow the method
    send();
}

void BasicPhotometry::newRecord(const vm::link::Record& record) {
    const auto guard = updateGuard();
    const int exposure = record.Image().Exposure();
    const int gain = record.Image().Gain();
    // A learn outcome changes photometry: reload a moment later.
    if (record.HasLearnStatus())
        m_updateTimer.start();
    if (record.Image().PhotometryValid()) {
        m_recordPhotometry = true;
        m_recordExposure = exposure;
        m_recordGain = gain;
    }
    m_photoInfo->setText(QStringLiteral("Exp = %1 usec, Gain = %2 dB").arg(exposure).arg(gain));
}

QString BasicPhotometry::photoInfo() const {
    return m_photoInfo->text();
}

void BasicPhotometry::broadcastReceived(const QString& message, const QString&) {
    if (message == QLatin1String(vm::link::broadcast::UpdatePhoto) ||
        message == QLatin1String(vm::link::broadcast::Calibrated)) {
        m_updateTimer.start();
    } else if (message == QLatin1String(vm::link::broadcast::Uncalibrated)) {
        m_calibrationWarning->hide();
    }
}

void BasicPhotometry::done(int result) {
    if (!m_closing) {
        m_closing = true;
        if (m_manual->isChecked()) {
            textLeft(m_exposureText, m_exposure, kExposureField);
            textLeft(m_gainText, m_gain, kGainField);
        }
    }
    m_updateTimer.stop();
    // A value still waiting for the slider to rest goes out before the window closes.
    if (m_serialSend.isActive()) {
        m_serialSend.stop();
        send();
    }
    SettingsWindow::done(result);
}

} // namespace vm::settings
