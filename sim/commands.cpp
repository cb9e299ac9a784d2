// The reader's command language: one row per form of a command, checked the same way for
// every row (level, values, programming control) before the row carries it out; every
// other line is a parameter query or write.

#include "sim/reader.h"

#include "sim/catalogue.h"
#include "sim/identity.h"
#include "sim/partqueue.h"

#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <climits>

namespace vm::sim {

namespace {

QStringList nonEmpty(const QStringList& words) {
    QStringList out;
    for (const QString& w : words)
        if (!w.isEmpty())
            out << w;
    return out;
}

bool isInteger(const QString& s, qint64 min, qint64 max, qint64* value = nullptr) {
    bool ok = false;
    const qint64 v = s.toLongLong(&ok);
    if (value)
        *value = v;
    return ok && v >= min && v <= max;
}

// A write from a station without programming control, `name` the parameter written.
QStringList refusedWithoutControl(const Command& c, const QString& name) {
    return c.refuse(kErrorNoControl,
                    QStringLiteral("%1 can only be written by the station in programming control").arg(name),
                    QStringLiteral("no programming control"));
}

// The value checks of the rows that make them: a command with a bad value is refused to
// every station, whether it holds control or not.

QStringList checkPid(const Command& c) {
    if (!isInteger(c.args[0], 1, 15))
        return c.fail(kErrorBadValue, QStringLiteral("PID must be 1 to 15"));
    return {};
}

QStringList checkLearnEx(const Command& c) {
    const QString dec = c.args[0].toUpper(), photo = c.args[1].toUpper();
    if ((dec != QLatin1String("BOTH") && dec != QLatin1String("NONE")) ||
        (photo != QLatin1String("PHOTO") && photo != QLatin1String("NONE")))
        return c.fail(kErrorBadValue, QStringLiteral("LEARNEX BOTH|NONE PHOTO|NONE"));
    return {};
}

QStringList checkLearnAssist(const Command& c) {
    const QStringList& args = c.args;
    if (args.size() != 11)
        return c.fail(kErrorFieldCount,
                      QStringLiteral("LEARNASSIST needs 4 corners, rows, columns and DL or LD"));
    bool good = true;
    for (int i = 0; good && i < 8; ++i)
        good = isInteger(args[i], 0, i % 2 ? 493 : 658);
    const QString polarity = args[10].toUpper();
    good = good && isInteger(args[8], 8, 144) && isInteger(args[9], 8, 144) &&
           (polarity == QLatin1String("DL") || polarity == QLatin1String("LD"));
    if (!good)
        return c.fail(kErrorBadValue, QStringLiteral("corner, size or polarity out of range"));
    return {};
}

QStringList checkReportRequest(const Command& c) {
    const QStringList& args = c.args;
    const bool nextFail = args.value(2).toUpper() == QLatin1String("NEXTFAIL");
    if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && !nextFail))
        return c.fail(kErrorFieldCount, QStringLiteral("REPORTREQ <compression> <image> [NEXTFAIL]"));
    if (!isInteger(args[0], 0, 255) || !isInteger(args[1], 0, 1))
        return c.fail(kErrorBadValue, QStringLiteral("compression 0..255, image 0 or 1"));
    if (!c.station.serial)
        return c.fail(kErrorFailed, QStringLiteral("records travel on the data channel"));
    return {};
}

} // namespace

QString refusalExplanation(const ParameterSpec& definition, const WriteResult& result) {
    if (result.code == kErrorFieldCount) {
        QStringList fields;
        for (const FieldSpec& f : definition.fields)
            fields << fieldDescription(f);
        return QStringLiteral("%1 takes %2 fields: %3")
            .arg(definition.name)
            .arg(definition.fields.size())
            .arg(fields.join(QLatin1String(", ")));
    }
    static const QRegularExpression fieldError(QStringLiteral("^field (\\d+): (.*)$"));
    const QRegularExpressionMatch m = fieldError.match(result.text);
    const int index = m.hasMatch() ? m.captured(1).toInt() : -1;
    if (index >= 0 && index < definition.fields.size())
        return QStringLiteral("%1 field %2 must be %3 (%4)")
            .arg(definition.name)
            .arg(index)
            .arg(fieldDescription(definition.fields[index]), m.captured(2));
    return QStringLiteral("%1: %2").arg(definition.name, result.text);
}

