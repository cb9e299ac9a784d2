#pragma once

#include <QList>
#include <QString>

#include <cmath>

namespace vm::link {
class Record;
}

namespace vm::history {

// A grade as a number: A = 4 down to F = 0; -1 when the reader gave none.
int gradeNumber(const QString& grade);
QString gradeLetter(int grade);

// One graded parameter of a read, as the reader reported it.
struct GradedValue {
    QString name;                // "Symbol Contrast"
    double value = std::nan(""); // the leading number of the reader's value; NaN when none
    QString valueText;           // the reader's value as sent ("72 %", "3.1 % L1")
    int grade = -1;              // 4 (A) to 0 (F), -1 none
};

enum class ReadResult { Pass = 0, Fail = 1, NoRead = 2 };
QString resultName(ReadResult result); // "pass", "fail", "no read"

// One read cycle as the history keeps it.
struct ReadEntry {
    QString reader;    // the reader's name
    QString mac;       // its MAC address, empty when not known (a serial reader)
    qint64 timeMs = 0; // when this PC received it, milliseconds since 1970 (UTC)
    qint64 number = 0; // the reader's record number
    ReadResult result = ReadResult::NoRead;
    QString failure; // the reader's status text when the read did not pass ("No Read", "Match Fail")
    QString text;
    QString symbology;
    int overallGrade = -1; // 4 (A) to 0 (F), -1 not graded
    QList<GradedValue> grades;
    QString imageFile; // the file name of the saved image, empty when none was saved
};

// The number a reader's value text begins with ("72 %" -> 72, "0.045" -> 0.045); NaN when
// it begins with none ("PASS").
double leadingNumber(const QString& text);

// What the history keeps of a record: the result, the decoded text and the grades.
ReadEntry entryFromRecord(const vm::link::Record& record, const QString& reader, const QString& mac,
                          qint64 receivedMs, const QString& imageFile = {});

// Whether a symbology is two-dimensional (graded on its module grid) rather than a barcode.
bool isTwoDimensional(const QString& symbology);

} // namespace vm::history
