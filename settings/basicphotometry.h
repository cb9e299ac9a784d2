#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QTimer>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QSlider;

namespace vm::link {
class Record;
}

namespace vm::settings {

// The photometry dialog: automatic or manual exposure and gain, the preprocessing the
// reader applies before decoding and the negative image. Every change goes to the
// reader at once; the exposure and gain of each record are shown as they arrive.
class BasicPhotometry final : public SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicPhotometry";
    static constexpr int kExposureMin = 30;
    static constexpr int kExposureMax = 20000;
    static constexpr int kPowerStrobeExposureMax = 1000;
    static constexpr int kGainMax = 1023;
    // A burst of notifications, or a learn outcome, reloads the dialog once.
    static constexpr int kUpdateDelayMs = 1000;
    // Over a serial line a dragged slider sends its value once it has rested this long.
    static constexpr int kSerialSettleMs = 250;

    explicit BasicPhotometry(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    // The exposure and gain shown for the latest record ("Exp = 1200 usec, Gain = 40 dB").
    QString photoInfo() const;
    // Closing in manual mode first takes what the exposure and gain boxes hold.
    void done(int result) override;

private:
    QStringList parametersToLoad() const override;
    void loadParameters() override;
    void refresh() override;
    void broadcastReceived(const QString& message, const QString& text) override;
    void applyControlState(bool control) override;

    void buildControls();
    // The reader answered this parameter, or there is no reader: the window shows it.
    bool shows(const QString& parameter) const;
    bool photometryEditable() const;
    bool preprocessingEditable() const;
    void autoClicked();
    void manualClicked();
    void sliderChanged(QSlider* slider, int field, bool force);
    void textLeft(QLineEdit* box, QSlider* slider, int field);
    void methodChosen(int index);
    void newRecord(const vm::link::Record& record);
    // Asks before a change cancels the reader's calibration; true to go ahead.
    bool confirmCalibrationChange();
    void cancelCalibration();
    void send();
    QString field(const QString& parameter, int index);
    void setField(const QString& parameter, int index, const QString& value);

    QRadioButton* m_auto = nullptr;
    QRadioButton* m_manual = nullptr;
    QLabel* m_exposureLabel = nullptr;
    QSlider* m_exposure = nullptr;
    QLineEdit* m_exposureText = nullptr;
    QLabel* m_gainLabel = nullptr;
    QSlider* m_gain = nullptr;
    QLineEdit* m_gainText = nullptr;
    QGroupBox* m_preprocessFrame = nullptr;
    QLabel* m_methodLabel = nullptr;
    QComboBox* m_method = nullptr;
    QLabel* m_iterLabel = nullptr;
    QComboBox* m_iter = nullptr;
    QCheckBox* m_negative = nullptr;
    QLabel* m_calibrationWarning = nullptr;
    QLabel* m_photoInfo = nullptr;
    QTimer m_updateTimer;
    QTimer m_serialSend;

    int m_lastExposure = 0;
    int m_lastGain = 0;
    int m_putBackExposure = 0;
    int m_putBackGain = 0;
    bool m_calibrationResetConfirmed = false;
    bool m_recordPhotometry = false;
    int m_recordExposure = 0;
    int m_recordGain = 0;
    bool m_closing = false;
};

} // namespace vm::settings
