#pragma once

#include "sim/readcycle.h"

#include <QString>
#include <QStringList>

namespace vm::sim {

// Reads parameter fields with the reader's factory value standing in for a
// parameter or field that the store does not hold, so that the engine behaves
// like a reader fresh from the factory whatever the store knows.
class FieldReader {
public:
    explicit FieldReader(const ParameterSource& source)
        : m_source(source) {}

    QString text(const QString& name, int field) const;
    // A number; the factory value when the field is not a number ("AUTO").
    int number(const QString& name, int field) const;
    // 0 when the field is "AUTO" or not a number.
    int numberOrAuto(const QString& name, int field) const;
    bool isOn(const QString& name, int field) const;
    QStringList fields(const QString& name) const;

    // The factory fields of a parameter the engine reads; empty when it has none.
    static QStringList factoryFields(const QString& name);

private:
    const ParameterSource& m_source;
};

// Removes one surrounding pair of double quotes.
QString unquoted(const QString& field);

} // namespace vm::sim
