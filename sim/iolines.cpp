#include "sim/iolines.h"

#include "sim/catalogue.h"
#include "sim/parameterstore.h"

#include <QDateTime>
#include <QTimer>

#include <cmath>

namespace vm::sim {

namespace {

const QStringList kInputTags = {"READ_A", "READ_B", "READ_C",    "READ_D",
                                "RETRY",  "LEARN",  "MATCH_SET", "CALIBRATE"};

constexpr int kOptoIn = 0;
constexpr int kFirstGpio = 4;
constexpr int kMaxInputMs = 10000;

qint64 number(const QString& text) {
    return text.trimmed().toLongLong();
}

qint64 hexNumber(QString text) {
    text = text.trimmed();
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ||
        text.startsWith(QLatin1String("&h"), Qt::CaseInsensitive))
        text = text.mid(2);
    return text.toLongLong(nullptr, 16);
}

qint64 now() {
    return QDateTime::currentMSecsSinceEpoch();
}

// The symbol's angle in degrees, 0 to 359, from its first edge.
int symbolAngle(const QList<QPointF>& corners) {
    const double a = std::atan2(corners[1].y() - corners[0].y(), corners[1].x() - corners[0].x());
    const int degrees = int(std::lround(a * 180.0 / M_PI));
    return ((degrees % 360) + 360) % 360;
}

} // namespace

const QStringList& IoLines::lineNames() {
    static const QStringList names = {"OPTO_IN1",  "OPTO_OUT1", "OPTO_OUT2", "OPTO_OUT3",
                                      "GPIO_OUT1", "GPIO_OUT2", "GPIO_OUT3", "GPIO_OUT4"};
    return names;
}

IoLines::IoLines(ParameterSource& parameters, QObject* parent)
    : QObject(parent)
    , m_parameters(parameters) {
    for (int i = 1; i < kLineCount; ++i) {
        Line& l = m_lines[size_t(i)];
        l.pulse = std::make_unique<QTimer>();
        l.pulse->setSingleShot(true);
        l.pulse->setTimerType(Qt::PreciseTimer);
        connect(l.pulse.get(), &QTimer::timeout, this, [this, i] { setOutput(i, false); });
    }
    refreshOutputs(Refresh::Parameters);
}

IoLines::~IoLines() = default;

LineState IoLines::state(const QString& line) const {
    const int i = int(lineNames().indexOf(line.toUpper()));
    return i < 0 ? LineState{} : m_lines[size_t(i)].state;
}

IoLines::Assignment IoLines::assignment(int index) const {
    Assignment a;
    const int level = m_parameters.firmwareLevel();
    const QString name = lineNames().at(index);
    if (index == kOptoIn) {
        a.tag = QStringLiteral("TRIGGER");
        a.input = true;
        const QString edge = m_parameters.fields(QStringLiteral("TE")).value(0);
        a.type = edge == QLatin1String("N")   ? QStringLiteral("INPUT_NEG")
                 : edge == QLatin1String("B") ? QStringLiteral("INPUT_BOTH")
                                              : QStringLiteral("INPUT_POS");
        a.argument1 = m_parameters.fields(QStringLiteral("TD")).value(0);
        a.argument2 = m_parameters.fields(QStringLiteral("TBL")).value(0);
        return a;
    }
    if (level < 4) {
        // The older readers' fixed lines.
        static const QHash<QString, QString> fixed = {
            {"OPTO_OUT1", "PASS"}, {"OPTO_OUT2", "FAIL"}, {"OPTO_OUT3", "DV"}, {"GPIO_OUT2", "RTE"}};
        a.tag = fixed.value(name);
        a.type = QStringLiteral("BOOL");
        a.highTrue = m_parameters.fields(QStringLiteral("SIGOUT ") + a.tag).value(0) != QLatin1String("L");
        return a;
    }
    a.tag = stripQuotes(m_parameters.fields(QStringLiteral("IOASSIGN ") + name).value(0)).toUpper();
    a.highTrue = m_parameters.fields(QStringLiteral("SIGOUT ") + name).value(0) != QLatin1String("L");
    if (a.tag.isEmpty())
        return a;
    a.input = kInputTags.contains(a.tag);
    if (a.input && index < kFirstGpio)
        return Assignment{}; // only the general-purpose lines can be read
    const QStringList criterion = m_parameters.fields(QStringLiteral("SET_CRITERIA ") + a.tag);
    a.type = stripQuotes(criterion.value(0)).toUpper();
    a.argument1 = stripQuotes(criterion.value(1));
    a.argument2 = stripQuotes(criterion.value(2));
    if (a.type.isEmpty())
        a.type = a.input ? QStringLiteral("INPUT_POS") : QStringLiteral("BOOL");
    return a;
}

bool IoLines::pulsedMode(int* durationMs) const {
    const QStringList mode = m_parameters.fields(QStringLiteral("IO_MODE"));
    *durationMs = int(number(mode.value(1)));
    return mode.value(0).endsWith(QLatin1String("_PULSE"));
}

