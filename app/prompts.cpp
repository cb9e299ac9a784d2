#include "app/prompts.h"

#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace vm::app {

namespace {

std::unique_ptr<PromptService>& serviceRef() {
    static std::unique_ptr<PromptService> service;
    return service;
}

QString titleOrDefault(const QString& title) {
    return title.isEmpty() ? QString::fromLatin1(DefaultPromptTitle) : title;
}

QWidget* ownerOr(QWidget* parent) {
    return parent ? parent : QApplication::activeWindow();
}

std::unique_ptr<PromptService>& defaultRef() {
    static std::unique_ptr<PromptService> service;
    return service;
}

DialogRunner& runnerRef() {
    static DialogRunner runner;
    return runner;
}

} // namespace

PromptService& prompts() {
    if (auto& service = serviceRef())
        return *service;
    auto& fallback = defaultRef();
    if (!fallback)
        fallback = std::make_unique<DialogPrompts>();
    return *fallback;
}

void installDefaultPrompts(std::unique_ptr<PromptService> service) {
    defaultRef() = std::move(service);
}

std::unique_ptr<PromptService> installPrompts(std::unique_ptr<PromptService> service) {
    std::swap(serviceRef(), service);
    return service;
}

int runDialog(QDialog& dialog) {
    if (const DialogRunner& runner = runnerRef())
        return runner(dialog);
    return dialog.exec();
}

DialogRunner installDialogRunner(DialogRunner runner) {
    std::swap(runnerRef(), runner);
    return runner;
}

namespace {

QStringList chooseFiles(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
                        QFileDialog::AcceptMode accept, QFileDialog::FileMode mode) {
    QFileDialog dialog(parent, caption, folder, filter);
    dialog.setAcceptMode(accept);
    dialog.setFileMode(mode);
    if (runDialog(dialog) != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

} // namespace

QString chooseOpenFile(QWidget* parent, const QString& caption, const QString& folder,
                       const QString& filter) {
    return chooseFiles(parent, caption, folder, filter, QFileDialog::AcceptOpen, QFileDialog::ExistingFile)
        .value(0);
}

QStringList chooseOpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                            const QString& filter) {
    return chooseFiles(parent, caption, folder, filter, QFileDialog::AcceptOpen, QFileDialog::ExistingFiles);
}

QString chooseSaveFile(QWidget* parent, const QString& caption, const QString& folder,
                       const QString& filter) {
    return chooseFiles(parent, caption, folder, filter, QFileDialog::AcceptSave, QFileDialog::AnyFile)
        .value(0);
}

PromptAnswer showMessage(QWidget* parent, const QString& text, PromptButtons buttons, PromptIcon icon,
                         const QString& title) {
    return prompts().message(parent, titleOrDefault(title), text, icon, buttons);
}

void tellCommandFailed(QWidget* parent, const QString& command, const QString& reason) {
    showMessage(parent, QStringLiteral("The camera did not carry out \"%1\": %2").arg(command, reason),
                PromptButtons::Ok, PromptIcon::Exclamation);
}

std::optional<QString> askInput(QWidget* parent, const QString& prompt, const QString& title,
                                const QString& defaultText, bool masked) {
    return prompts().input(parent, prompt, titleOrDefault(title), defaultText, masked);
}

QString errorReportTitle(const QString& windowName, const QString& procedureName) {
    return QStringLiteral("Orvandel Velmarrow") + QStringLiteral(": Error in ") + windowName + u' ' +
           procedureName;
}

QString errorReportText(const QString& windowName, const QString& procedureName, qint32 number,
                        const QString& description) {
    // The hexadecimal form shows the 32-bit pattern, so negative codes read as 8000xxxx.
    const QString hex = QString::number(static_cast<quint32>(number), 16).toUpper();
    return windowName + u' ' + procedureName + QStringLiteral(": Found Error Number") +
           QString::number(number) + QStringLiteral(" Hex(") + hex + QStringLiteral(") ") +
           QStringLiteral(" described as ") + description;
}

void reportError(QWidget* parent, const QString& windowName, const QString& procedureName, qint32 number,
                 const QString& description) {
    prompts().message(parent, errorReportTitle(windowName, procedureName),
                      errorReportText(windowName, procedureName, number, description), PromptIcon::None,
                      PromptButtons::Ok);
}

void reportError(QWidget* parent, const QString& windowName, const QString& procedureName,
                 const AppError& error) {
    reportError(parent, windowName, procedureName, error.number, error.description);
}

PromptAnswer DialogPrompts::message(QWidget* parent, const QString& title, const QString& text,
                                    PromptIcon icon, PromptButtons buttons) {
    QMessageBox box(ownerOr(parent));
    box.setWindowTitle(titleOrDefault(title));
    box.setText(text);
    switch (icon) {
    case PromptIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case PromptIcon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case PromptIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case PromptIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case PromptIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case PromptButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    case PromptButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        break;
    case PromptButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        break;
    }
    const int pressed = box.exec();
    switch (pressed) {
    case QMessageBox::Yes:
        return PromptAnswer::Yes;
    case QMessageBox::No:
        return PromptAnswer::No;
    case QMessageBox::Ok:
        return PromptAnswer::Ok;
    default:
        // Escape or closing the box: the answer that commits to nothing.
        return buttons == PromptButtons::YesNo ? PromptAnswer::No
               : buttons == PromptButtons::Ok  ? PromptAnswer::Ok
                                               : PromptAnswer::Cancel;
    }
}

std::optional<QString> DialogPrompts::input(QWidget* parent, const QString& prompt, const QString& title,
                                            const QString& defaultText, bool masked) {
    QInputDialog dialog(ownerOr(parent));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setWindowTitle(titleOrDefault(title));
    dialog.setLabelText(prompt);
    dialog.setTextValue(defaultText);
    dialog.setTextEchoMode(masked ? QLineEdit::Password : QLineEdit::Normal);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

QString promptIconName(PromptIcon icon) {
    switch (icon) {
    case PromptIcon::None:
        return QStringLiteral("none");
    case PromptIcon::Critical:
        return QStringLiteral("critical");
    case PromptIcon::Exclamation:
        return QStringLiteral("exclamation");
    case PromptIcon::Information:
        return QStringLiteral("information");
    case PromptIcon::Question:
        return QStringLiteral("question");
    }
    return QString();
}

QString promptButtonsName(PromptButtons buttons) {
    switch (buttons) {
    case PromptButtons::Ok:
        return QStringLiteral("OK");
    case PromptButtons::YesNo:
        return QStringLiteral("Yes/No");
    case PromptButtons::OkCancel:
        return QStringLiteral("OK/Cancel");
    }
    return QString();
}

QString promptAnswerName(PromptAnswer answer) {
    switch (answer) {
    case PromptAnswer::Ok:
        return QStringLiteral("OK");
    case PromptAnswer::Cancel:
        return QStringLiteral("Cancel");
    case PromptAnswer::Yes:
        return QStringLiteral("Yes");
    case PromptAnswer::No:
        return QStringLiteral("No");
    }
    return QString();
}

} // namespace vm::app
