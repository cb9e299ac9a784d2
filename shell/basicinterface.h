#pragma once

#include "shell/splash.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

namespace vm::shell {

// The program's main window. Constructing it reads the splash option and prepares the
// splash; Load() does the start-up work of the window; closing it saves the open-window
// list, its own metrics and the settings, and unloads every other window.
class BasicInterface : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicInterface";

    explicit BasicInterface(QWidget* parent = nullptr);
    ~BasicInterface() override;

    void Load();
    bool isLoaded() const { return m_loaded; }

    // The captions of the stored camera buttons, in toolbar order.
    const QStringList& cameraList() const { return m_cameras; }
    // Where the legacy camera list "Velmarrow.INI" is looked for (the program's folder).
    void setLegacyFolder(const QString& folder) { m_legacyFolder = folder; }

    Splash* splash() const { return m_splash; }
    const QTimer& splashTimer() const { return m_splashTimer; }

signals:
    void splashFinished();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void LoadCameraList();
    void reopenWindows();
    void finishSplash();
    void unloadSplash();
    void saveOnClose();

    QStringList m_cameras;
    QString m_legacyFolder;
    QPointer<Splash> m_splash;
    QTimer m_splashTimer;
    QElapsedTimer m_loadStarted;
    bool m_loaded = false;
    bool m_closed = false;
};

} // namespace vm::shell
