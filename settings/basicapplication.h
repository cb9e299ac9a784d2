#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QList>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vm::settings {

// One entry of the lighting lists: the word written, the words read that select it, and
// whether choosing it needs GPIO 1 free (external lights switch through that line).
struct LightingEntry {
    const char* caption;
    const char* keyword;
    QStringList reads;
    bool needsGpio1 = false;
};
// The entries a reader of this firmware level offers (the external ones from level 4).
QList<LightingEntry> lightingEntries(int firmwareLevel);

// How RETRYEX is laid out on this reader, from the number of fields it answers.
struct RetryLayout {
    int lightingField = 19; // L: the retry lighting; L + 1 its PID, L + 2 the list flag
    int pidSlots = 15;      // PID fields from field 4 on
    bool shortForm = false; // the oldest readers: only the first four modes' fields
};
RetryLayout retryLayout(int fieldCount);

// The application mode dialog: trigger, retry, lighting, targeting laser, read time-out
// and report budget, with four presets that set several of them after a confirmation.
class BasicApplication final : public SettingsWindow {
    Q_OBJECT
    // Read by the IO assignment window, which must not give GPIO 1 to external lights.
    Q_PROPERTY(QString lightingText READ lightingText)
    Q_PROPERTY(QString retryModeText READ retryModeText)
    Q_PROPERTY(QString retryLightingText READ retryLightingText)
public:
    static constexpr const char* WindowName = "BasicApplication";
    static constexpr qint64 kRetryTimeMin = 35;
    static constexpr qint64 kRetryTimeMax = 60000;

    explicit BasicApplication(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    // What the IO assignment window looks at before it gives GPIO 1 away.
    QString lightingText() const;
    QString retryModeText() const;
    QString retryLightingText() const;

    const RetryLayout& layout() const { return m_layout; }
    // The summary of the current settings, each line ended by CR LF.
    QString summary() const { return m_summary; }

private:
    QStringList parametersToLoad() const override;
    void loadParameters() override;
    void refresh() override;
    QStringList reloadOn() const override;
    void broadcastReceived(const QString& message, const QString& text) override;
    QStringList broadcastsAfterApply() const override;
    void applyControlState(bool control) override;

    void buildControls();
    void refreshRetry(QStringList& lines);
    void presetChosen(int index);
    void retryModeChosen(int index);
    void retryTimeLeft();
    void retryLightingChosen(int index);
    void retryLightPidChosen(int index);
    // Whether external lighting may be chosen now: GPIO 1 must be free.
    bool gpio1Free();
    // The presets and retries are this window's unless the AIM DPM set-up holds them.
    bool retriesEditable() const;
    bool infiniteWait();
    bool triggered();
    // "0" (no PID) and the PIDs stored in the reader.
    QList<Choice> pidChoices() const;
    // Every one of these was read from the reader (or there is no reader to read from).
    bool answered(const QStringList& parameters) const;
    QString field(const QString& parameter, int index);
    void setField(const QString& parameter, int index, const QString& value);

    QLabel* m_appLabel = nullptr;
    QComboBox* m_appMode = nullptr;
    QLabel* m_appInfo = nullptr;
    QGroupBox* m_trigFrame = nullptr;
    QLabel* m_trigPolarityLabel = nullptr;
    QComboBox* m_trigPolarity = nullptr;
    QPushButton* m_advancedIO = nullptr;
    QLabel* m_retryLabel = nullptr;
    QComboBox* m_retryMode = nullptr;
    QLineEdit* m_retryTime = nullptr;
    QComboBox* m_retryCount = nullptr;
    QLabel* m_retryUnits = nullptr;
    QCheckBox* m_infiniteIswt = nullptr;
    QLabel* m_pidLabel = nullptr;
    QList<QComboBox*> m_pids;
    QGroupBox* m_retryLightFrame = nullptr;
    QComboBox* m_retryLighting = nullptr;
    QComboBox* m_retryLightPid = nullptr;
    QLabel* m_lightingLabel = nullptr;
    QComboBox* m_lighting = nullptr;
    QLabel* m_targetLabel = nullptr;
    QComboBox* m_target = nullptr;
    QLabel* m_timeoutLabel = nullptr;
    QLineEdit* m_timeout = nullptr;
    QLabel* m_timeoutUnits = nullptr;
    QLabel* m_dwellLabel = nullptr;
    QLineEdit* m_dwell = nullptr;
    QLabel* m_dwellUnits = nullptr;

    RetryLayout m_layout;
    QStringList m_storedPids;
    int m_lightChannels = 0;
    QString m_shownPreset;
    QString m_summary;
    bool m_retryTimeEdited = false;
};

} // namespace vm::settings
