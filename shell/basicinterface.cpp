#include "shell/basicinterface.h"

#include "app/displaypreferences.h"
#include "app/logging.h"
#include "app/mainimageview.h"
#include "app/programstate.h"
#include "app/prompts.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "display/colorvalue.h"
#include "display/imageview.h"
#include "link/commandresponse.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "resources/icons.h"
#include "resources/strings.h"
#include "shell/cameratoolbar.h"
#include "shell/fileversion.h"
#include "shell/fpsoverlay.h"
#include "shell/frmoptions.h"
#include "shell/statusbar.h"
#include "tools/overlays.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vm::shell {

using namespace vm::app;
using vm::res::Str;

namespace {
// Wide enough for both toolbar rows of a serial reader and for a status message such as
// "Application mode and decoder restored to defaults" beside the counters.
constexpr QSize kDefaultSize(1120, 760);
} // namespace

BasicInterface::BasicInterface(QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QLatin1String(WindowName));
    // The focused reader's name goes in front of the "-" while the program runs.
    setWindowTitle(QStringLiteral(" - Velmarrow"));
    setWindowIcon(vm::res::Icon(QStringLiteral("netconnected")));
    m_programVersion = ReadProgramVersion().version;
    m_legacyFolder = QCoreApplication::applicationDirPath();

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ImageArea"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_imageView = new vm::display::VxImageView(central);
    m_imageView->setObjectName(QStringLiteral("ImageCtl"));
    m_imageView->setAccessibleName(Str(20177));
    // Windows that draw on the live image reach it through the app layer.
    setMainImageView(m_imageView);
    m_statusBar = new VmStatusBar(central);
    m_statusBar->setObjectName(QStringLiteral("VmStatusBar1"));
    layout->addWidget(m_imageView, 1);
    layout->addWidget(m_statusBar);
    setCentralWidget(central);
    resize(kDefaultSize);

    buildCameraToolbar();
    buildViewToolbar(); // on the cameras' row
    buildControlToolbar();
    buildMenus();

    m_options = new frmOptions(this);

    m_updateTimer.setObjectName(QStringLiteral("UpdateTimer"));
    m_updateTimer.setInterval(kUpdateIntervalMs);
    m_disconnectTimer.setObjectName(QStringLiteral("DisconnectTimer"));
    m_disconnectTimer.setInterval(kDisconnectIntervalMs);
    m_fpsTimer.setObjectName(QStringLiteral("FPSTimer"));
    m_fpsTimer.setInterval(kFpsIntervalMs);
    m_serialHook.setObjectName(QStringLiteral("SerialHook"));
    m_serialHook.setInterval(kDefaultSerialHookMs);
    m_triggerTimer.setObjectName(QStringLiteral("TriggerTimer"));
    m_triggerTimer.setInterval(kTriggerIntervalMs);
    m_triggerTimer.setSingleShot(true);
    m_clearInfoTimer.setObjectName(QStringLiteral("ClearInfoTimer"));
    m_clearInfoTimer.setSingleShot(true);
    m_splashTimer.setObjectName(QStringLiteral("SplashTimer"));
    m_splashTimer.setSingleShot(true);
    m_externalUpdate.setObjectName(QStringLiteral("tmrExternalUpdateScheduled"));
    m_externalUpdate.setInterval(kExternalUpdateMs);
    m_externalUpdate.setSingleShot(true);

    connect(&m_updateTimer, &QTimer::timeout, this, [this] {
        // Not while a command waits for its reply: the next tick comes soon enough.
        if (vm::link::detail::waitDepth() > 0)
            return;
        UpdateToolbar();
        UpdateCaptions();
    });
    connect(&m_disconnectTimer, &QTimer::timeout, this, &BasicInterface::disconnectTick);
    connect(&m_fpsTimer, &QTimer::timeout, this, &BasicInterface::fpsTick);
    connect(&m_serialHook, &QTimer::timeout, this, &BasicInterface::SerialHookTick);
    connect(&m_triggerTimer, &QTimer::timeout, this, &BasicInterface::triggerTimerFired);
    connect(&m_clearInfoTimer, &QTimer::timeout, this,
            [this] { m_statusBar->SetInfoMsg(QString(), 0, vm::display::kWindowBackground); });
    connect(&m_splashTimer, &QTimer::timeout, this, &BasicInterface::unloadSplash);
    connect(&m_externalUpdate, &QTimer::timeout, this, &BasicInterface::externalUpdateFired);

    connect(m_statusBar, &VmStatusBar::OnSendVTrigger, this, &BasicInterface::SendVirtualTrigger);
    connect(m_statusBar, &VmStatusBar::OnButtonPress, this, &BasicInterface::statusButtonPressed);
    connect(m_imageView, &vm::display::VxImageView::imageMouseMove, this, [this](QPoint pixel) {
        m_statusBar->SetCursorPos(pixel.x(), pixel.y());
        const int grey = m_imageView->GrayValueAt(pixel);
        if (grey >= 0)
            m_statusBar->SetGrayVal(grey);
    });
    connect(m_imageView, &vm::display::VxImageView::imageMouseLeave, m_statusBar,
            &VmStatusBar::ClearCursorInfo);

    if (splashEnabled(app::settings().GetOption(QLatin1String(keys::VmSplashEnabled))))
        m_splash = new Splash(this);
}