QStringList statusLine(const QString& keyword, int code, const QString& text) {
    if (code == kReplyOk)
        return {QStringLiteral("!%1 OK").arg(keyword)};
    return {QStringLiteral("!%1 ERROR %2 %3").arg(keyword).arg(code).arg(text)};
}

// One form of a command: its keywords and arguments, what the reader checks before it carries
// the command out (level, values, programming control, in this order) and what carries it out.
class Reader::CommandRow {
public:
    using When = bool (*)(const Reader&, const Command&);
    using Check = QStringList (*)(const Command&);
    using Run = QStringList (*)(Reader&, Command&);

    // A command without arguments, unless args() or sub() says otherwise.
    explicit CommandRow(QStringList keywords)
        : m_keywords(std::move(keywords)) {}
    // A row for the lines `when` accepts, whatever their keyword.
    static CommandRow forLines(When when) {
        CommandRow row(QStringList{});
        row.m_when = when;
        return row;
    }

    CommandRow& args(int min, int max) {
        m_minArgs = min;
        m_maxArgs = max;
        return *this;
    }
    CommandRow& args(int count) { return args(count, count); }
    CommandRow& anyArgs() { return args(0, INT_MAX); }
    // Exactly one argument, one of these words.
    CommandRow& sub(QStringList words) {
        m_subs = std::move(words);
        return args(1);
    }
    // The firmware level the command exists from, and what the reader says below it (by
    // default, as for a setting of a later generation, "<KEYWORD> is not a setting of this
    // reader's generation" and "<KEYWORD> is not available at software level <n>").
    CommandRow& level(int level, const char* below = nullptr) {
        m_level = level;
        m_belowLevel = below;
        return *this;
    }
    // Refuses a bad value (with the reply `check` gives) to anyone, before control is asked for.
    CommandRow& check(Check check) {
        m_check = check;
        return *this;
    }
    CommandRow& control() {
        m_control = true;
        return *this;
    }
    CommandRow& runs(Run run) {
        m_run = run;
        return *this;
    }

    bool answers(const Reader& reader, const Command& c) const {
        if (m_when)
            return m_when(reader, c);
        if (!m_keywords.contains(c.keyword))
            return false;
        if (!m_subs.isEmpty() && !m_subs.contains(c.sub))
            return false;
        return c.args.size() >= m_minArgs && c.args.size() <= m_maxArgs;
    }

    QStringList carryOut(Reader& reader, Command& c) const {
        if (reader.firmwareLevel() < m_level) {
            if (m_belowLevel)
                return c.fail(kErrorLevel, QString::fromLatin1(m_belowLevel));
            // A setting a later generation has (the calibration values): refused as a parameter
            // of another generation is, with its line in words.
            return c.refuse(kErrorLevel,
                            QStringLiteral("%1 is not a setting of this reader's generation").arg(c.keyword),
                            QStringLiteral("%1 is not available at software level %2")
                                .arg(c.keyword)
                                .arg(reader.firmwareLevel()));
        }
        if (m_check) {
            const QStringList refused = m_check(c);
            if (!refused.isEmpty())
                return refused;
        }
        if (m_control && !reader.hasControl(c.station))
            return c.fail(kErrorNoControl, QStringLiteral("no programming control"));
        return m_run(reader, c);
    }

private:
    QStringList m_keywords;
    int m_minArgs = 0;
    int m_maxArgs = 0;
    QStringList m_subs;
    When m_when = nullptr;
    int m_level = 0;
    const char* m_belowLevel = nullptr;
    Check m_check = nullptr;
    bool m_control = false;
    Run m_run = nullptr;
};

