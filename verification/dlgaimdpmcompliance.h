#pragma once

#include <QDialog>

#include <array>

class QCheckBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

namespace vm::verification {

// The confirmation that the physical set-up meets AIM DPM-1-2006, and on readers with every
// external light the light to use. It sends nothing itself: its caller reads the answer.
class dlgAIMDPMCompliance final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "dlgAIMDPMCompliance";

    explicit dlgAIMDPMCompliance(QWidget* parent = nullptr);

    void HideLightFrame(bool hide);
    // True only after OK.
    bool confirmed() const { return m_confirmed; }
    // The caption of the chosen light option ("30S" unless another was chosen).
    QString chosenLight() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void updateOk();

    QCheckBox* m_light = nullptr;
    QCheckBox* m_reader = nullptr;
    QGroupBox* m_lightFrame = nullptr;
    std::array<QRadioButton*, 6> m_options{};
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
    bool m_confirmed = false;
};

} // namespace vm::verification
