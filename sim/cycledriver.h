#pragma once

#include "sim/readcycle.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace vm::sim {

// Read-cycle counters, as "STATS" answers them.
struct CycleStats {
    quint64 triggers = 0;
    quint64 passes = 0;
    quint64 fails = 0;
    quint64 noReads = 0;
    quint64 overruns = 0;
    quint64 timeouts = 0;
};

// Decides when the reader runs a read cycle: continuously at a rate, or once per trigger (the
// virtual trigger, the user trigger string, or an edge of the external input chosen by TE).
class CycleDriver : public QObject {
    Q_OBJECT
public:
    static constexpr double kDefaultRate = 10.0;
    static constexpr double kMaxRate = 120.0;

    explicit CycleDriver(ParameterSource& parameters, QObject* parent = nullptr);

    void setRunner(std::function<CycleOutput()> runner) { m_runner = std::move(runner); }
    void setRate(double perSecond);
    double rate() const { return m_rate; }

    // OFFLINE stops read cycles, ONLINE restarts them.
    void setOnline(bool online);
    bool online() const { return m_online; }

    // Re-reads TRIG after it changed.
    void refreshMode();
    bool triggerMode() const { return m_triggerMode; }

    // A trigger from `source` ("VT", "TRIG U", "TRIGGER" for OPTO IN 1, an input tag);
    // runs a cycle in trigger mode.
    void trigger(const QString& source);

    // Runs one read cycle now, whatever the mode.
    void runOnce();

    CycleStats stats() const { return m_stats; }
    void resetStats() { m_stats = {}; }
    qint64 lastNumber() const { return m_number; }

signals:
    void cycleStarting();
    void cycleFinished(const vm::sim::CycleOutput& output, qint64 number, qint64 timeMs);

private:
    void schedule();

    ParameterSource& m_parameters;
    std::function<CycleOutput()> m_runner;
    QTimer m_timer;
    double m_rate = kDefaultRate;
    bool m_online = true;
    bool m_triggerMode = false;
    bool m_pending = false;
    qint64 m_number = 0;
    CycleStats m_stats;
};

} // namespace vm::sim