bool IoLines::handshakeMode() const {
    return m_parameters.fields(QStringLiteral("IO_MODE")).value(0).endsWith(QLatin1String("_HS"));
}

bool IoLines::linesDriven() const {
    // From level 4 a line is driven by what is assigned to it; before, "Disabled" leaves the
    // fixed handshake lines alone.
    return m_parameters.firmwareLevel() >= 4 ||
           m_parameters.fields(QStringLiteral("IO_MODE")).value(0) != QLatin1String("NONE");
}

bool IoLines::isResultTag(const QString& tag) {
    return tag != QLatin1String("READY") && tag != QLatin1String("RTE") &&
           !tag.startsWith(QLatin1String("LIGHT_CTL_BIT_")) && !kInputTags.contains(tag);
}

bool IoLines::tagValue(const Assignment& a) const {
    qint64 v = 0;
    if (a.tag == QLatin1String("READY") || a.tag == QLatin1String("RTE")) {
        v = m_ready ? 1 : 0;
    } else if (a.tag.startsWith(QLatin1String("LIGHT_CTL_BIT_"))) {
        const int bit = a.tag.right(1).toInt() - 1;
        const int light = std::max<int>(
            0,
            int(lightNames().indexOf(m_parameters.fields(QStringLiteral("LIGHT_CTL")).value(0).toUpper())));
        v = (light >> bit) & 1;
    } else if (a.tag == QLatin1String("ANGLE_FAILURE") && !m_values.contains(a.tag)) {
        return false; // nothing was read, so there is no angle to judge
    } else {
        v = m_values.value(a.tag);
    }
    if (a.type == QLatin1String("MASK"))
        return (v & hexNumber(a.argument1)) != 0;
    if (a.type == QLatin1String("NOMINAL_DEV")) {
        qint64 d = std::abs(v - number(a.argument1));
        if (a.tag == QLatin1String("ANGLE_FAILURE"))
            d = std::min<qint64>(d % 360, 360 - d % 360);
        return d > number(a.argument2);
    }
    if (a.type == QLatin1String("MAX_MIN"))
        return v > number(a.argument1) || v < number(a.argument2);
    return v != 0;
}

void IoLines::set(int index, bool active, bool high) {
    LineState& s = m_lines[size_t(index)].state;
    const LineState next{active, high};
    if (s == next)
        return;
    s = next;
    emit lineChanged(lineNames().at(index), active, high);
}

void IoLines::setOutput(int index, bool active) {
    const Assignment a = assignment(index);
    if (a.input)
        return;
    set(index, active, a.highTrue ? active : !active);
}

void IoLines::refreshOutputs(Refresh why) {
    const bool fromCycle = why == Refresh::Cycle;
    int duration = 0;
    const bool pulsed = pulsedMode(&duration) && duration > 0;
    const bool driven = linesDriven();
    for (int i = 1; i < kLineCount; ++i) {
        Line& l = m_lines[size_t(i)];
        const Assignment a = assignment(i);
        if (a.input) {
            l.pulse->stop();
            set(i, l.seen, l.level);
            continue;
        }
        if (l.level || l.seen) {
            // It was read as an input until now: what was pending there is void.
            ++l.generation;
            l.level = l.seen = false;
        }
        if (a.tag.isEmpty() || !driven) {
            l.pulse->stop();
            setOutput(i, false);
            continue;
        }
        if (why == Refresh::StateTags && isResultTag(a.tag))
            continue;
        const bool value = tagValue(a);
        if (pulsed && isResultTag(a.tag)) {
            if (fromCycle && value) {
                setOutput(i, true);
                l.pulse->start(duration);
            } else if (fromCycle || !l.pulse->isActive()) {
                l.pulse->stop();
                setOutput(i, false);
            } else {
                setOutput(i, l.state.active); // a polarity change shows at once
            }
            continue;
        }
        l.pulse->stop();
        setOutput(i, value);
    }
}

void IoLines::cycleStarting() {
    m_ready = false;
    if (handshakeMode()) {
        // Full handshake: the last result's lines drop when the next cycle begins.
        for (int i = 1; i < kLineCount; ++i) {
            const Assignment a = assignment(i);
            if (!a.input && !a.tag.isEmpty() && isResultTag(a.tag))
                setOutput(i, false);
        }
    }
    refreshOutputs(Refresh::StateTags);
}

