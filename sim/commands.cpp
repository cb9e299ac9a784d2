// The reader's command language: everything that is not a plain parameter query or write.

#include "sim/reader.h"

#include "sim/catalogue.h"
#include "sim/eventlog.h"
#include "sim/logging.h"

#include <QJsonArray>
#include <QRegularExpression>

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

// The data line a refused write carries before its error status: what the reader would
// have accepted, so that whoever loaded the line can see why it failed.
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

} // namespace

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
    const QString keyword = words.value(0).toUpper();
    const QString sub = args.value(0).toUpper();
    QStringList reply;
    // The acquisition engine carries out learn, calibration and image-source commands itself;
    // the reader still checks control and level first.
    auto engine = [&](const QStringList& engineWords) {
        QString error;
        if (!m_readCycle->command(engineWords, &error)) {
            reply = statusLine(keyword, kErrorFailed, error);
            return false;
        }
        return true;
    };

    auto needControl = [&]() {
        if (hasControl(station))
            return true;
        reply = statusLine(keyword, kErrorNoControl, QStringLiteral("no programming control"));
        return false;
    };
    auto ok = [&](QStringList data = {}) { reply = data + statusLine(keyword); };
    auto fail = [&](int code, const QString& text) { reply = statusLine(keyword, code, text); };

    const QString userTrigger = stripQuotes(m_store->fields(QStringLiteral("TRIG U")).value(0));

    if (keyword == QLatin1String("STATION")) {
        const QString name = stripQuotes(line.mid(words[0].size()).trimmed());
        if (name.isEmpty() || name.size() > 64)
            fail(kErrorBadValue, QStringLiteral("station name must have 1 to 64 characters"));
        else {
            // The holder's control follows it when it names itself after taking control.
            if (!m_controller.isEmpty() && m_controller == station.name && m_controller != name)
                setController(name);
            station.name = name;
            ok();
        }
    } else if (keyword == QLatin1String("CONTROL") && args.isEmpty()) {
        if (m_controlRefusal != ControlRefusal::None) {
            if (m_controlRefusal == ControlRefusal::Once)
                m_controlRefusal = ControlRefusal::None;
            fail(kErrorFailed, QStringLiteral("programming control refused"));
        } else {
            setController(station.name);
            ok();
        }
    } else if (keyword == QLatin1String("RELEASE") && args.isEmpty()) {
        if (hasControl(station))
            setController(QString());
        ok();
    } else if (keyword == QLatin1String("CONTROLLER") && args.isEmpty()) {
        ok({QStringLiteral("CONTROLLER \"%1\"").arg(m_controller)});
    } else if (keyword == QLatin1String("VERSION") && args.isEmpty()) {
        ok({QStringLiteral("VERSION ") + m_config.softwareVersion});
    } else if (keyword == QLatin1String("NAME")) {
        if (args.isEmpty()) {
            ok({QStringLiteral("NAME \"%1\"").arg(m_name)});
        } else if (needControl()) {
            const ParameterSpec* ip = findParameter(QStringLiteral("IP"), m_level);
            QStringList f = m_store->fields(QStringLiteral("IP"));
            f[0] = stripQuotes(line.mid(words[0].size()).trimmed());
            const WriteResult r = m_store->write(*ip, f);
            reply = statusLine(keyword, r.code, r.text);
            if (r.ok())
                takeName(f[0]); // NAME renames at once; IP keeps a new name for the next boot
        }
    } else if (keyword == QLatin1String("SAVE") && args.isEmpty()) {
        if (needControl()) {
            QString error;
            if (saveFlash(&error))
                ok();
            else
                fail(kErrorFailed, QStringLiteral("flash write failed: ") + error);
        }
    } else if (keyword == QLatin1String("RESET") && args.size() == 1 &&
               (sub == QLatin1String("DECODER") || sub == QLatin1String("APPMODE"))) {
        if (needControl()) {
            m_store->resetGroup(sub == QLatin1String("DECODER") ? ParameterGroup::Decoder
                                                                : ParameterGroup::AppMode);
            // Factory decoder settings forget what a learn found.
            if (sub != QLatin1String("DECODER") || engine({QStringLiteral("UNLEARN")}))
                ok();
        }
    } else if (keyword == QLatin1String("SHOW") && args.size() == 1 && sub == QLatin1String("CONFIG")) {
        ok(m_store->configurationListing());
    } else if (keyword == QLatin1String("SHOW") && args.size() == 1 && sub == QLatin1String("DEFAULTS")) {
        ok(m_store->defaultsListing());
    } else if (keyword == QLatin1String("DIR") && args.isEmpty()) {
        ok(dirListing());
    } else if ((keyword == QLatin1String("STORE") || keyword == QLatin1String("LOAD")) && args.size() == 1) {
        qint64 pid = 0;
        if (!isInteger(args[0], 1, 15, &pid))
            fail(kErrorBadValue, QStringLiteral("PID must be 1 to 15"));
        else if (needControl()) {
            if (keyword == QLatin1String("STORE")) {
                m_store->storePid(int(pid));
                // Stored PIDs live in flash at once; the current settings stay unsaved.
                QString error;
                if (storePidsInFlash(&error))
                    ok();
                else
                    fail(kErrorFailed, QStringLiteral("flash write failed: ") + error);
            } else if (m_store->loadPid(int(pid))) {
                ok();
            } else {
                fail(kErrorFailed, QStringLiteral("PID %1 is not stored").arg(pid));
            }
        }
    } else if (keyword == QLatin1String("STATS") && args.isEmpty()) {
        const CycleStats s = m_driver->stats();
        ok({QStringLiteral("STATS %1 %2 %3 %4 %5 %6")
                .arg(s.triggers)
                .arg(s.passes)
                .arg(s.fails)
                .arg(s.noReads)
                .arg(s.overruns)
                .arg(s.timeouts)});
    } else if (keyword == QLatin1String("STATS") && args.size() == 1 && sub == QLatin1String("RESET")) {
        if (needControl()) {
            m_driver->resetStats();
            ok();
        }
    } else if (keyword == QLatin1String("CAPTURE") && args.size() == 1 &&
               (sub == QLatin1String("CAMERA") || sub == QLatin1String("FILES"))) {
        if (needControl()) {
            if (sub == QLatin1String("FILES") && m_files.isEmpty())
                fail(kErrorFailed, QStringLiteral("no image files on the reader"));
            else if (engine({keyword, sub}))
                ok();
        }
    } else if (keyword == QLatin1String("DRIVEDELETE") && args.size() == 1 && sub == QLatin1String("FILES")) {
        if (needControl()) {
            for (const QString& f : std::as_const(m_files))
                QFile::remove(f);
            m_files.clear();
            if (engine({keyword, sub}))
                ok();
        }
    } else if (keyword == QLatin1String("VT") && args.size() <= 1) {
        m_driver->trigger(QStringLiteral("VT"));
        ok();
    } else if (!userTrigger.isEmpty() && line.compare(userTrigger, Qt::CaseInsensitive) == 0) {
        // The user trigger string works like the virtual trigger.
        m_driver->trigger(QStringLiteral("TRIG U"));
        ok();
    } else if (keyword == QLatin1String("LEARN") && args.size() == 1 &&
               (sub == QLatin1String("BOTH") || sub == QLatin1String("CALIBRATE"))) {
        if (sub == QLatin1String("CALIBRATE") && m_level < 9)
            fail(kErrorLevel, QStringLiteral("calibration needs software level 9"));
        else if (needControl()) {
            if (engine({keyword, sub}))
                ok();
        }
    } else if (keyword == QLatin1String("LEARNEX") && args.size() == 2) {
        const QString dec = args[0].toUpper(), photo = args[1].toUpper();
        if ((dec != QLatin1String("BOTH") && dec != QLatin1String("NONE")) ||
            (photo != QLatin1String("PHOTO") && photo != QLatin1String("NONE")))
            fail(kErrorBadValue, QStringLiteral("LEARNEX BOTH|NONE PHOTO|NONE"));
        else if (needControl()) {
            if (engine({keyword, dec, photo}))
                ok();
        }
    } else if (keyword == QLatin1String("LEARNASSIST")) {
        bool good = args.size() == 11;
        for (int i = 0; good && i < 8; ++i)
            good = isInteger(args[i], i % 2 ? 0 : 0, i % 2 ? 493 : 658);
        good = good && isInteger(args.value(8), 8, 144) && isInteger(args.value(9), 8, 144) &&
               (args.value(10).toUpper() == QLatin1String("DL") ||
                args.value(10).toUpper() == QLatin1String("LD"));
        if (args.size() != 11)
            fail(kErrorFieldCount, QStringLiteral("LEARNASSIST needs 4 corners, rows, columns and DL or LD"));
        else if (!good)
            fail(kErrorBadValue, QStringLiteral("corner, size or polarity out of range"));
        else if (needControl()) {
            QStringList f{keyword};
            for (int i = 0; i < 10; ++i)
                f << args[i];
            f << args[10].toUpper();
            if (engine(f))
                ok();
        }
    } else if (keyword == QLatin1String("LEARNCANCEL") && args.isEmpty()) {
        if (needControl()) {
            if (engine({keyword}))
                ok();
        }
    } else if (keyword == QLatin1String("UNLEARN") && args.isEmpty()) {
        if (needControl()) {
            if (engine({keyword}))
                ok();
        }
    } else if (keyword == QLatin1String("PHOTO") && args.size() == 1 && sub == QLatin1String("AUTO")) {
        if (needControl()) {
            QStringList f = m_store->fields(QStringLiteral("PHOTOEX"));
            f[0] = QStringLiteral("AUTO");
            const WriteResult r = m_store->write(*findParameter(QStringLiteral("PHOTOEX"), m_level), f);
            if (!r.ok())
                reply = statusLine(keyword, r.code, r.text);
            else if (engine({keyword, sub}))
                ok();
        }
    } else if ((keyword == QLatin1String("SETTINGS_HARDWARE") ||
                keyword == QLatin1String("SETTINGS_CUSTOMER") ||
                keyword == QLatin1String("SETTINGS_MANUFACTURING")) &&
               args.isEmpty()) {
        ok(manufacturingBlock(keyword));
    } else if ((keyword == QLatin1String("OFFLINE") || keyword == QLatin1String("ONLINE")) &&
               args.isEmpty()) {
        if (needControl()) {
            m_driver->setOnline(keyword == QLatin1String("ONLINE"));
            m_io->setReady(m_driver->online());
            ok();
        }
    } else if (keyword == QLatin1String("REPORTREQ")) {
        qint64 compression = 0, image = 0;
        const bool nextFail = args.value(2).toUpper() == QLatin1String("NEXTFAIL");
        if (args.size() < 2 || args.size() > 3 || (args.size() == 3 && !nextFail))
            fail(kErrorFieldCount, QStringLiteral("REPORTREQ <compression> <image> [NEXTFAIL]"));
        else if (!isInteger(args[0], 0, 255, &compression) || !isInteger(args[1], 0, 1, &image))
            fail(kErrorBadValue, QStringLiteral("compression 0..255, image 0 or 1"));
        else if (!station.serial)
            fail(kErrorFailed, QStringLiteral("records travel on the data channel"));
        else {
            m_reportRequest.pending = true;
            m_reportRequest.image = image == 1;
            m_reportRequest.compress = compression != 255;
            m_reportRequest.nextFail = nextFail;
            ok();
        }
    } else if (keyword == QLatin1String("REPORTCANCEL") && args.isEmpty()) {
        m_reportRequest = {};
        ok();
    } else if (keyword == QLatin1String("CALIBRATED") || keyword == QLatin1String("CALIBRATED_STRING") ||
               keyword == QLatin1String("CELL_UNIT") || keyword == QLatin1String("CONTRAST") ||
               keyword == QLatin1String("CAL_MEAN_LIGHT")) {
        reply = executeCalibration(words, keyword, station);
    } else if (keyword == QLatin1String("PARTQLIST") || keyword == QLatin1String("PARTQGET") ||
               keyword == QLatin1String("PARTQCLEAR")) {
        reply = executePartQueue(args, keyword, station);
    } else {
        reply = executeParameter(words, keyword, station);
    }

    QJsonArray lines;
    for (const QString& l : std::as_const(reply))
        lines.append(l);
    log(QStringLiteral("reply"),
        QJsonObject{{QStringLiteral("station"), station.name}, {QStringLiteral("lines"), lines}});
    return reply;
}

