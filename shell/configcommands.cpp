#include "shell/configcommands.h"

#include "app/logging.h"
#include "app/prompts.h"
#include "app/windowregistry.h"
#include "app/windowroutines.h"
#include "display/colorvalue.h"
#include "link/configuration.h"
#include "link/connection.h"
#include "link/vocabulary.h"
#include "resources/strings.h"
#include "shell/basicinterface.h"
#include "shell/frmlog.h"
#include "shell/frmpidcopy.h"
#include "shell/statusbar.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPointer>

namespace vm::shell::configcommands {

using vm::app::PromptButtons;
using vm::app::PromptIcon;
using vm::app::showMessage;
using vm::res::Str;
namespace bc = vm::link::broadcast;

namespace {

constexpr quint32 kYellow = 65535;
constexpr quint32 kRed = 255;

FileChooser& chooser() {
    static FileChooser chosen;
    return chosen;
}

class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

void setStatus(BasicInterface& main, const QString& text) {
    if (VmStatusBar* bar = main.vmStatusBar())
        bar->SetStatusMsg(text, 0, vm::display::kWindowBackground);
}

void broadcastAll(vm::link::Connection& conn, const QString& sender,
                  std::initializer_list<const char*> messages) {
    for (const char* message : messages)
        conn.BroadcastMessage(sender, QLatin1String(message), QString());
}

vm::app::MenuPlace filePlace(int position, int group, const QString& key, int caption) {
    vm::app::MenuPlace p;
    p.menu = vm::app::Menu::File;
    p.position = position;
    p.group = group;
    p.key = key;
    p.caption = Str(caption);
    p.rule = vm::app::ItemRule::Control;
    return p;
}

BasicInterface* mainOf(QWidget* widget) {
    return qobject_cast<BasicInterface*>(widget);
}

// Resumes serial polling however a load or save ends.
class PollingPause {
public:
    explicit PollingPause(BasicInterface& main)
        : m_main(&main) {
        main.SuspendSerialPolling();
    }
    ~PollingPause() {
        if (m_main)
            m_main->ResumeSerialPolling();
    }
    PollingPause(const PollingPause&) = delete;
    PollingPause& operator=(const PollingPause&) = delete;

private:
    QPointer<BasicInterface> m_main;
};

} // namespace

void setFileChooser(FileChooser choose) {
    chooser() = std::move(choose);
}

QString fileDialogTitle() {
    return QStringLiteral("Select Configuration File");
}

QString fileDialogFilter() {
    return QStringLiteral("Lumivex\u2122 Configuration Files (*.lcf)");
}

QString chooseFile(QWidget* parent, bool forSaving) {
    if (chooser())
        return chooser()(parent, forSaving);
    QString path = forSaving
                       ? vm::app::chooseSaveFile(parent, fileDialogTitle(), QString(), fileDialogFilter())
                       : vm::app::chooseOpenFile(parent, fileDialogTitle(), QString(), fileDialogFilter());
    if (forSaving && !path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1Char('.') + QLatin1String(vm::link::kConfigurationSuffix);
    return path;
}

QString progressCaption(int loaded, int errors) {
    return QString::number(loaded) + QStringLiteral(" Lines loaded,  ") + QString::number(errors) +
           (errors == 1 ? QStringLiteral(" error reported") : QStringLiteral(" errors reported"));
}

QString finalCaption(int errors) {
    if (errors == 1)
        return QStringLiteral("1 error was reported:");
    return QString::number(errors) + QStringLiteral(" errors were reported:");
}

void SaveParameters(BasicInterface& main) {
    vm::link::ImageConnection* conn = main.imageConnection();
    if (!conn || !conn->HasControl())
        return;
    vm::link::CommandReply reply;
    {
        WaitCursor wait;
        reply = conn->SendCommand(QStringLiteral("SAVE"), vm::link::kSaveTimeoutMs);
    }
    if (reply.ok)
        showMessage(&main, QStringLiteral("Camera Parameters are saved to flash"));
    else
        showMessage(&main,
                    QStringLiteral("Camera Parameters could not be saved to flash: ") + reply.errorText,
                    PromptButtons::Ok, PromptIcon::Critical);
}

void RestoreDefaults(BasicInterface& main, Defaults which) {
    vm::link::ImageConnection* conn = main.imageConnection();
    if (!conn || !conn->HasControl())
        return;
    QStringList commands;
    QString done;
    switch (which) {
    case Defaults::Decoder:
        commands = {QStringLiteral("RESET DECODER")};
        done = QStringLiteral("Decoder restored to defaults");
        break;
    case Defaults::ApplicationMode:
        commands = {QStringLiteral("RESET APPMODE")};
        done = QStringLiteral("Application mode restored to defaults");
        break;
    case Defaults::Both:
        commands = {QStringLiteral("RESET DECODER"), QStringLiteral("RESET APPMODE")};
        done = QStringLiteral("Application mode and decoder restored to defaults");
        break;
    }
    QStringList refused;
    for (const QString& command : std::as_const(commands)) {
        const vm::link::CommandReply reply = conn->SendCommand(command, vm::link::kCommandTimeoutMs);
        if (!reply.ok)
            refused << command + QStringLiteral(": ") + reply.errorText;
    }
    setStatus(main, refused.isEmpty()
                        ? done
                        : QStringLiteral("Restoring defaults failed: ") + refused.join(QLatin1String("; ")));
    const QString sender = QLatin1String(BasicInterface::WindowName);
    if (which == Defaults::Decoder)
        broadcastAll(*conn, sender, {bc::Unlearn});
    else
        broadcastAll(*conn, sender, {bc::UpdatePhoto, bc::UpdateIO, bc::Unlearn});
}

void SaveConfiguration(BasicInterface& main) {
    const QString path = chooseFile(&main, true);
    if (path.isEmpty())
        return;
    vm::link::ImageConnection* conn = main.imageConnection();
    QStringList lines;
    QString error;
    bool read = true;
    if (conn && conn->Connected()) {
        // A poll answered in the middle of the listing would hold up its lines on a serial line.
        PollingPause pause(main);
        WaitCursor wait;
        read = vm::link::readReaderConfiguration(conn->Response(), &lines, &error,
                                                 [] { QCoreApplication::processEvents(); });
    }
    const QString sender = QLatin1String(BasicInterface::WindowName);
    if (conn)
        broadcastAll(*conn, sender,
                     {bc::UpdatePhoto, bc::UpdateIO, bc::UpdateTimeout, bc::UpdateLaser, bc::UpdateBarcodes});
    if (!read) {
        // A file that already holds a configuration is worth more than an empty one.
        showMessage(&main,
                    QStringLiteral("The camera did not send its configuration (%1). %2 was not written.")
                        .arg(error, QDir::toNativeSeparators(path)),
                    PromptButtons::Ok, PromptIcon::Exclamation);
        return;
    }
    if (!vm::link::writeConfigurationFile(path, lines, &error))
        showMessage(&main, QStringLiteral("The configuration could not be saved: ") + error,
                    PromptButtons::Ok, PromptIcon::Critical);
}

void LoadConfiguration(BasicInterface& main) {
    QPointer<BasicInterface> guard(&main);
    PollingPause pause(main);
    if (!main.EnsureControl())
        return;
    const QString path = chooseFile(&main, false);
    if (path.isEmpty())
        return;
    QStringList lines;
    QString error;
    if (!vm::link::readConfigurationFile(path, &lines, &error)) {
        showMessage(&main, error, PromptButtons::Ok, PromptIcon::Critical, fileDialogTitle());
        return;
    }
    vm::link::ImageConnection* iconn = main.imageConnection();
    vm::link::ReaderConnection* rconn = main.readerConnection();

    QPointer<frmLog> log =
        qobject_cast<frmLog*>(vm::app::windows().open(QLatin1String(frmLog::WindowName), &main));
    if (log) {
        log->Clear();
        log->SetLoading(true);
    }
    VmStatusBar* bar = main.vmStatusBar();
    int commands = 0;
    for (const QString& line : std::as_const(lines))
        commands += vm::link::isConfigurationCommand(line) ? 1 : 0;
    if (bar && commands > 0) {
        bar->SetProgressPercent(0);
        bar->ShowProgress(true);
    }

    int loaded = 0;
    int errors = 0;
    bool stopped = false;
    const bool logShown = log;
    for (const QString& line : std::as_const(lines)) {
        if (!vm::link::isConfigurationCommand(line))
            continue;
        // A lost link or lost control would only pile up the same failure line after line; the
        // operator may also stop the load from the log (or by closing it).
        QString why;
        if (!guard || !iconn->Connected())
            why = QStringLiteral("The connection to the camera was lost; %1 lines were not sent");
        else if (!iconn->HasControl())
            why = QStringLiteral("Programming control of the camera was lost; %1 lines were not sent");
        else if (logShown && (!log || log->stopRequested()))
            why = QStringLiteral("Loading was stopped; %1 lines were not sent");
        if (!why.isEmpty()) {
            ++errors;
            why = why.arg(commands - loaded);
            if (log)
                log->AddText(why, kRed);
            if (guard)
                setStatus(main, why);
            qCInfo(vm::app::lcApp).noquote() << why;
            stopped = true;
            break;
        }
        const vm::link::LineOutcome outcome = vm::link::sendConfigurationLine(iconn->Response(), line);
        ++loaded;
        if (outcome.failed) {
            ++errors;
            if (log) {
                log->AddText(line, kYellow);
                bool any = false;
                for (const QString& text : outcome.replyText) {
                    if (text.isEmpty())
                        continue;
                    log->AddText(text, kRed);
                    any = true;
                }
                // No reply at all: the operator still learns why.
                if (!any && !outcome.answered)
                    log->AddText(outcome.status, kRed);
            }
        }
        if (log)
            log->SetCaption(progressCaption(loaded, errors));
        if (bar)
            bar->SetProgressPercent(loaded * 100 / commands);
        QCoreApplication::processEvents();
    }
    if (!guard)
        return;
    if (bar)
        bar->ShowProgress(false);
    // A load that went to its end says so, in place of what an earlier, stopped load told.
    if (!stopped)
        setStatus(main, progressCaption(loaded, errors));
    if (log) {
        log->SetLoading(false);
        if (errors == 0)
            log->close();
        else
            log->SetCaption(finalCaption(errors));
    }
    const QString self = QLatin1String(BasicInterface::WindowName) + QStringLiteral("_SELF");
    rconn->BroadcastMessage(self, QLatin1String(bc::ScheduleUpdate), QString());
    broadcastAll(*iconn, self,
                 {bc::UpdatePhoto, bc::UpdateIO, bc::UpdateTimeout, bc::UpdateLaser, bc::UpdateBarcodes});
    qCInfo(vm::app::lcApp).noquote() << "configuration" << path << "loaded:" << loaded << "lines," << errors
                                     << "errors";
}

void CopyPid(BasicInterface& main, bool toPid) {
    frmPIDCopy dialog(&main);
    vm::app::RestoreWindowMetrics(&dialog);
    dialog.SetDirection(toPid);
    vm::app::runDialog(dialog);
}

std::vector<vm::app::CommandEntry> commandEntries() {
    using vm::app::CommandEntry;
    auto with = [](void (*f)(BasicInterface&)) {
        return [f](QWidget* main) {
            if (BasicInterface* w = mainOf(main))
                f(*w);
        };
    };
    std::vector<CommandEntry> entries;
    entries.push_back(
        {filePlace(1020, 0, QStringLiteral("mnuSaveParameters"), 102), with(&SaveParameters), {}});

    CommandEntry restore{filePlace(1030, 0, QStringLiteral("mnuRestoreDefaults"), 103), {}, {}};
    const std::pair<const char*, Defaults> items[] = {{"mnuRestoreDecoder", Defaults::Decoder},
                                                      {"mnuRestoreAppMode", Defaults::ApplicationMode},
                                                      {"mnuRestoreBoth", Defaults::Both}};
    int caption = 104;
    for (const auto& [key, which] : items) {
        const Defaults w = which;
        restore.items.push_back({QLatin1String(key), Str(caption++), [w](QWidget* main) {
                                     if (BasicInterface* m = mainOf(main))
                                         RestoreDefaults(*m, w);
                                 }});
    }
    entries.push_back(std::move(restore));

    entries.push_back(
        {filePlace(1070, 1, QStringLiteral("mnuSaveConfiguration"), 107), with(&SaveConfiguration), {}});
    // Loading asks for control itself, once serial polling is paused.
    CommandEntry load{
        filePlace(1080, 1, QStringLiteral("mnuLoadConfiguration"), 108), with(&LoadConfiguration), {}};
    load.menu.rule = vm::app::ItemRule::Reader;
    entries.push_back(std::move(load));
    entries.push_back({filePlace(1090, 5, QStringLiteral("mnuCopyToPid"), 109),
                       [](QWidget* main) {
                           if (BasicInterface* m = mainOf(main))
                               CopyPid(*m, true);
                       },
                       {}});
    entries.push_back({filePlace(1100, 5, QStringLiteral("mnuCopyFromPid"), 110),
                       [](QWidget* main) {
                           if (BasicInterface* m = mainOf(main))
                               CopyPid(*m, false);
                       },
                       {}});
    return entries;
}

} // namespace vm::shell::configcommands
