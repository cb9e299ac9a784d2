#pragma once

#include "app/windowregistry.h"

#include <QDialog>

class QLabel;
class QPushButton;

namespace vm::display {
class QXTermWnd;
}

namespace vm::shell {

// The error log: a modeless window over the main window in which the configuration-file
// loader lists each command the reader refused, followed by its error lines.
class frmLog : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmLog";

    explicit frmLog(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    void Clear();
    // Appends one line in the colour given as 0x00BBGGRR.
    void AddText(const QString& text, quint32 colour);
    void SetCaption(const QString& text);

    QString caption() const;
    vm::display::QXTermWnd* log() const { return m_log; }

    // While a load runs the window offers to stop it (the Stop button, or closing the window).
    void SetLoading(bool loading);
    bool stopRequested() const { return m_stopRequested; }
    QPushButton* stopButton() const { return m_stop; }

    // Closing the window, by its button, Escape or the title bar, unloads it; its place
    // is stored first.
    void done(int result) override;

private:
    QLabel* m_caption = nullptr;
    vm::display::QXTermWnd* m_log = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_stop = nullptr;
    bool m_loading = false;
    bool m_stopRequested = false;
    bool m_unloaded = false;
};

} // namespace vm::shell
