#pragma once

// Answering the program's message and input boxes in a test. Declare the boxes before
// the action that shows them:
//
//     ExpectPrompts boxes;
//     boxes->expectMessage("TakeControl", "No Connection To Camera", PromptIcon::Exclamation,
//                          PromptButtons::Ok, PromptAnswer::Ok);
//     window.takeControl();
//
// A box nobody expected, or one that differs from the next expectation, fails the
// running test; so does an expectation left unshown when `boxes` goes out of scope.

#include "app/scriptedprompts.h"

#include <QTest>

namespace vm::testing {

namespace detail {

inline void failUndeclaredBox(const QString& failure) {
    QTest::qFail(qPrintable(QStringLiteral("a box nobody declared: ") + failure), __FILE__, __LINE__);
}

// Outside every ExpectPrompts scope (a window built before a test declared its boxes, work
// still running after a scope ended) a box must fail the running test at once and be
// answered with the choice that commits to nothing: a real dialog would wait for a person
// until the test's watchdog kills the program.
inline app::ScriptedPrompts* installUndeclaredBoxesFail() {
    auto fallback = std::make_unique<app::ScriptedPrompts>();
    app::ScriptedPrompts* service = fallback.get();
    service->setFailureHandler(&failUndeclaredBox);
    app::installDefaultPrompts(std::move(fallback));
    return service;
}

inline app::ScriptedPrompts* const undeclaredBoxes = installUndeclaredBoxesFail();

} // namespace detail

class ExpectPrompts {
public:
    ExpectPrompts() {
        auto scripted = std::make_unique<app::ScriptedPrompts>();
        m_prompts = scripted.get();
        m_prompts->setFailureHandler(
            [](const QString& failure) { QTest::qFail(qPrintable(failure), __FILE__, __LINE__); });
        m_previous = app::installPrompts(std::move(scripted));
    }
    ~ExpectPrompts() {
        if (m_checkOnExit)
            m_prompts->verifyAllShown();
        app::installPrompts(std::move(m_previous));
    }
    ExpectPrompts(const ExpectPrompts&) = delete;
    ExpectPrompts& operator=(const ExpectPrompts&) = delete;

    app::ScriptedPrompts* operator->() const { return m_prompts; }
    app::ScriptedPrompts& prompts() const { return *m_prompts; }
    // For tests that check failures themselves.
    void setCheckOnExit(bool check) { m_checkOnExit = check; }

private:
    app::ScriptedPrompts* m_prompts = nullptr;
    std::unique_ptr<app::PromptService> m_previous;
    bool m_checkOnExit = true;
};

} // namespace vm::testing
