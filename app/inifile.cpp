#include "app/inifile.h"

#include <QStringDecoder>

namespace vm::app {

namespace {

// Values that would not survive a plain "key=value" line are written in double quotes
// with backslash escapes; everything else (Windows paths included) stays as typed.
bool needsQuoting(const QString& value) {
    if (value.isEmpty())
        return false;
    // A value ending in ']' after a key beginning with '[' would read back as a section header.
    if (value.front().isSpace() || value.back().isSpace() || value.front() == u'"' || value.back() == u']')
        return true;
    return value.contains(u'\n') || value.contains(u'\r');
}

QString quote(const QString& value) {
    QString out = QStringLiteral("\"");
    for (QChar c : value) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'"')
            out += QStringLiteral("\\\"");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    out += u'"';
    return out;
}

QString unquote(const QString& raw) {
    if (raw.size() < 2 || raw.front() != u'"' || raw.back() != u'"')
        return raw;
    QString out;
    for (qsizetype i = 1; i < raw.size() - 1; ++i) {
        QChar c = raw.at(i);
        if (c == u'\\' && i + 1 < raw.size() - 1) {
            QChar n = raw.at(++i);
            out += n == u'n' ? QChar(u'\n') : n == u'r' ? QChar(u'\r') : n;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString decodeText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder system(QStringDecoder::System);
    return system(bytes);
}

IniDocument IniDocument::parse(const QByteArray& bytes) {
    IniDocument doc;
    const QString text = decodeText(bytes);
    QString current;
    for (QStringView line : QStringView(text).split(u'\n')) {
        QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.front() == u';' || trimmed.front() == u'#')
            continue;
        if (trimmed.front() == u'[' && trimmed.back() == u']') {
            current = trimmed.mid(1, trimmed.size() - 2).trimmed().toString();
            if (!doc.findSection(current))
                doc.m_sections.append(Section{current, {}});
            continue;
        }
        const qsizetype eq = trimmed.indexOf(u'=');
        if (eq <= 0)
            continue; // not a key line; older tools leave such lines, they carry nothing
        const QString key = trimmed.left(eq).trimmed().toString();
        const QString value = unquote(trimmed.mid(eq + 1).trimmed().toString());
        doc.setValue(current, key, value);
    }
    return doc;
}

QByteArray IniDocument::serialize() const {
    QString out;
    bool first = true;
    // Keys outside any section are written first: after a header they would be read back
    // into that section.
    std::vector<const Section*> ordered;
    for (const Section& section : m_sections)
        if (section.name.isEmpty())
            ordered.push_back(&section);
    for (const Section& section : m_sections)
        if (!section.name.isEmpty())
            ordered.push_back(&section);
    for (const Section* s : ordered) {
        const Section& section = *s;
        if (section.entries.isEmpty())
            continue;
        if (!section.name.isEmpty()) {
            if (!first)
                out += u'\n';
            out += u'[' + section.name + QStringLiteral("]\n");
        }
        for (const Entry& e : section.entries)
            out += e.key + u'=' + (needsQuoting(e.value) ? quote(e.value) : e.value) + u'\n';
        first = false;
    }
    return out.toUtf8();
}

IniDocument::Section* IniDocument::findSection(const QString& name) {
    for (Section& s : m_sections)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

const IniDocument::Section* IniDocument::findSection(const QString& name) const {
    for (const Section& s : m_sections)
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            return &s;
    return nullptr;
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const {
    if (const Section* s = findSection(section))
        for (const Entry& e : s->entries)
            if (e.key.compare(key, Qt::CaseInsensitive) == 0)
                return e.value;
    return std::nullopt;
}

void IniDocument::setValue(const QString& section, const QString& key, const QString& value) {
    Section* s = findSection(section);
    if (!s) {
        // The section-less part must come first in the file, or it would read as part
        // of the section before it.
        if (section.isEmpty())
            m_sections.prepend(Section{section, {}});
        else
            m_sections.append(Section{section, {}});
        s = findSection(section);
    }
    for (Entry& e : s->entries) {
        if (e.key.compare(key, Qt::CaseInsensitive) == 0) {
            e.value = value;
            return;
        }
    }
    s->entries.append(Entry{key, value});
}

bool IniDocument::removeSection(const QString& section) {
    for (qsizetype i = 0; i < m_sections.size(); ++i) {
        if (m_sections[i].name.compare(section, Qt::CaseInsensitive) == 0) {
            m_sections.removeAt(i);
            return true;
        }
    }
    return false;
}

bool IniDocument::hasSection(const QString& section) const {
    return findSection(section) != nullptr;
}

QList<IniDocument::Entry> IniDocument::entries(const QString& section) const {
    const Section* s = findSection(section);
    return s ? s->entries : QList<Entry>{};
}

} // namespace vm::app
