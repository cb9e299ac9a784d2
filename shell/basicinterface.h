#pragma once

#include "app/applyparameters.h"
#include "app/windowregistry.h"
#include "link/parameterset.h"
#include "link/record.h"
#include "shell/splash.h"
#include "tools/frmhisto.h"

#include <QElapsedTimer>
#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QActionGroup;
class QComboBox;
class QMenu;
class QToolBar;
class QToolButton;

namespace vm::link {
class Coordinator;
class Device;
class ImageConnection;
class ReaderConnection;
} // namespace vm::link

namespace vm::display {
class VxImageView;
}

namespace vm::tools {
class SearchArea;
class MatrixROI;
class Crosshairs;
class Boxes;
} // namespace vm::tools

namespace vm::app {
class ReadHistory;
}

namespace vm::shell {

class CameraToolbar;
class FramesPerSecondOverlay;
class VmStatusBar;
class frmOptions;

// The program's main window: the camera buttons, programming control, the focused
// reader's live images and results, and the menus and toolbars that open every other
// window. It keeps what the other windows share about the focused reader
// (firmware level, verification flags, calibration text).
class BasicInterface : public QMainWindow, public vm::app::SerialPollingControl {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicInterface";

    // Timer intervals in milliseconds.
    static constexpr int kUpdateIntervalMs = 500;
    static constexpr int kDisconnectIntervalMs = 2000;
    static constexpr int kFpsIntervalMs = 2000;
    static constexpr int kDefaultSerialHookMs = 2000;
    static constexpr int kTriggerIntervalMs = 1500;
    static constexpr int kExternalUpdateMs = 100;
    static constexpr int kInfoMessageMs = 5000;

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

    // The program's own file version, against which readers are checked.
    QString programVersion() const { return m_programVersion; }
    void setProgramVersion(const QString& version) { m_programVersion = version; }

    // Where "Load Image Files to Camera" gets its files; replaceable for tests.
    using FileChooser = std::function<QStringList(QWidget* parent)>;
    void setImageFileChooser(FileChooser chooser) { m_fileChooser = std::move(chooser); }

    // Camera buttons.
    bool AddCameraButton(const QString& name);
    bool AddGuestCameraButton(const QString& name);
    void RemoveCameraButton(int index);
    int cameraButtonCount() const;
    CameraToolbar* cameraToolbar() const { return m_camToolbar; }
    // Acts as a click on a camera button or a fixed button of the camera toolbar.
    void ClickCameraButton(const QString& caption);
    void ClickControlButton();

    // Reader operations of the camera bar.
    bool ConnectCamera(const QString& name);
    bool CheckVersion(vm::link::Device* device);
    bool EnsureControl();
    void CheckControlDropped();
    bool PrepareToLeaveCamera();
    bool IsSerialPortAvailable(const QString& name) const;
    bool IsCameraAvailable(const QString& name) const;
    void UpdateToolbar();
    void UpdateCaptions();
    void ConnectionResetRefresh();

    // Commands of the menus and toolbars.
    void SetLaser(const QString& value);
    void ToggleBeeper();
    void SendVirtualTrigger();
    void ResetStatistics();
    void SaveCurrentImage();
    void UseImageFiles();
    void UseCamera();
    void SetLive(bool on);
    bool IsLive() const { return m_live; }
    void ShowPreferences();
    // The Test menu's histogram window, with its region on the image.
    void ShowHistogramWindow();
    vm::tools::frmHisto* histogramWindow() const { return m_histo; }
    vm::tools::SearchArea* histogramRegion() const { return m_histoArea.get(); }
    void ApplyDisplayPreferences();
    void ApplyTransferRates();

    // Serial polling.
    void SerialHookTick();
    void SuspendSerialPolling() override;
    void ResumeSerialPolling() override;
    bool SerialRequestOutstanding() const { return m_serialOutstanding; }

