#include "sim/parameterstore.h"

#include <QJsonArray>
#include <cmath>

namespace vm::sim {

QStringList splitCommandLine(const QString& line) {
    QStringList out;
    const int n = line.size();
    int i = 0;
    while (i <= n) {
        if (i < n && line[i] == QLatin1Char('"')) {
            // A quoted word ends at a quote followed by a blank (no other white space) or the
            // end; inner quotes stay.
            int j = i + 1;
            int end = -1;
            while (j < n) {
                if (line[j] == QLatin1Char('"') && (j + 1 == n || line[j + 1] == QLatin1Char(' '))) {
                    end = j;
                    break;
                }
                ++j;
            }
            if (end < 0) {
                out << line.mid(i); // unterminated: the rest of the line
                break;
            }
            out << line.mid(i, end - i + 1);
            i = end + 2;
            if (end + 1 == n)
                break;
            continue;
        }
        int j = i;
        while (j < n && line[j] != QLatin1Char(' '))
            ++j;
        out << line.mid(i, j - i);
        if (j >= n)
            break;
        i = j + 1;
    }
    return out;
}

QString stripQuotes(const QString& field) {
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        return field.mid(1, field.size() - 2);
    return field;
}

namespace {

QString quote(const QString& s) {
    return QLatin1Char('"') + s + QLatin1Char('"');
}

bool isPrintable(const QString& s) {
    for (QChar c : s)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    return true;
}

QString calibrationKey(const QString& light) {
    return light.toUpper();
}

} // namespace

ParameterStore::ParameterStore(int firmwareLevel, const QString& readerName, const QString& macAddress,
                               int lightChannels)
    : m_level(firmwareLevel)
    , m_lightChannels(lightChannels)
    , m_readerName(readerName)
    , m_macAddress(macAddress) {
    m_values = defaults();
}

ParameterStore::Values ParameterStore::defaults() const {
    Values v;
    for (const ParameterSpec& p : parameterCatalogue()) {
        if (!levelInRange(m_level, p.minLevel, p.maxLevel))
            continue;
        QStringList f;
        for (const FieldSpec& fs : p.fields)
            f << fs.defaultValue;
        v.insert(p.name, f);
    }
    // Values that belong to this unit rather than to the factory table.
    if (v.contains(QStringLiteral("IP")))
        v[QStringLiteral("IP")][0] = m_readerName;
    if (v.contains(QStringLiteral("MACADDR")))
        v[QStringLiteral("MACADDR")] = QStringList{m_macAddress};
    if (v.contains(QStringLiteral("XLIGHTCHANNELS")))
        v[QStringLiteral("XLIGHTCHANNELS")] = QStringList{QString::number(m_lightChannels)};
    return v;
}

QString ParameterStore::currentLight() const {
    const QStringList l = m_values.value(QStringLiteral("LIGHT_CTL"));
    if (l.isEmpty() || l[0] == QLatin1String("OFF"))
        return QStringLiteral("INTERNAL");
    return l[0];
}

LightCalibration ParameterStore::calibration(const QString& light) const {
    return m_calibration.value(calibrationKey(light));
}

void ParameterStore::setCalibration(const QString& light, const LightCalibration& c) {
    m_calibration.insert(calibrationKey(light), c);
    // The contrast calibration parameters show whether their light is calibrated.
    const QString name = light == QLatin1String("INTERNAL") ? QStringLiteral("CONTRASTCAL")
                                                            : QStringLiteral("XLIGHTCONTRASTCAL ") + light;
    if (m_values.contains(name)) {
        m_values[name][0] = c.calibrated ? QStringLiteral("Y") : QStringLiteral("N");
        // Its fields hold whole grey levels.
        m_values[name][3] = QString::number(std::lround(c.contrastMax));
        m_values[name][4] = QString::number(std::lround(c.contrastMin));
    }
    changed(QStringLiteral("CALIBRATED"));
}

QStringList ParameterStore::fields(const QString& rawName) const {
    const QString name = rawName.trimmed().toUpper();
    if (m_overlay) {
        const auto o = m_overlay->constFind(name);
        const ParameterSpec* definition = o == m_overlay->constEnd() ? nullptr : findParameter(name, m_level);
        if (definition && !definition->readOnly && o->size() == definition->fields.size())
            return *o;
    }
    const auto it = m_values.constFind(name);
    if (it != m_values.constEnd())
        return *it;
    if (m_level >= 9 || m_level == 99) {
        // Calibration views of the current light, or of a named one.
        const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!words.isEmpty()) {
            const QString light = words.size() > 1 ? words[1] : currentLight();
            const LightCalibration c = calibration(light);
            if (words[0] == QLatin1String("CALIBRATED"))
                return {c.calibrated ? QStringLiteral("TRUE") : QStringLiteral("FALSE")};
            if (words[0] == QLatin1String("CALIBRATED_STRING"))
                return {quote(c.text)};
            if (words[0] == QLatin1String("CELL_UNIT"))
                return {QString::number(c.cellUnit, 'f', 2)};
            if (words[0] == QLatin1String("CONTRAST"))
                return {QString::number(c.contrastMax, 'f', 1), QString::number(c.contrastMin, 'f', 1)};
            if (words[0] == QLatin1String("CAL_MEAN_LIGHT"))
                return {QString::number(c.reflectance, 'f', 1)};
        }
    }
    return m_requests.value(name);
}

