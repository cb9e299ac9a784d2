#include "shell/basicinterface.h"

#include "app/logging.h"
#include "app/prompts.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
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
#include "shell/programstate.h"
#include "shell/statusbar.h"
#include "tools/overlays.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace vm::shell {

using namespace vm::app;
using vm::res::Str;

namespace {

// The view toolbar's buttons and the windows they open; a button appears once its
// window is known to the window registry.
struct ViewButton {
    const char* key;
    int caption;
    int tooltip;
    const char* window;
};
constexpr ViewButton kViewButtons[] = {
    {"terminal", 1501, 1519, "BasicTerminal"},
    {"reports", 1502, 1520, "BasicReport"},
    {"filmstrip", 1505, 1523, "FilmstripRecorder"},
    {"tune", 1503, 1521, "BasicTune"},
    {"chart", 1504, 1522, "BasicChart"},
    {"network", 1506, 1524, "NetworkOverview"},
};

// Windows menu items and the windows they open.
struct WindowItem {
    const char* key;
    int caption; // 0: the literal text below
    const char* text;
    const char* window;
};
constexpr WindowItem kWindowItems[] = {
    {"mnuTerminal", 302, "", "BasicTerminal"},
    {"mnuReport", 303, "", "BasicReport"},
    {"mnuTune", 304, "", "BasicTune"},
    {"mnuChart", 305, "", "BasicChart"},
    {"mnuFilmstrip", 306, "", "FilmstripRecorder"},
    {"mnuNetwork", 307, "", "NetworkOverview"},
    {"mnuVerificationReport", 0, "Verification Report", "VerificationReport"},
};

// The windows that the open-window list may re-open at start-up.
const QStringList& reopenableWindows() {
    static const QStringList names = {
        QStringLiteral("BasicChart"),      QStringLiteral("BasicOutput"),
        QStringLiteral("BeepControl"),     QStringLiteral("BasicPhotometry"),
        QStringLiteral("BasicReport"),     QStringLiteral("BasicTerminal"),
        QStringLiteral("BasicTune"),       QStringLiteral("FilmstripRecorder"),
        QStringLiteral("NetworkOverview"), QStringLiteral("VerificationReport")};
    return names;
}

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
    m_imageView->setAccessibleName(tr("Camera image"));
    m_statusBar = new VmStatusBar(central);
    m_statusBar->setObjectName(QStringLiteral("VmStatusBar1"));
    layout->addWidget(m_imageView, 1);
    layout->addWidget(m_statusBar);
    setCentralWidget(central);
    resize(960, 760);