// The rows are tried in this order and the first that answers the line takes it; a line that
// none answers goes to the parameters. The order matters where two rows answer the same line:
// the part queue's catch-all row comes after the forms it does not catch, and the user trigger
// string, which may be any text, loses to the rows above it and wins over those below.
const QList<Reader::CommandRow>& Reader::commandTable() {
    using Row = CommandRow;
    static const QList<Row> rows = {
        // Programming control.
        Row({"STATION"}).anyArgs().runs([](Reader& r, Command& c) {
            const QString name = stripQuotes(c.line.mid(c.words[0].size()).trimmed());
            if (name.isEmpty() || name.size() > 64)
                return c.fail(kErrorBadValue, QStringLiteral("station name must have 1 to 64 characters"));
            // The holder's control follows it when it names itself after taking control.
            if (!r.m_controller.isEmpty() && r.m_controller == c.station.name && r.m_controller != name)
                r.setController(name);
            c.station.name = name;
            return c.ok();
        }),
        Row({"CONTROL"}).runs([](Reader& r, Command& c) {
            if (r.m_controlRefusal != ControlRefusal::None) {
                if (r.m_controlRefusal == ControlRefusal::Once)
                    r.m_controlRefusal = ControlRefusal::None;
                return c.fail(kErrorFailed, QStringLiteral("programming control refused"));
            }
            r.setController(c.station.name);
            return c.ok();
        }),
        Row({"RELEASE"}).runs([](Reader& r, Command& c) {
            if (r.hasControl(c.station))
                r.setController(QString());
            return c.ok();
        }),
        Row({"CONTROLLER"}).runs([](Reader& r, Command& c) {
            return c.ok({QStringLiteral("CONTROLLER \"%1\"").arg(r.m_controller)});
        }),

        // Who the reader is.
        Row({"VERSION"}).runs([](Reader& r, Command& c) { return r.m_identity->versionCommand(c); }),
        Row({"NAME"}).runs([](Reader& r, Command& c) { return r.m_identity->nameCommand(c); }),
        Row({"NAME"}).args(1, INT_MAX).control().runs([](Reader& r, Command& c) {
            return r.m_identity->renameCommand(c, *r.m_store);
        }),

        // The configuration: flash, factory groups, listings and stored PIDs.
        Row({"SAVE"}).control().runs([](Reader& r, Command& c) {
            QString error;
            if (!r.saveFlash(&error))
                return c.fail(kErrorFailed, QStringLiteral("flash write failed: ") + error);
            return c.ok();
        }),
        Row({"RESET"}).sub({"DECODER", "APPMODE"}).control().runs([](Reader& r, Command& c) {
            const bool decoder = c.sub == QLatin1String("DECODER");
            r.m_store->resetGroup(decoder ? ParameterGroup::Decoder : ParameterGroup::AppMode);
            // Factory decoder settings forget what a learn found.
            return decoder ? r.runEngine(c, {QStringLiteral("UNLEARN")}) : c.ok();
        }),
        Row({"SHOW"}).sub({"CONFIG"}).runs([](Reader& r, Command& c) {
            return c.ok(r.m_store->configurationListing());
        }),
        Row({"SHOW"}).sub({"DEFAULTS"}).runs([](Reader& r, Command& c) {
            return c.ok(r.m_store->defaultsListing());
        }),
        Row({"DIR"}).runs([](Reader& r, Command& c) {
            QStringList out;
            const QMap<int, QDateTime> pids = r.m_store->storedPids();
            for (auto it = pids.constBegin(); it != pids.constEnd(); ++it)
                out << QStringLiteral("PID%1: stored %2")
                           .arg(it.key())
                           .arg(it.value().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
            out << QStringLiteral("DIR %1 PIDS").arg(pids.size());
            return c.ok(out);
        }),
        Row({"STORE"}).args(1).check(&checkPid).control().runs([](Reader& r, Command& c) {
            r.m_store->storePid(c.args[0].toInt());
            // Stored PIDs live in flash at once; the current settings stay unsaved.
            QString error;
            if (!r.storePidsInFlash(&error))
                return c.fail(kErrorFailed, QStringLiteral("flash write failed: ") + error);
            return c.ok();
        }),
        Row({"LOAD"}).args(1).check(&checkPid).control().runs([](Reader& r, Command& c) {
            const int pid = c.args[0].toInt();
            if (!r.m_store->loadPid(pid))
                return c.fail(kErrorFailed, QStringLiteral("PID %1 is not stored").arg(pid));
            return c.ok();
        }),

        // Read cycles: counters, image source, triggers.
        Row({"STATS"}).runs([](Reader& r, Command& c) {
            const CycleStats s = r.m_driver->stats();
            return c.ok({QStringLiteral("STATS %1 %2 %3 %4 %5 %6")
                             .arg(s.triggers)
                             .arg(s.passes)
                             .arg(s.fails)
                             .arg(s.noReads)
                             .arg(s.overruns)
                             .arg(s.timeouts)});
        }),
        Row({"STATS"}).sub({"RESET"}).control().runs([](Reader& r, Command& c) {
            r.m_driver->resetStats();
            return c.ok();
        }),
        Row({"CAPTURE"}).sub({"CAMERA", "FILES"}).control().runs([](Reader& r, Command& c) {
            if (c.sub == QLatin1String("FILES") && r.m_files.isEmpty())
                return c.fail(kErrorFailed, QStringLiteral("no image files on the reader"));
            return r.runEngine(c, {c.keyword, c.sub});
        }),
        Row({"DRIVEDELETE"}).sub({"FILES"}).control().runs([](Reader& r, Command& c) {
            for (const QString& f : std::as_const(r.m_files))
                QFile::remove(f);
            r.m_files.clear();
            return r.runEngine(c, {c.keyword, c.sub});
        }),
        Row({"VT"}).args(0, 1).runs([](Reader& r, Command& c) {
            r.m_driver->trigger(QStringLiteral("VT"));
            return c.ok();
        }),
        // The user trigger string works like the virtual trigger.
        Row::forLines([](const Reader& r, const Command& c) {
            const QString trigger = stripQuotes(r.m_store->fields(QStringLiteral("TRIG U")).value(0));
            return !trigger.isEmpty() && c.line.compare(trigger, Qt::CaseInsensitive) == 0;
        }).runs([](Reader& r, Command& c) {
            r.m_driver->trigger(QStringLiteral("TRIG U"));
            return c.ok();
        }),

        // Learn and calibration, carried out by the acquisition engine.
        Row({"LEARN"}).sub({"BOTH"}).control().runs([](Reader& r, Command& c) {
            return r.runEngine(c, {c.keyword, c.sub});
        }),
        Row({"LEARN"})
            .sub({"CALIBRATE"})
            .level(9, "calibration needs software level 9")
            .control()
            .runs([](Reader& r, Command& c) {
                return r.runEngine(c, {c.keyword, c.sub});
            }),
        Row({"LEARNEX"}).args(2).check(&checkLearnEx).control().runs([](Reader& r, Command& c) {
            return r.runEngine(c, {c.keyword, c.args[0].toUpper(), c.args[1].toUpper()});
        }),
        Row({"LEARNASSIST"}).anyArgs().check(&checkLearnAssist).control().runs([](Reader& r, Command& c) {
            QStringList words{c.keyword};
            for (int i = 0; i < 10; ++i)
                words << c.args[i];
            words << c.args[10].toUpper();
            return r.runEngine(c, words);
        }),
        Row({"LEARNCANCEL", "UNLEARN"}).control().runs([](Reader& r, Command& c) {
            return r.runEngine(c, {c.keyword});
        }),
        Row({"PHOTO"}).sub({"AUTO"}).control().runs([](Reader& r, Command& c) {
            QStringList f = r.m_store->fields(QStringLiteral("PHOTOEX"));
            f[0] = QStringLiteral("AUTO");
            const WriteResult w =
                r.m_store->write(*findParameter(QStringLiteral("PHOTOEX"), r.firmwareLevel()), f);
            if (!w.ok())
                return statusLine(c.keyword, w.code, w.text);
            return r.runEngine(c, {c.keyword, c.sub});
        }),
        Row({"CALIBRATED", "CALIBRATED_STRING", "CELL_UNIT", "CONTRAST", "CAL_MEAN_LIGHT"})
            .anyArgs()
            .level(9)
            .runs([](Reader& r, Command& c) { return r.calibrationCommand(c); }),

        Row({"SETTINGS_HARDWARE", "SETTINGS_CUSTOMER", "SETTINGS_MANUFACTURING"})
            .runs([](Reader& r, Command& c) {
                return c.ok(r.m_identity->factoryBlock(c.keyword, r.m_store->lightChannels()));
            }),
        Row({"OFFLINE", "ONLINE"}).control().runs([](Reader& r, Command& c) {
            r.m_driver->setOnline(c.keyword == QLatin1String("ONLINE"));
            r.m_io->setReady(r.m_driver->online());
            return c.ok();
        }),

        // The next record on the serial line.
        Row({"REPORTREQ"}).anyArgs().check(&checkReportRequest).runs([](Reader& r, Command& c) {
            r.m_reportRequest.pending = true;
            r.m_reportRequest.image = c.args[1].toLongLong() == 1;
            r.m_reportRequest.compress = c.args[0].toLongLong() != 255;
            r.m_reportRequest.nextFail = c.args.value(2).toUpper() == QLatin1String("NEXTFAIL");
            return c.ok();
        }),
        Row({"REPORTCANCEL"}).runs([](Reader& r, Command& c) {
            r.m_reportRequest = {};
            return c.ok();
        }),

        // The part queue.
        Row({"PARTQLIST"}).runs([](Reader& r, Command& c) { return r.m_partQueue->listCommand(c); }),
        Row({"PARTQGET"}).args(2).runs([](Reader& r, Command& c) { return r.m_partQueue->fetchCommand(c); }),
        Row({"PARTQCLEAR"}).control().runs([](Reader& r, Command& c) {
            return r.m_partQueue->clearCommand(c);
        }),
        Row({"PARTQLIST", "PARTQGET", "PARTQCLEAR"}).anyArgs().runs([](Reader&, Command& c) {
            return c.fail(kErrorUnknown, QStringLiteral("unknown form of %1").arg(c.keyword));
        }),
    };
    return rows;
}

QStringList Reader::execute(const QString& rawLine, Station& station) {
    const QString line = rawLine.trimmed();
    m_received << line;
    if (m_received.size() > kReceivedHistory)
        m_received.removeFirst();
    emit commandReceived(line);
    log(QStringLiteral("command"),
        QJsonObject{{QStringLiteral("station"), station.name}, {QStringLiteral("line"), line}});

    const QStringList words = splitCommandLine(line);
    const QStringList args = nonEmpty(words.mid(1));
    Command command{line, words, args, words.value(0).toUpper(), args.value(0).toUpper(), station};
    const QStringList reply = dispatch(command);

    QJsonArray lines;
    for (const QString& l : reply)
        lines.append(l);
    log(QStringLiteral("reply"),
        QJsonObject{{QStringLiteral("station"), station.name}, {QStringLiteral("lines"), lines}});
    return reply;
}

QStringList Reader::dispatch(Command& c) {
    for (const CommandRow& row : commandTable())
        if (row.answers(*this, c))
            return row.carryOut(*this, c);
    return parameterCommand(c);
}

QStringList Reader::runEngine(const Command& c, const QStringList& words) {
    QString error;
    if (!m_readCycle->command(words, &error))
        return c.fail(kErrorFailed, error);
    return c.ok();
}

QStringList Reader::parameterCommand(const Command& c) {
    const QStringList& words = c.words;
    const QString& keyword = c.keyword;
    // The longest run of leading words that names a parameter.
    const int most = std::min<int>(longestParameterName(), int(words.size()));
    for (int n = most; n >= 1; --n) {
        QStringList head;
        bool blank = false;
        for (int i = 0; i < n; ++i) {
            blank = blank || words[i].isEmpty() || words[i].startsWith(QLatin1Char('"'));
            head << words[i].toUpper();
        }
        if (blank)
            continue;
        const QString name = head.join(QLatin1Char(' '));
        if (!isKnownParameterName(name))
            continue;
        const ParameterSpec* definition = findParameter(name, firmwareLevel());
        if (!definition)
            return QStringList{QStringLiteral("%1 is not a setting of this reader's generation").arg(name)} +
                   statusLine(keyword, kErrorLevel,
                              QStringLiteral("%1 is not available at software level %2")
                                  .arg(name)
                                  .arg(firmwareLevel()));
        const QStringList rest = words.mid(n);
        if (nonEmpty(rest).isEmpty())
            return QStringList{name + QLatin1Char(' ') + m_store->fields(name).join(QLatin1Char(' '))} +
                   statusLine(keyword);
        if (definition->readOnly)
            return QStringList{QStringLiteral("%1 belongs to this unit and cannot be written").arg(name)} +
                   statusLine(keyword, kErrorFailed, QStringLiteral("%1 is read only").arg(name));
        if (!hasControl(c.station))
            return refusedWithoutControl(c, name);
        const WriteResult r = m_store->write(*definition, rest);
        if (!r.ok())
            return c.refuse(r.code, refusalExplanation(*definition, r), r.text);
        if (name == QLatin1String("CONTRASTCAL") || name.startsWith(QLatin1String("XLIGHTCONTRASTCAL "))) {
            // Writing a contrast calibration back cancels the calibration of that light.
            const QString light =
                name == QLatin1String("CONTRASTCAL") ? m_store->currentLight() : name.section(' ', 1);
            LightCalibration cal = m_store->calibration(light);
            cal.calibrated = false;
            m_store->setCalibration(light, cal);
        }
        return statusLine(keyword, r.code, r.text);
    }
    QStringList reply = statusLine(keyword, kErrorUnknown, QStringLiteral("unknown command"));
    // A reply line never begins with the "!" or "#" that mark status lines and serial blocks.
    if (!keyword.isEmpty() && keyword.front().isLetter())
        reply.prepend(QStringLiteral("%1 is not a command of this reader").arg(keyword.left(64)));
    return reply;
}

QStringList Reader::calibrationCommand(const Command& c) {
    const QString& keyword = c.keyword;
    QStringList args = c.args;
    QString light = m_store->currentLight();
    bool named = false;
    if (!args.isEmpty() && !args[0].startsWith(QLatin1Char('"'))) {
        const QString candidate = args[0].toUpper();
        if (lightNames().contains(candidate)) {
            light = candidate;
            named = true;
            args.removeFirst();
        }
    }
    const QString prefix = named ? keyword + QLatin1Char(' ') + light : keyword;
    LightCalibration cal = m_store->calibration(light);
    if (keyword == QLatin1String("CALIBRATED")) {
        if (args.isEmpty())
            return c.ok({prefix + (cal.calibrated ? QStringLiteral(" TRUE") : QStringLiteral(" FALSE"))});
        if (args.size() != 1 || args[0].toUpper() != QLatin1String("FALSE"))
            return c.refuse(kErrorBadValue,
                            prefix + QStringLiteral(" field 0 must be FALSE (LEARN CALIBRATE calibrates)"),
                            QStringLiteral("only FALSE may be written; LEARN CALIBRATE calibrates"));
        if (!hasControl(c.station))
            return refusedWithoutControl(c, prefix);
        cal.calibrated = false;
        m_store->setCalibration(light, cal);
        return c.ok();
    }
    if (keyword == QLatin1String("CALIBRATED_STRING")) {
        if (args.isEmpty())
            return c.ok({prefix + QStringLiteral(" \"%1\"").arg(cal.text)});
        // The text is everything after the light, in quotes.
        const QString rest = c.words.mid(named ? 2 : 1).join(QLatin1Char(' ')).trimmed();
        const QString text = stripQuotes(rest);
        if (text.size() > 64)
            return c.refuse(
                kErrorBadValue,
                prefix + QStringLiteral(" field 0 must be text up to 64, quoted (text longer than 64)"),
                QStringLiteral("text longer than 64"));
        if (!hasControl(c.station))
            return refusedWithoutControl(c, prefix);
        cal.text = text;
        m_store->setCalibration(light, cal);
        return c.ok();
    }
    if (!args.isEmpty())
        return c.refuse(kErrorFailed,
                        QStringLiteral("%1 is measured by LEARN CALIBRATE and cannot be written").arg(prefix),
                        QStringLiteral("%1 is measured by LEARN CALIBRATE").arg(keyword));
    return c.ok({prefix + QLatin1Char(' ') + m_store->fields(keyword + QLatin1Char(' ') + light).join(' ')});
}

} // namespace vm::sim
