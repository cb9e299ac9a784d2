#include "link/parameterset.h"

#include "link/commandresponse.h"
#include "link/logging.h"

#include <algorithm>

namespace vm::link {

void Parameter::SetField(int index, const QString& text) {
    if (index < 0)
        return;
    while (m_fields.size() <= index)
        m_fields.append(QString());
    m_fields[index] = text;
    m_modified = true;
}

QString Parameter::CommandText() const {
    return m_fields.isEmpty() ? m_name : m_name + QLatin1Char(' ') + m_fields.join(QLatin1Char(' '));
}

void Parameter::setLoadedFields(const QStringList& fields) {
    m_fields = fields;
    m_loaded = true;
    m_modified = false;
}

ParameterSet::ParameterSet() = default;
ParameterSet::~ParameterSet() = default;

ParameterSet::ParameterSet(const ParameterSet& other) {
    *this = other;
}

ParameterSet& ParameterSet::operator=(const ParameterSet& other) {
    if (this == &other)
        return *this;
    Clear();
    for (const auto& p : other.m_parameters) {
        m_parameters.push_back(std::make_unique<Parameter>(*p));
        m_index.insert(key(p->Name()), m_parameters.back().get());
    }
    return *this;
}

QString ParameterSet::key(const QString& name) {
    return name.simplified().toUpper();
}

void ParameterSet::Clear() {
    m_index.clear();
    m_parameters.clear();
}

Parameter& ParameterSet::GetParameter(const QString& name, int) {
    const QString k = key(name);
    if (Parameter* p = m_index.value(k))
        return *p;
    m_parameters.push_back(std::make_unique<Parameter>(name.simplified()));
    m_index.insert(k, m_parameters.back().get());
    return *m_parameters.back();
}

const Parameter* ParameterSet::Find(const QString& name) const {
    return m_index.value(key(name));
}

bool ParameterSet::Load(CommandResponse& channel, const QString& name, QString* errorText, int timeoutMs) {
    return load(channel, name, false, errorText, timeoutMs);
}

bool ParameterSet::LoadCompound(CommandResponse& channel, const QString& name, QString* errorText,
                                int timeoutMs) {
    return load(channel, name, true, errorText, timeoutMs);
}

bool ParameterSet::load(CommandResponse& channel, const QString& name, bool compound, QString* errorText,
                        int timeoutMs) {
    auto fail = [&](const QString& text) {
        if (errorText)
            *errorText = text;
        qCDebug(lcLink).noquote() << "loading" << name << "failed:" << text;
        return false;
    };
    const QString simplified = name.simplified();
    const QStringList nameWords = simplified.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (nameWords.isEmpty())
        return fail(QStringLiteral("No parameter name"));
    const CommandReply reply = channel.SendCommand(simplified, timeoutMs);
    if (!reply.ok)
        return fail(reply.errorText.isEmpty() ? reply.status : reply.errorText);

    // The reply line echoes the name; the fields follow it.
    auto echoes = [&](const QStringList& words, int count) {
        if (words.size() < count)
            return false;
        for (int i = 0; i < count; ++i)
            if (words.at(i).compare(nameWords.at(i), Qt::CaseInsensitive) != 0)
                return false;
        return true;
    };
    for (const QString& line : reply.lines) {
        const QStringList words = splitFields(line);
        if (echoes(words, int(nameWords.size()))) {
            GetParameter(simplified).setLoadedFields(words.mid(nameWords.size()));
            return true;
        }
    }
    if (!compound) {
        // Some replies echo only the first keyword: field i is word i + 1.
        for (const QString& line : reply.lines) {
            const QStringList words = splitFields(line);
            if (echoes(words, 1)) {
                GetParameter(simplified).setLoadedFields(words.mid(1));
                return true;
            }
        }
    }
    return fail(QStringLiteral("The reader's reply to \"%1\" does not name the parameter").arg(simplified));
}

void ParameterSet::Merge(const ParameterSet& other) {
    if (&other == this)
        return;
    // The merged changes go out after the ones already waiting, in the order their window
    // made them, so that a window's parameters reach the reader in its own order.
    for (const auto& p : other.m_parameters) {
        if (!p->Modified())
            continue;
        Parameter& mine = GetParameter(p->Name());
        mine = *p;
        const auto it = std::find_if(m_parameters.begin(), m_parameters.end(),
                                     [&](const auto& q) { return q.get() == &mine; });
        std::rotate(it, it + 1, m_parameters.end());
    }
}

bool ParameterSet::Modified() const {
    return std::any_of(m_parameters.begin(), m_parameters.end(), [](const auto& p) { return p->Modified(); });
}

QStringList ParameterSet::ModifiedNames() const {
    QStringList names;
    for (const auto& p : m_parameters)
        if (p->Modified())
            names.append(p->Name());
    return names;
}

QStringList ParameterSet::Names() const {
    QStringList names;
    for (const auto& p : m_parameters)
        names.append(p->Name());
    return names;
}

bool ParameterSet::Send(CommandResponse& channel, QString* errorText, int timeoutMs) {
    QStringList errors;
    for (const auto& p : m_parameters) {
        if (!p->Modified())
            continue;
        const CommandReply reply = channel.SendCommand(p->CommandText(), timeoutMs);
        if (reply.ok) {
            p->setModified(false);
            continue;
        }
        if (reply.completed) {
            errors.append(QStringLiteral("%1: %2").arg(p->Name(), reply.status));
            continue;
        }
        errors.append(QStringLiteral("%1: %2").arg(p->Name(), reply.errorText));
        break;
    }
    if (errorText)
        *errorText = errors.join(QLatin1Char('\n'));
    return errors.isEmpty();
}

} // namespace vm::link
