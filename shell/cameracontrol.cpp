// The camera bar of the main window: camera buttons, focusing with the version check,
// programming control, the toolbar update and the reaction to connection resets.

#include "app/applyparameters.h"
#include "app/logging.h"
#include "app/programstate.h"
#include "app/prompts.h"
#include "app/windowroutines.h"
#include "display/imageview.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/fields.h"
#include "link/serialports.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "shell/addcamera.h"
#include "shell/basicinterface.h"
#include "shell/cameratoolbar.h"
#include "shell/frmoptions.h"
#include "shell/readerrules.h"
#include "shell/statusbar.h"

#include <QAction>
#include <QApplication>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>

namespace vm::shell {

using namespace vm::app;

namespace {

// Where a window remembers the camera text in front of its caption.
constexpr char kCaptionPrefixProperty[] = "vmCaptionPrefix";

// Keeps the hourglass up while a camera button's work runs.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

} // namespace

bool BasicInterface::AddCameraButton(const QString& name) {
    if (m_camToolbar->indexOf(name) >= 0) {
        showMessage(this, QStringLiteral("Camera Button Already Exists"));
        return false;
    }
    m_camToolbar->appendCamera(name, false);
    SaveCameraList();
    return true;
}

bool BasicInterface::AddGuestCameraButton(const QString& name) {
    if (m_camToolbar->indexOf(name) >= 0) {
        showMessage(this, QStringLiteral("Camera Button Already Exists"));
        return false;
    }
    m_camToolbar->appendCamera(name, true);
    return true;
}

void BasicInterface::RemoveCameraButton(int index) {
    QAction* action = m_camToolbar->camera(index);
    if (!action)
        return;
    // Removing the focused reader's button leaves that reader first.
    if (action->isChecked() && PrepareToLeaveCamera()) {
        action->setChecked(false);
        m_coord->Focus(QString(), QString(), QString());
    }
    m_camToolbar->removeCamera(index);
    SaveCameraList();
}

int BasicInterface::cameraButtonCount() const {
    return m_camToolbar->cameraCount();
}

void BasicInterface::addCameraClicked() {
    if (m_busy)
        return;
    AddCamera dialog(this);
    connect(&dialog, &AddCamera::AddCameraChosen, this, &BasicInterface::AddCameraButton);
    vm::app::runDialog(dialog);
}

void BasicInterface::ClickCameraButton(const QString& caption) {
    QAction* action = m_camToolbar->findCamera(caption);
    if (action && action->isEnabled())
        action->trigger();
}

void BasicInterface::ClickControlButton() {
    if (m_busy) {
        setControlButton(m_iconn && m_iconn->HasControl());
        return;
    }
    m_busy = true;
    if (m_iconn->HasControl()) {
        PrepareToLeaveCamera();
    } else {
        EnsureControl();
    }
    if (vm::link::Device* device = m_coord->FocusedDevice())
        device->Refresh();
    m_busy = false;
    UpdateToolbar();
}

void BasicInterface::cameraButtonClicked(const QString& caption, bool down) {
    QAction* clicked = m_camToolbar->findCamera(caption);
    if (!clicked)
        return;
    if (m_busy) {
        // Ignored: put the button back as it was.
        clicked->setChecked(!down);
        return;
    }
    m_busy = true;
    for (int i = 0; i < m_camToolbar->cameraCount(); ++i) {
        QAction* other = m_camToolbar->camera(i);
        if (other != clicked)
            other->setChecked(false);
    }
    {
        WaitCursor wait;
        if (down) {
            if (PrepareToLeaveCamera()) {
                m_coord->Focus(QString(), QString(), QString());
                if (IsSerialCaption(caption) && !IsSerialPortAvailable(caption)) {
                    showMessage(this,
                                caption + QLatin1Char(' ') +
                                    QStringLiteral("is not available, likely in use by another application"));
                    clicked->setChecked(false);
                } else {
                    ConnectCamera(caption);
                }
            }
        } else if (PrepareToLeaveCamera()) {
            m_coord->Focus(QString(), QString(), QString());
            if (CameraToolbar::isGuest(clicked))
                m_camToolbar->removeCamera(m_camToolbar->indexOf(caption));
        }
    }
    m_busy = false;
    UpdateToolbar();
}

bool BasicInterface::IsSerialPortAvailable(const QString& name) const {
    return vm::link::serialPortOpens(name);
}

bool BasicInterface::IsCameraAvailable(const QString& name) const {
    if (IsSerialCaption(name))
        return IsSerialPortAvailable(name);
    for (const vm::link::Device* device : m_coord->Devices()) {
        if (device->Name() == name)
            return true;
    }
    return IsValidIPAddress(name);
}

bool BasicInterface::ConnectCamera(const QString& name) {
    bool accepted = false;
    if (IsSerialCaption(name)) {
        // The library's own device object for the port: when the version passes, the
        // focus takes over the link this refresh opened.
        vm::link::Device* device = m_coord->DeviceFor(name);
        if (device) {
            device->Refresh();
            accepted = CheckVersion(device);
            if (!accepted)
                device->Close();
        }
    } else {
        bool named = false;
        for (vm::link::Device* device : m_coord->Devices()) {
            if (device->Name() != name)
                continue;
            named = true;
            if (CheckVersion(device)) {
                accepted = true;
                break;
            }
        }
        if (!named)
            accepted = IsValidIPAddress(name);
    }
    if (!accepted)
        return false;
    m_coord->Focus(name, QString(), QString());
    if (IsSerialCaption(name))
        m_iconn->SendCommand(QStringLiteral("RELEASE"), 500);
    return true;
}

bool BasicInterface::CheckVersion(vm::link::Device* device) {
    if (!device)
        return false;
    const QString camera = device->SoftwareVersion();
    switch (CheckVersionVerdict(camera, m_programVersion)) {
    case VersionVerdict::Accept:
        return true;
    case VersionVerdict::MinorMismatch:
        return showMessage(this, MinorMismatchText(camera, m_programVersion), PromptButtons::YesNo,
                           PromptIcon::Exclamation,
                           QStringLiteral("Minor Version Mismatch")) == PromptAnswer::Yes;
    case VersionVerdict::MajorMismatch:
        showMessage(this, MajorMismatchText(camera, m_programVersion), PromptButtons::Ok,
                    PromptIcon::Critical, QStringLiteral("Major Version Mismatch!"));
        return false;
    }
    return false;
}

bool BasicInterface::EnsureControl() {
    if (!m_iconn || !m_iconn->Connected()) {
        showMessage(this, QStringLiteral("No Connection To Camera"), PromptButtons::Ok,
                    PromptIcon::Exclamation, QStringLiteral("TakeControl"));
        return false;
    }
    if (m_iconn->HasControl())
        return true;
    const QString question = QStringLiteral("Do you wish to control the camera") + QLatin1Char(' ') +
                             focusedName() + QLatin1Char('?');
    if (showMessage(this, question, PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes) {
        showMessage(this, QStringLiteral("Cannot change settings without control..."));
        return false;
    }
    const QString password = controlPassword();
    if (!password.isEmpty()) {
        const auto entered = askInput(this, QStringLiteral("Enter Password"),
                                      QStringLiteral("VelmarrowPassword"), QString(), true);
        if (!entered || *entered != password) {
            showMessage(this, QStringLiteral("Invalid Password"));
            return false;
        }
    }
    const vm::link::CommandReply reply = m_iconn->SendCommand(QStringLiteral("CONTROL"), 500);
    m_believedControl = m_iconn->HasControl();
    m_controlClaimed = m_believedControl;
    if (!m_believedControl) {
        // The reader refused control (or never answered): any write would be refused too,
        // so the command stops here and the operator learns why.
        qCInfo(lcApp) << "CONTROL was not granted:" << reply.status << reply.errorText;
        showMessage(this, QStringLiteral("Cannot change settings without control..."));
        return false;
    }
    return true;
}

void BasicInterface::CheckControlDropped() {
    vm::link::Device* device = m_coord ? m_coord->FocusedDevice() : nullptr;
    if (!device)
        return;
    // Whether this PC holds control is read from the controller name that the refresh
    // replaces, so the claim has to be taken before it.
    const bool claimed = m_controlClaimed || m_iconn->HasControl();
    device->Refresh();
    if (!device->ControllerName().isEmpty()) {
        // In control, or another station took it over: nothing was dropped.
        m_controlClaimed = device->HasControl();
        return;
    }
    if (!claimed)
        return;
    m_controlClaimed = false;
    m_iconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::DebugMessage),
                              QStringLiteral("Control Dropped!"));
    m_iconn->SendCommand(QStringLiteral("REPORTCANCEL"), 500);
    m_serialOutstanding = false;
    m_iconn->SendCommand(QStringLiteral("RELEASE"), 500);
}

