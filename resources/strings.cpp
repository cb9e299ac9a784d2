#include "resources/strings.h"

#include "resources/stringtables.h"

#include <QHash>

#include <atomic>

namespace vm::res {

Q_LOGGING_CATEGORY(lcResources, "velmarrow.resources", QtInfoMsg)

namespace {

std::atomic<Language> currentLanguage{Language::English};

struct Tables {
    QHash<int, QString> english;
    QHash<int, QString> test;
    QList<int> ids;
};

QHash<int, QString> toHash(const detail::StringTableEntry* entries, std::size_t count) {
    QHash<int, QString> hash;
    hash.reserve(static_cast<qsizetype>(count));
    for (std::size_t i = 0; i < count; ++i)
        hash.insert(entries[i].number, QString::fromUtf8(entries[i].text));
    return hash;
}

// Built once, on first use; every later lookup is one hash probe and a shared copy.
const Tables& tables() {
    static const Tables built = [] {
        Tables t;
        t.english = toHash(detail::englishTable, detail::englishTableSize);
        t.test = toHash(detail::testTable, detail::testTableSize);
        t.ids.reserve(static_cast<qsizetype>(detail::englishTableSize));
        for (std::size_t i = 0; i < detail::englishTableSize; ++i)
            t.ids.append(detail::englishTable[i].number); // the generator keeps them sorted
        return t;
    }();
    return built;
}

} // namespace

QString Str(int id) {
    return Str(id, language());
}

QString Str(int id, Language language) {
    const Tables& t = tables();
    const QHash<int, QString>& table = language == Language::Test ? t.test : t.english;
    const auto it = table.constFind(id);
    if (it != table.cend())
        return it.value();
    qCWarning(lcResources).nospace() << "No string with number " << id;
    return QLatin1Char('#') + QString::number(id);
}

bool contains(int id) {
    return tables().english.contains(id);
}

QList<int> ids() {
    return tables().ids;
}

void setLanguage(Language language) {
    currentLanguage.store(language);
}

Language language() {
    return currentLanguage.load();
}

std::optional<Language> languageFromName(QStringView name) {
    const QStringView trimmed = name.trimmed();
    if (trimmed.compare(QLatin1String("en"), Qt::CaseInsensitive) == 0)
        return Language::English;
    if (trimmed.compare(QLatin1String("test"), Qt::CaseInsensitive) == 0)
        return Language::Test;
    return std::nullopt;
}

QString languageName(Language language) {
    return language == Language::Test ? QStringLiteral("test") : QStringLiteral("en");
}

Language initLanguage(const QStringList& arguments) {
    const QString option = QLatin1String(LanguageOption);
    const QString optionWithValue = option + QLatin1Char('=');
    std::optional<Language> chosen;

    // The first argument is the program itself. A later option overrides an earlier one.
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        QString value;
        if (argument == option) {
            if (i + 1 >= arguments.size()) {
                qCWarning(lcResources).noquote() << option << "needs a value: en or test";
                break;
            }
            value = arguments.at(++i);
        } else if (argument.startsWith(optionWithValue)) {
            value = argument.mid(optionWithValue.size());
        } else {
            continue;
        }
        if (const auto named = languageFromName(value))
            chosen = named;
        else
            qCWarning(lcResources).noquote().nospace()
                << "Unknown language \"" << value << "\" given with " << option << "; use en or test";
    }

    if (!chosen) {
        const QString value = qEnvironmentVariable(LanguageEnvironmentVariable);
        if (!value.trimmed().isEmpty()) {
            chosen = languageFromName(value);
            if (!chosen)
                qCWarning(lcResources).noquote().nospace()
                    << "Unknown language \"" << value << "\" in " << LanguageEnvironmentVariable
                    << "; use en or test";
        }
    }

    setLanguage(chosen.value_or(Language::English));
    qCDebug(lcResources).noquote() << "Language:" << languageName(language());
    return language();
}

} // namespace vm::res