    buildCameraToolbar();
    buildControlToolbar();
    buildViewToolbar();
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

QAction* BasicInterface::addAction(QMenu* menu, const QString& key, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setObjectName(key);
    m_actions.insert(key, action);
    return action;
}

void BasicInterface::buildMenus() {
    QMenu* file = menuBar()->addMenu(Str(101));
    file->setObjectName(QStringLiteral("mnuFile"));
    connect(addAction(file, QStringLiteral("mnuSaveImage"), Str(111)), &QAction::triggered, this,
            &BasicInterface::SaveCurrentImage);
    QAction* loadImages = addAction(file, QStringLiteral("mnuLoadImages"), Str(112));
    connect(loadImages, &QAction::triggered, this, &BasicInterface::UseImageFiles);
    QAction* useCamera = addAction(file, QStringLiteral("mnuUseCamera"), Str(113));
    connect(useCamera, &QAction::triggered, this, &BasicInterface::UseCamera);
    file->addSeparator();
    connect(addAction(file, QStringLiteral("mnuPreferences"), Str(114)), &QAction::triggered, this,
            &BasicInterface::ShowPreferences);
    file->addSeparator();
    QAction* exit = addAction(file, QStringLiteral("mnuExit"), Str(115));
    exit->setShortcut(QKeySequence::Quit);
    connect(exit, &QAction::triggered, this, &QWidget::close);
    m_readerActions << loadImages << useCamera;

    QMenu* settingsMenu = menuBar()->addMenu(Str(201));
    settingsMenu->setObjectName(QStringLiteral("mnuSettings"));
    m_laserMenu = settingsMenu->addMenu(Str(208));
    m_laserMenu->setObjectName(QStringLiteral("mnuLaser"));
    m_laserGroup = new QActionGroup(this);
    const std::pair<const char*, QString> laserItems[] = {
        {"OFF", tr("Off")}, {"ON", tr("On")}, {"T", tr("2 Second Strobe")}};
    for (const auto& [value, text] : laserItems) {
        QAction* item = addAction(m_laserMenu, QStringLiteral("mnuLaser") + QLatin1String(value), text);
        item->setCheckable(true);
        item->setData(QString::fromLatin1(value));
        m_laserGroup->addAction(item);
        const QString v = QString::fromLatin1(value);
        connect(item, &QAction::triggered, this, [this, v] { SetLaser(v); });
    }
    QAction* beeper = addAction(settingsMenu, QStringLiteral("mnuBeeper"), Str(209));
    beeper->setCheckable(true);
    connect(beeper, &QAction::triggered, this, &BasicInterface::ToggleBeeper);
    settingsMenu->addSeparator();
    connect(addAction(settingsMenu, QStringLiteral("mnuResetStatistics"), Str(210)), &QAction::triggered,
            this, &BasicInterface::ResetStatistics);
    m_readerActions << m_laserMenu->menuAction() << beeper
                    << m_actions.value(QStringLiteral("mnuResetStatistics"));

    // Windows arrive one by one; the menu lists those that exist.
    QMenu* windowsMenu = nullptr;
    for (const WindowItem& item : kWindowItems) {
        const QString window = QString::fromLatin1(item.window);
        if (!windows().knows(window))
            continue;
        if (!windowsMenu) {
            windowsMenu = menuBar()->addMenu(Str(301));
            windowsMenu->setObjectName(QStringLiteral("mnuWindows"));
        }
        const QString text = item.caption ? Str(item.caption) : QString::fromLatin1(item.text);
        connect(addAction(windowsMenu, QString::fromLatin1(item.key), text), &QAction::triggered, this,
                [this, window] { windows().open(window, this); });
    }

    QMenu* help = menuBar()->addMenu(Str(401));
    help->setObjectName(QStringLiteral("mnuHelp"));
    if (windows().knows(QStringLiteral("frmAbout"))) {
        connect(addAction(help, QStringLiteral("mnuAbout"), Str(402)), &QAction::triggered, this,
                [this] { windows().open(QStringLiteral("frmAbout"), this); });
    }
    if (help->actions().isEmpty())
        menuBar()->removeAction(help->menuAction());

    m_testMenu = menuBar()->addMenu(Str(501));
    m_testMenu->setObjectName(QStringLiteral("mnuTest"));
    m_testMenuAction = m_testMenu->menuAction();
    QAction* crosshairs = addAction(m_testMenu, QStringLiteral("mnuCrosshairs"), Str(503));
    crosshairs->setCheckable(true);
    connect(crosshairs, &QAction::toggled, this, &BasicInterface::toggleCrosshairs);
    QAction* fps = addAction(m_testMenu, QStringLiteral("mnuFramesPerSecond"), Str(504));
    fps->setCheckable(true);
    connect(fps, &QAction::toggled, this, &BasicInterface::toggleFramesPerSecond);
    m_testMenuAction->setVisible(false);
}

void BasicInterface::buildCameraToolbar() {
    m_camToolbar = new CameraToolbar(this);
    addToolBar(Qt::TopToolBarArea, m_camToolbar);
    connect(m_camToolbar, &CameraToolbar::cameraClicked, this, &BasicInterface::cameraButtonClicked);
    connect(m_camToolbar, &CameraToolbar::addCameraClicked, this, &BasicInterface::addCameraClicked);
    connect(m_camToolbar, &CameraToolbar::controlClicked, this, &BasicInterface::ClickControlButton);
    connect(m_camToolbar, &CameraToolbar::removeRequested, this, &BasicInterface::RemoveCameraButton);
}

void BasicInterface::buildControlToolbar() {
    m_controlToolbar = new QToolBar(tr("Control"), this);
    m_controlToolbar->setObjectName(QStringLiteral("ControlToolbar"));
    m_controlToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_controlToolbar->setIconSize(QSize(24, 24));
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, m_controlToolbar);

    auto addButton = [this](const QString& key, const QString& caption, const QString& tip,
                            const QString& image, const QString& tag, bool checkable) {
        QAction* action = m_controlToolbar->addAction(vm::res::Icon(image), caption);
        action->setObjectName(key);
        action->setToolTip(tip.isEmpty() ? caption : tip);
        action->setCheckable(checkable);
        m_toolActions.insert(key, action);
        m_toolTags.insert(action, tag);
        if (auto* button = qobject_cast<QToolButton*>(m_controlToolbar->widgetForAction(action))) {
            button->setAccessibleName(caption);
            m_toolButtons.insert(key, button);
        }
        return action;
    };
    auto addList = [this](const QString& key, QComboBox* list, const QString& tag) {
        QAction* action = m_controlToolbar->addWidget(list);
        action->setObjectName(key);
        m_toolActions.insert(key, action);
        m_toolTags.insert(action, tag);
    };

    QAction* reports =
        addButton(QStringLiteral("reports"), Str(1525), Str(1535), QStringLiteral("report"), "serial", true);
    connect(reports, &QAction::toggled, this, &BasicInterface::reportsButtonToggled);

    m_reportFilter = new QComboBox(m_controlToolbar);
    m_reportFilter->setObjectName(QStringLiteral("ReportFilter"));
    m_reportFilter->addItems({Str(1542), Str(1543)});
    m_reportFilter->setToolTip(Str(1549));
    m_reportFilter->setAccessibleName(Str(1549));
    addList(QStringLiteral("reportfilter"), m_reportFilter, QStringLiteral("serial"));