bool BasicInterface::PrepareToLeaveCamera() {
    windows().unloadReaderWindows(this);
    if (m_iconn && m_iconn->Device() && m_iconn->Device()->HasControl())
        m_iconn->SendCommand(QStringLiteral("RELEASE"), 500);
    // Control given up on purpose is no surprise to the toolbar update.
    m_believedControl = false;
    m_controlClaimed = false;
    setControlButton(false);
    return true;
}

QString BasicInterface::focusedName() const {
    vm::link::Device* device = m_coord ? m_coord->FocusedDevice() : nullptr;
    return device ? device->Name() : QString();
}

bool BasicInterface::isFocusedSerial() const {
    vm::link::Device* device = m_coord ? m_coord->FocusedDevice() : nullptr;
    return device && (device->IsSerial() || IsSerialCaption(device->Name()));
}

void BasicInterface::setControlButton(bool inControl) {
    QAction* control = m_camToolbar->controlAction();
    control->setChecked(inControl);
    if (inControl) {
        CameraToolbar::setImage(control, QStringLiteral("havecontrol"));
        control->setText(vm::res::Str(20178));
        control->setToolTip(vm::res::Str(20179));
    } else {
        CameraToolbar::setImage(control, QStringLiteral("control"));
        control->setText(vm::res::Str(20180));
        control->setToolTip(vm::res::Str(20181));
    }
}

