#pragma once

#include "display/colorvalue.h"

#include <QHash>
#include <QIcon>
#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;
class QToolBar;
class QAction;

namespace vm::shell {

// The strip along the bottom of the main window: read counters, the cursor
// position and grey value under the mouse, a status and an information message,
// the transfer progress, the beeper and laser buttons and the virtual trigger.
// It holds no reader logic; the main window drives it and handles its two events.
class VmStatusBar : public QWidget {
    Q_OBJECT
public:
    explicit VmStatusBar(QWidget* parent = nullptr);

    void SetCounts(qint32 total, qint32 pass, qint32 fail);
    void SetCountLabels(const QString& total, const QString& pass, const QString& fail);
    // Backgrounds of the three value fields, 0x00BBGGRR (or kWindowBackground).
    void SetCountColors(quint32 total, quint32 pass, quint32 fail);
    void ClearCounts();
    void SetCursorPos(int x, int y);
    void SetGrayVal(int value);
    void ClearCursorInfo();
    void EnableToobarButtons(bool enabled);
    // key is "beep" or "laser".
    void SetButtonState(const QString& key, bool active, bool option = false);
    void ShowProgress(bool visible);
    void SetProgressPercent(int percent);
    void SetInfoMsg(const QString& text, quint32 foreColor, quint32 backColor);
    void SetStatusMsg(const QString& text, quint32 foreColor, quint32 backColor);
    QString StatusMsgText() const;
    void ShowWaitingForTrigger(bool show);
    void SetTriggerToolTip(const QString& text);

    bool WaitingForTrigger() const { return m_waiting; }
    bool ProgressVisible() const { return m_progressVisible; }
    int ProgressPercent() const;
    // The ImageList1 key a toolbar button shows, e.g. "laser_option".
    QString ButtonImageKey(const QString& key) const;
    QString InfoMsgText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void OnSendVTrigger();
    void OnButtonPress(const QString& key);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct MessageField {
        QLabel* label = nullptr;
        QString text; // as set; the label shows it shortened in the middle when it must
        quint32 fore = 0;
        quint32 back = 0;
    };
    void setMessage(MessageField& field, const QString& text, quint32 fore, quint32 back);
    void setFieldColors(QLabel* label, quint32 fore, quint32 back);
    void buildImageList();
    void relayout();
    void updateCountNames();
    static int messageWidth(const MessageField& field);
    static void fitMessage(MessageField& field);
    QLabel* makeLabel(const QString& name, const QString& text, const QString& accessibleName);

    QLabel* m_totalLabel;
    QLabel* m_passLabel;
    QLabel* m_failLabel;
    QLabel* m_totalField;
    QLabel* m_passField;
    QLabel* m_failField;
    QLabel* m_cursorLabel;
    QLabel* m_cursorField;
    QLabel* m_grayField;
    MessageField m_status; // Info1
    MessageField m_info;   // Info2
    QLabel* m_spacer;      // Info3
    QProgressBar* m_progress;
    QToolBar* m_toolbar;
    QHash<QString, QAction*> m_buttons;
    QHash<QString, QIcon> m_imageList; // ImageList1
    QPushButton* m_sendVTrigger;
    QLabel* m_waitTriggerMsg;
    bool m_waiting = false;
    bool m_progressVisible = false;
    bool m_countsWide = false; // a count is longer than kCounterDigits
    bool m_built = false;      // font changes during construction arrive before the children exist
};

} // namespace vm::shell
