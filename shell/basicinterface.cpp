#include "shell/basicinterface.h"

#include "app/logging.h"
#include "app/settingsstore.h"
#include "app/windowroutines.h"
#include "shell/splash.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QStatusBar>

namespace vm::shell {

using namespace vm::app;

BasicInterface::BasicInterface(QWidget* parent)
    : QMainWindow(parent) {
    setObjectName(QLatin1String(WindowName));
    // The focused reader's name goes in front of the "-" while the program runs.
    setWindowTitle(QStringLiteral(" - Velmarrow"));
    setAttribute(Qt::WA_DeleteOnClose, false);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ImageArea"));
    setCentralWidget(central);
    statusBar()->setObjectName(QStringLiteral("VmStatusBar1"));
    resize(960, 720);

    m_legacyFolder = QCoreApplication::applicationDirPath();

    m_splashTimer.setObjectName(QStringLiteral("SplashTimer"));
    m_splashTimer.setSingleShot(true);
    connect(&m_splashTimer, &QTimer::timeout, this, &BasicInterface::unloadSplash);

    if (splashEnabled(settings().GetOption(QLatin1String(keys::VmSplashEnabled))))
        m_splash = new Splash(this);
}

BasicInterface::~BasicInterface() {
    if (!m_closed && m_loaded)
        saveOnClose();
}

void BasicInterface::Load() {
    m_loadStarted.start();
    if (m_splash)
        m_splash->showOver(this);
    windows().track(this);
    setMainWindow(this);

    LoadCameraList();
    reopenWindows();
    RestoreWindowMetrics(this);
    m_loaded = true;
    finishSplash();
}

void BasicInterface::LoadCameraList() {
    MigrateLegacyCameraList(settings(), m_legacyFolder);
    m_cameras = readCameraList(settings());
    qCInfo(lcApp) << "camera list:" << m_cameras;
}

void BasicInterface::reopenWindows() {
    for (const QString& name : ReadOpenWindowList()) {
        if (name == objectName())
            continue;
        if (!windows().knows(name)) {
            qCInfo(lcApp) << "not re-opening unknown window" << name;
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
    SaveOpenWindowList(windows().loadedWindowNames());
    SaveWindowMetrics(this);
    windows().unloadAllExcept(this);
    windows().forget(this);
    settings().Save();
}

void BasicInterface::closeEvent(QCloseEvent* event) {
    if (m_splash)
        unloadSplash();
    if (m_loaded && !m_closed)
        saveOnClose();
    event->accept();
}

} // namespace vm::shell