void BasicInterface::UpdateToolbar() {
    if (!m_coord || !m_iconn)
        return;
    const bool connected = m_iconn->Connected();
    const bool inControl = connected && m_iconn->HasControl();
    QAction* control = m_camToolbar->controlAction();
    if (inControl) {
        setControlButton(true);
        m_believedControl = true;
    } else {
        const bool believed =
            m_believedControl ||
            (CameraToolbar::imageKey(control) == QLatin1String("havecontrol") && control->isChecked());
        setControlButton(false);
        if (believed) {
            m_believedControl = false;
            showMessage(this,
                        QStringLiteral("Connection Dropped Unexpectedly") + QStringLiteral("\r\n") +
                            QStringLiteral("Camera was reconnected but control was lost"),
                        PromptButtons::Ok, PromptIcon::Critical, QStringLiteral("Connection Error"));
        }
    }
    control->setEnabled(connected);

    vm::link::Device* focused = m_coord->FocusedDevice();
    if (!focused) {
        for (int i = m_camToolbar->cameraCount() - 1; i >= 0; --i) {
            QAction* action = m_camToolbar->camera(i);
            action->setChecked(false);
            if (CameraToolbar::isGuest(action))
                m_camToolbar->removeCamera(i);
        }
    } else {
        for (int i = m_camToolbar->cameraCount() - 1; i >= 0; --i) {
            QAction* action = m_camToolbar->camera(i);
            if (CameraToolbar::isGuest(action) && CameraToolbar::caption(action) != focused->Name())
                m_camToolbar->removeCamera(i);
        }
        // A reader focused without a button of its own gets a guest button, unless a saved
        // button's reader now answers under this name: that button takes it.
        if (m_camToolbar->indexOf(focused->Name()) < 0)
            followRenamedReaders();
        if (m_camToolbar->indexOf(focused->Name()) < 0)
            AddGuestCameraButton(focused->Name());
    }

    const QList<vm::link::Device*> devices = m_coord->Devices();
    for (int i = 0; i < m_camToolbar->cameraCount(); ++i) {
        QAction* action = m_camToolbar->camera(i);
        const QString caption = CameraToolbar::caption(action);
        const QString set = IsSerialCaption(caption) ? QStringLiteral("serial") : QStringLiteral("net");
        const bool isFocused = focused && focused->Name() == caption;
        vm::link::Device* device = isFocused ? focused : nullptr;
        for (vm::link::Device* d : devices) {
            if (!device && d->Name() == caption)
                device = d;
        }
        QString image = set + QStringLiteral("disconnected");
        if (device && isFocused && connected)
            image = set + (inControl ? QStringLiteral("control") : QStringLiteral("connected"));
        CameraToolbar::setImage(action, image);
        action->setChecked(isFocused);
        if (device && !device->ControllerName().isEmpty() && !(isFocused && inControl))
            action->setToolTip(QStringLiteral("Camera being programmed by ") +
                               ControllerDisplayName(device->ControllerName()));
        else
            action->setToolTip(caption);
    }
    updateTaggedButtons();

    syncWindowButtons();
}

