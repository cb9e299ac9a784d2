#include "verification/dlgcalibrate.h"

#include "app/mainimageview.h"
#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/device.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "settings/settingswindow.h"
#include "tools/overlays.h"
#include "verification/calibrationstate.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <utility>

namespace vm::verification {

using vm::app::PromptAnswer;
using vm::app::PromptButtons;
using vm::app::PromptIcon;
using vm::app::showMessage;

namespace {

const QColor kCalibratedColour(128, 255, 128);
const QColor kFailedColour(255, 128, 128);

// Grid widths in twips, as pixels at the usual 15 twips a pixel.
constexpr int kValueColumnPx = 1300 / 15;
constexpr int kStatusColumnPx = 4000 / 15;

QString word(const QStringList& words, int index) {
    return words.value(index);
}

int wholeNumber(double value) {
    return int(std::lround(value));
}

} // namespace

dlgCalibrate::dlgCalibrate(QWidget* parent)
    : QDialog(parent)
    , m_rconn(std::make_unique<vm::link::ReaderConnection>())
    , m_iconn(std::make_unique<vm::link::ImageConnection>()) {
    setObjectName(QLatin1String(WindowName));
    setWindowTitle(QStringLiteral("Reflectance Calibration"));
    setAccessibleDescription(vm::res::Str(816));

    auto* layout = new QVBoxLayout(this);
    m_grid = new QTableWidget(0, 8, this);
    m_grid->setObjectName(QStringLiteral("CalibrateGrid"));
    m_grid->setAccessibleName(vm::res::Str(20289));
    m_grid->setHorizontalHeaderLabels(
        {"Light Angle", "ExposureTime", "Gain", "CellUnit", "ContrastMax", "ContrastMin", "R_cal", "Status"});
    m_grid->verticalHeader()->hide();
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    for (int c = 0; c < 7; ++c)
        m_grid->setColumnWidth(c, kValueColumnPx);
    m_grid->setColumnWidth(7, kStatusColumnPx);
    m_grid->setMinimumWidth(7 * kValueColumnPx + kStatusColumnPx + 24);
    layout->addWidget(m_grid);

    auto* targets = new QGridLayout;
    m_targetContrast = new QLineEdit(this);
    m_targetContrast->setObjectName(QStringLiteral("txtCalTargetContrast"));
    m_targetReflectance = new QLineEdit(this);
    m_targetReflectance->setObjectName(QStringLiteral("txtCalTargetReflectanceMax"));
    targets->addWidget(vm::settings::labelFor(m_targetContrast, vm::res::Str(20290), this), 0, 0);
    targets->addWidget(vm::settings::labelFor(m_targetReflectance, vm::res::Str(20291), this), 0, 1);
    targets->addWidget(m_targetContrast, 1, 0);
    targets->addWidget(m_targetReflectance, 1, 1);
    layout->addLayout(targets);

    auto* buttons = new QHBoxLayout;
    m_calibrate = new QPushButton(vm::res::Str(20292), this);
    m_calibrate->setObjectName(QStringLiteral("CalibrateButton"));
    m_close = new QPushButton(vm::res::Str(20215), this);
    m_close->setObjectName(QStringLiteral("CloseButton"));
    buttons->addStretch();
    buttons->addWidget(m_calibrate);
    buttons->addWidget(m_close);
    layout->addLayout(buttons);

    connect(m_calibrate, &QPushButton::clicked, this, &dlgCalibrate::calibrate);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_rconn.get(), &vm::link::Connection::OnNewRecord, this, &dlgCalibrate::recordArrived);

    m_view = vm::app::mainImageView();

    m_control = ensureControl();
    if (!m_control) {
        showMessage(this, QStringLiteral("Cannot calibrate without control..."));
        m_calibrate->setEnabled(false);
        m_targetContrast->setEnabled(false);
        m_targetReflectance->setEnabled(false);
        return;
    }
    openReader();
    vm::app::RestoreWindowMetrics(this);
}

dlgCalibrate::~dlgCalibrate() {
    unload();
}

