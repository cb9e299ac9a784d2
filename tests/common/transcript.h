#pragma once

// A transcript: a text file of steps, each followed by what came back as `< ` lines. Playing
// it runs every step and compares what came with what the file says came; with
// VELMARROW_TRANSCRIPTS_WRITE=1 it writes the file again with what came instead (to be read
// against the docs before it is committed; never set in CI). Blank lines, `#` comments and
// `|` lines (a step's own content) are kept as they are and not played.

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>

namespace vm::testing {

inline bool writingTranscripts() {
    return qEnvironmentVariableIntValue("VELMARROW_TRANSCRIPTS_WRITE") == 1;
}

// What came for one step: `lines` is the whole file and `at` the step's index in it; an error
// (a step the runner does not know, a reader that did not start) stops the transcript.
using TranscriptStep =
    std::function<QStringList(const QStringList& lines, int at, const QStringList& expected, QString* error)>;

// Plays the transcript at `path`. Answers the first differences (at most five), each with its
// line, what the file says and what came; or the error that stopped it.
inline QStringList playTranscript(const QString& path, const TranscriptStep& step) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {path + ": cannot be read"};
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    file.close();
    const auto isExpectation = [](const QString& l) { return l.startsWith(QLatin1String("< ")) || l == "<"; };
    const auto trailingTrimmed = [](QString s) {
        while (s.endsWith(QLatin1Char(' ')))
            s.chop(1);
        return s;
    };
    const QString name = QFileInfo(path).fileName();
    QStringList written, faults;
    for (int i = 0; i < lines.size(); ++i) {
        const QString& line = lines[i];
        if (isExpectation(line))
            continue; // the step's expectation, compared below
        if (i == lines.size() - 1 && line.isEmpty())
            break;
        written << line;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.startsWith(QLatin1Char('|')))
            continue;
        QStringList expected;
        for (int j = i + 1; j < lines.size() && isExpectation(lines[j]); ++j)
            expected << trailingTrimmed(lines[j].mid(2));
        QString error;
        QStringList got = step(lines, i, expected, &error);
        if (!error.isEmpty())
            return {QStringLiteral("%1:%2: %3").arg(name).arg(i + 1).arg(error)};
        for (QString& g : got) {
            g = trailingTrimmed(g);
            written << trailingTrimmed(QStringLiteral("< ") + g);
        }
        if (got != expected && faults.size() < 5) {
            qsizetype k = 0;
            while (k < got.size() && k < expected.size() && got[k] == expected[k])
                ++k;
            faults << QStringLiteral("%1:%2: %3\n    expected: %4\n    came:     %5")
                          .arg(name)
                          .arg(i + 2 + k)
                          .arg(line, expected.value(k, QStringLiteral("(nothing more)")),
                               got.value(k, QStringLiteral("(nothing more)")));
        }
    }
    if (writingTranscripts()) {
        if (!file.open(QIODevice::WriteOnly | QIODevice::Text | QIODevice::Truncate))
            return {path + ": cannot be written"};
        file.write((written.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
        return {};
    }
    return faults;
}

} // namespace vm::testing
