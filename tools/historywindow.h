#pragma once

#include "history/historyquery.h"
#include "tools/monitorwindow.h"

#include <functional>
#include <memory>

class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace vm::link {
class ReaderConnection;
}

namespace vm::tools {

// History and Trends: what the history file holds of one reader over a time range. The reads
// per interval with their read rate, one graded parameter over its A to F grade bands, the
// drift rule's warning, the worst reads (each opening its saved image), a CSV of the reads
// and a one-page PDF summary for the quality department.
class HistoryWindow final : public MonitorWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "HistoryWindow";
    // The worst reads the table lists.
    static constexpr int kWorstReads = 20;
    // Intervals of a range: a range is drawn as about this many of them.
    static constexpr int kIntervals = 60;

    struct Range {
        int text;  // string number of its name in the list
        qint64 ms; // how far back from now
    };
    static const QList<Range>& ranges();

    using FileChooser = std::function<QString(QWidget* owner, const QString& title, const QString& filter)>;
    // Shows a saved image; false when it could not be shown.
    using ImageOpener = std::function<bool(const QString& path)>;

    explicit HistoryWindow(QWidget* parent = nullptr);
    ~HistoryWindow() override;
    static vm::app::WindowEntry windowEntry();

    // The history file shown: the program's own unless another is opened.
    void openFile(const QString& path);
    QString file() const { return m_path; }
    // Reads the file again for the chosen reader, range and parameter.
    void refresh();

    // What the window writes and opens through, replaceable by tests.
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    void setImageOpener(ImageOpener opener) { m_openImage = std::move(opener); }
    // The present time in milliseconds since 1970; a test may give its own.
    void setClock(std::function<qint64()> clock) { m_clock = std::move(clock); }

    bool exportCsv(const QString& path, QString* error);
    bool savePdf(const QString& path, QString* error);
    // Opens the saved image of a row of the worst reads; tells the operator when it is gone.
    void openImageOfRow(int row);

    // The range shown, from the present time back.
    qint64 fromMs() const { return m_fromMs; }
    qint64 toMs() const { return m_toMs; }
    qint64 intervalMs() const { return m_intervalMs; }
    const QList<vm::history::CountBucket>& counts() const { return m_counts; }
    const QList<vm::history::WorstRead>& worstReads() const { return m_worst; }
    const std::optional<vm::history::ParameterTrend>& trend() const { return m_trend; }
    QString driftText() const;

protected:
    void unload() override;

private:
    void buildCharts();
    void fillReaders();
    void drawCounts();
    void drawTrend();
    void fillWorst();
    void exportClicked();
    void pdfClicked();
    void openImageClicked();
    void followFocusedReader();
    QString imagePath(const QString& file) const;
    QString rangeText() const;

    QComboBox* m_reader = nullptr;
    QComboBox* m_range = nullptr;
    QComboBox* m_parameter = nullptr;
    QPushButton* m_refresh = nullptr;
    QPushButton* m_export = nullptr;
    QPushButton* m_pdf = nullptr;
    QPushButton* m_openImageButton = nullptr;
    QLabel* m_drift = nullptr;
    QLabel* m_summary = nullptr;
    QChartView* m_countsView = nullptr;
    QChartView* m_trendView = nullptr;
    QTableWidget* m_worstTable = nullptr;

    std::unique_ptr<vm::link::ReaderConnection> m_rconn;
    vm::history::HistoryQuery m_query;
    QString m_path;
    QString m_openError;
    bool m_filling = false;
    qint64 m_fromMs = 0, m_toMs = 0, m_intervalMs = 0;
    QList<vm::history::CountBucket> m_counts;
    QList<vm::history::Drift> m_drifts;
    std::optional<vm::history::ParameterTrend> m_trend;
    QList<vm::history::WorstRead> m_worst;
    FileChooser m_chooseFile;
    ImageOpener m_openImage;
    std::function<qint64()> m_clock;
};

} // namespace vm::tools
