#include "display/findbox.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace vm::display {

FindBox::FindBox(const QString& label, const QString& accessibleName, const QString& placeholder,
                 const QString& clearName, QWidget* parent)
    : QWidget(parent) {
    m_label = new QLabel(label, this);
    m_edit = new QLineEdit(this);
    m_edit->setAccessibleName(accessibleName);
    m_edit->setPlaceholderText(placeholder);
    m_edit->setClearButtonEnabled(true);
    // The clear button has only an icon: named, it is no nameless button to a screen reader.
    for (QToolButton* button : m_edit->findChildren<QToolButton*>())
        button->setAccessibleName(clearName);
    m_label->setBuddy(m_edit);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    layout->addWidget(m_edit, 1);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textChanged, this, [this] { emit wordChanged(word()); });
    m_edit->installEventFilter(this);
}

bool FindBox::matches(const QString& text, const QString& word) {
    return word.isEmpty() || text.contains(word, Qt::CaseInsensitive);
}

QString FindBox::word() const {
    return m_edit->text().trimmed();
}

void FindBox::clearQuietly() {
    const QSignalBlocker quiet(m_edit);
    m_edit->clear();
}

void FindBox::setList(QAbstractItemView* list) {
    m_list = list;
}

void FindBox::setEnterList(std::function<bool()> enterList) {
    m_enterList = std::move(enterList);
}

bool FindBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_edit && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (m_enterList && (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            if (m_enterList())
                return true;
        } else if (m_list && (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
                              key == Qt::Key_PageDown)) {
            QApplication::sendEvent(m_list, event);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vm::display
