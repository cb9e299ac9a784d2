#include "display/xtermwnd.h"

#include "display/colorvalue.h"

#include <QFontDatabase>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace vm::display {

QXTermWnd::QXTermWnd(QWidget* parent)
    : QPlainTextEdit(parent) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLines);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPalette p = palette();
    p.setColor(QPalette::Base, Qt::black);
    p.setColor(QPalette::Text, Qt::white);
    setPalette(p);
    setAccessibleName(tr("Terminal output"));
}

void QXTermWnd::Clear() {
    clear();
}

void QXTermWnd::AddText(const QString& text, quint32 color) {
    QTextCharFormat format;
    format.setForeground(ToQColor(color));
    // Keep the view at the bottom only when the operator has not scrolled up.
    QScrollBar* bar = verticalScrollBar();
    const bool atBottom = bar->value() == bar->maximum();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QString line = text;
    line.remove(QLatin1Char('\r'));
    while (line.endsWith(QLatin1Char('\n')))
        line.chop(1);
    // A reply that carries several lines is shown as several lines of one colour.
    const QStringList parts = line.split(QLatin1Char('\n'));
    for (const QString& part : parts) {
        if (!document()->isEmpty())
            cursor.insertBlock();
        cursor.insertText(part, format);
    }
    if (atBottom)
        bar->setValue(bar->maximum());
}

} // namespace vm::display