    // State that tests and other windows read.
    vm::link::ImageConnection* imageConnection() const { return m_iconn; }
    vm::link::ReaderConnection* readerConnection() const { return m_rconn; }
    vm::link::Coordinator* coordinator() const { return m_coord; }
    vm::display::VxImageView* imageView() const { return m_imageView; }
    VmStatusBar* vmStatusBar() const { return m_statusBar; }
    frmOptions* options() const { return m_options; }
    vm::app::ReadHistory* readHistory() const { return m_history; }
    QAction* action(const QString& key) const { return m_actions.value(key); }
    QToolButton* toolButton(const QString& key) const { return m_toolButtons.value(key); }
    QComboBox* reportFilter() const { return m_reportFilter; }
    QComboBox* compression() const { return m_compression; }
    QMenu* testMenu() const { return m_testMenu; }
    bool triggerMode() const { return m_triggerMode; }
    QString virtualTriggerText() const { return m_virtualTrigger; }
    const std::array<qint64, 3>& counts() const { return m_counts; }
    bool gradeCounters() const { return m_gradeCounters; }
    int serialHookInterval() const { return m_serialHook.interval(); }
    double framesPerSecond() const;
    QTimer& updateTimer() { return m_updateTimer; }
    QTimer& serialHookTimer() { return m_serialHook; }
    QTimer& triggerTimer() { return m_triggerTimer; }
    QTimer& fpsTimer() { return m_fpsTimer; }
    QTimer& externalUpdateTimer() { return m_externalUpdate; }

signals:
    void splashFinished();
    // A record reached the main window and was shown.
    void recordShown(const vm::link::Record& record);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // Building.
    void buildMenus();
    void buildControlToolbar();
    void buildViewToolbar();
    void buildCameraToolbar();
    void connectLibrary();
    void startRecording();
    QAction* addAction(QMenu* menu, const QString& key, const QString& text);
    struct MenuEntry;
    struct ToolEntry;
    // The window's own menu commands, each at its place among the registry's windows.
    QList<MenuEntry> ownMenuEntries();
    QAction* addToolButton(const vm::app::ToolPlace& place);
    void connectWindowButton(QAction* action, const vm::app::ToolPlace& place, const QString& window);
    // Opens a window from a menu item or button: asks for control first where the item
    // says so, and lets the item pick the window for the reader.
    void openWindow(const vm::app::MenuPlace& place, const QString& window);
    vm::app::ReaderInfo readerInfo() const;
    void syncWindowButtons();

    // Start-up and closing.
    void LoadCameraList();
    void SaveCameraList();
    void reopenWindows();
    void finishSplash();
    void unloadSplash();
    void saveOnClose();

    // Library events.
    void onDeviceDiscovered(vm::link::Device* device);
    void onDeviceFocus(vm::link::Device* device);
    void onConnectionReset();
    void onControlStatusChanged();
    void onBroadcastMessage(const QString& sender, const QString& message, const QString& text);
    void onNewRecord(const vm::link::Record& record);
    void onReaderRecord(const vm::link::Record& record);
    void onTransferStarted();
    void onTransferPercent(int percent);
    void onTransferAborted();

    // Camera bar.
    void cameraButtonClicked(const QString& caption, bool down);
    void addCameraClicked();
    void disconnectTick();
    void followRenamedReaders();
    void setControlButton(bool inControl);
    QString focusedName() const;
    bool isFocusedSerial() const;
    void setReaderMenusEnabled(bool enabled);
    void updateTaggedButtons();
    void refreshCalibrationText();
    void finishRefresh();

    // Acquisition and results.
    void refreshLaser();
    void refreshBeeper();
    void refreshTrigger();
    bool loadGlobal(const QString& name);
    void showLaserState(const QString& value);
    void writeFailed(const QString& parameter, const QString& message);
    void statusButtonPressed(const QString& key);
    void imagesMenuChosen(const QString& key);
    void imagesButtonToggled(bool down);
    void reportsButtonToggled(bool down);
    void liveButtonToggled(bool down);
    void roiButtonToggled(bool down);
    void fpsTick();
    void triggerTimerFired();
    void externalUpdateFired();
    void toggleCrosshairs(bool on);
    void toggleFramesPerSecond(bool on);
    void updateHistogram();
    void histogramClosed();
    void clearPerConnectionState();
    void showWaitingForTrigger();
    void setInfoMessage(const QString& text);
    bool sendSimple(const QString& command, int timeoutMs = 500);
    // Runs a command of this window on a serial reader with polling suspended.
    void withPollingSuspended(const std::function<void()>& work);