QStringList Reader::executeParameter(const QStringList& words, const QString& keyword,
                                     const Station& station) {
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
        const ParameterSpec* definition = findParameter(name, m_level);
        if (!definition)
            return QStringList{QStringLiteral("%1 is not a setting of this reader's generation").arg(name)} +
                   statusLine(
                       keyword, kErrorLevel,
                       QStringLiteral("%1 is not available at software level %2").arg(name).arg(m_level));
        const QStringList rest = words.mid(n);
        if (nonEmpty(rest).isEmpty())
            return QStringList{name + QLatin1Char(' ') + m_store->fields(name).join(QLatin1Char(' '))} +
                   statusLine(keyword);
        if (definition->readOnly)
            return QStringList{QStringLiteral("%1 belongs to this unit and cannot be written").arg(name)} +
                   statusLine(keyword, kErrorFailed, QStringLiteral("%1 is read only").arg(name));
        if (!hasControl(station))
            return QStringList{QStringLiteral("%1 can only be written by the station in programming control")
                                   .arg(name)} +
                   statusLine(keyword, kErrorNoControl, QStringLiteral("no programming control"));
        const WriteResult r = m_store->write(*definition, rest);
        if (!r.ok())
            return QStringList{refusalExplanation(*definition, r)} + statusLine(keyword, r.code, r.text);
        if (r.ok() &&
            (name == QLatin1String("CONTRASTCAL") || name.startsWith(QLatin1String("XLIGHTCONTRASTCAL ")))) {
            // Writing a contrast calibration back cancels the calibration of that light.
            const QString light =
                name == QLatin1String("CONTRASTCAL") ? m_store->currentLight() : name.section(' ', 1);
            LightCalibration c = m_store->calibration(light);
            c.calibrated = false;
            m_store->setCalibration(light, c);
        }
        return statusLine(keyword, r.code, r.text);
    }
    QStringList reply = statusLine(keyword, kErrorUnknown, QStringLiteral("unknown command"));
    // A reply line never begins with the "!" or "#" that mark status lines and serial blocks.
    if (!keyword.isEmpty() && keyword.front().isLetter())
        reply.prepend(QStringLiteral("%1 is not a command of this reader").arg(keyword.left(64)));
    return reply;
}