void IoLines::cycleFinished(const CycleOutput& out) {
    m_values.clear();
    m_values.insert(QStringLiteral("PASS"), out.passed);
    m_values.insert(QStringLiteral("FAIL"), !out.passed);
    m_values.insert(QStringLiteral("DV"), 1);
    m_values.insert(QStringLiteral("LOCATE_FAILURE"), out.symbolFound ? 0 : 1);
    m_values.insert(QStringLiteral("DECODE_FAILURE"), out.symbolFound ? 0 : 1);
    m_values.insert(QStringLiteral("MATCH_FAILURE"), out.match == QLatin1String("FAIL"));
    if (out.symbolFound && out.corners.size() >= 2)
        m_values.insert(QStringLiteral("ANGLE_FAILURE"), symbolAngle(out.corners));
    if (out.verification.contains(QStringLiteral("gradeCode"))) {
        const int grade = out.verification.value(QStringLiteral("gradeCode")).toInt();
        m_values.insert(QStringLiteral("GOOD"), grade >= 3);
        m_values.insert(QStringLiteral("FAIR"), grade == 2);
        m_values.insert(QStringLiteral("POOR"), grade <= 1);
    }
    for (int bit = 0; bit < 4; ++bit)
        m_values.insert(QStringLiteral("MATCH_BIT_%1").arg(bit + 1),
                        (std::max(0, out.matchEntry) >> bit) & 1);
    m_ready = true;
    refreshOutputs(Refresh::Cycle);
}

void IoLines::setReady(bool ready) {
    if (ready == m_ready)
        return;
    m_ready = ready;
    refreshOutputs(Refresh::StateTags);
}

void IoLines::parametersChanged() {
    refreshOutputs(Refresh::Parameters);
}

QString IoLines::inputFunction(int index) const {
    const Assignment a = assignment(index);
    return a.input ? a.tag : QString();
}

bool IoLines::drive(const QString& lineName, bool high, QString* error) {
    const int i = int(lineNames().indexOf(lineName.toUpper()));
    if (i < 0) {
        if (error)
            *error =
                QStringLiteral("no line %1 (lines: %2)").arg(lineName, lineNames().join(QLatin1Char(' ')));
        return false;
    }
    const Assignment a = assignment(i);
    if (!a.input) {
        if (error)
            *error = QStringLiteral("%1 is not an input: OPTO_IN1, or a GPIO line with an input tag")
                         .arg(lineNames().at(i));
        return false;
    }
    Line& l = m_lines[size_t(i)];
    if (l.level == high)
        return true;
    l.level = high;
    set(i, l.state.active, high);
    const int delay = int(std::clamp<qint64>(number(a.argument1), 0, kMaxInputMs));
    const quint64 generation = l.generation;
    if (delay == 0)
        applySeen(i, high, generation);
    else
        QTimer::singleShot(delay, this, [this, i, high, generation] { applySeen(i, high, generation); });
    return true;
}

void IoLines::applySeen(int index, bool seen, quint64 generation) {
    Line& l = m_lines[size_t(index)];
    if (generation != l.generation || seen == l.seen)
        return;
    if (!seen) {
        // A latched input stays asserted for its latch time however short the pulse was.
        const int latch = int(std::clamp<qint64>(number(assignment(index).argument2), 0, kMaxInputMs));
        const qint64 heldFor = now() - l.roseAt;
        if (heldFor < latch) {
            QTimer::singleShot(int(latch - heldFor), this, [this, index, generation] {
                const Line& line = m_lines[size_t(index)];
                if (generation == line.generation && !line.level)
                    applySeen(index, false, generation);
            });
            return;
        }
    }
    l.seen = seen;
    if (seen)
        l.roseAt = now();
    set(index, seen, l.level);
    inputEdge(index, seen);
}

void IoLines::inputEdge(int index, bool rising) {
    const Assignment a = assignment(index);
    const bool fires = a.type == QLatin1String("INPUT_BOTH") ||
                       (rising ? a.type == QLatin1String("INPUT_POS") : a.type == QLatin1String("INPUT_NEG"));
    if (!fires)
        return;
    // ASSIGNEX 2 belongs to OPTO_IN1, 3 to 6 to GPIO_OUT1 to GPIO_OUT4.
    const int assign = index == kOptoIn ? 2 : index - 1;
    const int pid =
        int(number(m_parameters.fields(QStringLiteral("ASSIGNEX %1").arg(assign)).value(0))); // CLEAR: 0
    emit inputFired(a.tag, pid);
}

bool IoLines::inputAsserted(const QString& tag) const {
    for (int i = kFirstGpio; i < kLineCount; ++i)
        if (m_lines[size_t(i)].state.active && inputFunction(i) == tag)
            return true;
    return false;
}

QStringList IoLines::stateLines() const {
    QStringList out;
    for (int i = 0; i < kLineCount; ++i) {
        const Assignment a = assignment(i);
        const LineState s = m_lines[size_t(i)].state;
        out << QStringLiteral("%1 %2 %3 active=%4 high=%5")
                   .arg(lineNames().at(i), a.tag.isEmpty() ? QStringLiteral("-") : a.tag,
                        a.input ? QStringLiteral("input") : QStringLiteral("output"), s.active ? "yes" : "no",
                        s.high ? "yes" : "no");
    }
    return out;
}

} // namespace vm::sim
