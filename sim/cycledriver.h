#pragma once

#include "sim/readcycle.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>

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
    // Continuous cycles are paced by deadlines of a monotonic clock, not by a millisecond
    // interval, so any rate up to this bound is kept on average; a rate the cycles cannot
    // reach runs them back to back.
    static constexpr double kMaxRate = 1000.0;
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

    // Replay: every cycle reports the last real cycle's image and result again without
    // acquiring or decoding, so that the reader can stream records as fast as the link takes
    // them. The first cycle after switching on is a real one when none ran yet.
    void setReplay(bool replay);
    bool replay() const { return m_replay; }

    // OFFLINE stops read cycles, ONLINE restarts them.
    void setOnline(bool online);
    bool online() const { return m_online; }

    // Paused, continuous cycles wait until it is lifted (a reader nobody is connected to
    // spends nothing on cycles no one could see); triggers and OFFLINE work as before.
    void setPaused(bool paused);
    bool paused() const { return m_paused; }

    // Unwatched (only command clients: no data client, no output client, no serial line),
    // continuous cycles run at most kUnwatchedRate a second and report the last real cycle
    // again (the first one is real): a fleet load holds many readers by their command ports
    // at once, and acquiring and decoding images nobody receives would take the host's whole
    // time from answering them. Triggered cycles are real; a client on the data or an output
    // port makes the next cycle real again.
    static constexpr double kUnwatchedRate = 2.0;
    void setUnwatched(bool unwatched);
    bool unwatched() const { return m_unwatched; }
    // The rate continuous cycles run at now.
    double effectiveRate() const { return m_unwatched ? std::min(m_rate, kUnwatchedRate) : m_rate; }

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
    void tick();
    void armTimer();
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
    QElapsedTimer m_clock;
    qint64 m_nextDueNs = 0;
    double m_rate = kDefaultRate;
    bool m_replay = false;
    std::optional<CycleOutput> m_last; // what a replay reports
    bool m_online = true;
    bool m_paused = false;
    bool m_unwatched = false;
    bool m_triggerMode = false;
    bool m_pending = false;
    qint64 m_number = 0;
    CycleStats m_stats;
};

} // namespace vm::sim
