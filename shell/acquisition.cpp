// The main window's acquisition and result display: live images, serial polling,
// laser, beeper and triggers, records and their counters, image saving and the image
// source.

#include "app/applyparameters.h"
#include "app/imagefiles.h"
#include "app/logging.h"
#include "app/programstate.h"
#include "app/prompts.h"
#include "display/colorvalue.h"
#include "display/imageview.h"
#include "link/commandresponse.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/vocabulary.h"
#include "link/wholefile.h"
#include "resources/icons.h"
#include "resources/strings.h"
#include "shell/basicinterface.h"
#include "shell/fpsoverlay.h"
#include "shell/readerrules.h"
#include "shell/statusbar.h"
#include "tools/frmhisto.h"
#include "tools/overlays.h"

#include <QAction>
#include <QActionGroup>
#include <QComboBox>
#include <QMenu>
#include <QToolButton>

#include <numeric>

namespace vm::shell {

using namespace vm::app;
using vm::display::Rgb;

namespace {
constexpr quint32 kLightRed = Rgb(255, 128, 128);
constexpr quint32 kLightGreen = Rgb(128, 255, 128);
constexpr quint32 kLightYellow = Rgb(255, 255, 128);
constexpr char kPollFailed[] = "Report request failed: ";
} // namespace

bool BasicInterface::sendSimple(const QString& command, int timeoutMs) {
    const vm::link::CommandReply reply = m_iconn->SendCommand(command, timeoutMs);
    if (!reply.ok)
        qCWarning(lcApp) << command << "was not accepted:" << reply.status << reply.errorText;
    return reply.ok;
}

void BasicInterface::withPollingSuspended(const std::function<void()>& work) {
    const bool serial = m_iconn && m_iconn->IsSerial();
    if (serial)
        SuspendSerialPolling();
    work();
    if (serial)
        ResumeSerialPolling();
}

void BasicInterface::SuspendSerialPolling() {
    if (!m_iconn || !m_iconn->IsSerial())
        return;
    m_iconn->SendCommand(QStringLiteral("REPORTCANCEL"), 500);
    m_serialHook.stop();
    m_serialOutstanding = false;
}

void BasicInterface::ResumeSerialPolling() {
    if (m_closed)
        return;
    m_serialHook.start();
    m_serialOutstanding = false;
}

void BasicInterface::clearPerConnectionState() {
    m_serialOutstanding = false;
    m_oneImageRequest = false;
    m_counts = {0, 0, 0};
    m_frameCounter = 0;
    m_fpsHistory = {0, 0, 0, 0, 0};
    m_triggerTimer.stop();
    // The region belongs to the reader: read it again from whichever reader comes next.
    m_roiParameters.Clear();
    m_roiLoaded = false;
    if (QAction* roi = m_toolActions.value(QStringLiteral("roi")); roi && roi->isChecked()) {
        const QSignalBlocker block(roi);
        roi->setChecked(false);
    }
}

// ---- Laser, beeper, trigger ----------------------------------------------------------

void BasicInterface::refreshLaser() {
    const QString value = PendingParameters().GetParameter(QStringLiteral("TARGET")).Field(0).toUpper();
    showLaserState(value);
}

void BasicInterface::showLaserState(const QString& value) {
    m_laserValue = value;
    for (QAction* item : m_laserGroup->actions())
        item->setChecked(item->data().toString() == value);
    m_statusBar->SetButtonState(QStringLiteral("laser"), value != QLatin1String("OFF"),
                                value == QLatin1String("T"));
}

void BasicInterface::SetLaser(const QString& value) {
    withPollingSuspended([&] {
        if (!EnsureControl()) {
            showLaserState(m_laserValue);
            return;
        }
        vm::link::ParameterSet set;
        set.GetParameter(QStringLiteral("TARGET")).SetField(0, value);
        QString error;
        if (!ApplyParameters(m_iconn->Response(), set, &error)) {
            writeFailed(QStringLiteral("TARGET"),
                        QStringLiteral("The targeting laser was not set: ") + error);
            if (loadGlobal(QStringLiteral("TARGET")))
                refreshLaser();
            else
                showLaserState(m_laserValue);
            return;
        }
        showLaserState(value);
        m_iconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::UpdateLaser),
                                  QString());
    });
}

void BasicInterface::refreshBeeper() {
    const bool on =
        PendingParameters().GetParameter(QStringLiteral("BEEP")).Field(0).toUpper() == QLatin1String("Y");
    if (QAction* beeper = m_actions.value(QStringLiteral("mnuBeeper")))
        beeper->setChecked(on);
    m_statusBar->SetButtonState(QStringLiteral("beep"), on);
}

