// A second program writing into a history file, for the tests that need one beside them:
//   history_writer steady FILE READER COUNT   appends COUNT reads of READER, flushes, exits 0
//   history_writer stream FILE                appends a read every 5 ms until killed, telling
//                                             each hundredth on standard output
//   history_writer fill FILE BALLAST          appends until the disk is full, then removes
//                                             the file BALLAST and resumes
#include "history/historyquery.h"
#include "history/historystore.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTimer>

#include <cstdio>

using namespace vm::history;

namespace {

ReadEntry entry(const QString& reader, qint64 number) {
    ReadEntry e;
    e.reader = reader;
    e.mac = QStringLiteral("00:11:22:33:44:55");
    e.timeMs = QDateTime::currentMSecsSinceEpoch();
    e.number = number;
    e.result = ReadResult::Pass;
    e.text = QStringLiteral("LOT-%1").arg(number);
    e.symbology = QStringLiteral("Data Matrix");
    e.overallGrade = 4;
    e.grades = {{QStringLiteral("Symbol Contrast"), 80, QStringLiteral("80 %"), 4},
                {QStringLiteral("Modulation"), 0.7, QStringLiteral("0.70"), 4},
                {QStringLiteral("Axial Nonuniformity"), 0.01, QStringLiteral("0.010"), 4}};
    return e;
}

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return 2;
    HistoryStore store;
    QString error;
    if (!store.open(args.at(1), &error)) {
        say(QStringLiteral("ERROR ") + error);
        return 1;
    }
    const QString mode = args.at(0);
    if (mode == QLatin1String("steady") && args.size() == 4) {
        const int count = args.at(3).toInt();
        for (int i = 1; i <= count; ++i)
            store.append(entry(args.at(2), i));
        return store.flush(60000) ? 0 : 1;
    }
    if (mode == QLatin1String("stream")) {
        qint64 number = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            store.append(entry(QStringLiteral("Line1"), ++number));
            if (number % 100 == 0)
                say(QStringLiteral("APPENDED %1").arg(number));
        });
        timer.start(5);
        return app.exec();
    }
    if (mode == QLatin1String("fill") && args.size() == 3) {
        qint64 number = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            for (int i = 0; i < 200; ++i)
                store.append(entry(QStringLiteral("Line1"), ++number));
        });
        QObject::connect(&store, &HistoryStore::paused, [&](const QString& why) {
            timer.stop();
            say(QStringLiteral("PAUSED ") + why);
            // The file is whole and readable while recording waits.
            HistoryQuery query;
            QString e;
            say(query.open(args.at(1), &e) ? QStringLiteral("READABLE %1").arg(query.readCount())
                                           : QStringLiteral("UNREADABLE ") + e);
            QFile::remove(args.at(2));
            store.resume();
        });
        QObject::connect(&store, &HistoryStore::resumed, [&] {
            say(QStringLiteral("RESUMED"));
            store.flush(30000);
            const auto stats = store.stats();
            say(QStringLiteral("WRITTEN %1 DROPPED %2").arg(stats.written).arg(stats.dropped));
            app.quit();
        });
        timer.start(1);
        return app.exec();
    }
    return 2;
}
