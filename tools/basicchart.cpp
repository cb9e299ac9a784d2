#include "tools/basicchart.h"

#include "display/reportchart.h"
#include "link/connection.h"
#include "resources/strings.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QValueAxis>

namespace vm::tools {

HourTrend::HourTrend(std::function<qint64()> clock)
    : m_clock(std::move(clock)) {
    m_started.start();
}

qint64 HourTrend::nowMinute() const {
    const qint64 ms = m_clock ? m_clock() : m_started.elapsed();
    return ms / 60000;
}

void HourTrend::add(bool passed, double decodeMs) {
    const qint64 minute = nowMinute();
    Minute& bucket = m_buckets[std::size_t(minute % kMinutes)];
    if (bucket.index != minute)
        bucket = Minute{minute, 0, 0, 0.0};
    ++bucket.reads;
    if (passed)
        ++bucket.passes;
    bucket.decodeMsTotal += decodeMs;
}

void HourTrend::clear() {
    m_buckets.fill(Minute{});
}

QList<std::pair<int, HourTrend::Minute>> HourTrend::minutes() const {
    const qint64 now = nowMinute();
    QList<std::pair<int, Minute>> out;
    for (qint64 m = now - kMinutes + 1; m <= now; ++m) {
        if (m < 0)
            continue;
        const Minute& bucket = m_buckets[std::size_t(m % kMinutes)];
        if (bucket.index == m)
            out.append({int(m - now), bucket});
    }
    return out;
}

BasicChart::BasicChart(QWidget* parent)
    : RecordWindow(QLatin1String(WindowName), vm::res::Str(815), parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* row = new QHBoxLayout;
    row->setContentsMargins(6, 4, 6, 0);
    m_viewList = new QComboBox(this);
    m_viewList->setObjectName(QStringLiteral("cmbView"));
    m_viewList->addItems({vm::res::Str(20258), vm::res::Str(20259)});
    auto* label = new QLabel(vm::res::Str(20260), this);
    label->setBuddy(m_viewList);
    m_viewList->setAccessibleName(vm::res::Str(20261));
    row->addWidget(label);
    row->addWidget(m_viewList);
    row->addStretch(1);
    layout->addLayout(row);

    m_stack = new QStackedWidget(this);
    m_chart = new vm::display::ReportChart(m_stack);
    m_chart->setObjectName(QStringLiteral("Chart"));
    m_chart->setAccessibleName(vm::res::Str(20262));
    m_stack->addWidget(m_chart);

    auto* chart = new QChart;
    chart->setTitle(vm::res::Str(20259));
    chart->setAnimationOptions(QChart::NoAnimation);
    m_hourRate = new QLineSeries(chart);
    m_hourRate->setName(vm::res::Str(20263));
    m_hourDecode = new QLineSeries(chart);
    m_hourDecode->setName(vm::res::Str(20264));
    chart->addSeries(m_hourRate);
    chart->addSeries(m_hourDecode);
    m_hourAxisX = new QValueAxis(chart);
    m_hourAxisX->setTitleText(vm::res::Str(20265));
    m_hourAxisX->setRange(-HourTrend::kMinutes + 1, 0);
    m_hourAxisX->setLabelFormat(QStringLiteral("%d"));
    m_hourAxisRate = new QValueAxis(chart);
    m_hourAxisRate->setTitleText(vm::res::Str(20266));
    m_hourAxisRate->setLabelFormat(QStringLiteral("%d"));
    m_hourAxisTime = new QValueAxis(chart);
    m_hourAxisTime->setTitleText(vm::res::Str(20043));
    chart->addAxis(m_hourAxisX, Qt::AlignBottom);
    chart->addAxis(m_hourAxisRate, Qt::AlignLeft);
    chart->addAxis(m_hourAxisTime, Qt::AlignRight);
    m_hourRate->attachAxis(m_hourAxisX);
    m_hourRate->attachAxis(m_hourAxisRate);
    m_hourDecode->attachAxis(m_hourAxisX);
    m_hourDecode->attachAxis(m_hourAxisTime);
    m_hourView = new QChartView(chart, m_stack);
    m_hourView->setObjectName(QStringLiteral("HourChart"));
    m_hourView->setAccessibleName(vm::res::Str(20267));
    m_hourView->setRenderHint(QPainter::Antialiasing);
    m_stack->addWidget(m_hourView);
    layout->addWidget(m_stack, 1);

    m_hourRedraw.setSingleShot(true);
    m_hourRedraw.setInterval(kHourRedrawMs);
    connect(&m_hourRedraw, &QTimer::timeout, this, &BasicChart::redrawHour);
    connect(m_viewList, &QComboBox::currentIndexChanged, this, [this](int index) { SetView(View(index)); });
    resize(640, 420);
}

vm::app::WindowEntry BasicChart::windowEntry() {
    return monitorWindowEntry(
        WindowName, [](QWidget* parent) -> QWidget* { return new BasicChart(parent); }, 305, "mnuChart", 50,
        "chart", 1504, 1522, "chart");
}

void BasicChart::SetView(View view) {
    if (m_viewList->currentIndex() != view)
        m_viewList->setCurrentIndex(view);
    m_stack->setCurrentIndex(view);
    if (view == HourView)
        redrawHour();
}

void BasicChart::newRecord(const vm::link::Record& record) {
    // Every record counts towards the hour; only the newest is drawn on the records view.
    m_hour.add(record.Passed(), record.Result().DecodeMilliseconds());
    if (m_stack->currentIndex() == HourView && !m_hourRedraw.isActive())
        m_hourRedraw.start();
    m_pending = record;
    // Not restarted by each record: a steady stream is drawn every kUpdateMs.
    if (!m_updateTimer.isActive())
        m_updateTimer.start(kUpdateMs);
}

void BasicChart::timerTick() {
    m_updateTimer.stop();
    if (m_pending) {
        m_chart->AddRecord(*m_pending);
        m_pending.reset();
    }
}

void BasicChart::redrawHour() {
    QList<QPointF> rate;
    QList<QPointF> decode;
    double maxRate = 10.0;
    double maxDecode = 10.0;
    for (const auto& [ago, bucket] : m_hour.minutes()) {
        rate.append(QPointF(ago, bucket.reads));
        const double mean = bucket.reads ? bucket.decodeMsTotal / bucket.reads : 0.0;
        decode.append(QPointF(ago, mean));
        maxRate = std::max(maxRate, double(bucket.reads));
        maxDecode = std::max(maxDecode, mean);
    }
    m_hourRate->replace(rate);
    m_hourDecode->replace(decode);
    m_hourAxisRate->setRange(0, maxRate * 1.1);
    m_hourAxisTime->setRange(0, maxDecode * 1.1);
}

} // namespace vm::tools
