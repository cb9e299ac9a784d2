#pragma once

#include "app/windowregistry.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QListWidget;

namespace vm::link {
class SettingsConnection;
}

namespace vm::shell {

// Copies the reader's current settings to one of its stored parameter sets (PIDs), or a
// stored set back to the current settings. Shown modal; the direction is set first.
class frmPIDCopy : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmPIDCopy";
    static constexpr int kHighestPid = 15;
    // The reader walks its flash for these commands.
    static constexpr int kPidTimeoutMs = 600;

    explicit frmPIDCopy(QWidget* parent = nullptr);
    ~frmPIDCopy() override;
    static vm::app::WindowEntry windowEntry();

    // True: copy the current settings to a PID (every PID offered); false: copy a stored
    // PID to the current settings (the PIDs the reader lists).
    void SetDirection(bool toPid);
    bool direction() const { return m_toPid; }
    QListWidget* pidList() const { return m_pid; }
    QLabel* caption() const { return m_caption; }

    void accept() override;
    void done(int result) override;

private:
    QLabel* m_caption = nullptr;
    QListWidget* m_pid = nullptr;
    QDialogButtonBox* m_buttons = nullptr;
    vm::link::SettingsConnection* m_conn = nullptr;
    bool m_toPid = true;
    bool m_unloaded = false;
};

} // namespace vm::shell
