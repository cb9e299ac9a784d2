#pragma once

#include "tools/monitorwindow.h"

#include <QElapsedTimer>

#include <array>
#include <functional>

class QChartView;
class QComboBox;
class QLineSeries;
class QStackedWidget;
class QValueAxis;

namespace vm::display {
class ReportChart;
}

namespace vm::tools {

// Reads per minute and decode time over the last hour, one bucket a minute; bounded
// whatever the rate.
class HourTrend {
public:
    static constexpr int kMinutes = 60;
    struct Minute {
        qint64 index = -1; // minutes since the clock started; -1 empty
        quint32 reads = 0;
        quint32 passes = 0;
        double decodeMsTotal = 0.0;
    };

    // The clock gives milliseconds; a test may give its own.
    explicit HourTrend(std::function<qint64()> clock = {});
    void add(bool passed, double decodeMs);
    void clear();
    // Oldest first: minutes ago (negative, 0 this minute) with its bucket, empty ones left out.
    QList<std::pair<int, Minute>> minutes() const;
    qint64 nowMinute() const;

private:
    std::function<qint64()> m_clock;
    QElapsedTimer m_started;
    std::array<Minute, kMinutes> m_buckets{};
};

// Trends of the focused reader's reads: over the last records (the chart control), or
// over the last hour, minute by minute.
class BasicChart final : public RecordWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "BasicChart";
    static constexpr int kUpdateMs = 30;
    // The hour view is redrawn at most this often.
    static constexpr int kHourRedrawMs = 1000;
    enum View { RecordsView, HourView };

    explicit BasicChart(QWidget* parent = nullptr);
    static vm::app::WindowEntry windowEntry();

    void SetView(View view);
    vm::display::ReportChart* chart() const { return m_chart; }
    QComboBox* viewList() const { return m_viewList; }
    HourTrend& hourTrend() { return m_hour; }
    // The hour view's series: reads per minute and mean decode time per minute.
    QLineSeries* hourRateSeries() const { return m_hourRate; }
    QLineSeries* hourDecodeSeries() const { return m_hourDecode; }
    void redrawHour();

private:
    void newRecord(const vm::link::Record& record) override;
    void timerTick() override;

    QComboBox* m_viewList = nullptr;
    QStackedWidget* m_stack = nullptr;
    vm::display::ReportChart* m_chart = nullptr;
    QChartView* m_hourView = nullptr;
    QLineSeries* m_hourRate = nullptr;
    QLineSeries* m_hourDecode = nullptr;
    QValueAxis* m_hourAxisX = nullptr;
    QValueAxis* m_hourAxisRate = nullptr;
    QValueAxis* m_hourAxisTime = nullptr;
    HourTrend m_hour;
    QTimer m_hourRedraw;
};

} // namespace vm::tools
