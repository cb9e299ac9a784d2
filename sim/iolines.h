#pragma once

#include "sim/readcycle.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <memory>

class QTimer;

namespace vm::sim {

// The state of one discrete line: whether its function is asserted (an output's tag is true,
// an input is seen asserted after its delay and latch) and its electrical level.
struct LineState {
    bool active = false;
    bool high = false;
    bool operator==(const LineState&) const = default;
};

// The reader's eight discrete lines: the input OPTO_IN1, the outputs OPTO_OUT1 to OPTO_OUT3
// and the general-purpose lines GPIO_OUT1 to GPIO_OUT4 (which act as inputs while an input
// tag is assigned to them).
//
// Outputs are worked out at the end of every read cycle from the line's tag (IOASSIGN), the
// tag's criterion (SET_CRITERIA), the line's polarity (SIGOUT) and the handshake mode
// (IO_MODE): in a pipelined mode a result line that turns on drops again after the signal
// duration; in the other modes it holds until a later cycle changes it, and the full
// handshake modes drop every result line when the next cycle starts so that each result
// gives a fresh edge. Readers below level 4 have fixed lines (PASS, FAIL, DV on the OPTO
// outputs, RTE on GPIO_OUT2) that are driven only while a handshake mode is set.
//
// An input line's `high` is the level driven onto it; `active` is what the reader sees: the
// level after the trigger delay, held on for at least the latch time once it rose. The
// input's edge setting (TE, or INPUT_POS / INPUT_NEG / INPUT_BOTH) picks which change of
// `active` fires the input's function.
class IoLines : public QObject {
    Q_OBJECT
public:
    static constexpr int kLineCount = 8;
    // OPTO_IN1, OPTO_OUT1..3, GPIO_OUT1..4, in this order.
    static const QStringList& lineNames();

    explicit IoLines(ParameterSource& parameters, QObject* parent = nullptr);
    ~IoLines() override;

    LineState state(const QString& line) const;
    LineState state(int index) const { return m_lines[size_t(index)].state; }
    // One text line per line: "OPTO_OUT1 PASS active=yes high=no".
    QStringList stateLines() const;

    // The read cycle: a cycle starts (the handshake drops its result lines, RTE goes off),
    // and a cycle's result.
    void cycleStarting();
    void cycleFinished(const CycleOutput& out);
    // Whether the reader is ready for a trigger (READY and RTE): online and not reading.
    void setReady(bool ready);

    // Re-reads the assignment after a parameter changed (polarity, tag, criterion, mode).
    void parametersChanged();

    // Drives an input line (OPTO_IN1, or a GPIO line carrying an input tag).
    bool drive(const QString& line, bool high, QString* error = nullptr);
    // True when a line carrying this input tag is seen asserted ("RETRY").
    bool inputAsserted(const QString& tag) const;
    // The input tag a line carries ("READ_A", ...; "TRIGGER" for OPTO_IN1), empty for an output.
    QString inputFunction(int index) const;

signals:
    void lineChanged(const QString& line, bool active, bool high);
    // An input's edge: `function` is "TRIGGER" (OPTO_IN1) or the input tag; `pid` is the PID
    // the input selects (ASSIGNEX), 0 for none.
    void inputFired(const QString& function, int pid);

private:
    struct Line {
        LineState state;
        bool level = false; // input: the level driven onto the line
        bool seen = false;  // input: the level after the delay
        qint64 roseAt = 0;  // input: when `seen` last rose (ms since epoch)
        quint64 generation = 0;
        std::unique_ptr<QTimer> pulse; // output: ends a pipelined pulse
    };
    struct Assignment {
        QString tag;  // empty: unassigned
        QString type; // criterion type
        QString argument1, argument2;
        bool highTrue = true;
        bool input = false;
    };

    Assignment assignment(int index) const;
    bool pulsedMode(int* durationMs) const;
    bool handshakeMode() const;
    bool linesDriven() const;
    static bool isResultTag(const QString& tag);
    bool tagValue(const Assignment& a) const;
    void set(int index, bool active, bool high);
    void setOutput(int index, bool active);
    // A cycle's result, a parameter change, or only the lines that show the reader's state.
    enum class Refresh { Cycle, Parameters, StateTags };
    void refreshOutputs(Refresh why);
    void applySeen(int index, bool seen, quint64 generation);
    void inputEdge(int index, bool rising);

    ParameterSource& m_parameters;
    std::array<Line, kLineCount> m_lines;
    // Numeric values of the tags from the last cycle (angle in degrees, codes, 0/1 flags).
    QHash<QString, qint64> m_values;
    bool m_ready = true;
};

} // namespace vm::sim
