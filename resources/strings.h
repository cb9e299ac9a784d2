#pragma once

#include <QList>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

// The program's string table: every user-interface text is looked up by its number.
// Two languages are compiled in: English and the test language, which shows each word of
// the English text in parentheses so that a text not taken from the table stands out.
namespace vm::res {

Q_DECLARE_LOGGING_CATEGORY(lcResources)

enum class Language { English, Test };

// "--language en|test" (also "--language=test") on the command line; else the environment.
inline constexpr char LanguageOption[] = "--language";
inline constexpr char LanguageEnvironmentVariable[] = "VELMARROW_LANGUAGE";

// The text of a number in the current language. An unknown number gives "#<number>"
// and logs a warning; the result is never empty.
QString Str(int id);
// The text of a number in the given language, whatever the current language is.
QString Str(int id, Language language);
bool contains(int id);
// Every number of the table, ascending (both languages hold the same numbers).
QList<int> ids();

void setLanguage(Language language);
Language language();

// "en" or "test" (case and surrounding blanks ignored); nullopt for anything else.
std::optional<Language> languageFromName(QStringView name);
QString languageName(Language language);

// Chooses the language at start-up: the command-line option wins over the environment
// variable, and English is used when neither names a language. A value that names no
// language is reported as a warning and ignored. Pass QCoreApplication::arguments()
// (the program name first); returns the language now in use.
Language initLanguage(const QStringList& arguments);

} // namespace vm::res