void ParameterStore::setFields(const QString& rawName, const QStringList& f) {
    const QString name = rawName.trimmed().toUpper();
    if (m_values.contains(name)) {
        // The engine writes learned values; keep the reader's own form (quotes on text fields).
        const ParameterSpec* definition = findParameter(name, m_level);
        QStringList v = m_values.value(name);
        for (int i = 0; i < f.size() && i < v.size(); ++i) {
            QString norm;
            QString error;
            if (definition && normalize(definition->fields[i], f[i], &norm, &error))
                v[i] = norm;
        }
        m_values[name] = v;
        changed(name);
        return;
    }
    const QStringList words = name.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (!words.isEmpty() && !f.isEmpty()) {
        const QString light = words.size() > 1 ? words[1] : currentLight();
        LightCalibration c = calibration(light);
        bool handled = true;
        if (words[0] == QLatin1String("CALIBRATED"))
            c.calibrated = f[0].compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0;
        else if (words[0] == QLatin1String("CALIBRATED_STRING"))
            c.text = stripQuotes(f.join(QLatin1Char(' ')));
        else if (words[0] == QLatin1String("CELL_UNIT"))
            c.cellUnit = f[0].toDouble();
        else if (words[0] == QLatin1String("CONTRAST")) {
            c.contrastMax = f[0].toDouble();
            c.contrastMin = f.value(1).toDouble();
        } else if (words[0] == QLatin1String("CAL_MEAN_LIGHT"))
            c.reflectance = f[0].toDouble();
        else
            handled = false;
        if (handled) {
            setCalibration(light, c);
            return;
        }
    }
    setRequest(name, f);
}

void ParameterStore::setRequest(const QString& name, const QStringList& f) {
    if (f.isEmpty())
        m_requests.remove(name);
    else
        m_requests.insert(name, f);
    changed(name);
}

void ParameterStore::changed(const QString& name) {
    if (m_onChange)
        m_onChange(name);
}

