#pragma once

#include <QStringList>
#include <QWidget>

class QLineEdit;
class QPushButton;

namespace vm::link {
class ReaderConnection;
}

namespace vm::display {

class QXTermWnd;

// Type a command to the focused reader and see its reply. The terminal talks
// through a connection object of its own, so it follows whichever reader is
// focused.
class Terminal : public QWidget {
    Q_OBJECT
public:
    // Long listings (SHOW CONFIG, DIR) take longer than an ordinary command.
    static constexpr int kReplyTimeoutMs = 3000;
    static constexpr int kMaxHistory = 100;

    // Colours of the lines, 0x00BBGGRR.
    static constexpr quint32 kCommandColor = 0x00FF00; // green
    static constexpr quint32 kReplyColor = 0xFFFFFF;   // white
    static constexpr quint32 kOkColor = 0xFFFF00;      // cyan
    static constexpr quint32 kErrorColor = 0x5050FF;   // light red
    static constexpr quint32 kNoticeColor = 0x00FFFF;  // yellow

    explicit Terminal(QWidget* parent = nullptr);
    ~Terminal() override;

    // Sends one command line as if the operator had typed it and pressed Enter.
    void SendLine(const QString& text);
    void Clear();
    QStringList History() const { return m_history; }
    QXTermWnd* Output() const { return m_output; }
    QLineEdit* Input() const { return m_input; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void sendTyped();
    void showConnectionState();
    void recall(int step);

    vm::link::ReaderConnection* m_conn;
    QXTermWnd* m_output;
    QLineEdit* m_input;
    QPushButton* m_send;
    QPushButton* m_clear;
    QStringList m_history;
    int m_historyIndex = 0; // m_history.size() means "the line being typed"
    QString m_typed;
    bool m_busy = false;
    QString m_shownState;
};

} // namespace vm::display
