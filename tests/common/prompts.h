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
//
// Dialogs that wait for the operator are declared the same way, each with what the operator
// does in it:
//
//     ExpectDialogs dialogs;
//     dialogs.expect("frmPIDCopy", [](QDialog& d) { ...; d.reject(); });
//     copyToPid->trigger();

#include "app/prompts.h"
#include "app/scriptedprompts.h"

#include <QDialog>
#include <QList>
#include <QTest>
#include <QTimer>

#include <functional>

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

inline QString describeDialog(const QDialog& dialog) {
    return QStringLiteral("%1 \"%2\"").arg(dialog.objectName(), dialog.windowTitle());
}

// Likewise a dialog that would wait for a person: it fails the test and is never shown,
// as if the operator had cancelled it.
inline void failUndeclaredDialog(const QString& failure) {
    QTest::qFail(qPrintable(QStringLiteral("a dialog nobody declared: ") + failure), __FILE__, __LINE__);
}
inline std::function<void(const QString&)> undeclaredDialogFailure = &failUndeclaredDialog;

inline bool installUndeclaredDialogsFail() {
    app::installDialogRunner([](QDialog& dialog) {
        undeclaredDialogFailure(describeDialog(dialog));
        return int(QDialog::Rejected);
    });
    return true;
}

inline const bool undeclaredDialogs = installUndeclaredDialogsFail();

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

// The dialogs an action runs, in order, each answered by its handler once it is up. The
// handler acts as the operator and must close the dialog; one it leaves open fails the test
// and is cancelled. A dialog other than the next declared one fails the test and is never
// shown; so does a declared one still unshown when the scope ends.
class ExpectDialogs {
public:
    using Answer = std::function<void(QDialog&)>;

    ExpectDialogs() {
        m_previous = app::installDialogRunner([this](QDialog& dialog) { return run(dialog); });
    }
    ~ExpectDialogs() {
        app::installDialogRunner(std::move(m_previous));
        for (const Expected& e : m_expected)
            QTest::qFail(qPrintable(QStringLiteral("a declared dialog never came up: ") + e.name), __FILE__,
                         __LINE__);
    }
    ExpectDialogs(const ExpectDialogs&) = delete;
    ExpectDialogs& operator=(const ExpectDialogs&) = delete;

    void expect(const QString& objectName, Answer answer) {
        m_expected.append({objectName, std::move(answer)});
    }

private:
    struct Expected {
        QString name;
        Answer answer;
    };

    int run(QDialog& dialog) {
        if (m_expected.isEmpty() || m_expected.first().name != dialog.objectName()) {
            const QString wanted = m_expected.isEmpty() ? QStringLiteral("none") : m_expected.first().name;
            QTest::qFail(qPrintable(QStringLiteral("a dialog nobody declared: %1 (the next declared one: %2)")
                                        .arg(detail::describeDialog(dialog), wanted)),
                         __FILE__, __LINE__);
            return QDialog::Rejected;
        }
        Answer answer = m_expected.takeFirst().answer;
        QTimer::singleShot(0, &dialog, [&dialog, answer] {
            answer(dialog);
            if (dialog.isVisible()) {
                QTest::qFail(
                    qPrintable(QStringLiteral("the dialog was left open: ") + detail::describeDialog(dialog)),
                    __FILE__, __LINE__);
                dialog.reject();
            }
        });
        return dialog.exec();
    }

    QList<Expected> m_expected;
    app::DialogRunner m_previous;
};

} // namespace vm::testing
