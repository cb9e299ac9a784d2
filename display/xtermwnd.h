#pragma once

#include <QPlainTextEdit>

namespace vm::display {

// A read-only terminal of coloured lines.
class QXTermWnd : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 5000;

    explicit QXTermWnd(QWidget* parent = nullptr);

    void Clear();
    // Appends one line in the colour given as 0x00BBGGRR.
    void AddText(const QString& text, quint32 color);
};

} // namespace vm::display