void BasicInterface::updateTaggedButtons() {
    const bool focused = m_coord && m_coord->FocusedDevice();
    const bool serial = focused && isFocusedSerial();
    for (auto it = m_toolTags.cbegin(); it != m_toolTags.cend(); ++it) {
        if (it.value() == QLatin1String("serial"))
            it.key()->setVisible(serial);
        else if (it.value() == QLatin1String("network"))
            it.key()->setVisible(focused && !serial);
    }
}

void BasicInterface::disconnectTick() {
    followRenamedReaders();
    const QString focused = focusedName();
    for (int i = 0; i < m_camToolbar->cameraCount(); ++i) {
        QAction* action = m_camToolbar->camera(i);
        const QString caption = CameraToolbar::caption(action);
        if (caption == focused && !focused.isEmpty())
            continue;
        action->setEnabled(IsCameraAvailable(caption));
    }
}

void BasicInterface::UpdateCaptions() {
    QString cameraText = focusedName();
    if (cameraText.isEmpty())
        cameraText = QStringLiteral("(no camera)");
    if (m_iconn && m_iconn->HasControl())
        cameraText += QStringLiteral(" [CTRL]");
    const QList<QWidget*> loaded = windows().loadedWindows();
    for (QWidget* window : loaded) {
        if (!window)
            continue;
        const QString caption = window->windowTitle();
        // The reader's name may hold a "-" itself: the camera text put in front last
        // time is taken off whole, not up to its first "-".
        const QString previous = window->property(kCaptionPrefixProperty).toString() + QStringLiteral(" -");
        QString rest;
        if (previous.size() > 2 && caption.startsWith(previous)) {
            rest = caption.mid(previous.size());
        } else {
            const int dash = caption.indexOf(QLatin1Char('-'));
            if (dash < 0)
                continue;
            rest = caption.mid(dash + 1);
        }
        window->setProperty(kCaptionPrefixProperty, cameraText);
        const QString updated = cameraText + QStringLiteral(" -") + rest;
        if (updated != caption)
            window->setWindowTitle(updated);
    }
}

void BasicInterface::onDeviceDiscovered(vm::link::Device* device) {
    if (!device)
        return;
    followRenamedReaders();
    if (QAction* action = m_camToolbar->findCamera(device->Name()))
        action->setEnabled(true);
}

void BasicInterface::followRenamedReaders() {
    if (!m_coord)
        return;
    QList<vm::link::Device*> answering;
    for (vm::link::Device* d : m_coord->Devices())
        if (d->isDiscovered() && d->present())
            answering.append(d);
    bool seen = false;
    for (vm::link::Device* d : std::as_const(answering)) {
        // Readers write the hex digits in either case; kept in one so a change is a change.
        const QString mac = d->MacAddress().toUpper();
        if (mac.isEmpty() || m_camToolbar->indexOf(d->Name()) < 0 || m_cameraMacs.value(d->Name()) == mac)
            continue;
        m_cameraMacs.insert(d->Name(), mac);
        seen = true;
    }

    const QString focused = focusedName();
    bool renamed = false;
    for (int i = 0; i < m_camToolbar->cameraCount(); ++i) {
        QAction* action = m_camToolbar->camera(i);
        const QString caption = CameraToolbar::caption(action);
        const QString mac = m_cameraMacs.value(caption);
        if (mac.isEmpty() || CameraToolbar::isGuest(action) || caption == focused)
            continue;
        const auto byName = [&](const vm::link::Device* d) { return d->Name() == caption; };
        if (std::any_of(answering.cbegin(), answering.cend(), byName))
            continue;
        // The reader that now answers with this button's MAC under a name no button has.
        // A guest button of that name (the reader focused under its new name before its
        // saved button followed) gives way.
        const auto freeName = [&](const QString& name) {
            const int at = m_camToolbar->indexOf(name);
            return at < 0 || CameraToolbar::isGuest(m_camToolbar->camera(at));
        };
        const auto it = std::find_if(answering.cbegin(), answering.cend(), [&](const vm::link::Device* d) {
            return d->MacAddress().compare(mac, Qt::CaseInsensitive) == 0 && !d->Name().isEmpty() &&
                   !IsSerialCaption(d->Name()) && freeName(d->Name());
        });
        if (it == answering.cend())
            continue;
        const QString name = (*it)->Name();
        qCInfo(lcApp).noquote() << "camera" << caption << "now answers as" << name;
        if (const int guest = m_camToolbar->indexOf(name); guest >= 0) {
            m_camToolbar->removeCamera(guest);
            if (guest < i)
                --i;
            action = m_camToolbar->camera(i);
        }
        m_camToolbar->renameCamera(i, name);
        m_cameraMacs.remove(caption);
        m_cameraMacs.insert(name, mac);
        action->setEnabled(true);
        renamed = true;
    }
    if (renamed || seen)
        SaveCameraList();
}

