#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QPointF>
#include <QTimer>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;

namespace vm::link {
class Record;
}
namespace vm::tools {
class MatrixROI;
}

namespace vm::settings {

// The auto-learn dialog: asks the reader to learn its photometry, its decoder settings
// or both from the symbol in front of it, optionally assisted by a region drawn on the
// main window's image with the matrix size and polarity; and undoes a learn.
class Learn final : public SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "Learn";
    static constexpr const char* kRegionOverlay = "Matrix ROI";
    static constexpr int kCommandTimeoutMs = 500;
    enum Option { PhotometryOnly = 0, DecoderOnly = 1, Both = 2 };

    explicit Learn(QWidget* parent = nullptr);
    ~Learn() override;
    static vm::app::WindowEntry windowEntry();

    // The command the Learn button sends with the current choices.
    QString learnCommand() const;
    // The text shown for a learn outcome code.
    QString outcomeText(int code);
    QString statusText() const;
    bool waiting() const { return m_waiting; }
    std::shared_ptr<vm::tools::MatrixROI> region() const { return m_region; }

    void done(int result) override;

private:
    void applyControlState(bool control) override;

    void buildControls();
    void optionClicked(int option);
    void updateAssist();
    void assistClicked(bool checked);
    void showRegion();
    void hideRegion();
    void learnClicked();
    void unlearnClicked();
    void newRecord(const vm::link::Record& record);
    void setStatus(const QString& text);

    std::array<QRadioButton*, 3> m_options{};
    QGroupBox* m_assistFrame = nullptr;
    QCheckBox* m_enableAssist = nullptr;
    QLabel* m_rowsLabel = nullptr;
    QComboBox* m_rows = nullptr;
    QLabel* m_colsLabel = nullptr;
    QComboBox* m_cols = nullptr;
    QLabel* m_polarityLabel = nullptr;
    QComboBox* m_polarity = nullptr;
    QPushButton* m_learn = nullptr;
    QPushButton* m_unlearn = nullptr;
    QLabel* m_status = nullptr;
    QPushButton* m_done = nullptr;

    int m_option = DecoderOnly;
    bool m_waiting = false;
    bool m_regionShown = false;
    std::array<QPointF, 4> m_corners{QPointF(100, 100), QPointF(200, 100), QPointF(200, 200),
                                     QPointF(100, 200)};
    std::shared_ptr<vm::tools::MatrixROI> m_region;
};

} // namespace vm::settings
