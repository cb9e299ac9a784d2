#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

class QCheckBox;
class QComboBox;
class QTableWidget;

namespace vm::io {

// The beeper: on or off, and how many times it beeps for each read event. Every change goes
// to the reader at once and the other windows hear "UPDATEBEEP".
class frmBeep final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BeepControl";

    explicit frmBeep(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();
    // "OFF", "1 Beep", "2 Beeps", "3 Beeps".
    static QStringList beepTexts();

    QTableWidget* grid() const { return m_grid; }
    QComboBox* list() const { return m_combo; }
    // Shows the beep list over the row's count, as a click on it does.
    void editRow(int row);

private:
    void loadParameters() override;
    void refresh() override;
    void applyControlState(bool control) override;
    QStringList reloadOn() const override;
    QStringList broadcastsAfterApply() const override;

    void cellClicked(int row, int column);
    void countChosen(int index);

    QCheckBox* m_enable = nullptr;
    QTableWidget* m_grid = nullptr;
    QComboBox* m_combo = nullptr;
    int m_row = -1;
    bool m_closing = false;
};

} // namespace vm::io
