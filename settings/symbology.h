#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QString>

#include <array>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;

namespace vm::link {
class Connection;
class Record;
} // namespace vm::link

namespace vm::settings {

// Grade classes of the grade buttons, better ones larger.
enum class GradeClass { Poor = 1, Fair = 2, Good = 3 };

// A row's range ("B C": worst Good grade, worst Fair grade) from the classes of its five
// buttons A to F, and back.
QString gradeRange(const std::array<GradeClass, 5>& row);
std::array<GradeClass, 5> gradeClasses(const QString& range);
// The class a B, C or D button (index 1 to 3) takes when clicked, kept between its neighbours.
GradeClass nextGradeClass(const std::array<GradeClass, 5>& row, int index);

// The summary name of the enabled-barcode mask the reader holds: "128", "Code 39 ", ...,
// "MULTIPLE" for more than one, empty for none.
QString barcodeSummary(vm::link::Connection& connection);
QString barcodeSummary(quint32 mask);

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

    QString standard() const { return m_standard; }
    // The light the AIM DPM set-up chose.
    QString aimDpmLight() const { return m_aimDpmLight; }
    // The Calibrate button.
    void calibrate();
    // The dialog that confirms the AIM DPM set-up: shown modally, true when the operator
    // agreed. Tests replace it.
    std::function<bool(bool hideLightFrame, QString* light)> confirmAimDpm;
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

    void buildControls();
    QGroupBox* buildGradeRow(QGroupBox* frame, int row, QCheckBox* check);
    void loadDpmRows();
    void standardChosen(int index);
    void gradeClicked(int row, int index);
    void paintRow(int row);
    void wavelengthLeft(QLineEdit* box);
    void aliasLeft(QLineEdit* box, int channel);
    void showCalibrationStatus();
    void recordArrived(const vm::link::Record& record);
    QString text(const QString& name, int field);
    void sendNow(const QString& command);
    void changed();

    quint32 m_mask = 0;
    int m_barcodeEnable = 0;
    int m_matrixEnable = 0;
    int m_channels = 0;
    int m_lightIndex = 0;
    QString m_standard = QStringLiteral("NONE");
    QString m_previousStandard = QStringLiteral("NONE");
    QString m_aimDpmLight;
    bool m_busy = false;
    std::array<std::array<GradeClass, 5>, kDpmRows + 1> m_grades{};

    QCheckBox* m_enableMatrix = nullptr;
    QCheckBox* m_enableBarcodes = nullptr;
    QListWidget* m_barcodes = nullptr;
    QGroupBox* m_verificationFrame = nullptr;
    std::array<QRadioButton*, 7> m_verification{};
    QButtonGroup* m_verificationGroup = nullptr;
    QGroupBox* m_qualityFrame = nullptr;
    QGroupBox* m_dpmFrame = nullptr;
    std::array<QPushButton*, 5 * (kDpmRows + 1)> m_gradeButtons{};
    std::array<QCheckBox*, kDpmRows> m_verenable{};
    QGroupBox* m_light0Frame = nullptr;
    QGroupBox* m_light1Frame = nullptr;
    QGroupBox* m_light10Frame = nullptr;
    QLineEdit* m_alias0 = nullptr;
    QLineEdit* m_wavelength0 = nullptr;
    QLineEdit* m_alias1 = nullptr;
    QLineEdit* m_wavelength1 = nullptr;
    std::array<QRadioButton*, 2> m_light1{};
    std::array<QRadioButton*, 11> m_light10{};
    QPushButton* m_calibrate = nullptr;
    QLabel* m_calibrateStatus = nullptr;
    QTimer m_update;
};

} // namespace vm::settings
