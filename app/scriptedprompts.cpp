#include "app/scriptedprompts.h"

#include "app/logging.h"

namespace vm::app {

namespace {

bool samePrompt(const ScriptedPrompts::Prompt& a, const ScriptedPrompts::Prompt& b) {
    if (a.kind != b.kind || a.title != b.title || a.text != b.text)
        return false;
    if (a.kind == ScriptedPrompts::Kind::Message)
        return a.icon == b.icon && a.buttons == b.buttons;
    return a.defaultText == b.defaultText && a.masked == b.masked;
}

} // namespace

QString ScriptedPrompts::describe(const Prompt& p) {
    if (p.kind == Kind::Message)
        return QStringLiteral("message box [title \"%1\", text \"%2\", icon %3, buttons %4]")
            .arg(p.title, p.text, promptIconName(p.icon), promptButtonsName(p.buttons));
    return QStringLiteral("input box [title \"%1\", prompt \"%2\", default \"%3\", %4]")
        .arg(p.title, p.text, p.defaultText, p.masked ? QStringLiteral("masked") : QStringLiteral("plain"));
}

ScriptedPrompts& ScriptedPrompts::expectMessage(const QString& title, const QString& text, PromptIcon icon,
                                                PromptButtons buttons, PromptAnswer answer) {
    Expectation e;
    e.prompt = Prompt{Kind::Message, title, text, icon, buttons, {}, false};
    e.answer = answer;
    m_expected.append(e);
    return *this;
}

ScriptedPrompts& ScriptedPrompts::expectInput(const QString& title, const QString& prompt,
                                              const QString& defaultText, bool masked,
                                              std::optional<QString> answer) {
    Expectation e;
    e.prompt =
        Prompt{Kind::Input, title, prompt, PromptIcon::None, PromptButtons::OkCancel, defaultText, masked};
    e.inputAnswer = std::move(answer);
    m_expected.append(e);
    return *this;
}

ScriptedPrompts& ScriptedPrompts::whileOpen(std::function<void()> work) {
    if (!m_expected.isEmpty())
        m_expected.last().whileOpen = std::move(work);
    return *this;
}

void ScriptedPrompts::fail(const QString& failure) {
    m_failures.append(failure);
    qCWarning(lcApp).noquote() << "prompt check failed:" << failure;
    if (m_onFailure)
        m_onFailure(failure);
}

std::optional<ScriptedPrompts::Expectation> ScriptedPrompts::take(const Prompt& shown) {
    m_shown.append(shown);
    if (m_expected.isEmpty()) {
        fail(QStringLiteral("unexpected ") + describe(shown));
        return std::nullopt;
    }
    Expectation next = m_expected.takeFirst();
    if (!samePrompt(next.prompt, shown)) {
        fail(QStringLiteral("expected ") + describe(next.prompt) +
             QStringLiteral(" but the program showed ") + describe(shown));
        return std::nullopt;
    }
    return next;
}

PromptAnswer ScriptedPrompts::message(QWidget*, const QString& title, const QString& text, PromptIcon icon,
                                      PromptButtons buttons) {
    const auto e = take(Prompt{Kind::Message, title, text, icon, buttons, {}, false});
    if (e && e->whileOpen)
        e->whileOpen();
    if (e) {
        const bool fits = buttons == PromptButtons::Ok ? e->answer == PromptAnswer::Ok
                          : buttons == PromptButtons::YesNo
                              ? (e->answer == PromptAnswer::Yes || e->answer == PromptAnswer::No)
                              : (e->answer == PromptAnswer::Ok || e->answer == PromptAnswer::Cancel);
        if (fits)
            return e->answer;
        fail(QStringLiteral("the answer %1 is not a button of ").arg(promptAnswerName(e->answer)) +
             describe(e->prompt));
    }
    return buttons == PromptButtons::YesNo ? PromptAnswer::No
           : buttons == PromptButtons::Ok  ? PromptAnswer::Ok
                                           : PromptAnswer::Cancel;
}

std::optional<QString> ScriptedPrompts::input(QWidget*, const QString& prompt, const QString& title,
                                              const QString& defaultText, bool masked) {
    const auto e = take(
        Prompt{Kind::Input, title, prompt, PromptIcon::None, PromptButtons::OkCancel, defaultText, masked});
    return e ? e->inputAnswer : std::nullopt;
}

bool ScriptedPrompts::verifyAllShown() {
    const bool none = m_expected.isEmpty();
    while (!m_expected.isEmpty())
        fail(QStringLiteral("never shown: ") + describe(m_expected.takeFirst().prompt));
    return none;
}

} // namespace vm::app
