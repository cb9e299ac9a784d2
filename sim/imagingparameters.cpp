#include "sim/imagingparameters.h"

#include <QHash>

namespace vm::sim {

namespace {

const QHash<QString, QStringList>& factoryTable() {
    static const QHash<QString, QStringList> table = {
        {"TRIG", {"C"}},
        {"PHOTOEX", {"AUTO", "1000", "0", "30", "20000", "0", "1023"}},
        {"MORPH", {"NONE", "1"}},
        {"NEGATIVE", {"OFF"}},
        {"ILLUM", {"ON"}},
        {"NUMDM", {"1"}},
        {"NUMBC", {"0"}},
        {"BARCODE ENABLE", {"0x1"}},
        {"VERIFY", {"NONE"}},
        {"VERSTATUS", {"B", "C"}},
        {"POL", {"AUTO"}},
        {"STYLE", {"AUTO"}},
        {"ROWS", {"AUTO"}},
        {"COLS", {"AUTO"}},
        {"ECC", {"AUTO"}},
        {"BCPOL", {"AUTO"}},
        {"TIMEOUT READ", {"0"}},
        {"RETRYEX", {"NONE", "500", "1", "500", "0", "0", "0", "OFF", "0", "N"}},
        {"MATCHEX", {"N", "\"\"", "0", "1", "1", "1"}},
        {"MATCH_LIST_ENABLE", {"OFF"}},
        {"LIGHT_CTL", {"OFF"}},
        {"XLIGHTCHANNELS", {"0"}},
        {"APERTURE", {"AUTO"}},
        {"TARGET_CALIB_CONTRAST", {"80"}},
        {"TARGET_CALIB_REFLECTANCE", {"85"}},
        {"XDIMENSION", {"990", "10"}},
        {"DM_DECODE_NEAR_CENTER", {"OFF"}},
        {"BC_DECODE_NEAR_CENTER", {"OFF"}},
    };
    return table;
}

} // namespace

QString unquoted(const QString& field) {
    if (field.size() >= 2 && field.startsWith(QLatin1Char('"')) && field.endsWith(QLatin1Char('"')))
        return field.mid(1, field.size() - 2);
    return field;
}

QStringList FieldReader::factoryFields(const QString& name) {
    if (name.startsWith(QLatin1String("VERENABLE ")))
        return {"Y", "B", "C"};
    if (name.startsWith(QLatin1String("MATCH_LIST ")))
        return {"\"\""};
    return factoryTable().value(name);
}

QStringList FieldReader::fields(const QString& name) const {
    QStringList stored = m_source.fields(name);
    const QStringList factory = factoryFields(name);
    for (int i = stored.size(); i < factory.size(); ++i)
        stored.append(factory.at(i));
    return stored;
}

QString FieldReader::text(const QString& name, int field) const {
    const QStringList all = fields(name);
    return field >= 0 && field < all.size() ? all.at(field) : QString();
}

int FieldReader::number(const QString& name, int field) const {
    bool ok = false;
    const int value = text(name, field).toInt(&ok);
    if (ok)
        return value;
    const QStringList factory = factoryFields(name);
    return field < factory.size() ? factory.at(field).toInt() : 0;
}

int FieldReader::numberOrAuto(const QString& name, int field) const {
    bool ok = false;
    const int value = text(name, field).toInt(&ok);
    return ok ? value : 0;
}

bool FieldReader::isOn(const QString& name, int field) const {
    const QString value = text(name, field).toUpper();
    return value == QLatin1String("ON") || value == QLatin1String("TRUE") || value == QLatin1String("Y") ||
           value == QLatin1String("1");
}

} // namespace vm::sim