void BasicInterface::ToggleBeeper() {
    QAction* beeper = m_actions.value(QStringLiteral("mnuBeeper"));
    // The menu item has already changed its check mark; the status-bar button has not.
    const bool wasOn =
        PendingParameters().GetParameter(QStringLiteral("BEEP")).Field(0).toUpper() == QLatin1String("Y");
    withPollingSuspended([&] {
        if (!EnsureControl()) {
            refreshBeeper();
            return;
        }
        const bool on = !wasOn;
        vm::link::ParameterSet set;
        set.GetParameter(QStringLiteral("BEEP")).SetField(0, on ? QStringLiteral("Y") : QStringLiteral("N"));
        QString error;
        if (!ApplyParameters(m_iconn->Response(), set, &error)) {
            writeFailed(QStringLiteral("BEEP"), QStringLiteral("The beeper was not set: ") + error);
            if (loadGlobal(QStringLiteral("BEEP"))) {
                refreshBeeper();
            } else {
                if (beeper)
                    beeper->setChecked(wasOn);
                m_statusBar->SetButtonState(QStringLiteral("beep"), wasOn);
            }
            return;
        }
        if (beeper)
            beeper->setChecked(on);
        m_statusBar->SetButtonState(QStringLiteral("beep"), on);
        m_iconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::UpdateBeep),
                                  QString());
    });
}

void BasicInterface::writeFailed(const QString& parameter, const QString& message) {
    // The change the reader refused must not ride along with the next write.
    PendingParameters().GetParameter(parameter).setModified(false);
    showMessage(this, message, PromptButtons::Ok, PromptIcon::Exclamation, QStringLiteral("Write Failure"));
}

void BasicInterface::statusButtonPressed(const QString& key) {
    if (key == QLatin1String("beep")) {
        ToggleBeeper();
    } else if (key == QLatin1String("laser")) {
        if (m_laserValue == QLatin1String("OFF"))
            SetLaser(QStringLiteral("ON"));
        else if (m_laserValue == QLatin1String("ON"))
            SetLaser(QStringLiteral("T"));
        else
            SetLaser(QStringLiteral("OFF"));
    }
}

void BasicInterface::refreshTrigger() {
    m_triggerMode =
        PendingParameters().GetParameter(QStringLiteral("TRIG")).Field(0).toUpper() == QLatin1String("T");
    const QString field = PendingParameters().GetParameter(QStringLiteral("TRIG U")).Field(0);
    m_virtualTrigger = field.size() >= 2 ? field.mid(1, field.size() - 2) : QString();
    const QString shown = m_virtualTrigger.isEmpty() ? QStringLiteral("VT 2") : m_virtualTrigger;
    m_statusBar->SetTriggerToolTip(QStringLiteral("Send Virtual Trigger \"") + shown + QLatin1Char('"'));
    m_triggerTimer.stop();
    m_statusBar->ShowWaitingForTrigger(m_triggerMode);
}

void BasicInterface::showWaitingForTrigger() {
    m_statusBar->ShowWaitingForTrigger(m_triggerMode);
}

void BasicInterface::triggerTimerFired() {
    showWaitingForTrigger();
}

void BasicInterface::SendVirtualTrigger() {
    if (!m_iconn || !m_iconn->Connected())
        return;
    const QString command = m_virtualTrigger.isEmpty() ? QStringLiteral("VT 2") : m_virtualTrigger;
    withPollingSuspended([&] { sendSimple(command, 500); });
}

// ---- Commands ----------------------------------------------------------------------

void BasicInterface::ResetStatistics() {
    withPollingSuspended([&] {
        if (!EnsureControl())
            return;
        if (showMessage(this, QStringLiteral("Are you sure you want to reset the camera statistics?"),
                        PromptButtons::YesNo, PromptIcon::Question) != PromptAnswer::Yes)
            return;
        const QString command = QStringLiteral("STATS RESET");
        const vm::link::CommandReply reply = m_iconn->SendCommand(command, 500);
        if (!reply.ok) {
            tellCommandFailed(this, command, reply.errorText);
            return;
        }
        // The status-bar counters count along with the reader's, from zero again.
        m_counts = {0, 0, 0};
        m_statusBar->SetCounts(0, 0, 0);
    });
}

void BasicInterface::setInfoMessage(const QString& text) {
    m_statusBar->SetInfoMsg(text, 0, vm::display::kWindowBackground);
    m_clearInfoTimer.start(kInfoMessageMs);
}

