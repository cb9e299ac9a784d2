#pragma once

#include "app/windowregistry.h"
#include "link/record.h"

#include <QTimer>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QPushButton;

namespace vm::link {
class ReaderConnection;
}
namespace vm::display {
class VerifyReportGrid;
}

namespace vm::verification {

// The print-quality report of the focused reader's newest record, with the time and the
// calibration status; it prints itself and saves itself as a PDF for the quality records.
class VerificationReport final : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "VerificationReport";
    // Records closer together than this show only the newer one.
    static constexpr int kUpdateMs = 10;

    explicit VerificationReport(QWidget* parent = nullptr);
    ~VerificationReport() override;
    static vm::app::WindowEntry windowEntry();

    // The Print Form button.
    void printForm();
    // Writes the report as a PDF, whole or not at all; false with the reason.
    bool savePdf(const QString& path, QString* errorText = nullptr) const;
    // The record the report shows; empty before the first.
    const std::optional<vm::link::Record>& shownRecord() const { return m_shown; }
    // The printers the window may print on (the system's; tests may replace it).
    std::function<QStringList()> printerNames;

signals:
    // The report now shows a record.
    void recordShown();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void recordArrived(const vm::link::Record& record);
    void showPending();
    void showCalibration();
    void markUncalibrated();
    void savePdfClicked();
    QString readerName() const;

    std::unique_ptr<vm::link::ReaderConnection> m_rconn;
    std::optional<vm::link::Record> m_pending;
    std::optional<vm::link::Record> m_shown;
    vm::display::VerifyReportGrid* m_grid = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_calibration = nullptr;
    QPushButton* m_print = nullptr;
    QPushButton* m_pdf = nullptr;
    QTimer m_update;
};

} // namespace vm::verification
