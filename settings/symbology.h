#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QString>

#include <array>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace vm::link {
class Record;
}

namespace vm::settings {

// The symbology and verification dialog: what the reader decodes, the verification
// standard with its quality ranges, the external lights, and the way into calibration.
class Symbology final : public SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "Symbology";
    static constexpr int kUncalibratedReloadMs = 1000;
    static constexpr int kDpmRows = 10;

    explicit Symbology(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    // The Calibrate button.
    void calibrate();
    // The calibration dialog, shown modally. Tests replace it.
    std::function<void()> runCalibration;

private:
    void loadParameters() override;
    void refresh() override;
    QStringList reloadOn() const override;
    void broadcastReceived(const QString& message, const QString& text) override;
    QStringList broadcastsAfterApply() const override;
    void applyControlState(bool control) override;
    bool writeControls() override;
    void standardApplied();

    void buildControls();
    void buildLights(QGridLayout* layout);
    QGroupBox* buildGradeRow(QGroupBox* frame, int row, QCheckBox* check);
    QString standard();
    void loadDpmRows();
    void standardChosen(int index);
    bool confirmAimDpm();
    void gradeClicked(int row, int index);
    void paintRow(int row);
    void lightChosen(int index);
    void writeForStandard();
    void put(const QString& name, int field, const QString& value);
    QString text(const QString& name, int field);
    bool shows(const QString& name);
    int channels();
    void showCalibrationStatus();
    void recordArrived(const vm::link::Record& record);
    void sendNow(const QString& command);
    void changed();

    // The light the reader last reported that the options know; a light they do not
    // know leaves it.
    int m_lightIndex = 0;
    bool m_busy = false;

    QListWidget* m_barcodes = nullptr;
    QGroupBox* m_verificationFrame = nullptr;
    std::array<QRadioButton*, 7> m_verification{};
    QGroupBox* m_qualityFrame = nullptr;
    QGroupBox* m_dpmFrame = nullptr;
    std::array<QPushButton*, 5 * (kDpmRows + 1)> m_gradeButtons{};
    std::array<QCheckBox*, kDpmRows> m_verenable{};
    QGroupBox* m_light0Frame = nullptr;
    QGroupBox* m_light1Frame = nullptr;
    QGroupBox* m_light10Frame = nullptr;
    std::array<QRadioButton*, 2> m_light1{};
    std::array<QRadioButton*, 11> m_light10{};
    QList<QWidget*> m_lightControls; // enabled without programming control
    QPushButton* m_calibrate = nullptr;
    QLabel* m_calibrateStatus = nullptr;
    QTimer m_update;
};

} // namespace vm::settings