    // Connection objects.
    vm::link::Coordinator* m_coord = nullptr;
    vm::link::ImageConnection* m_iconn = nullptr;
    vm::link::ReaderConnection* m_rconn = nullptr;

    // Controls.
    vm::display::VxImageView* m_imageView = nullptr;
    VmStatusBar* m_statusBar = nullptr;
    CameraToolbar* m_camToolbar = nullptr;
    QToolBar* m_controlToolbar = nullptr;
    QToolBar* m_viewToolbar = nullptr;
    QComboBox* m_reportFilter = nullptr;
    QComboBox* m_compression = nullptr;
    QMenu* m_imagesMenu = nullptr;
    QMenu* m_laserMenu = nullptr;
    QMenu* m_testMenu = nullptr;
    QAction* m_testMenuAction = nullptr;
    QActionGroup* m_laserGroup = nullptr;
    QHash<QString, QAction*> m_actions;
    QHash<QString, QToolButton*> m_toolButtons;
    QHash<QString, QAction*> m_toolActions; // toolbar actions by key, for the tag rule
    QHash<QAction*, QString> m_toolTags;
    // Menu items with their rules, and the buttons that open windows.
    QList<std::pair<QAction*, vm::app::MenuPlace>> m_menuRules;
    QHash<QAction*, vm::app::ItemRule> m_toolRules;
    QHash<QAction*, QString> m_windowButtons; // down while the window is open
    frmOptions* m_options = nullptr;
    // Records the focused reader's reads into the history file (Preferences turn it off).
    vm::app::ReadHistory* m_history = nullptr;

    // Overlays.
    std::shared_ptr<vm::tools::SearchArea> m_searchArea;
    std::shared_ptr<vm::tools::MatrixROI> m_matrixRoi;
    std::shared_ptr<vm::tools::Crosshairs> m_crosshairs;
    std::shared_ptr<vm::tools::Boxes> m_boxes;
    std::shared_ptr<FramesPerSecondOverlay> m_fpsOverlay;
    std::shared_ptr<vm::tools::SearchArea> m_histoArea;
    QPointer<vm::tools::frmHisto> m_histo;

    // Timers.
    QTimer m_updateTimer;
    QTimer m_disconnectTimer;
    QTimer m_fpsTimer;
    QTimer m_serialHook;
    QTimer m_triggerTimer;
    QTimer m_clearInfoTimer;
    QTimer m_splashTimer;
    QTimer m_externalUpdate;

    // Per-window state.
    QStringList m_cameras;
    // The MAC address each camera button's reader last answered discovery with, so that
    // a reader renamed and rebooted keeps its button.
    QHash<QString, QString> m_cameraMacs;
    static constexpr char kCameraMacsSection[] = "CameraMacs";
    QString m_legacyFolder;
    QPointer<Splash> m_splash;
    QElapsedTimer m_loadStarted;
    QString m_programVersion;
    FileChooser m_fileChooser;
    vm::link::ParameterSet m_roiParameters;
    bool m_roiLoaded = false;
    bool m_loaded = false;
    bool m_closed = false;
    bool m_busy = false;
    bool m_live = false;
    bool m_boxOverlay = false;
    bool m_serialOutstanding = false;
    bool m_outstandingWithImage = false;
    bool m_oneImageRequest = false;
    bool m_triggerMode = false;
    bool m_imagesOneShotForm = true;
    bool m_believedControl = false;
    bool m_controlClaimed = false; // CONTROL accepted and not given back since
    bool m_refreshing = false;
    bool m_refreshAgain = false;
    QString m_virtualTrigger;
    QString m_laserValue;
    std::array<qint64, 3> m_counts{0, 0, 0};
    bool m_gradeCounters = false;
    int m_frameCounter = 0;
    std::array<double, 5> m_fpsHistory{0, 0, 0, 0, 0};
};

} // namespace vm::shell
