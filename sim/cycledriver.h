#pragma once

#include "sim/readcycle.h"

#include <QElapsedTimer>
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

// One acquisition and decode of a read cycle.
struct Attempt {
    int index = 0;        // 0 the first, then the retries
    bool newImage = true; // a new image, or the last one again
    QString illumination; // lighting of this attempt, empty: ILLUM
    int pid = 0;          // read with this stored PID's settings, 0: the current ones
};

// Decides when the reader runs a read cycle: continuously at a rate, or once per trigger (the
// virtual trigger, the user trigger string, or an input's edge), and how a cycle retries
// (RETRYEX): the attempts of one cycle are spread over time, kRetryGapMs apart, so that a
// long retry never holds up the reader. TIMEOUT READ bounds a triggered cycle's attempts and
// DWELLTIME (the report budget) when its result is reported; both count from the cycle's start.
class CycleDriver : public QObject {
    Q_OBJECT
public:
    static constexpr double kDefaultRate = 10.0;
    static constexpr double kMaxRate = 120.0;
    // The time between two attempts of one cycle (a new exposure).
    static constexpr int kRetryGapMs = 20;

    explicit CycleDriver(ParameterSource& parameters, QObject* parent = nullptr);

    void setRunner(std::function<CycleOutput(const Attempt&)> runner) { m_runner = std::move(runner); }
    // Whether the RETRY input is held (retry mode GPIO).
    void setRetryHeld(std::function<bool()> held) { m_retryHeld = std::move(held); }
    // Whether a PID is stored (a PID list tries only stored PIDs).
    void setPidStored(std::function<bool(int)> stored) { m_pidStored = std::move(stored); }
    bool busy() const { return m_busy; }
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
    struct Plan {
        QString mode;
        int timeMs = 0;
        int count = 0;
        QList<int> pids; // LIST: the PIDs to try in turn
        bool acquire = false;
        QString light; // LIGHT: the retry lighting and its PID
        int lightPid = 0;
        int timeoutMs = 0; // triggered cycles only; 0 none
        int budgetMs = 0;  // 0 none
    };
    void schedule();
    Plan plan() const;
    void runAttempt(const Attempt& attempt);
    bool nextAttempt(int index, Attempt* next) const;
    void finish(CycleOutput out);

    ParameterSource& m_parameters;
    std::function<CycleOutput(const Attempt&)> m_runner;
    std::function<bool()> m_retryHeld;
    std::function<bool(int)> m_pidStored;
    bool m_busy = false;
    Plan m_plan;
    QElapsedTimer m_cycleTime;
    QTimer m_timer;
    double m_rate = kDefaultRate;
    bool m_online = true;
    bool m_triggerMode = false;
    bool m_pending = false;
    qint64 m_number = 0;
    CycleStats m_stats;
};

} // namespace vm::sim