QStringList Reader::executeCalibration(const QStringList& words, const QString& keyword,
                                       const Station& station) {
    if (m_level < 9)
        return statusLine(
            keyword, kErrorLevel,
            QStringLiteral("%1 is not available at software level %2").arg(keyword).arg(m_level));
    QStringList args = nonEmpty(words.mid(1));
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
    LightCalibration c = m_store->calibration(light);
    if (keyword == QLatin1String("CALIBRATED")) {
        if (args.isEmpty())
            return QStringList{prefix + (c.calibrated ? QStringLiteral(" TRUE") : QStringLiteral(" FALSE"))} +
                   statusLine(keyword);
        if (args.size() != 1 || args[0].toUpper() != QLatin1String("FALSE"))
            return statusLine(keyword, kErrorBadValue,
                              QStringLiteral("only FALSE may be written; LEARN CALIBRATE calibrates"));
        if (!hasControl(station))
            return statusLine(keyword, kErrorNoControl, QStringLiteral("no programming control"));
        c.calibrated = false;
        m_store->setCalibration(light, c);
        return statusLine(keyword);
    }
    if (keyword == QLatin1String("CALIBRATED_STRING")) {
        if (args.isEmpty())
            return QStringList{prefix + QStringLiteral(" \"%1\"").arg(c.text)} + statusLine(keyword);
        // The text is everything after the light, in quotes.
        const QString rest = words.mid(named ? 2 : 1).join(QLatin1Char(' ')).trimmed();
        const QString text = stripQuotes(rest);
        if (text.size() > 64)
            return statusLine(keyword, kErrorBadValue, QStringLiteral("text longer than 64"));
        if (!hasControl(station))
            return statusLine(keyword, kErrorNoControl, QStringLiteral("no programming control"));
        c.text = text;
        m_store->setCalibration(light, c);
        return statusLine(keyword);
    }
    if (!args.isEmpty())
        return statusLine(keyword, kErrorFailed,
                          QStringLiteral("%1 is measured by LEARN CALIBRATE").arg(keyword));
    return QStringList{prefix + QLatin1Char(' ') +
                       m_store->fields(keyword + QLatin1Char(' ') + light).join(' ')} +
           statusLine(keyword);
}