BasicInterface::~BasicInterface() {
    SetSerialPollingControl(nullptr);
    if (!m_closed && m_loaded)
        saveOnClose();
}

void BasicInterface::buildCameraToolbar() {
    m_camToolbar = new CameraToolbar(this);
    addToolBar(Qt::TopToolBarArea, m_camToolbar);
    connect(m_camToolbar, &CameraToolbar::cameraClicked, this, &BasicInterface::cameraButtonClicked);
    connect(m_camToolbar, &CameraToolbar::addCameraClicked, this, &BasicInterface::addCameraClicked);
    connect(m_camToolbar, &CameraToolbar::controlClicked, this, &BasicInterface::ClickControlButton);
    connect(m_camToolbar, &CameraToolbar::removeRequested, this, &BasicInterface::RemoveCameraButton);
}

void BasicInterface::Load() {
    m_loadStarted.start();
    if (m_splash)
        m_splash->showOver(this);
    windows().track(this);
    setMainWindow(this);
    SetSerialPollingControl(this);

    bool ok = false;
    const int hookInterval = app::settings().GetOption(QLatin1String(keys::VmSerialTimerInterval)).toInt(&ok);
    m_serialHook.setInterval(ok && hookInterval > 0 ? hookInterval : kDefaultSerialHookMs);
    m_serialHook.start();

    connectLibrary();
    startRecording();
    m_updateTimer.start();
    m_disconnectTimer.start();
    m_fpsTimer.start();

    m_reportFilter->setCurrentIndex(0);
    m_compression->setCurrentIndex(0);
    LoadCameraList();
    reopenWindows();
    m_imageView->Initialize(QStringLiteral("Velmarrow"));
    UpdateToolbar();
    RestoreWindowMetrics(this);

    m_searchArea = std::make_shared<vm::tools::SearchArea>();
    m_searchArea->SetColor(0xFF0000); // blue
    m_matrixRoi = std::make_shared<vm::tools::MatrixROI>();
    m_crosshairs = std::make_shared<vm::tools::Crosshairs>();
    m_boxes = std::make_shared<vm::tools::Boxes>();
    m_fpsOverlay = std::make_shared<FramesPerSecondOverlay>();
    connect(m_searchArea.get(), &vm::tools::SearchArea::OnResize, this,
            [this](int left, int top, int right, int bottom) {
                if (!m_roiLoaded)
                    return;
                vm::link::Parameter& roi = m_roiParameters.GetParameter(QStringLiteral("ROI"));
                roi.SetField(0, QString::number(left));
                roi.SetField(1, QString::number(top));
                roi.SetField(2, QString::number(right));
                roi.SetField(3, QString::number(bottom));
            });

    ApplyDisplayPreferences();
    const QString testMenu = app::settings().GetOption(QLatin1String(keys::VelmarrowTestMenu));
    m_testMenuAction->setVisible(!testMenu.isEmpty() && testMenu != QLatin1String("0"));
    setControlPassword(app::settings().GetOption(QLatin1String(keys::VelmarrowPassword)));
    ConnectionResetRefresh();
    m_loaded = true;
    finishSplash();
    imagesMenuChosen(QStringLiteral("oneimage"));
}

void BasicInterface::connectLibrary() {
    m_coord = new vm::link::Coordinator(this);
    m_coord->setObjectName(QStringLiteral("m_coord"));
    connect(m_coord, &vm::link::Coordinator::OnDeviceDiscovered, this, &BasicInterface::onDeviceDiscovered);
    connect(m_coord, &vm::link::Coordinator::OnDeviceFocus, this, &BasicInterface::onDeviceFocus);
    m_coord->StartDiscovery();
    m_coord->Focus(QString(), QString(), QString());

    m_iconn = new vm::link::ImageConnection(this);
    m_iconn->setObjectName(QStringLiteral("m_iconn"));
    // The image stream runs only while live display is on.
    m_iconn->Acquisition().Stop();
    connect(m_iconn, &vm::link::Connection::OnBroadcastMessage, this, &BasicInterface::onBroadcastMessage);
    connect(m_iconn, &vm::link::Connection::OnConnectionReset, this, &BasicInterface::onConnectionReset);
    connect(m_iconn, &vm::link::Connection::OnControlStatusChanged, this,
            &BasicInterface::onControlStatusChanged);
    connect(m_iconn, &vm::link::Connection::OnNewRecord, this, &BasicInterface::onNewRecord);
    connect(m_iconn, &vm::link::ImageConnection::OnDataTransferStarted, this,
            &BasicInterface::onTransferStarted);
    connect(m_iconn, &vm::link::ImageConnection::OnDataTransferPercentComplete, this,
            &BasicInterface::onTransferPercent);
    connect(m_iconn, &vm::link::ImageConnection::OnDataTransferAborted, this,
            &BasicInterface::onTransferAborted);

    m_rconn = new vm::link::ReaderConnection(this);
    m_rconn->setObjectName(QStringLiteral("m_rconn"));
    connect(m_rconn, &vm::link::Connection::OnNewRecord, this, &BasicInterface::onReaderRecord);
}

