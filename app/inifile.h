#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vm::app {

// A plain INI text: "[Section]" lines and "key=value" lines, written exactly as the
// keys and values read (no percent-escaping of blanks, no reserved section names), so
// that an administrator can read and edit it. Keys before the first section belong to
// the section-less part (section ""). Section and key look-ups ignore case, as the
// Windows profile and registry routines do; the file keeps the spelling first written.
class IniDocument {
public:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
    };

    static IniDocument parse(const QByteArray& text);
    QByteArray serialize() const;

    std::optional<QString> value(const QString& section, const QString& key) const;
    void setValue(const QString& section, const QString& key, const QString& value);
    bool removeSection(const QString& section);
    bool hasSection(const QString& section) const;
    QList<Entry> entries(const QString& section) const;
    const QList<Section>& sections() const { return m_sections; }

private:
    Section* findSection(const QString& name);
    const Section* findSection(const QString& name) const;

    QList<Section> m_sections;
};

// Decodes a file's bytes as UTF-8, or as the system's 8-bit code page when they are not
// valid UTF-8 (files that older programs wrote).
QString decodeText(const QByteArray& bytes);

} // namespace vm::app