QStringList Reader::dirListing() const {
    QStringList out;
    const QMap<int, QDateTime> pids = m_store->storedPids();
    for (auto it = pids.constBegin(); it != pids.constEnd(); ++it)
        out << QStringLiteral("PID%1: stored %2")
                   .arg(it.key())
                   .arg(it.value().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")));
    out << QStringLiteral("DIR %1 PIDS").arg(pids.size());
    return out;
}

QStringList Reader::manufacturingBlock(const QString& which) const {
    QString serial = m_mac;
    serial.remove(QLatin1Char(':'));
    if (which == QLatin1String("SETTINGS_HARDWARE"))
        return {QStringLiteral("MODEL LXM2"),
                QStringLiteral("SENSOR 659x494 GREY8"),
                QStringLiteral("INTERNAL_LIGHT RED 625NM"),
                QStringLiteral("EXTERNAL_LIGHT_CHANNELS %1").arg(m_store->lightChannels()),
                QStringLiteral(
                    "IO OPTO_IN1 OPTO_OUT1 OPTO_OUT2 OPTO_OUT3 GPIO_OUT1 GPIO_OUT2 GPIO_OUT3 GPIO_OUT4"),
                QStringLiteral("SERIAL RS232 115200")};
    if (which == QLatin1String("SETTINGS_CUSTOMER"))
        return {QStringLiteral("CUSTOMER STANDARD"), QStringLiteral("DEFAULT_PID NONE"),
                QStringLiteral("LOCKED_PARAMETERS NONE")};
    return {QStringLiteral("SERIAL_NUMBER LVX-%1").arg(serial), QStringLiteral("MAC %1").arg(m_mac),
            QStringLiteral("SOFTWARE %1").arg(m_config.softwareVersion),
            QStringLiteral("SOFTWARE_LEVEL %1").arg(m_level), QStringLiteral("MANUFACTURED 2021-03-14")};
}

} // namespace vm::sim