bool dlgCalibrate::ensureControl() {
    if (!m_rconn->Connected())
        return false;
    if (m_rconn->HasControl())
        return true;
    const QString name = m_rconn->Device() ? m_rconn->Device()->Name() : QString();
    if (showMessage(this, QStringLiteral("Do you wish to control the camera ") + name + QLatin1Char('?'),
                    PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes)
        return false;
    const QString password = vm::app::controlPassword();
    if (!password.isEmpty()) {
        const auto entered = vm::app::askInput(this, QStringLiteral("Enter Password"),
                                               QStringLiteral("VelmarrowPassword"), QString(), true);
        if (!entered || *entered != password) {
            showMessage(this, QStringLiteral("Invalid Password"));
            return false;
        }
    }
    m_rconn->SendCommand(QStringLiteral("CONTROL"), kCommandTimeoutMs);
    return m_rconn->HasControl();
}

QStringList dlgCalibrate::query(const QString& text) {
    // A reply's first line, split on single blanks; word 0 echoes the keyword.
    const QString reply = m_rconn->Query(text, kCommandTimeoutMs);
    return reply.section(QStringLiteral("\r\n"), 0, 0).split(QLatin1Char(' '));
}

void dlgCalibrate::send(const QString& command) {
    if (m_rconn->Connected())
        m_rconn->SendCommand(command, kCommandTimeoutMs);
}

void dlgCalibrate::imageSend(const QString& command) {
    if (m_iconn->Connected())
        m_iconn->SendCommand(command, kCommandTimeoutMs);
}

void dlgCalibrate::openReader() {
    CalibrationState& state = calibrationState();
    m_savedLightCtl = word(query(QStringLiteral("LIGHT_CTL")), 1);
    m_savedTrig = word(query(QStringLiteral("TRIG")), 1);

    const QStringList contrast = query(QStringLiteral("TARGET_CALIB_CONTRAST"));
    const QStringList reflectance = query(QStringLiteral("TARGET_CALIB_REFLECTANCE"));
    state.targetContrast = word(contrast, 1).toInt();
    state.targetReflectance = word(reflectance, 1).toInt();
    m_targetContrast->setText(word(contrast, 1));
    m_targetReflectance->setText(word(reflectance, 1));

    const QStringList internal = query(QStringLiteral("CONTRASTCAL"));
    state.lights[0].exposure = word(internal, 2).toInt();
    state.lights[0].gain = word(internal, 3).toInt();

    state.lightChannels = word(query(QStringLiteral("XLIGHTCHANNELS")), 1).toInt();
    state.aliasName.clear();
    if (state.lightChannels == 0) {
        state.currentLight = 0;
        state.aliasName = word(query(QStringLiteral("XLIGHTCHANNEL_0_ALIASNAME")), 1);
    } else if (state.lightChannels == 1 || state.lightChannels == 10) {
        state.currentLight = 1;
        state.aliasName = word(query(QStringLiteral("XLIGHTCHANNEL_1_ALIASNAME")), 1);
    }
    // The reader keeps text values in quotes.
    if (state.aliasName.size() >= 2 && state.aliasName.startsWith(QLatin1Char('"')) &&
        state.aliasName.endsWith(QLatin1Char('"')))
        state.aliasName = state.aliasName.mid(1, state.aliasName.size() - 2);

    for (int light = 1; light < kLightCount; ++light) {
        const QStringList external = query(QStringLiteral("XLIGHTCONTRASTCAL ") + lightName(light));
        state.lights[light].exposure = word(external, 3).toInt();
        state.lights[light].gain = word(external, 4).toInt();
    }

    if (m_iconn->Connected()) {
        addBoxes();
        imageSend(QStringLiteral("trig c"));
    }
    for (int light : shownLights())
        readStoredCalibration(light);
    fillGrid();
}

QList<int> dlgCalibrate::shownLights() const {
    switch (calibrationState().lightChannels) {
    case 0:
        return {0};
    case 1:
        return {1};
    default:
        return {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    }
}

void dlgCalibrate::readStoredCalibration(int light) {
    LightCalibration& c = calibrationState().lights[light];
    const QString name = lightName(light);
    // The reader answers the unnamed values for the light selected, so every light is
    // selected first. The reader's own light is selected by switching the external lights
    // off; its illumination stays on, since it is what lights the target.
    if (light == 0) {
        send(QStringLiteral("LIGHT_CTL OFF"));
    } else {
        send(QStringLiteral("ILLUM OFF"));
        send(QStringLiteral("LIGHT_CTL ") + name);
    }
    c.cellUnit = word(query(QStringLiteral("CELL_UNIT")), 1).toDouble();
    const QStringList contrast = query(QStringLiteral("CONTRAST"));
    c.contrastMax = word(contrast, 1).toDouble();
    c.contrastMin = word(contrast, 2).toDouble();
    c.reflectanceCal = word(query(QStringLiteral("CAL_MEAN_LIGHT")), 1).toDouble();
    const QString stringReply =
        m_rconn->Query(QStringLiteral("CALIBRATED_STRING ") + name, kCommandTimeoutMs);
    const qsizetype open = stringReply.indexOf(QLatin1Char('"'));
    const qsizetype close = stringReply.lastIndexOf(QLatin1Char('"'));
    const QString stored =
        open >= 0 && close > open ? stringReply.mid(open + 1, close - open - 1) : QString();
    if (word(query(QStringLiteral("CALIBRATED ") + name), 2) == QLatin1String("FALSE")) {
        c.calibratedText.clear();
        c.statusText = stored;
        if (stored.isEmpty()) {
            c.statusText = QStringLiteral("Recalibrate - Camera was Reset");
            c.reflectanceCal = 0;
        }
    } else {
        c.calibratedText = stored.isEmpty() ? QStringLiteral("Calibrated, Date Unknown") : stored;
        c.statusText.clear();
    }
}

void dlgCalibrate::fillGrid() {
    const QList<int> lights = shownLights();
    m_grid->setRowCount(int(lights.size()));
    for (int row = 0; row < lights.size(); ++row)
        fillRow(row, lights[row]);
}

void dlgCalibrate::fillRow(int row, int light) {
    const LightCalibration& c = calibrationState().lights[light];
    const QStringList cells = {lightDisplayName(light),
                               QString::number(c.exposure),
                               QString::number(c.gain),
                               QString::number(wholeNumber(c.cellUnit)),
                               QString::number(wholeNumber(c.contrastMax)),
                               QString::number(wholeNumber(c.contrastMin)),
                               QString::number(wholeNumber(c.reflectanceCal)),
                               c.calibratedText.isEmpty() ? c.statusText : c.calibratedText};
    for (int column = 0; column < cells.size(); ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (column == 7) {
            item->setBackground(c.calibratedText.isEmpty() ? kFailedColour : kCalibratedColour);
            item->setForeground(Qt::black);
        }
        m_grid->setItem(row, column, item);
    }
}

bool dlgCalibrate::validTarget(QLineEdit* box, int* value) {
    bool ok = false;
    const int v = box->text().trimmed().toInt(&ok);
    if (!ok || v <= 0 || v >= 100) {
        showMessage(this, QStringLiteral("Please Enter Numeric Value Between 0 and 100"));
        box->setFocus();
        return false;
    }
    *value = v;
    return true;
}

void dlgCalibrate::stopImages() {
    if (!m_iconn->Connected())
        return;
    imageSend(QStringLiteral("trig t"));
    imageSend(QStringLiteral("offline"));
    m_iconn->Acquisition().Stop();
    removeBoxes();
    imageSend(QStringLiteral("online"));
}

void dlgCalibrate::startImages() {
    if (!m_iconn->Connected())
        return;
    addBoxes();
    imageSend(QStringLiteral("trig c"));
}

void dlgCalibrate::addBoxes() {
    if (!m_view || m_boxesAdded)
        return;
    m_view->AddOverlay(QStringLiteral("Boxes"), std::make_shared<vm::tools::Boxes>());
    m_boxesAdded = true;
}

void dlgCalibrate::removeBoxes() {
    if (m_view && m_boxesAdded)
        m_view->RemoveOverlay(QStringLiteral("Boxes"));
    m_boxesAdded = false;
}

void dlgCalibrate::calibrate() {
    if (!m_control || m_running)
        return;
    CalibrationState& state = calibrationState();
    int contrast = 0, reflectance = 0;
    if (!validTarget(m_targetContrast, &contrast) || !validTarget(m_targetReflectance, &reflectance))
        return;
    state.targetContrast = contrast;
    state.targetReflectance = reflectance;
    stopImages();
    const QList<QWidget*> inputs = {m_targetContrast, m_targetReflectance, m_calibrate, m_close};
    for (QWidget* w : inputs)
        w->setEnabled(false);
    m_running = true;
    runSequence();
    m_running = false;
    for (QWidget* w : inputs)
        w->setEnabled(true);
    fillGrid();
    if (m_closeAfterRun) {
        // Closed during the run: the close puts the reader and the image view back as every
        // close does, so the live images are not started again first.
        emit calibrationFinished();
        done(*std::exchange(m_closeAfterRun, std::nullopt));
        return;
    }
    startImages();
    emit calibrationFinished();
}

void dlgCalibrate::runSequence() {
    CalibrationState& state = calibrationState();
    // What the lights held before: a run stopped early leaves the lights it did not reach
    // as they were.
    const auto before = state.lights;
    for (int light = 0; light < kLightCount; ++light) {
        state.lights[light].calibratedText.clear();
        state.lights[light].statusText.clear();
    }
    m_resultArrived = false;
    const QList<int> lights = shownLights();
    int last = -1;
    for (int light : lights) {
        if (m_closeAfterRun)
            break;
        if (state.lightChannels == 10)
            send(QStringLiteral("LIGHT_CTL ") + lightName(light));
        else if (state.lightChannels == 1)
            send(QStringLiteral("LIGHT_CTL 90"));
        else
            send(QStringLiteral("LIGHT_CTL OFF"));
        calibrateLight(light);
        last = light;
    }
    if (last != lights.last()) {
        const QList<int> calibrated = lights.mid(0, lights.indexOf(last) + 1);
        for (int light = 0; light < kLightCount; ++light)
            if (!calibrated.contains(light))
                state.lights[size_t(light)] = before[size_t(light)];
    }
    if (last < 0)
        return;
    if (m_rconn->Connected())
        send(state.lightChannels == 0 ? QStringLiteral("LIGHT_CTL OFF")
                                      : QStringLiteral("LIGHT_CTL ") + lightName(last));
    if (!state.lights[last].calibratedText.isEmpty()) {
        state.calibrated = true;
        m_announce = true;
        send(QStringLiteral("CELL_UNIT_REPORT MILS"));
    } else {
        // Close announces the last run only.
        m_announce = false;
        showMessage(this,
                    QStringLiteral("The calibration on the currently selected light (") + lightName(last) +
                        QStringLiteral(") was unsuccessful!"),
                    PromptButtons::Ok, PromptIcon::Critical, QStringLiteral("Calibration Failure"));
        send(QStringLiteral("CELL_UNIT_REPORT PIXELS"));
    }
}

void dlgCalibrate::calibrateLight(int light) {
    CalibrationState& state = calibrationState();
    send(state.aperture == 0 ? QStringLiteral("APERTURE AUTO")
                             : QStringLiteral("APERTURE ") + QString::number(state.aperture));
    send(QStringLiteral("TARGET_CALIB_CONTRAST ") + QString::number(state.targetContrast));
    send(QStringLiteral("TARGET_CALIB_REFLECTANCE ") + QString::number(state.targetReflectance));
    send(QStringLiteral("LEARN CALIBRATE"));
    m_waitingLight = light;
    m_resultArrived = false;
    send(QStringLiteral("vt 2"));

    // The record arrives as an event; everything else the program does keeps running.
    if (!m_resultArrived && m_rconn->Connected()) {
        QEventLoop wait;
        QTimer limit;
        limit.setSingleShot(true);
        // A coarse timer may end the wait up to 5 % early.
        limit.setTimerType(Qt::PreciseTimer);
        connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
        connect(m_rconn.get(), &vm::link::Connection::OnNewRecord, &wait, [&wait, this] {
            if (m_resultArrived)
                wait.quit();
        });
        connect(m_rconn.get(), &vm::link::Connection::OnConnectionReset, &wait, &QEventLoop::quit);
        limit.start(kResultWaitMs);
        wait.exec();
    }
    m_waitingLight = -1;

    // Judged by what the reader holds, also when no record came. Only its TRUE counts: no
    // answer, a garbled one or a dropped link say nothing about the light.
    LightCalibration& c = state.lights[light];
    const bool named = state.lightChannels == 10;
    const QStringList reply =
        query(named ? QStringLiteral("CALIBRATED ") + lightName(light) : QStringLiteral("CALIBRATED"));
    const bool echoed = word(reply, 0).compare(QLatin1String("CALIBRATED"), Qt::CaseInsensitive) == 0 &&
                        (!named || word(reply, 1).compare(lightName(light), Qt::CaseInsensitive) == 0);
    const QString answer = echoed ? word(reply, named ? 2 : 1).toUpper() : QString();
    const bool answered = answer == QLatin1String("TRUE") || answer == QLatin1String("FALSE");
    if (!m_resultArrived) {
        if (answer == QLatin1String("TRUE")) {
            c.calibratedText = QStringLiteral("Calibrated, Date Unknown");
            c.statusText.clear();
        } else {
            c.calibratedText.clear();
            c.statusText = m_rconn->Connected() ? verificationErrorText(4702)
                                                : QStringLiteral("No Connection To Camera");
        }
    }
    // The reader keeps the text of what it answered or reported; without either its state is
    // unknown and its text is left alone.
    if (m_resultArrived || answered)
        send(QStringLiteral("CALIBRATED_STRING \"") +
             (c.calibratedText.isEmpty() ? c.statusText : c.calibratedText) + QLatin1Char('"'));
}

void dlgCalibrate::recordArrived(const vm::link::Record& record) {
    if (!record.HasLearnStatus() || !record.HasCalibration())
        return;
    const vm::link::CalibrationResult& result = *record.Calibration();
    int light = -1;
    for (int i = 0; i < kLightCount; ++i)
        if (lightName(i) == result.light.toUpper())
            light = i;
    if (light < 0)
        return;
    LightCalibration& c = calibrationState().lights[light];
    if (result.errorCode == 0) {
        c.dateText =
            QLocale::c().toString(QDateTime::currentDateTime(), QStringLiteral("MMMM dd yyyy  hh:mm:ss"));
        c.calibratedText = QStringLiteral("Calibrated Since Restart: ") + c.dateText;
        c.statusText.clear();
        c.cellUnit = result.cellUnit;
        c.contrastMax = result.contrastMax;
        c.contrastMin = result.contrastMin;
        c.reflectanceCal = result.reflectanceCal;
        vm::app::setCalibrationText(c.calibratedText);
    } else {
        c.dateText = QStringLiteral("UNKNOWN");
        c.calibratedText.clear();
        c.statusText = verificationErrorText(result.errorCode);
        c.reflectanceCal = 0;
        c.contrastMin = 0;
        c.contrastMax = 255;
        c.cellUnit = 100;
        vm::app::setCalibrationText(QStringLiteral("Not Calibrated"));
    }
    c.exposure = record.Image().Exposure();
    c.gain = record.Image().Gain();
    if (light == m_waitingLight)
        m_resultArrived = true;
}

void dlgCalibrate::done(int result) {
    if (m_running) {
        // The light being calibrated ends as usual (its record, or the wait for it); the
        // run then stops and the dialog closes with it.
        m_closeAfterRun = result;
        return;
    }
    stopImages();
    if (m_announce) {
        m_rconn->BroadcastMessage(vm::res::Str(816), QLatin1String(vm::link::broadcast::Calibrated),
                                  QString());
        m_announce = false;
    }
    unload();
    QDialog::done(result);
}

void dlgCalibrate::unload() {
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (m_control && m_rconn->Connected()) {
        if (!m_savedLightCtl.isEmpty())
            send(QStringLiteral("LIGHT_CTL ") + m_savedLightCtl);
        if (!m_savedTrig.isEmpty())
            send(QStringLiteral("TRIG ") + m_savedTrig);
    }
    removeBoxes();
    vm::app::SaveWindowMetrics(this);
}

} // namespace vm::verification
