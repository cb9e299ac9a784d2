#pragma once

#include "app/windowregistry.h"
#include "link/vocabulary.h"
#include "settings/settingswindow.h"

#include <QList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vm::io {

// One IO handshake mode: its caption, its reader word, whether the signal duration
// applies, and whether it drives a data-valid line.
struct IOModeEntry {
    const char* caption;
    const char* keyword;
    bool pulsed;
    bool dataValid;
};
// The modes a reader of this firmware level offers, in list order.
QList<IOModeEntry> ioModes(int firmwareLevel);

// The IO settings dialog: trigger source, edge and user trigger string, the IO handshake
// mode with its signal duration, and (older readers) the output polarities; newer readers
// list the lines the mode needs and lead to the IO assignment window.
class frmIOSettings final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "frmIOSettings";
    static constexpr qint64 kMaxSignalDurationMs = 1500;

    explicit frmIOSettings(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

private:
    // Enable groups: the user trigger string while the trigger is used, the signal duration
    // while the mode pulses its lines.
    static constexpr int kTriggered = 1;
    static constexpr int kPulsed = 2;

    QStringList parametersToLoad() const override;
    void loadParameters() override;
    void refresh() override;
    QStringList reloadOn() const override;
    QStringList broadcastsAfterApply() const override;
    void applyControlState(bool control) override;
    void buildControls();
    bool newerReader() const { return readerLevel() >= vm::link::level::Verification; }
    // The mode-table entry of the selected mode (neither pulsed nor data valid when none is).
    IOModeEntry selectedMode() const;
    // The line captions a mode needs (level 4 and later), by mode index.
    void showModeLines(int mode);
    void fitHeight();

    QGroupBox* m_trigFrame = nullptr;
    QCheckBox* m_trigEnabled = nullptr;
    QLabel* m_trigPolarityLabel = nullptr;
    QComboBox* m_trigPolarity = nullptr;
    QLabel* m_userTriggerLabel = nullptr;
    QLineEdit* m_userTrigger = nullptr;
    QGroupBox* m_ioFrame = nullptr;
    QLabel* m_ioModeLabel = nullptr;
    QComboBox* m_ioMode = nullptr;
    QLabel* m_durationLabel = nullptr;
    QLineEdit* m_duration = nullptr;
    QLabel* m_durationUnits = nullptr;
    QGroupBox* m_optoFrame = nullptr;
    QList<QLabel*> m_polarityLabels; // Pass, Fail, Data Valid
    QList<QComboBox*> m_polarities;
    QGroupBox* m_rteFrame = nullptr;
    QLabel* m_rtePolarityLabel = nullptr;
    QComboBox* m_rtePolarity = nullptr;
    QGroupBox* m_assignFrame = nullptr;
    QList<QLabel*> m_lineLabels; // Pass, Fail, DV, RTE, Good, Fair, Poor
    QPushButton* m_assignButton = nullptr;
    QString m_loadError;
};

} // namespace vm::io