void BasicInterface::LoadCameraList() {
    MigrateLegacyCameraList(app::settings(), m_legacyFolder);
    m_cameras = readCameraList(app::settings());
    for (const QString& caption : std::as_const(m_cameras)) {
        if (m_camToolbar->indexOf(caption) < 0)
            m_camToolbar->appendCamera(caption, false);
    }
    qCInfo(lcApp) << "camera list:" << m_cameras;
    // The MAC address each saved button's reader last answered with, by list position;
    // anything that does not look like one (a hand-edited file) is left out.
    static const QRegularExpression macForm(QStringLiteral("^[0-9A-Fa-f]{2}([:-][0-9A-Fa-f]{2}){5}$"));
    for (qsizetype i = 0; i < m_cameras.size(); ++i) {
        const QString mac =
            app::settings().GetValue(QString::number(i + 1), QString(), QLatin1String(kCameraMacsSection));
        if (macForm.match(mac).hasMatch())
            m_cameraMacs.insert(m_cameras.at(i), mac);
    }
}

void BasicInterface::SaveCameraList() {
    m_cameras = m_camToolbar->captions(false);
    writeCameraList(app::settings(), m_cameras);
    for (qsizetype i = 0; i < m_cameras.size(); ++i)
        app::settings().SetValue(QString::number(i + 1), m_cameraMacs.value(m_cameras.at(i)),
                                 QLatin1String(kCameraMacsSection));
    app::settings().Save();
}

void BasicInterface::reopenWindows() {
    for (const QString& name : ReadOpenWindowList()) {
        if (name == objectName())
            continue;
        const WindowEntry* registered = windows().entry(name);
        if (!registered || !registered->reopensAtStart) {
            qCInfo(lcApp) << "not re-opening window" << name;
            continue;
        }
        windows().open(name, this);
    }
}

void BasicInterface::finishSplash() {
    if (!m_splash)
        return;
    if (const auto remaining = splashRemainingTime(m_loadStarted.elapsed())) {
        m_splashTimer.start(*remaining);
    } else {
        unloadSplash();
    }
}

void BasicInterface::unloadSplash() {
    m_splashTimer.stop();
    if (m_splash) {
        m_splash->close();
        m_splash->deleteLater();
        m_splash = nullptr;
    }
    emit splashFinished();
}

void BasicInterface::saveOnClose() {
    m_closed = true;
    m_serialHook.stop();
    SaveOpenWindowList(windows().loadedWindowNames());
    SaveWindowMetrics(this);
    windows().unloadAllExcept(this);
    windows().forget(this);
    app::settings().Save();
    if (m_coord)
        m_coord->Focus(QString(), QString(), QString());
    SetSerialPollingControl(nullptr);
    m_updateTimer.stop();
    m_disconnectTimer.stop();
    m_fpsTimer.stop();
    delete m_rconn;
    m_rconn = nullptr;
    delete m_iconn;
    m_iconn = nullptr;
}

void BasicInterface::startRecording() {
    m_history = new app::ReadHistory(this);
    // Once per pause: the store retries by itself and says nothing more until it resumes.
    connect(m_history, &app::ReadHistory::message, this, [this](const QString& text) {
        m_statusBar->SetStatusMsg(text, 0, vm::display::Rgb(255, 128, 128));
    });
    m_history->applyPreferences();
}

void BasicInterface::closeEvent(QCloseEvent* event) {
    if (m_splash)
        unloadSplash();
    if (m_loaded && !m_closed)
        saveOnClose();
    event->accept();
}

void BasicInterface::ShowPreferences() {
    vm::app::runDialog(*m_options);
    if (m_options->Changed()) {
        ApplyTransferRates();
        ApplyDisplayPreferences();
        m_history->applyPreferences();
    }
}

void BasicInterface::ApplyDisplayPreferences() {
    vm::display::DisplaySettings display;
    display.passColor = m_options->PassColor();
    display.failColor = m_options->FailColor();
    display.textColor = m_options->FontColor();
    display.topText = m_options->TopTextMode();
    display.resultFont = m_options->ResultFont();
    m_imageView->SetRedraw(false);
    m_imageView->ApplyDisplaySettings(display);
    m_imageView->SetRedraw(true);
    // The other views that draw results follow the same preferences.
    vm::app::displayPreferences().announceChange();
}

} // namespace vm::shell
