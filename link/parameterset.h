#pragma once

#include "link/protocol.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace vm::link {

class CommandResponse;

// One reader parameter: its name (all its keywords, "TRIG", "SIGOUT GPIO_OUT1")
// and its fields counted from 0. Values loaded from the reader are never marked
// modified; every SetField is.
class Parameter {
public:
    explicit Parameter(QString name = {})
        : m_name(std::move(name)) {}

    const QString& Name() const { return m_name; }
    const QStringList& Fields() const { return m_fields; }
    // Field i, or an empty text when the reader sent fewer fields.
    QString Field(int index) const { return m_fields.value(index); }
    int FieldCount() const { return int(m_fields.size()); }
    // Sets field index (adding empty fields before it when needed) and marks the
    // parameter modified.
    void SetField(int index, const QString& text);
    bool Modified() const { return m_modified; }
    // True once a load filled it from the reader.
    bool Loaded() const { return m_loaded; }
    // The write command: the name followed by all fields.
    QString CommandText() const;

    void setLoadedFields(const QStringList& fields);
    void setModified(bool modified) { m_modified = modified; }

private:
    QString m_name;
    QStringList m_fields;
    bool m_modified = false;
    bool m_loaded = false;
};

// A window's set of reader parameters, in the order they were first named.
class ParameterSet {
public:
    ParameterSet();
    ~ParameterSet();
    ParameterSet(const ParameterSet& other);
    ParameterSet& operator=(const ParameterSet& other);

    void Clear();
    // Queries the parameter (its name as the command) and stores the reply's
    // fields. Returns false, leaving the stored fields alone, when the reader
    // answers an error or nothing; errorText then says why.
    bool Load(CommandResponse& channel, const QString& name, QString* errorText = nullptr,
              int timeoutMs = kCommandTimeoutMs);
    // The same for a name of several keywords ("OUTPUT TCP1 OKDEC"), whose reply
    // must echo all of them.
    bool LoadCompound(CommandResponse& channel, const QString& name, QString* errorText = nullptr,
                      int timeoutMs = kCommandTimeoutMs);
    // The parameter of that name, created empty when the set does not hold it.
    Parameter& GetParameter(const QString& name, int reserved = 0);
    const Parameter* Find(const QString& name) const;
    bool Contains(const QString& name) const { return Find(name) != nullptr; }
    // Takes over the other set's modified parameters, marks included.
    void Merge(const ParameterSet& other);
    bool Modified() const;
    QStringList ModifiedNames() const;
    // Sends each modified parameter as one command and clears its mark when the
    // reader accepts it. A reader error leaves that parameter modified and the
    // others are still sent; a lost link or time-out stops the send. Returns
    // false when anything was not accepted, with the reasons in errorText.
    bool Send(CommandResponse& channel, QString* errorText = nullptr, int timeoutMs = kCommandTimeoutMs);

    QStringList Names() const;
    int Count() const { return int(m_parameters.size()); }

private:
    bool load(CommandResponse& channel, const QString& name, bool compound, QString* errorText,
              int timeoutMs);
    static QString key(const QString& name);

    std::vector<std::unique_ptr<Parameter>> m_parameters;
    QHash<QString, Parameter*> m_index;
};

} // namespace vm::link
