// Reader-side helpers that several windows share: quoted text fields and the directory
// listing of stored parameter sets, the latter against a simulated reader.
#include "common/readers.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/fields.h"
#include "link/pidlist.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

using namespace vm::link;

class TestReaderWords : public QObject {
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }

    void unquoting_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("unquoted");
        QTest::addColumn<QString>("endsDropped");
        QTest::newRow("quoted") << "\"GO NOW\""
                                << "GO NOW"
                                << "GO NOW";
        QTest::newRow("empty text") << "\"\""
                                    << ""
                                    << "";
        QTest::newRow("inner quote kept") << "\"a\"b\""
                                          << "a\"b"
                                          << "a\"b";
        QTest::newRow("open only") << "\"abc"
                                   << "\"abc"
                                   << "ab";
        QTest::newRow("close only") << "abc\""
                                    << "abc\""
                                    << "bc";
        QTest::newRow("one quote") << "\""
                                   << "\""
                                   << "";
        QTest::newRow("bare word") << "CLEAR"
                                   << "CLEAR"
                                   << "LEA";
        QTest::newRow("nothing") << ""
                                 << ""
                                 << "";
    }
    void unquoting() {
        QFETCH(QString, field);
        QFETCH(QString, unquoted);
        QFETCH(QString, endsDropped);
        QCOMPARE(unquoteField(field), unquoted);
        QCOMPARE(dropEnds(field), endsDropped);
    }

    void quotingRoundTrip() {
        QCOMPARE(quoteField("Line 3"), QString("\"Line 3\""));
        QCOMPARE(quoteField(""), QString("\"\""));
        QVERIFY(isEmptyQuotedField(quoteField("")));
        QVERIFY(!isEmptyQuotedField("\" \""));
        for (const QString& text : {QString("a"), QString("two words"), QString("\"")})
            QCOMPARE(unquoteField(quoteField(text)), text);
    }

    void pidListing_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QStringList>("pids");
        QTest::newRow("none") << QStringList{"DIR 0 PIDS"} << QStringList{};
        QTest::newRow("in listing order")
            << QStringList{"PID12: stored 1", "PID3: stored 2", "DIR 2 PIDS"} << QStringList{"12", "3"};
        QTest::newRow("no number") << QStringList{"PID: stored", "PID7:x", "DIR 1 PIDS"} << QStringList{"7"};
        QTest::newRow("stops at DIR") << QStringList{"PID1: a", "DIR 1 PIDS", "PID2: b"} << QStringList{"1"};
        QTest::newRow("other lines") << QStringList{"FILE a.bmp", " PID4: x", "PID5 no colon", "PID6: y"}
                                     << QStringList{"6"};
    }
    void pidListing() {
        QFETCH(QStringList, lines);
        QFETCH(QStringList, pids);
        QCOMPARE(parsePidListing(lines), pids);
    }

    // The reader's own listing, after storing two parameter sets out of order.
    void storedPidsFromTheReader() {
        auto reader = vm::testing::startReader("Pids");
        QVERIFY(reader);
        Coordinator coordinator;
        SettingsConnection conn;
        QVERIFY(coordinator.Focus(reader->address().toString()));
        QCOMPARE(readStoredPids(conn.Response()), QStringList{});
        QVERIFY(vm::testing::takeControl(conn));
        QVERIFY(conn.SendCommand("STORE 12").ok);
        QVERIFY(conn.SendCommand("STORE 3").ok);
        const QStringList pids = readStoredPids(conn.Response());
        QCOMPARE(QSet<QString>(pids.cbegin(), pids.cend()), QSet<QString>({"3", "12"}));
        QCOMPARE(reader->receivedCommands().count("DIR"), 2);

        // A reader that does not answer costs the listing's time-out, not more.
        reader->setNextReplyFault(vm::sim::ReplyFault::Silent);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(readStoredPids(conn.Response()), QStringList{});
        QVERIFY2(clock.elapsed() >= kDirectoryTimeoutMs - 50 && clock.elapsed() < 5000,
                 qPrintable(QString::number(clock.elapsed())));
        coordinator.Focus("");
    }
};

int runReaderWordsTests(int argc, char** argv) {
    TestReaderWords test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_readerwords.moc"
