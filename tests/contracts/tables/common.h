#pragma once

// Helpers more than one table uses.

#include "contracts/contract.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>

#include <utility>

namespace vm::contracts {

// What the operator reads on a control: a button's or label's text, or a frame's title, without
// the mnemonic marks, which show as an underline and not as a character.
inline QString caption(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w))
        return QString(b->text()).remove(QLatin1Char('&'));
    if (auto* l = qobject_cast<const QLabel*>(w))
        return QString(l->text()).remove(QLatin1Char('&'));
    if (auto* g = qobject_cast<const QGroupBox*>(w))
        return QString(g->title()).remove(QLatin1Char('&'));
    return QStringLiteral("(missing)");
}

// Each control of the open window, by object name, shows its caption.
inline void compareCaptions(Stage& stage, const QList<std::pair<QString, QString>>& captions) {
    for (const auto& [name, text] : captions)
        QCOMPARE(caption(find<QWidget>(stage, name)), text);
}

// Presses a modal page's OK button ("btnOK"), which closes it.
inline void pressOk(Stage& stage) {
    stage.press(QStringLiteral("btnOK"));
    QTRY_VERIFY(!stage.window()->isVisible());
}

} // namespace vm::contracts