void BasicInterface::SaveCurrentImage() {
    if (!m_imageView->HasImage()) {
        setInfoMessage(QStringLiteral("No image to save"));
        return;
    }
    // The view only ever shows a record together with its own picture, so the number
    // in the file name is the shown picture's.
    const auto& record = m_imageView->CurrentRecord();
    const bool fromRecord = record && !record->Image().IsEmpty();
    const QString device = focusedName().isEmpty() ? QStringLiteral("Image") : focusedName();
    const QString path = MakeImageFileName(device, fromRecord ? record->Number() : 0);
    if (path.isEmpty()) {
        // The name came from the reader; it must not choose where the file goes.
        showMessage(this,
                    QStringLiteral("The camera name \"") + device +
                        QStringLiteral("\" cannot be used in a file name. The image was not saved."),
                    PromptButtons::Ok, PromptIcon::Exclamation, QStringLiteral("Warning"));
        return;
    }
    QString error;
    bool saved = false;
    if (fromRecord) {
        saved = record->Image().SaveToFile(path, &error);
    } else {
        const QImage image = m_imageView->Image();
        saved = vm::link::writeWholeFile(
            path,
            [&](QIODevice& file, QString*) {
                return image.save(&file, ImageSaveFormatIsTif() ? "TIFF" : "BMP");
            },
            &error);
    }
    if (!saved) {
        showMessage(this, QStringLiteral("Image directory specified in preferences does not exit"),
                    PromptButtons::Ok, PromptIcon::Exclamation, QStringLiteral("Warning"));
        return;
    }
    setInfoMessage(QStringLiteral("Image saved as ") + path);
}

void BasicInterface::UseImageFiles() {
    withPollingSuspended([&] {
        if (!EnsureControl())
            return;
        QStringList paths;
        if (m_fileChooser) {
            paths = m_fileChooser(this);
        } else {
            paths = chooseOpenFiles(this, QStringLiteral("Select Images"), imageSaveDirectory(),
                                    QStringLiteral("Images (*.bmp *.tif)"));
        }
        if (paths.isEmpty())
            return;
        sendSimple(QStringLiteral("CAPTURE CAMERA"), 500);
        vm::link::Device* device = m_coord->FocusedDevice();
        QString error;
        const bool transferred = device && device->TransferFiles(paths, &error);
        m_statusBar->ShowProgress(false);
        if (!transferred) {
            if (!device)
                error = QStringLiteral("No Connection To Camera");
            showMessage(this, QStringLiteral("Error transferring files to camera: ") + error);
            return;
        }
        sendSimple(QStringLiteral("CAPTURE FILES"), 500);
        setImageFileAcquisition(true);
        m_iconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::UpdatePhoto),
                                  QString());
    });
}

void BasicInterface::UseCamera() {
    withPollingSuspended([&] {
        if (!EnsureControl())
            return;
        sendSimple(QStringLiteral("CAPTURE CAMERA"), 500);
        sendSimple(QStringLiteral("DRIVEDELETE FILES"), 500);
        setImageFileAcquisition(false);
        m_iconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::UpdatePhoto),
                                  QString());
    });
}

void BasicInterface::onTransferStarted() {
    m_statusBar->SetProgressPercent(0);
    m_statusBar->ShowProgress(true);
}

// The upload that started the transfer hides the bar and resumes polling when it returns:
// resuming here, at 100 percent, would poll a serial reader before CAPTURE FILES went out.
void BasicInterface::onTransferPercent(int percent) {
    m_statusBar->SetProgressPercent(percent);
}

void BasicInterface::onTransferAborted() {
    if (m_iconn)
        m_iconn->BroadcastMessage(QLatin1String(WindowName), QLatin1String(vm::link::broadcast::DebugMessage),
                                  QStringLiteral("Transfer Aborted"));
    m_statusBar->ShowProgress(false);
    m_serialOutstanding = false;
}

// ---- Live display and serial polling ------------------------------------------------

void BasicInterface::liveButtonToggled(bool down) {
    SetLive(down);
}

void BasicInterface::SetLive(bool on) {
    if (!m_iconn)
        return;
    if (on) {
        m_iconn->Acquisition().Start();
        m_live = true;
        vm::link::ParameterSet verify;
        if (m_iconn->Connected() && verify.Load(m_iconn->Response(), QStringLiteral("VERIFY")) &&
            verify.GetParameter(QStringLiteral("VERIFY")).Field(0).toUpper() == QLatin1String("AIMDPM")) {
            m_imageView->AddOverlay(QStringLiteral("Boxes"), m_boxes);
            m_boxOverlay = true;
        }
    } else {
        m_iconn->Acquisition().Stop();
        if (m_boxOverlay) {
            m_imageView->RemoveOverlay(QStringLiteral("Boxes"));
            m_boxOverlay = false;
        }
        m_live = false;
        if (QAction* live = m_toolActions.value(QStringLiteral("live")); live && live->isChecked()) {
            const QSignalBlocker block(live);
            live->setChecked(false);
        }
    }
}

