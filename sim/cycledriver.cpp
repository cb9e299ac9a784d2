#include "sim/cycledriver.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace vm::sim {

CycleDriver::CycleDriver(ParameterSource& parameters, QObject* parent)
    : QObject(parent)
    , m_parameters(parameters) {
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &CycleDriver::tick);
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

void CycleDriver::setPaused(bool paused) {
    if (paused == m_paused)
        return;
    m_paused = paused;
    schedule();
}

void CycleDriver::setUnwatched(bool unwatched) {
    if (unwatched == m_unwatched)
        return;
    m_unwatched = unwatched;
    // Watched again: the next cycle acquires anew (the kept one may be from other settings).
    if (!unwatched && !m_replay)
        m_last.reset();
    schedule();
}

void CycleDriver::refreshMode() {
    m_triggerMode = m_parameters.fields(QStringLiteral("TRIG")).value(0) == QLatin1String("T");
    schedule();
}

void CycleDriver::setReplay(bool replay) {
    m_replay = replay;
    if (!replay)
        m_last.reset(); // a later replay starts from a fresh image
}

void CycleDriver::schedule() {
    if (m_online && !m_triggerMode && !m_paused && m_runner) {
        m_clock.start();
        m_nextDueNs = qint64(1e9 / effectiveRate());
        armTimer();
    } else {
        m_timer.stop();
    }
}

void CycleDriver::armTimer() {
    // Rounded to the nearest millisecond: a cycle may start up to half a millisecond early or
    // late, but the deadlines add up exactly, so the rate holds over any longer stretch.
    const qint64 wait = m_nextDueNs - m_clock.nsecsElapsed();
    m_timer.start(int(std::max<qint64>(0, (wait + 500'000) / 1'000'000)));
}

void CycleDriver::tick() {
    if (m_busy) {
        // A cycle still spreads its retries: look again shortly rather than spin.
        m_timer.start(1);
        return;
    }
    runOnce();
    const qint64 now = m_clock.nsecsElapsed();
    m_nextDueNs += qint64(1e9 / effectiveRate());
    // Behind schedule (slow cycles or a busy host): the missed cycles are not made up in a
    // burst, the next one is simply due now.
    if (m_nextDueNs < now)
        m_nextDueNs = now;
    if (m_online && !m_triggerMode && !m_paused)
        armTimer();
}

void CycleDriver::trigger(const QString& source) {
    Q_UNUSED(source)
    if (!m_online || !m_triggerMode)
        return;
    ++m_stats.triggers;
    if (m_pending || m_busy) {
        // A trigger while the previous one is still waiting for or running its cycle is an overrun.
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

CycleDriver::Plan CycleDriver::plan() const {
    Plan p;
    const QStringList retry = m_parameters.fields(QStringLiteral("RETRYEX"));
    p.mode = retry.value(0).toUpper();
    p.timeMs = std::clamp(retry.value(1).toInt(), 35, 60000);
    p.count = std::clamp(retry.value(2).toInt(), 1, 15);
    // The PID slots and the retry lighting follow the reader's RETRYEX layout.
    const int light = retry.size() > 10 ? 19 : 7;
    if (retry.size() > light + 2) {
        for (int i = 4; i < light; ++i)
            if (const int pid = retry.value(i).toInt(); pid > 0 && (!m_pidStored || m_pidStored(pid)))
                p.pids << pid;
        p.light = retry.value(light);
        p.lightPid = retry.value(light + 1).toInt();
        p.acquire = retry.value(light + 2).toUpper() == QLatin1String("A");
    }
    if (m_triggerMode)
        p.timeoutMs = std::max(0, m_parameters.fields(QStringLiteral("TIMEOUT READ")).value(0).toInt());
    p.budgetMs = std::max(0, m_parameters.fields(QStringLiteral("DWELLTIME")).value(0).toInt());
    return p;
}

void CycleDriver::runOnce() {
    if (!m_runner || m_busy)
        return;
    if (!m_triggerMode)
        ++m_stats.triggers;
    m_busy = true;
    m_plan = plan();
    m_cycleTime.start();
    emit cycleStarting();
    runAttempt(Attempt{});
}

bool CycleDriver::nextAttempt(int index, Attempt* next) const {
    // `index` is the attempt that just failed.
    next->index = index + 1;
    next->newImage = true;
    if (m_plan.mode == QLatin1String("TIME"))
        return m_cycleTime.elapsed() + kRetryGapMs < m_plan.timeMs;
    if (m_plan.mode == QLatin1String("COUNT"))
        return index < m_plan.count;
    if (m_plan.mode == QLatin1String("GPIO"))
        return m_retryHeld && m_retryHeld();
    if (m_plan.mode == QLatin1String("LIST")) {
        if (index >= m_plan.pids.size())
            return false;
        next->pid = m_plan.pids.at(index);
        next->newImage = m_plan.acquire; // without acquire every PID decodes the same image
        return true;
    }
    if (m_plan.mode == QLatin1String("LIGHT")) {
        if (index > 0 || m_plan.light.isEmpty())
            return false;
        next->illumination = m_plan.light;
        next->pid = m_plan.lightPid;
        return true;
    }
    return false; // NONE, and SUPERMARKET, which reads on and lets the reader drop repeats
}

void CycleDriver::runAttempt(const Attempt& attempt) {
    CycleOutput out;
    // Unwatched, continuous cycles report the last real one again: nobody receives their
    // images, and a fleet load would otherwise spend the host on acquiring and decoding them.
    const bool replay = m_replay || (m_unwatched && !m_triggerMode);
    if (replay && m_last) {
        out = *m_last;
    } else {
        out = m_runner(attempt);
        if (replay) {
            m_last = out;
            // What concluded a learn or a calibration happened once; replays do not repeat it.
            m_last->learnStatus.reset();
            m_last->calibration = {};
        }
    }
    out.attempts = attempt.index + 1;
    const qint64 elapsed = m_cycleTime.elapsed();
    Attempt next;
    const bool more = !out.symbolFound && nextAttempt(attempt.index, &next);
    const bool timeUp = m_plan.timeoutMs > 0 && elapsed + kRetryGapMs >= m_plan.timeoutMs;
    const bool budgetUp = m_plan.budgetMs > 0 && elapsed + kRetryGapMs >= m_plan.budgetMs;
    if (!more || timeUp || budgetUp) {
        out.timedOut = !out.symbolFound && m_plan.timeoutMs > 0 &&
                       (elapsed >= m_plan.timeoutMs || (more && timeUp && !budgetUp));
        finish(std::move(out));
        return;
    }
    QTimer::singleShot(kRetryGapMs, this, [this, next, out] {
        if (m_online)
            runAttempt(next);
        else
            finish(out); // OFFLINE ends the retries with what the cycle has
    });
}

void CycleDriver::finish(CycleOutput out) {
    m_busy = false;
    ++m_number;
    if (out.timedOut) {
        ++m_stats.timeouts;
        out.status = QStringLiteral("Timeout");
    }
    if (out.passed)
        ++m_stats.passes;
    else
        ++m_stats.fails;
    if (!out.symbolFound)
        ++m_stats.noReads;
    emit cycleFinished(out, m_number, QDateTime::currentMSecsSinceEpoch());
}

} // namespace vm::sim