    QAction* images =
        addButton(QStringLiteral("images"), Str(1526), Str(1536), QStringLiteral("live"), "serial", true);
    m_imagesMenu = new QMenu(this);
    m_imagesMenu->setObjectName(QStringLiteral("mnuImages"));
    QAction* oneImage = m_imagesMenu->addAction(Str(1527));
    oneImage->setObjectName(QStringLiteral("oneimage"));
    QAction* hookImages = m_imagesMenu->addAction(Str(1526));
    hookImages->setObjectName(QStringLiteral("hookimages"));
    connect(oneImage, &QAction::triggered, this, [this] { imagesMenuChosen(QStringLiteral("oneimage")); });
    connect(hookImages, &QAction::triggered, this,
            [this] { imagesMenuChosen(QStringLiteral("hookimages")); });
    images->setMenu(m_imagesMenu);
    if (QToolButton* button = m_toolButtons.value(QStringLiteral("images")))
        button->setPopupMode(QToolButton::MenuButtonPopup);
    connect(images, &QAction::toggled, this, &BasicInterface::imagesButtonToggled);

    m_compression = new QComboBox(m_controlToolbar);
    m_compression->setObjectName(QStringLiteral("Compression"));
    for (int id = 1544; id <= 1548; ++id)
        m_compression->addItem(Str(id));
    m_compression->setToolTip(Str(1550));
    m_compression->setAccessibleName(Str(1550));
    addList(QStringLiteral("compression"), m_compression, QStringLiteral("serial"));

    QAction* live =
        addButton(QStringLiteral("live"), Str(1529), QString(), QStringLiteral("live"), "network", true);
    connect(live, &QAction::toggled, this, &BasicInterface::liveButtonToggled);

    // The photometry and learn buttons open their windows; they appear once those exist.
    if (windows().knows(QStringLiteral("BasicPhotometry"))) {
        QAction* photometry = addButton(QStringLiteral("photometry"), Str(1530), QString(),
                                        QStringLiteral("exposure"), "both", false);
        connect(photometry, &QAction::triggered, this,
                [this] { windows().open(QStringLiteral("BasicPhotometry"), this); });
    }
    if (windows().knows(QStringLiteral("Learn"))) {
        QAction* learn = addButton(QStringLiteral("learn"), Str(1531), Str(1537),
                                   QStringLiteral("quicklearn"), "both", true);
        connect(learn, &QAction::toggled, this, [this](bool down) {
            QWidget* open = windows().find(QStringLiteral("Learn"));
            if (down && !open)
                windows().open(QStringLiteral("Learn"), this);
            else if (!down && open)
                ShowRestoredWindow(open, false);
        });
    }

    QAction* roi =
        addButton(QStringLiteral("roi"), Str(1532), Str(1538), QStringLiteral("roi"), "both", true);
    connect(roi, &QAction::toggled, this, &BasicInterface::roiButtonToggled);

    QAction* imageFiles = addButton(QStringLiteral("imagefile"), tr("Use Image Files"), Str(1539),
                                    QStringLiteral("tif"), "none", false);
    connect(imageFiles, &QAction::triggered, this, &BasicInterface::UseImageFiles);
    QAction* useCam = addButton(QStringLiteral("usecam"), tr("Use Camera"), Str(1540), QStringLiteral("cam"),
                                "none", false);
    connect(useCam, &QAction::triggered, this, &BasicInterface::UseCamera);
}

void BasicInterface::buildViewToolbar() {
    for (const ViewButton& b : kViewButtons) {
        const QString window = QString::fromLatin1(b.window);
        if (!windows().knows(window))
            continue;
        if (!m_viewToolbar) {
            m_viewToolbar = new QToolBar(tr("View"), this);
            m_viewToolbar->setObjectName(QStringLiteral("ViewToolbar"));
            m_viewToolbar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
            m_viewToolbar->setIconSize(QSize(24, 24));
            addToolBar(Qt::TopToolBarArea, m_viewToolbar);
        }
        const QString key = QString::fromLatin1(b.key);
        QAction* action = m_viewToolbar->addAction(vm::res::Icon(key), Str(b.caption));
        action->setObjectName(QStringLiteral("view:") + key);
        action->setData(window);
        action->setToolTip(Str(b.tooltip));
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this, window](bool down) {
            QWidget* open = windows().find(window);
            if (down && !open)
                windows().open(window, this);
            else if (!down && open)
                ShowRestoredWindow(open, false);
        });
    }
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
}

void BasicInterface::SaveCameraList() {
    m_cameras = m_camToolbar->captions(false);
    writeCameraList(app::settings(), m_cameras);
    app::settings().Save();
}

void BasicInterface::reopenWindows() {
    for (const QString& name : ReadOpenWindowList()) {
        if (name == objectName())
            continue;
        if (!reopenableWindows().contains(name) || !windows().knows(name)) {
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

void BasicInterface::closeEvent(QCloseEvent* event) {
    if (m_splash)
        unloadSplash();
    if (m_loaded && !m_closed)
        saveOnClose();
    event->accept();
}

void BasicInterface::ShowPreferences() {
    m_options->exec();
    if (m_options->Changed()) {
        ApplyTransferRates();
        ApplyDisplayPreferences();
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
}

} // namespace vm::shell