bool ParameterStore::normalize(const FieldSpec& field, const QString& token, QString* out, QString* error) {
    if (!isPrintable(token)) {
        *error = QStringLiteral("value has control characters");
        return false;
    }
    switch (field.kind) {
    case FieldKind::Choice: {
        const QString bare = field.quoted ? stripQuotes(token) : token;
        const QString upper = bare.toUpper();
        for (const auto& a : field.aliases)
            if (upper == a.first) {
                *out = field.quoted ? quote(a.second) : a.second;
                return true;
            }
        if (field.words.contains(upper)) {
            *out = field.quoted ? quote(upper) : upper;
            return true;
        }
        if (field.ranged) {
            bool ok = false;
            const qint64 v = bare.toLongLong(&ok);
            if (ok && v >= field.min && v <= field.max) {
                *out = QString::number(v);
                return true;
            }
            if (ok) {
                *error = QString("%1 out of range %2..%3").arg(bare).arg(field.min).arg(field.max);
                return false;
            }
        }
        *error = QString("bad value %1").arg(bare.isEmpty() ? QStringLiteral("(empty)") : bare);
        return false;
    }
    case FieldKind::Text: {
        const QString inner = stripQuotes(token);
        if (inner.size() > field.maxLength) {
            *error = QString("text longer than %1").arg(field.maxLength);
            return false;
        }
        // Stored in quotes, such a text would end at that quote when listed or queried.
        if (inner.contains(QLatin1String("\" "))) {
            *error = QStringLiteral("a double quote followed by a blank would end the text early");
            return false;
        }
        *out = quote(inner);
        return true;
    }
    case FieldKind::HexMask: {
        QString digits = token;
        if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ||
            digits.startsWith(QLatin1String("&h"), Qt::CaseInsensitive))
            digits = digits.mid(2);
        bool ok = false;
        const qint64 v = digits.toLongLong(&ok, 16);
        if (!ok || digits.isEmpty() || v < 0 || v > field.max) {
            *error = QString("bad mask %1").arg(token);
            return false;
        }
        *out = QStringLiteral("0x") + QString::number(v, 16).toUpper();
        return true;
    }
    case FieldKind::Address: {
        const QStringList parts = token.split(QLatin1Char('.'));
        bool good = parts.size() == 4;
        for (const QString& p : parts) {
            bool ok = false;
            const int v = p.toInt(&ok);
            good = good && ok && v >= 0 && v <= 255;
        }
        if (!good) {
            *error = QString("bad address %1").arg(token);
            return false;
        }
        *out = token;
        return true;
    }
    case FieldKind::Identifier: {
        const QString bare = stripQuotes(token);
        if (bare.isEmpty() || bare.size() > field.maxLength) {
            *error = QString("name must have 1 to %1 characters").arg(field.maxLength);
            return false;
        }
        if (field.letterFirst && !bare.front().isLetter()) {
            *error = QStringLiteral("name must begin with a letter");
            return false;
        }
        for (QChar c : bare)
            if (!(c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('-') ||
                  c == QLatin1Char('.') || c == QLatin1Char(':'))) {
                *error = QString("bad character in %1").arg(bare);
                return false;
            }
        *out = bare;
        return true;
    }
    }
    return false;
}

bool ParameterStore::crossCheck(const QString& name, const QStringList& f, QString* error) const {
    if (name == QLatin1String("PHOTOEX")) {
        if (f[3].toInt() >= f[4].toInt() || f[5].toInt() >= f[6].toInt()) {
            *error = QStringLiteral("automatic minimum must be below maximum");
            return false;
        }
        // No check against ILLUM: power-strobed light allows short exposures only, but the
        // acquisition limits the exposure it uses while strobing (1000 us) instead. A refusal
        // here would depend on the order in which PHOTOEX and ILLUM arrive, so a PC that
        // changes both could be refused for a state the two writes together make valid.
    } else if (name.startsWith(QLatin1String("IOASSIGN OPTO_OUT"))) {
        static const QStringList inputs = {"READ_A", "READ_B", "READ_C",    "READ_D",
                                           "RETRY",  "LEARN",  "MATCH_SET", "CALIBRATE"};
        if (inputs.contains(stripQuotes(f[0]))) {
            *error = QStringLiteral("inputs may only be assigned to GPIO_OUT1 through GPIO_OUT4");
            return false;
        }
    } else if (name == QLatin1String("XDIMENSION")) {
        if (f[1].toInt() >= f[0].toInt()) {
            *error = QStringLiteral("minimum must be below maximum");
            return false;
        }
    } else if (name == QLatin1String("MATCHEX")) {
        if (f[4].toInt() > f[5].toInt()) {
            *error = QStringLiteral("first position after last position");
            return false;
        }
    }
    return true;
}

