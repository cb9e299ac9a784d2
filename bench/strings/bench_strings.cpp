// Measures the string-table lookup: the first call (which builds the hashes) and the
// steady-state cost of vm::res::Str over every number of the table, in both languages.

#include "resources/strings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);

    QElapsedTimer timer;
    timer.start();
    const QList<int> ids = vm::res::ids(); // first use builds both tables
    const qint64 buildNs = timer.nsecsElapsed();
    out << "entries: " << ids.size() << "\n";
    out << "first use (tables built): " << buildNs / 1000.0 << " us\n";

    constexpr int Rounds = 2000;
    for (const auto language : {vm::res::Language::English, vm::res::Language::Test}) {
        vm::res::setLanguage(language);
        qsizetype totalLength = 0; // keeps the lookups from being optimised away
        timer.restart();
        for (int round = 0; round < Rounds; ++round)
            for (int id : ids)
                totalLength += vm::res::Str(id).size();
        const qint64 ns = timer.nsecsElapsed();
        const double lookups = double(Rounds) * double(ids.size());
        out << "Str() " << vm::res::languageName(language) << ": " << ns / lookups << " ns per lookup ("
            << qint64(lookups) << " lookups, " << totalLength << " characters)\n";
    }
    return 0;
}
