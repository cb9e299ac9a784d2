#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QList>

class QCheckBox;
class QGroupBox;
class QLineEdit;

namespace vm::io {

// The match settings: text matching against a match string with wildcards (and, from
// firmware level 7, a list of fifteen more strings), serial-number matching against a
// counter the reader advances, both or neither.
class frmMatch final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmMatch";
    static constexpr int kListSize = 15;
    static constexpr int kMaxPosition = 1000;
    static constexpr int kMaxIncrement = 1000;

    explicit frmMatch(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Enable groups: the match string follows text matching, the counter serial matching.
    enum Group { TextMatching = 1, SerialMatching };

    void refresh() override;
    void applyControlState(bool control) override;

    void buildControls();
    void modeClicked();
    void holdTyped(int index);

    QCheckBox* m_enableText = nullptr;
    QCheckBox* m_enableSerial = nullptr;
    QList<QLineEdit*> m_ed; // match string, start count, increment, first, last
    QCheckBox* m_listCheck = nullptr;
    QGroupBox* m_listFrame = nullptr;
};

} // namespace vm::io
