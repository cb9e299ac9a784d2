#include "history/readentry.h"

#include "link/record.h"

#include <QRegularExpression>

namespace vm::history {

int gradeNumber(const QString& grade) {
    const QString g = grade.trimmed().toUpper();
    if (g.size() == 1 && g.at(0) >= QLatin1Char('A') && g.at(0) <= QLatin1Char('F') &&
        g.at(0) != QLatin1Char('E'))
        return g.at(0) == QLatin1Char('F') ? 0 : 4 - (g.at(0).unicode() - 'A');
    // Some standards report the grade as a number from 0.0 to 4.0.
    bool ok = false;
    const double number = g.toDouble(&ok);
    if (ok && std::isfinite(number) && number >= 0 && number <= 4)
        return int(std::floor(number + 1e-9));
    return -1;
}

QString gradeLetter(int grade) {
    static const char* letters[] = {"F", "D", "C", "B", "A"};
    return grade >= 0 && grade <= 4 ? QString::fromLatin1(letters[grade]) : QString();
}

QString resultName(ReadResult result) {
    switch (result) {
    case ReadResult::Pass:
        return QStringLiteral("pass");
    case ReadResult::Fail:
        return QStringLiteral("fail");
    case ReadResult::NoRead:
        break;
    }
    return QStringLiteral("no read");
}

double leadingNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("^\\s*([-+]?(?:\\d+\\.?\\d*|\\.\\d+)(?:[eE][-+]?\\d+)?)"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch())
        return std::nan("");
    return m.captured(1).toDouble();
}

ReadEntry entryFromRecord(const vm::link::Record& record, const QString& reader, const QString& mac,
                          qint64 receivedMs, const QString& imageFile) {
    ReadEntry e;
    e.reader = reader;
    e.mac = mac;
    e.timeMs = receivedMs;
    e.number = record.Number();
    const auto& result = record.Result();
    // A read that found no symbol is a no-read whatever else went wrong; one that found it
    // and still did not pass failed on something else (a match, a time-out after the find).
    e.result = record.Passed()        ? ReadResult::Pass
               : result.SymbolFound() ? ReadResult::Fail
                                      : ReadResult::NoRead;
    if (e.result != ReadResult::Pass)
        e.failure = result.StatusText().isEmpty() ? resultName(e.result) : result.StatusText();
    e.text = result.Text();
    e.symbology = result.Symbology();
    if (record.HasVerification()) {
        const auto& v = *record.Verification();
        e.overallGrade = gradeNumber(v.overallGrade);
        for (const auto& p : v.parameters) {
            if (p.name.isEmpty())
                continue;
            e.grades.append({p.name, leadingNumber(p.value), p.value, gradeNumber(p.grade)});
        }
    }
    e.imageFile = imageFile;
    return e;
}

bool isTwoDimensional(const QString& symbology) {
    static const QStringList twoD = {QStringLiteral("data matrix"), QStringLiteral("datamatrix"),
                                     QStringLiteral("qr"),          QStringLiteral("aztec"),
                                     QStringLiteral("maxicode"),    QStringLiteral("pdf417"),
                                     QStringLiteral("dotcode"),     QStringLiteral("han xin")};
    const QString s = symbology.toLower();
    for (const QString& word : twoD)
        if (s.contains(word))
            return true;
    return false;
}

} // namespace vm::history
