#include "sim/cycledriver.h"

#include <QDateTime>

#include <cmath>

namespace vm::sim {

CycleDriver::CycleDriver(ParameterSource& parameters, QObject* parent)
    : QObject(parent)
    , m_parameters(parameters) {
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &CycleDriver::runOnce);
    refreshMode();
}

void CycleDriver::setRate(double perSecond) {
    m_rate = std::clamp(perSecond, 0.1, kMaxRate);
    schedule();
}

void CycleDriver::setOnline(bool online) {
    m_online = online;
    schedule();
}

void CycleDriver::refreshMode() {
    m_triggerMode = m_parameters.fields(QStringLiteral("TRIG")).value(0) == QLatin1String("T");
    schedule();
}

void CycleDriver::schedule() {
    if (m_online && !m_triggerMode && m_runner) {
        m_timer.start(int(std::lround(1000.0 / m_rate)));
    } else {
        m_timer.stop();
    }
}

void CycleDriver::trigger(const QString& source) {
    Q_UNUSED(source)
    if (!m_online || !m_triggerMode)
        return;
    ++m_stats.triggers;
    if (m_pending) {
        // A trigger while the previous one is still waiting for its cycle is an overrun.
        ++m_stats.overruns;
        return;
    }
    m_pending = true;
    // The cycle runs from the event loop, after the command's reply has gone out.
    QTimer::singleShot(0, this, [this] {
        m_pending = false;
        runOnce();
    });
}

void CycleDriver::runOnce() {
    if (!m_runner)
        return;
    if (!m_triggerMode)
        ++m_stats.triggers;
    emit cycleStarting();
    const CycleOutput out = m_runner();
    ++m_number;
    if (out.passed)
        ++m_stats.passes;
    else
        ++m_stats.fails;
    if (!out.symbolFound)
        ++m_stats.noReads;
    emit cycleFinished(out, m_number, QDateTime::currentMSecsSinceEpoch());
}

} // namespace vm::sim
