#include "display/reportchart.h"

#include <QChart>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>

#include <cmath>

namespace vm::display {

ReportChart::ReportChart(QWidget* parent)
    : QChartView(parent) {
    auto* chart = new QChart;
    chart->setTitle(tr("Read trends"));
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setMargins(QMargins(4, 4, 4, 4));

    m_passRate = new QLineSeries(chart);
    m_passRate->setName(tr("Pass rate (%)"));
    m_passRate->setColor(QColor(0, 150, 0));
    m_decodeTime = new QLineSeries(chart);
    m_decodeTime->setName(tr("Decode time (ms)"));
    m_decodeTime->setColor(QColor(30, 90, 200));
    m_grade = new QLineSeries(chart);
    m_grade->setName(tr("Grade (A = 4)"));
    m_grade->setColor(QColor(220, 120, 0));
    chart->addSeries(m_passRate);
    chart->addSeries(m_decodeTime);
    chart->addSeries(m_grade);

    m_axisX = new QValueAxis(chart);
    m_axisX->setTitleText(tr("Record"));
    m_axisX->setLabelFormat("%d");
    // Ticks on round record numbers, whatever the first record shown is.
    m_axisX->setTickType(QValueAxis::TicksDynamic);
    m_axisX->setTickAnchor(0);
    m_axisX->setTickInterval(10);
    m_axisRate = new QValueAxis(chart);
    m_axisRate->setRange(0, 100);
    m_axisRate->setTitleText(tr("Pass %"));
    m_axisRate->setLabelFormat("%d");
    m_axisTime = new QValueAxis(chart);
    m_axisTime->setTitleText(tr("ms"));
    m_axisGrade = new QValueAxis(chart);
    m_axisGrade->setRange(0, 4);
    m_axisGrade->setTickCount(5);
    m_axisGrade->setLabelFormat("%d");
    m_axisGrade->setTitleText(tr("Grade"));
    chart->addAxis(m_axisX, Qt::AlignBottom);
    chart->addAxis(m_axisRate, Qt::AlignLeft);
    chart->addAxis(m_axisTime, Qt::AlignRight);
    chart->addAxis(m_axisGrade, Qt::AlignRight);
    m_passRate->attachAxis(m_axisX);
    m_passRate->attachAxis(m_axisRate);
    m_decodeTime->attachAxis(m_axisX);
    m_decodeTime->attachAxis(m_axisTime);
    m_grade->attachAxis(m_axisX);
    m_grade->attachAxis(m_axisGrade);

    setChart(chart);
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(tr("Trend chart"));
    refresh();
}

std::optional<double> ReportChart::GradeValue(const QString& grade) {
    const QString g = grade.trimmed().toUpper();
    if (g.isEmpty())
        return std::nullopt;
    static const QString letters = QStringLiteral("FDCBA");
    if (g.size() == 1 && letters.contains(g))
        return double(letters.indexOf(g));
    bool ok = false;
    const double value = g.toDouble(&ok);
    if (ok && std::isfinite(value) && value >= 0.0 && value <= 4.0)
        return value;
    return std::nullopt;
}

void ReportChart::AddRecord(const vm::link::Record& record) {
    std::optional<double> grade;
    if (record.HasVerification())
        grade = GradeValue(record.Verification()->overallGrade);
    m_samples.push_back({++m_added, record.Passed(), record.Result().DecodeMilliseconds(), grade});
    while (m_samples.size() > std::size_t(m_span + kPassRateWindow))
        m_samples.pop_front();
    refresh();
}

void ReportChart::Clear() {
    m_samples.clear();
    m_added = 0;
    refresh();
}

void ReportChart::SetSpan(int records) {
    m_span = std::max(2, records);
    while (m_samples.size() > std::size_t(m_span + kPassRateWindow))
        m_samples.pop_front();
    refresh();
}

void ReportChart::refresh() {
    QList<QPointF> rate, time, grade;
    const std::size_t first = m_samples.size() > std::size_t(m_span) ? m_samples.size() - m_span : 0;
    double maxTime = 0;
    for (std::size_t i = first; i < m_samples.size(); ++i) {
        const Sample& s = m_samples[i];
        const std::size_t from = i + 1 >= std::size_t(kPassRateWindow) ? i + 1 - kPassRateWindow : 0;
        int passed = 0;
        for (std::size_t j = from; j <= i; ++j)
            passed += m_samples[j].passed ? 1 : 0;
        rate << QPointF(s.index, 100.0 * passed / double(i + 1 - from));
        time << QPointF(s.index, s.decodeMs);
        maxTime = std::max(maxTime, s.decodeMs);
        if (s.grade)
            grade << QPointF(s.index, *s.grade);
    }
    m_passRate->replace(rate);
    m_decodeTime->replace(time);
    m_grade->replace(grade);
    const qint64 lastIndex = m_samples.empty() ? 0 : m_samples.back().index;
    m_axisX->setRange(double(std::max<qint64>(1, lastIndex - m_span + 1)),
                      double(std::max<qint64>(lastIndex, m_span)));
    // Round the time axis up to a tidy value so it does not jump with every record.
    double top = 10;
    while (top < maxTime * 1.1)
        top *= 2;
    m_axisTime->setRange(0, top);
    m_grade->setVisible(!grade.isEmpty());
    m_axisGrade->setVisible(!grade.isEmpty());
}

QList<QPointF> ReportChart::PassRatePoints() const {
    return m_passRate->points();
}
QList<QPointF> ReportChart::DecodeTimePoints() const {
    return m_decodeTime->points();
}
QList<QPointF> ReportChart::GradePoints() const {
    return m_grade->points();
}

} // namespace vm::display
