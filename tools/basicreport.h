#pragma once

#include "tools/monitorwindow.h"

#include <functional>

class QAction;
class QToolBar;

namespace vm::display {
class ReportGrid;
}

namespace vm::tools {

// The running report of the focused reader's reads: a grid of the latest records under a
// toolbar that resets the reader's statistics (with programming control) and exports the
// grid to a CSV file.
class BasicReport final : public RecordWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicReport";
    // The timer that draws the newest record.
    static constexpr int kUpdateMs = 10;
    // What the window adds to the grid's content size, in twips: the frame and the
    // margins around the grid.
    static constexpr int kExtraHeightTwips = 548 + 20;
    static constexpr int kExtraWidthTwips = 178;

    explicit BasicReport(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    // The "clearcounters" button: asks for control when the PC has none, then asks to
    // confirm and resets the reader's statistics.
    void ResetStatistics();
    // Writes the grid, header first, as CSV; false (and a message) when it cannot.
    bool ExportCsv(const QString& path);
    // The grid as CSV text.
    QString csvText() const;

    // Where "Export" asks for the file; replaceable for tests.
    using FileChooser = std::function<QString(QWidget* parent)>;
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

    vm::display::ReportGrid* grid() const { return m_grid; }
    QToolBar* toolbar() const { return m_toolbar; }
    QAction* clearCountersButton() const { return m_clearCounters; }
    QAction* exportButton() const { return m_export; }

private:
    void newRecord(const vm::link::Record& record) override;
    void timerTick() override;
    void connectionReset() override;
    void controlStatusChanged() override;
    bool ensureControl();
    void exportClicked();
    void fitToContent();
    bool connected() const;

    QToolBar* m_toolbar = nullptr;
    QAction* m_clearCounters = nullptr;
    QAction* m_export = nullptr;
    vm::display::ReportGrid* m_grid = nullptr;
    FileChooser m_chooseFile;
};

} // namespace vm::tools