WriteResult ParameterStore::write(const ParameterSpec& definition, QStringList tokens) {
    if (definition.readOnly)
        return {kErrorFailed, QStringLiteral("read only")};
    const int expected = int(definition.fields.size());
    if (tokens.size() != expected) {
        // Tolerate doubled blanks, and missing trailing fields that may be empty.
        QStringList compact;
        for (const QString& t : tokens)
            if (!t.isEmpty())
                compact << t;
        if (compact.size() == expected) {
            tokens = compact;
        } else if (tokens.size() < expected) {
            bool pad = true;
            for (int i = int(tokens.size()); i < expected; ++i)
                pad =
                    pad && (definition.fields[i].kind == FieldKind::Text || definition.fields[i].keepIfEmpty);
            if (!pad)
                return {kErrorFieldCount, QString("%1 needs %2 fields").arg(definition.name).arg(expected)};
            while (tokens.size() < expected)
                tokens << QString();
        } else {
            return {kErrorFieldCount, QString("%1 needs %2 fields").arg(definition.name).arg(expected)};
        }
    }
    QStringList current = m_values.value(definition.name);
    QStringList next = current;
    for (int i = 0; i < expected; ++i) {
        if (definition.fields[i].keepIfEmpty && tokens[i].isEmpty())
            continue;
        QString value;
        QString error;
        if (!normalize(definition.fields[i], tokens[i], &value, &error))
            return {kErrorBadValue, QString("field %1: %2").arg(i).arg(error)};
        next[i] = value;
    }
    QString error;
    if (!crossCheck(definition.name, next, &error))
        return {kErrorBadValue, error};
    m_values[definition.name] = next;
    if (definition.name == QLatin1String("IP"))
        m_readerName = next[0];
    changed(definition.name);
    return {};
}

QStringList ParameterStore::configurationListing() const {
    return listing(m_values);
}

QStringList ParameterStore::defaultsListing() const {
    Values values = defaults();
    values.insert(QStringLiteral("IP"), m_values.value(QStringLiteral("IP")));
    return listing(values);
}

QStringList ParameterStore::listing(const Values& values) const {
    QStringList out;
    for (const ParameterSpec& p : parameterCatalogue()) {
        if (p.readOnly || !levelInRange(m_level, p.minLevel, p.maxLevel))
            continue;
        // The contrast calibration is a measurement, not a setting to restore.
        if (p.name == QLatin1String("CONTRASTCAL") || p.name.startsWith(QLatin1String("XLIGHTCONTRASTCAL ")))
            continue;
        out << p.name + QLatin1Char(' ') + values.value(p.name).join(QLatin1Char(' '));
    }
    return out;
}

void ParameterStore::resetGroup(ParameterGroup group) {
    const Values d = defaults();
    for (const ParameterSpec& p : parameterCatalogue())
        if (p.group == group && d.contains(p.name))
            m_values[p.name] = d.value(p.name);
    changed(group == ParameterGroup::Decoder ? QStringLiteral("RESET DECODER")
                                             : QStringLiteral("RESET APPMODE"));
}

bool ParameterStore::storePid(int pid) {
    if (pid < 1 || pid > 15)
        return false;
    m_overlay = nullptr;
    m_pids.insert(pid, {QDateTime::currentDateTime(), m_values});
    return true;
}

bool ParameterStore::loadPid(int pid) {
    const auto it = m_pids.constFind(pid);
    if (it == m_pids.constEnd())
        return false;
    // Only what this level knows; read-only values stay the unit's own.
    for (auto v = it->second.constBegin(); v != it->second.constEnd(); ++v) {
        const ParameterSpec* definition = findParameter(v.key(), m_level);
        if (definition && !definition->readOnly && v.value().size() == definition->fields.size())
            m_values[v.key()] = v.value();
    }
    changed(QStringLiteral("LOAD"));
    return true;
}

bool ParameterStore::beginPidOverlay(int pid) {
    const auto it = m_pids.constFind(pid);
    m_overlay = it == m_pids.constEnd() ? nullptr : &it->second;
    return m_overlay != nullptr;
}

QMap<int, QDateTime> ParameterStore::storedPids() const {
    QMap<int, QDateTime> out;
    for (auto it = m_pids.constBegin(); it != m_pids.constEnd(); ++it)
        out.insert(it.key(), it->first);
    return out;
}