void BasicInterface::onDeviceFocus(vm::link::Device* device) {
    if (!device) {
        // Leaving one reader for another delivers "nothing focused" late, after the new
        // reader's refresh enabled the menus: only a focus that still holds counts.
        if (!m_coord->FocusedDevice())
            setReaderMenusEnabled(false);
        return;
    }
    ApplyTransferRates();
}

void BasicInterface::ApplyTransferRates() {
    vm::link::Device* device = m_coord ? m_coord->FocusedDevice() : nullptr;
    if (!device)
        return;
    if (m_iconn->HasControl() && m_options->MaxInControl()) {
        device->ImageChannel().SetRate(0);
        device->ReportChannel().SetRate(0);
        return;
    }
    const int imageRate = m_options->ImageRate();
    if (imageRate != -1) {
        device->ImageChannel().SetMode(0);
        device->ImageChannel().SetRate(imageRate);
    } else {
        device->ImageChannel().SetMode(2);
    }
    device->ReportChannel().SetRate(m_options->ReportRate());
}

void BasicInterface::onControlStatusChanged() {
    UpdateToolbar();
    ApplyTransferRates();
}

void BasicInterface::onConnectionReset() {
    ConnectionResetRefresh();
}

void BasicInterface::ConnectionResetRefresh() {
    if (!m_iconn)
        return;
    if (m_refreshing) {
        // A reset that arrives while the refresh waits for the operator (a box is
        // open) runs once that refresh is over, never in the middle of it.
        m_refreshAgain = true;
        return;
    }
    m_refreshing = true;
    setFirmwareLevel(0);
    PendingParameters().Clear();
    clearPerConnectionState();

    if (QAction* live = m_toolActions.value(QStringLiteral("live")))
        live->setChecked(false);
    SetLive(false);
    m_imageView->RemoveOverlay(QStringLiteral("Search Area"));
    m_imageView->RemoveOverlay(QStringLiteral("Matrix ROI"));
    m_imageView->Clear();
    m_statusBar->ClearCounts();
    m_statusBar->SetStatusMsg(QString(), 0, vm::display::kWindowBackground);
    m_statusBar->SetInfoMsg(QString(), 0, vm::display::kWindowBackground);
    m_statusBar->ShowWaitingForTrigger(false);

    const bool connected = m_iconn->Connected();
    if (!connected) {
        setReaderMenusEnabled(false);
        m_statusBar->EnableToobarButtons(false);
        finishRefresh();
        return;
    }

    vm::link::Device* device = m_iconn->Device();
    setFirmwareLevel(device ? FirmwareLevelOf(device->SoftwareVersion()) : 0);
    setReaderMenusEnabled(true);
    m_statusBar->EnableToobarButtons(true);

    const bool loaded = loadGlobal(QStringLiteral("BEEP")) && loadGlobal(QStringLiteral("TARGET")) &&
                        loadGlobal(QStringLiteral("TRIG")) && loadGlobal(QStringLiteral("TRIG U"));
    if (!loaded) {
        showMessage(this, QStringLiteral("Failed to query the camera for laser, beep, and trigger settings."),
                    PromptButtons::Ok, PromptIcon::Critical, QStringLiteral("Query Failure"));
    } else {
        refreshLaser();
        refreshBeeper();
        refreshTrigger();
    }

    if (firmwareLevel() >= vm::link::level::Calibration)
        refreshCalibrationText();

    if (QAction* reports = m_toolActions.value(QStringLiteral("reports")))
        reports->setChecked(false);
    if (QAction* images = m_toolActions.value(QStringLiteral("images")))
        images->setChecked(false);
    m_serialOutstanding = false;
    m_oneImageRequest = false;

    vm::link::ParameterSet verify;
    if (verify.Load(m_iconn->Response(), QStringLiteral("VERIFY")))
        setVerificationEnabled(verify.GetParameter(QStringLiteral("VERIFY")).Field(0) !=
                               QLatin1String("NONE"));
    else
        setVerificationEnabled(false);
    if (firmwareLevel() < vm::link::level::Verification) {
        m_statusBar->SetCountLabels(vm::res::Str(1514), vm::res::Str(1515), vm::res::Str(1516));
        m_gradeCounters = false;
    }
    const bool verificationOn = firmwareLevel() >= vm::link::level::Verification && verificationEnabled();
    m_rconn->BroadcastMessage(QLatin1String(WindowName),
                              QLatin1String(verificationOn ? vm::link::broadcast::VerificationOn
                                                           : vm::link::broadcast::VerificationOff),
                              QString());

    if (device && firmwareLevel() < vm::link::level::CurrentTransfer) {
        device->ImageChannel().SetLegacy(true);
        device->ReportChannel().SetLegacy(true);
    }
    finishRefresh();
}