void BasicInterface::imagesMenuChosen(const QString& key) {
    QAction* images = m_toolActions.value(QStringLiteral("images"));
    if (!images)
        return;
    m_imagesOneShotForm = key == QLatin1String("oneimage");
    if (m_imagesOneShotForm) {
        images->setText(vm::res::Str(1527));
        images->setToolTip(vm::res::Str(1541));
        images->setIcon(vm::res::Icon(QStringLiteral("grab")));
    } else {
        images->setText(vm::res::Str(1526));
        images->setToolTip(vm::res::Str(1536));
        images->setIcon(vm::res::Icon(QStringLiteral("live")));
    }
    // Assistive tools name the button by what it now says.
    if (QToolButton* button = m_toolButtons.value(QStringLiteral("images")))
        button->setAccessibleName(images->text());
}

void BasicInterface::imagesButtonToggled(bool down) {
    if (!m_imagesOneShotForm)
        return;
    // In its "Upload Image" form the button asks for one report with its image.
    QAction* reports = m_toolActions.value(QStringLiteral("reports"));
    m_oneImageRequest = down;
    if (reports && reports->isChecked() != down) {
        const QSignalBlocker block(reports);
        reports->setChecked(down);
    }
}

void BasicInterface::reportsButtonToggled(bool) {
    // The next serial-hook tick acts on the new state.
}

void BasicInterface::SerialHookTick() {
    if (!m_iconn || !m_iconn->IsSerial() || !m_iconn->Connected())
        return;
    // A timer can fire while another command waits for its reply; poll on the next tick.
    if (vm::link::detail::waitDepth() > 0)
        return;
    QAction* reports = m_toolActions.value(QStringLiteral("reports"));
    QAction* images = m_toolActions.value(QStringLiteral("images"));
    const bool hookReports = reports && reports->isChecked();
    const bool withImage = (images && images->isChecked() && !m_imagesOneShotForm) || m_oneImageRequest;

    if (!hookReports) {
        if (m_serialOutstanding)
            m_iconn->SendCommand(QStringLiteral("REPORTCANCEL"), 500);
        CheckControlDropped();
        QString error;
        vm::link::ParameterSet none;
        ApplyParameters(m_iconn->Response(), none, &error);
        m_serialOutstanding = false;
        return;
    }
    if (m_serialOutstanding) {
        if (withImage != m_outstandingWithImage) {
            m_iconn->SendCommand(QStringLiteral("REPORTCANCEL"), 500);
            m_serialOutstanding = false;
        }
        return;
    }
    CheckControlDropped();
    m_serialOutstanding = true;
    m_outstandingWithImage = withImage;
    ReportRequest request;
    request.compressionIndex = m_compression->currentIndex();
    request.withImage = withImage;
    request.failuresOnly = m_reportFilter->currentIndex() == 1;
    QString error;
    vm::link::ParameterSet none;
    ApplyParameters(m_iconn->Response(), none, &error);
    m_triggerTimer.stop();
    showWaitingForTrigger();
    const vm::link::CommandReply reply = m_iconn->SendCommand(BuildReportRequest(request), 500);
    if (!reply.ok) {
        // Shown where the operator watches the results; the next tick asks again.
        m_serialOutstanding = false;
        const QString why = reply.errorText.isEmpty() ? reply.status : reply.errorText;
        m_statusBar->SetStatusMsg(QLatin1String(kPollFailed) + why, 0, kLightRed);
    } else if (m_statusBar->StatusMsgText().startsWith(QLatin1String(kPollFailed))) {
        m_statusBar->SetStatusMsg(QString(), 0, vm::display::kWindowBackground);
    }
}

// ---- Records -------------------------------------------------------------------------

