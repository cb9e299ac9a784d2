#pragma once

#include "link/record.h"

#include <QChartView>
#include <QList>
#include <QPointF>

#include <deque>
#include <optional>

class QLineSeries;
class QValueAxis;

namespace vm::display {

// Trends over the last records: the pass rate, the decode time and, when the
// reader grades, the verification grade.
class ReportChart : public QChartView {
    Q_OBJECT
public:
    static constexpr int kDefaultSpan = 50;
    // The pass rate at each record is taken over this many records up to it.
    static constexpr int kPassRateWindow = 10;

    explicit ReportChart(QWidget* parent = nullptr);

    void AddRecord(const vm::link::Record& record);
    void Clear();
    void SetSpan(int records);
    int Span() const { return m_span; }

    QList<QPointF> PassRatePoints() const;
    QList<QPointF> DecodeTimePoints() const;
    QList<QPointF> GradePoints() const;

    // Numeric grade 4 (A) to 0 (F) from a verification grade text; nothing when
    // the text is not a grade.
    static std::optional<double> GradeValue(const QString& grade);

private:
    struct Sample {
        qint64 index;
        bool passed;
        double decodeMs;
        std::optional<double> grade;
    };
    void refresh();

    int m_span = kDefaultSpan;
    qint64 m_added = 0;
    std::deque<Sample> m_samples; // the last span records, plus the pass-rate lead-in
    QLineSeries* m_passRate;
    QLineSeries* m_decodeTime;
    QLineSeries* m_grade;
    QValueAxis* m_axisX;
    QValueAxis* m_axisRate;
    QValueAxis* m_axisTime;
    QValueAxis* m_axisGrade;
};

} // namespace vm::display