void BasicInterface::finishRefresh() {
    m_refreshing = false;
    UpdateToolbar();
    if (m_refreshAgain) {
        m_refreshAgain = false;
        QTimer::singleShot(0, this, &BasicInterface::ConnectionResetRefresh);
    }
}

void BasicInterface::refreshCalibrationText() {
    if (!loadGlobal(QStringLiteral("CALIBRATED")))
        return;
    if (PendingParameters().GetParameter(QStringLiteral("CALIBRATED")).Field(0) == QLatin1String("FALSE")) {
        m_rconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::Uncalibrated),
                                  QString());
        setCalibrationText(QStringLiteral("Not Calibrated"));
        return;
    }
    QString reply = m_iconn->Query(QStringLiteral("CALIBRATED_STRING"));
    const int blank = reply.indexOf(QLatin1Char(' '));
    const QString value = vm::link::unquoteField(blank >= 0 ? reply.mid(blank + 1) : QString());
    m_rconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::Calibrated),
                              QString());
    setCalibrationText(QStringLiteral("Calibrated : ") + value);
}

void BasicInterface::onBroadcastMessage(const QString& sender, const QString& message, const QString& text) {
    if (sender == QLatin1String(WindowName))
        return;
    if (message == QLatin1String(vm::link::broadcast::UpdateIO)) {
        if (loadGlobal(QStringLiteral("TRIG")) && loadGlobal(QStringLiteral("TRIG U")))
            refreshTrigger();
    } else if (message == QLatin1String(vm::link::broadcast::Roi)) {
        if (QAction* roi = m_toolActions.value(QStringLiteral("roi")))
            roi->setEnabled(text == QLatin1String("ENABLE"));
    } else if (message == QLatin1String(vm::link::broadcast::UpdateLaser)) {
        if (loadGlobal(QStringLiteral("TARGET")))
            refreshLaser();
    } else if (message == QLatin1String(vm::link::broadcast::UpdateBeep)) {
        if (loadGlobal(QStringLiteral("BEEP")))
            refreshBeeper();
    } else if (message == QLatin1String(vm::link::broadcast::UpdateDropWhenBusy)) {
        if (firmwareLevel() >= vm::link::level::Calibration)
            m_externalUpdate.start();
    }
}

bool BasicInterface::loadGlobal(const QString& name) {
    if (!m_iconn || !m_iconn->Connected())
        return false;
    QString error;
    const bool ok = name.contains(QLatin1Char(' '))
                        ? PendingParameters().LoadCompound(m_iconn->Response(), name, &error)
                        : PendingParameters().Load(m_iconn->Response(), name, &error);
    if (!ok)
        qCWarning(lcApp) << "could not load" << name << ":" << error;
    return ok;
}

} // namespace vm::shell