namespace {

QJsonObject valuesToJson(const QHash<QString, QStringList>& values) {
    QJsonObject o;
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        o.insert(it.key(), QJsonArray::fromStringList(it.value()));
    return o;
}

QHash<QString, QStringList> valuesFromJson(const QJsonObject& o) {
    QHash<QString, QStringList> v;
    for (auto it = o.constBegin(); it != o.constEnd(); ++it) {
        QStringList f;
        for (const QJsonValue& x : it.value().toArray())
            f << x.toString();
        v.insert(it.key(), f);
    }
    return v;
}

} // namespace

QJsonObject ParameterStore::toJson() const {
    QJsonObject o;
    o.insert(QStringLiteral("values"), valuesToJson(m_values));
    QJsonObject pids;
    for (auto it = m_pids.constBegin(); it != m_pids.constEnd(); ++it) {
        QJsonObject p;
        p.insert(QStringLiteral("time"), it->first.toString(Qt::ISODate));
        p.insert(QStringLiteral("values"), valuesToJson(it->second));
        pids.insert(QString::number(it.key()), p);
    }
    o.insert(QStringLiteral("pids"), pids);
    QJsonObject cal;
    for (auto it = m_calibration.constBegin(); it != m_calibration.constEnd(); ++it) {
        QJsonObject c;
        c.insert(QStringLiteral("calibrated"), it->calibrated);
        c.insert(QStringLiteral("text"), it->text);
        c.insert(QStringLiteral("cellUnit"), it->cellUnit);
        c.insert(QStringLiteral("contrastMax"), it->contrastMax);
        c.insert(QStringLiteral("contrastMin"), it->contrastMin);
        c.insert(QStringLiteral("reflectance"), it->reflectance);
        cal.insert(it.key(), c);
    }
    o.insert(QStringLiteral("calibration"), cal);
    return o;
}

void ParameterStore::fromJson(const QJsonObject& o) {
    // Start from the factory values so that a file from another level or an older simulator
    // leaves nothing missing; take only values that pass this level's checks.
    Values fresh = defaults();
    const Values saved = valuesFromJson(o.value(QStringLiteral("values")).toObject());
    for (auto it = saved.constBegin(); it != saved.constEnd(); ++it) {
        const ParameterSpec* definition = findParameter(it.key(), m_level);
        if (!definition || definition->readOnly || it.value().size() != definition->fields.size())
            continue;
        bool good = true;
        QStringList norm;
        for (int i = 0; i < definition->fields.size() && good; ++i) {
            QString v;
            QString error;
            good = normalize(definition->fields[i], it.value()[i], &v, &error);
            norm << v;
        }
        if (good)
            fresh[it.key()] = norm;
    }
    m_values = fresh;
    m_overlay = nullptr;
    m_readerName = m_values.value(QStringLiteral("IP")).value(0, m_readerName);
    m_pids.clear();
    const QJsonObject pids = o.value(QStringLiteral("pids")).toObject();
    for (auto it = pids.constBegin(); it != pids.constEnd(); ++it) {
        const int n = it.key().toInt();
        if (n < 1 || n > 15)
            continue;
        const QJsonObject p = it.value().toObject();
        m_pids.insert(n, {QDateTime::fromString(p.value(QStringLiteral("time")).toString(), Qt::ISODate),
                          valuesFromJson(p.value(QStringLiteral("values")).toObject())});
    }
    m_calibration.clear();
    const QJsonObject cal = o.value(QStringLiteral("calibration")).toObject();
    for (auto it = cal.constBegin(); it != cal.constEnd(); ++it) {
        const QJsonObject c = it.value().toObject();
        LightCalibration l;
        l.calibrated = c.value(QStringLiteral("calibrated")).toBool();
        l.text = c.value(QStringLiteral("text")).toString();
        l.cellUnit = c.value(QStringLiteral("cellUnit")).toDouble(100.0);
        l.contrastMax = c.value(QStringLiteral("contrastMax")).toDouble(255);
        l.contrastMin = c.value(QStringLiteral("contrastMin")).toDouble(0);
        l.reflectance = c.value(QStringLiteral("reflectance")).toDouble();
        m_calibration.insert(it.key(), l);
    }
}

} // namespace vm::sim
