#pragma once

#include "app/apperror.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QDialog;
class QWidget;

namespace vm::app {

enum class PromptIcon { None, Critical, Exclamation, Information, Question };
enum class PromptButtons { Ok, YesNo, OkCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No };

// The title a box gets when its caller names none.
inline constexpr char DefaultPromptTitle[] = "Velmarrow";

// Every message box and input box of the program goes through this service, so that
// tests can answer them (ScriptedPrompts) and the program shows real dialogs.
class PromptService {
public:
    virtual ~PromptService() = default;
    virtual PromptAnswer message(QWidget* parent, const QString& title, const QString& text, PromptIcon icon,
                                 PromptButtons buttons) = 0;
    // The text entered, or nothing when the operator cancelled. A masked box shows "*"
    // for each character (passwords).
    virtual std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                         const QString& defaultText, bool masked) = 0;
};

// The program's prompt service (real dialogs unless something else was installed).
PromptService& prompts();
// Installs another service (tests); returns the previous one.
std::unique_ptr<PromptService> installPrompts(std::unique_ptr<PromptService> service);
// The service used whenever none is installed: real dialogs unless this replaced it. Test
// programs put one here that fails every box nobody declared, so that no box ever waits
// for a person.
void installDefaultPrompts(std::unique_ptr<PromptService> service);

// Every dialog of the program that waits for the operator (exec) runs through here, so that
// a test declares each one and answers it: one nobody declared must fail the test at once,
// never wait for a person. Returns the dialog's result, as exec() does.
using DialogRunner = std::function<int(QDialog& dialog)>;
int runDialog(QDialog& dialog);
// Installs another way of running dialogs (tests); returns the previous one. An empty
// runner means exec().
DialogRunner installDialogRunner(DialogRunner runner);

// The file choosers of the program, run through runDialog. An empty answer (list) when the
// operator cancelled.
QString chooseOpenFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);
QStringList chooseOpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                            const QString& filter);
QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter);

// Shorthands for the usual boxes.
PromptAnswer showMessage(QWidget* parent, const QString& text, PromptButtons buttons = PromptButtons::Ok,
                         PromptIcon icon = PromptIcon::None, const QString& title = QString());
std::optional<QString> askInput(QWidget* parent, const QString& prompt, const QString& title,
                                const QString& defaultText = QString(), bool masked = false);
// Tells the operator that the reader did not carry out a command of theirs (refused it, or
// its answer was garbled or never came), with the reason.
void tellCommandFailed(QWidget* parent, const QString& command, const QString& reason);

// The box for unexpected errors of a procedure: OK only, titled
// "Orvandel Velmarrow: Error in <window> <procedure>".
QString errorReportTitle(const QString& windowName, const QString& procedureName);
QString errorReportText(const QString& windowName, const QString& procedureName, qint32 number,
                        const QString& description);
void reportError(QWidget* parent, const QString& windowName, const QString& procedureName, qint32 number,
                 const QString& description);
void reportError(QWidget* parent, const QString& windowName, const QString& procedureName,
                 const AppError& error);

// Real dialogs: QMessageBox and QInputDialog.
class DialogPrompts : public PromptService {
public:
    PromptAnswer message(QWidget* parent, const QString& title, const QString& text, PromptIcon icon,
                         PromptButtons buttons) override;
    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText, bool masked) override;
};

QString promptIconName(PromptIcon icon);
QString promptButtonsName(PromptButtons buttons);
QString promptAnswerName(PromptAnswer answer);

} // namespace vm::app