void BasicInterface::onNewRecord(const vm::link::Record& record) {
    // The answer to the outstanding poll. "Upload Image" and "Hook Reports" stay down when
    // the image arrives: only the operator puts them up again.
    if (m_iconn && m_iconn->IsSerial())
        m_serialOutstanding = false;

    // A record without a picture does not replace the picture on show: its text and
    // outline would sit over another record's image. Its counts still go up.
    if (!record.Image().IsEmpty() || !m_imageView->HasImage())
        m_imageView->SetRecord(record);
    if (m_histo && m_histo->isVisible() && !record.Image().IsEmpty())
        updateHistogram();

    const bool graded =
        record.HasVerification() && firmwareLevel() >= vm::link::level::Verification && verificationEnabled();
    if (graded != m_gradeCounters) {
        m_gradeCounters = graded;
        m_counts = {0, 0, 0};
        if (graded) {
            m_statusBar->SetCountLabels(vm::res::Str(2006), vm::res::Str(2007), vm::res::Str(2008));
            m_statusBar->SetCountColors(kLightGreen, kLightYellow, kLightRed);
        } else {
            m_statusBar->SetCountLabels(vm::res::Str(1514), vm::res::Str(1515), vm::res::Str(1516));
        }
    }
    if (graded) {
        const int grade = record.Verification()->gradeCode;
        if (grade >= 3)
            ++m_counts[0];
        else if (grade == 2)
            ++m_counts[1];
        else
            ++m_counts[2];
    } else {
        m_statusBar->SetCountColors(vm::display::kWindowBackground, vm::display::kWindowBackground,
                                    kLightRed);
        ++m_counts[0];
        if (record.Passed())
            ++m_counts[1];
        else
            ++m_counts[2];
    }
    m_statusBar->SetCounts(qint32(m_counts[0]), qint32(m_counts[1]), qint32(m_counts[2]));
    if (!record.Image().IsEmpty())
        ++m_frameCounter;
    emit recordShown(record);
}

void BasicInterface::onReaderRecord(const vm::link::Record&) {
    if (!m_triggerMode)
        return;
    m_statusBar->ShowWaitingForTrigger(false);
    m_triggerTimer.start(kTriggerIntervalMs);
}

void BasicInterface::fpsTick() {
    std::rotate(m_fpsHistory.begin(), m_fpsHistory.begin() + 1, m_fpsHistory.end());
    m_fpsHistory.back() = m_frameCounter / 2.0;
    m_frameCounter = 0;
    if (m_fpsOverlay) {
        m_fpsOverlay->SetRate(framesPerSecond());
        if (m_imageView->Overlay(QStringLiteral("FPS")))
            m_imageView->update();
    }
}

double BasicInterface::framesPerSecond() const {
    return std::accumulate(m_fpsHistory.begin(), m_fpsHistory.end(), 0.0) / double(m_fpsHistory.size());
}

void BasicInterface::toggleFramesPerSecond(bool on) {
    if (!m_fpsOverlay)
        return;
    if (on)
        m_imageView->AddOverlay(QStringLiteral("FPS"), m_fpsOverlay);
    else
        m_imageView->RemoveOverlay(QStringLiteral("FPS"));
}

void BasicInterface::toggleCrosshairs(bool on) {
    if (!m_crosshairs)
        return;
    if (on)
        m_imageView->AddOverlay(QStringLiteral("Crosshairs"), m_crosshairs);
    else
        m_imageView->RemoveOverlay(QStringLiteral("Crosshairs"));
}

void BasicInterface::roiButtonToggled(bool down) {
    if (!m_searchArea)
        return;
    if (down) {
        if (m_iconn && m_iconn->Connected() && !m_roiParameters.Modified()) {
            if (m_roiParameters.Load(m_iconn->Response(), QStringLiteral("ROI"))) {
                const vm::link::Parameter& roi = m_roiParameters.GetParameter(QStringLiteral("ROI"));
                bool ok[4] = {false, false, false, false};
                const int left = roi.Field(0).toInt(&ok[0]);
                const int top = roi.Field(1).toInt(&ok[1]);
                const int right = roi.Field(2).toInt(&ok[2]);
                const int bottom = roi.Field(3).toInt(&ok[3]);
                if (ok[0] && ok[1] && ok[2] && ok[3]) {
                    m_searchArea->SetLeft(left);
                    m_searchArea->SetTop(top);
                    m_searchArea->SetRight(right);
                    m_searchArea->SetBottom(bottom);
                }
                m_roiLoaded = true;
            }
        }
        m_imageView->AddOverlay(QStringLiteral("Search Area"), m_searchArea);
    } else {
        m_imageView->RemoveOverlay(QStringLiteral("Search Area"));
        if (m_roiParameters.Modified() && m_iconn && m_iconn->Connected()) {
            withPollingSuspended([&] {
                if (!EnsureControl())
                    return;
                QString error;
                if (!ApplyParameters(m_iconn->Response(), m_roiParameters, &error))
                    showMessage(this, error, PromptButtons::Ok, PromptIcon::Exclamation);
            });
        }
    }
}

void BasicInterface::externalUpdateFired() {
    m_externalUpdate.stop();
    if (vm::link::detail::waitDepth() > 0) {
        m_externalUpdate.start();
        return;
    }
    ConnectionResetRefresh();
}

} // namespace vm::shell
