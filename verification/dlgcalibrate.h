#pragma once

#include <QDialog>
#include <QStringList>

#include <memory>
#include <optional>

class QLineEdit;
class QPushButton;
class QTableWidget;

namespace vm::link {
class ImageConnection;
class ReaderConnection;
class Record;
} // namespace vm::link

namespace vm::display {
class VxImageView;
}

namespace vm::verification {

// Reflectance calibration, light by light: the reader learns exposure, gain, cell unit and
// contrast limits against a target of known contrast and reflectance, and the grid shows
// every light's result. Opening asks for programming control; without it the dialog
// calibrates nothing. The per-light results stay in calibrationState() after it closes.
class dlgCalibrate final : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "dlgCalibrate";
    static constexpr int kCommandTimeoutMs = 500;
    // How long one light waits for the record that concludes its calibration.
    static constexpr int kResultWaitMs = 5000;

    explicit dlgCalibrate(QWidget* parent = nullptr);
    ~dlgCalibrate() override;

    // The Calibrate button.
    void calibrate();
    // A calibration sequence is running (inside the Calibrate button).
    bool isRunning() const { return m_running; }
    bool hasControl() const { return m_control; }
    // The last calibration succeeded (announced with "CALIBRATED" on close).
    bool calibratedMark() const { return m_announce; }

    // Closing (Close, Esc, the window's close button) during a run stops the run after the
    // light being calibrated and closes once it has ended as every run ends.
    void done(int result) override;

signals:
    // A calibration sequence has ended and the grid shows its outcome.
    void calibrationFinished();

private:
    bool ensureControl();
    void openReader();
    QStringList query(const QString& text);
    void send(const QString& command);
    void imageSend(const QString& command);
    void readStoredCalibration(int light);
    void fillGrid();
    void fillRow(int row, int light);
    QList<int> shownLights() const;
    void runSequence();
    void calibrateLight(int light);
    void recordArrived(const vm::link::Record& record);
    void stopImages();
    void startImages();
    void addBoxes();
    void removeBoxes();
    bool validTarget(QLineEdit* box, int* value);
    void unload();

    std::unique_ptr<vm::link::ReaderConnection> m_rconn;
    std::unique_ptr<vm::link::ImageConnection> m_iconn;
    vm::display::VxImageView* m_view = nullptr;
    QTableWidget* m_grid = nullptr;
    QLineEdit* m_targetContrast = nullptr;
    QLineEdit* m_targetReflectance = nullptr;
    QPushButton* m_calibrate = nullptr;
    QPushButton* m_close = nullptr;
    QString m_savedLightCtl;
    QString m_savedTrig;
    bool m_control = false;
    bool m_boxesAdded = false;
    bool m_announce = false;
    bool m_unloaded = false;
    // The light whose result record is awaited, and whether it has come.
    int m_waitingLight = -1;
    bool m_resultArrived = false;
    bool m_running = false;
    // The dialog was closed during a run: it closes with this result when the run has ended.
    std::optional<int> m_closeAfterRun;
};

} // namespace vm::verification
