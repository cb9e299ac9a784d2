#include "io/editformatstring.h"

#include "resources/strings.h"

#include <QApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

namespace vm::io {

namespace {

// The string table holds the new-line item's text with its backslashes doubled.
QString keywordCaption(int id) {
    return vm::res::Str(id).replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
}

} // namespace

EditFormatString::EditFormatString(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("m_edformat"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_edit = new QLineEdit(this);
    m_edit->setObjectName(QStringLiteral("m_edit"));
    m_edit->setAccessibleName(vm::res::Str(20019));
    m_edit->setText(QStringLiteral("Text1"));
    m_btnKeyword = new QToolButton(this);
    m_btnKeyword->setObjectName(QStringLiteral("m_btnKeyword"));
    m_btnKeyword->setText(QStringLiteral("..."));
    m_btnKeyword->setAccessibleName(vm::res::Str(20011));
    m_btnKeyword->setToolTip(vm::res::Str(20011));
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_btnKeyword);
    setFocusProxy(m_edit);

    m_menuPopup = new QMenu(this);
    m_menuPopup->setObjectName(QStringLiteral("menuPopup"));
    for (int i = 0; i < 17; ++i) {
        const QString caption = keywordCaption(1901 + i);
        // The new-line item inserts the six characters of the reader's CR LF escape.
        const QString inserted = i == 13 ? QStringLiteral("\\0d\\0a") : caption;
        QAction* a = m_menuPopup->addAction(caption);
        a->setObjectName(QStringLiteral("menuKeyword(%1)").arg(i));
        connect(a, &QAction::triggered, this, [this, inserted] { insertAtCaret(inserted); });
    }
    m_menuPopup->addSeparator();
    m_menuCycleData = m_menuPopup->addMenu(vm::res::Str(1851));
    m_menuCycleData->setObjectName(QStringLiteral("menuCycleDataFields"));
    for (int i = 0; i < 26; ++i) {
        const QString caption = vm::res::Str(1852 + i);
        QAction* a = m_menuCycleData->addAction(caption);
        a->setObjectName(QStringLiteral("menuCD(%1)").arg(i));
        connect(a, &QAction::triggered, this, [this, caption] { insertAtCaret(caption.left(6)); });
    }
    for (int i = 1; i <= 2; ++i) {
        const QString caption = vm::res::Str(1889 + i);
        QAction* a = m_menuPopup->addAction(caption);
        a->setObjectName(QStringLiteral("menuID(%1)").arg(i));
        connect(a, &QAction::triggered, this, [this, caption] { insertAtCaret(caption.left(6)); });
    }

    // The menu belongs to the button, so that screen readers and UI automation find its items
    // under it (a menu that only pops up is no child of any window they can walk); the arrow
    // part opens it too.
    m_btnKeyword->setMenu(m_menuPopup);
    m_btnKeyword->setPopupMode(QToolButton::MenuButtonPopup);
    connect(m_menuPopup, &QMenu::aboutToShow, this,
            [this] { m_menuCycleData->menuAction()->setEnabled(m_cdEnabled); });
    connect(m_btnKeyword, &QToolButton::clicked, this, &EditFormatString::showMenu);
    connect(m_edit, &QLineEdit::textChanged, this, &EditFormatString::textChanged);
    m_edit->installEventFilter(this);
    m_btnKeyword->installEventFilter(this);
}

QString EditFormatString::text() const {
    return m_edit->text();
}

void EditFormatString::setText(const QString& text) {
    m_edit->setText(text);
}

void EditFormatString::CloseEdit() {
    emit OnEdit(m_key, m_edit->text());
}

void EditFormatString::insertAtCaret(const QString& inserted) {
    const QString t = m_edit->text();
    const int s = m_edit->hasSelectedText() ? m_edit->selectionStart() : m_edit->cursorPosition();
    m_edit->setText(t.left(s) + inserted + t.mid(s));
    m_edit->setCursorPosition(s + int(inserted.size()));
    m_edit->setFocus(Qt::OtherFocusReason);
}

void EditFormatString::showMenu() {
    m_menuCycleData->menuAction()->setEnabled(m_cdEnabled);
    const QPoint corner = m_btnKeyword->mapToGlobal(QPoint(m_btnKeyword->width(), 0));
    m_menuPopup->popup(corner);
}

bool EditFormatString::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // The keyword menu and the keyword button belong to the edit; only a focus that goes
        // elsewhere ends it, which is known once the new focus has settled.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            QTimer::singleShot(0, this, &EditFormatString::focusLeft);
    } else if (watched == m_edit && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Enter ends the edit; it must not also reach the dialog's default button.
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            CloseEdit();
            return true;
        }
        // Alt+Down opens the keyword menu from the keyboard.
        if (key->key() == Qt::Key_Down && key->modifiers() & Qt::AltModifier) {
            showMenu();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void EditFormatString::focusLeft() {
    // Only a focus that moved to another control ends the edit; a window that merely lost
    // the activation keeps it.
    QWidget* focus = QApplication::focusWidget();
    if (!isVisible() || m_menuPopup->isVisible() || !focus || focus == this || isAncestorOf(focus))
        return;
    CloseEdit();
}

} // namespace vm::io
