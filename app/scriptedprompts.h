#pragma once

#include "app/prompts.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vm::app {

// The prompt service of the tests: a test declares, in order, the boxes it expects and
// how each is answered, before the action that shows them. Every box shown is recorded.
// A box nobody expected, or one that differs from the next expectation, is a failure:
// it is recorded, handed to the failure handler (tests/common/prompts.h makes that fail
// the running test) and answered with the choice that commits to nothing.
class ScriptedPrompts : public PromptService {
public:
    enum class Kind { Message, Input };

    struct Prompt {
        Kind kind = Kind::Message;
        QString title;
        QString text; // the message, or the input box's prompt
        PromptIcon icon = PromptIcon::None;
        PromptButtons buttons = PromptButtons::Ok;
        QString defaultText;
        bool masked = false;
    };

    using FailureHandler = std::function<void(const QString& failure)>;

    // Expect a message box; it is answered with `answer`.
    ScriptedPrompts& expectMessage(const QString& title, const QString& text, PromptIcon icon,
                                   PromptButtons buttons, PromptAnswer answer);
    // Expect an input box; it is answered with `answer`, or cancelled when that is empty.
    ScriptedPrompts& expectInput(const QString& title, const QString& prompt, const QString& defaultText,
                                 bool masked, std::optional<QString> answer);

    // Runs `work` while the box declared last is "open", before it is answered, so that a
    // test can watch what the program does while an operator reads a box (a real box
    // runs the event loop meanwhile).
    ScriptedPrompts& whileOpen(std::function<void()> work);

    PromptAnswer message(QWidget* parent, const QString& title, const QString& text, PromptIcon icon,
                         PromptButtons buttons) override;
    std::optional<QString> input(QWidget* parent, const QString& prompt, const QString& title,
                                 const QString& defaultText, bool masked) override;

    const QList<Prompt>& shown() const { return m_shown; }
    const QStringList& failures() const { return m_failures; }
    qsizetype pendingCount() const { return m_expected.size(); }
    // Records (and reports) a failure for every expectation no box consumed; true when
    // there was none.
    bool verifyAllShown();

    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }

    static QString describe(const Prompt& prompt);

private:
    struct Expectation {
        Prompt prompt;
        PromptAnswer answer = PromptAnswer::Ok;
        std::optional<QString> inputAnswer;
        std::function<void()> whileOpen;
    };

    // Checks the shown prompt against the next expectation; returns it when it matches.
    std::optional<Expectation> take(const Prompt& shown);
    void fail(const QString& failure);

    QList<Expectation> m_expected;
    QList<Prompt> m_shown;
    QStringList m_failures;
    FailureHandler m_onFailure;
};

} // namespace vm::app
