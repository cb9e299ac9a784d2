// Reader-side helpers that several windows share: quoted text fields, how reply lines split
// into fields (the same way the reader splits its commands), and the directory listing of
// stored parameter sets, the latter against a simulated reader.
#include "common/readers.h"
#include "link/configdiff.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "link/fields.h"
#include "link/parameterset.h"
#include "link/pidlist.h"
#include "sim/parameterstore.h"

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

    // One rule on both sides: the program's reply splitting and the reader's command splitting
    // give the same fields for every line, here pinned field by field.
    void splittingAgrees_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("fields");
        QTest::newRow("plain") << "TRIG T" << QStringList{"TRIG", "T"};
        QTest::newRow("nothing") << "" << QStringList{""};
        QTest::newRow("one blank") << " " << QStringList{"", ""};
        QTest::newRow("two blanks give an empty field") << "TRIG  T" << QStringList{"TRIG", "", "T"};
        QTest::newRow("trailing blank") << "TRIG T " << QStringList{"TRIG", "T", ""};
        QTest::newRow("tab is no blank") << "A\tB C" << QStringList{"A\tB", "C"};
        QTest::newRow("tab after a quote does not end the text")
            << "X \"a\"\tb\" Y" << QStringList{"X", "\"a\"\tb\"", "Y"};
        QTest::newRow("blanks inside quotes")
            << "HEADER \"Lot 7  B \" Y" << QStringList{"HEADER", "\"Lot 7  B \"", "Y"};
        QTest::newRow("empty text") << "X \"\" Y" << QStringList{"X", "\"\"", "Y"};
        QTest::newRow("quote before a letter stays inside")
            << "X \"a\"b c\" Y" << QStringList{"X", "\"a\"b c\"", "Y"};
        QTest::newRow("quote at the end of a text") << "X \"ab\"\" Y" << QStringList{"X", "\"ab\"\"", "Y"};
        QTest::newRow("quote at the start of a text") << "X \"\"ab\"" << QStringList{"X", "\"\"ab\""};
        QTest::newRow("a quote and a blank end the text")
            << "X \"a\" b\" Y" << QStringList{"X", "\"a\"", "b\"", "Y"};
        QTest::newRow("texts in a row")
            << "H_T \"a b\" \"\" \"c\"" << QStringList{"H_T", "\"a b\"", "\"\"", "\"c\""};
        QTest::newRow("texts two blanks apart")
            << "H_T \"a\"  \"b\"" << QStringList{"H_T", "\"a\"", "", "\"b\""};
        QTest::newRow("text then a trailing blank") << "X \"a\" " << QStringList{"X", "\"a\"", ""};
        QTest::newRow("unterminated runs to the end") << "X \"a b" << QStringList{"X", "\"a b"};
        QTest::newRow("opening quote then blank") << "X \" a\"" << QStringList{"X", "\" a\""};
        QTest::newRow("lone quote at the end") << "X \"" << QStringList{"X", "\""};
        QTest::newRow("three quotes") << "X \"\"\" Y" << QStringList{"X", "\"\"\"", "Y"};
        QTest::newRow("quote inside a bare word") << "X ab\"c d\" Y" << QStringList{"X", "ab\"c", "d\"", "Y"};
    }
    void splittingAgrees() {
        QFETCH(QString, line);
        QFETCH(QStringList, fields);
        QCOMPARE(splitFields(line), fields);
        QCOMPARE(vm::sim::splitCommandLine(line), fields);
    }

    // Texts an operator may type into a text field. Those with a double quote followed by a
    // blank cannot travel in quotes: the reader refuses them.
    void quotedTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("travels");
        QTest::newRow("plain") << "GO" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("blanks inside") << "Lot 7  B" << true;
        QTest::newRow("leading and trailing blanks") << "  x  " << true;
        QTest::newRow("only blanks") << "   " << true;
        QTest::newRow("quote before a letter") << "a\"b" << true;
        QTest::newRow("quote before a letter, then a blank") << "a\"b c" << true;
        QTest::newRow("quote at the end") << "ab\"" << true;
        QTest::newRow("blank then quote at the end") << "ab \"" << true;
        QTest::newRow("quote at the start") << "\"ab" << true;
        QTest::newRow("a quoted word") << "\"x\"" << true;
        QTest::newRow("lone quote") << "\"" << true;
        QTest::newRow("two quotes") << "\"\"" << true;
        QTest::newRow("quote, blank, later text") << "say \"x\": y" << true;
        QTest::newRow("quote before a blank") << "a\" b" << false;
        QTest::newRow("quote before two blanks") << "a\"  b" << false;
        QTest::newRow("quote and blank at the end") << "a\" " << false;
        QTest::newRow("quote and blank at the start") << "\" a" << false;
    }
    void quotedTexts() {
        QFETCH(QString, text);
        QFETCH(bool, travels);
        QCOMPARE(isQuotableText(text), travels);
        const QString q = quoteField(text);
        // Two texts in a row, and one between other fields, as the output and match windows
        // write them; both sides split the line alike, whether or not the text travels.
        const QString pair = QStringLiteral("OUTPUT STANDARD H_T %1 %1").arg(q);
        const QString match = QStringLiteral("MATCHEX T %1 0 1 1 1").arg(q);
        for (const QString& line : {pair, match, pair + QLatin1Char(' '), q})
            QCOMPARE(splitFields(line), vm::sim::splitCommandLine(line));
        if (travels) {
            QCOMPARE(splitFields(pair), (QStringList{"OUTPUT", "STANDARD", "H_T", q, q}));
            QCOMPARE(splitFields(match), (QStringList{"MATCHEX", "T", q, "0", "1", "1", "1"}));
            QCOMPARE(unquoteField(splitFields(pair).at(4)), text);
        }

        // Through a reader: what a window writes is what the reader stores, and what the
        // program reads back from its reply and from its configuration listing.
        QVERIFY(roundTripReader());
        SettingsConnection& conn = *m_conn;
        QVERIFY(conn.SendCommand("OUTPUT STANDARD H_T \"before\" \"before\"").ok);
        QVERIFY(conn.SendCommand("MATCHEX N \"before\" 0 1 1 1").ok);
        const QStringList beforePair{"\"before\"", "\"before\""};
        const QStringList beforeMatch{"N", "\"before\"", "0", "1", "1", "1"};
        ParameterSet window;
        Parameter& p = window.GetParameter("OUTPUT STANDARD H_T");
        p.SetField(0, q);
        p.SetField(1, q);
        Parameter& m = window.GetParameter("MATCHEX");
        const QStringList matchFields{"T", q, "0", "1", "1", "1"};
        for (int i = 0; i < matchFields.size(); ++i)
            m.SetField(i, matchFields.at(i));
        QString error;
        const bool sent = window.Send(conn.Response(), &error);
        const vm::sim::ParameterStore& store = m_reader->parameters();
        if (travels) {
            QVERIFY2(sent, qPrintable(error));
            QCOMPARE(store.fields("OUTPUT STANDARD H_T"), (QStringList{q, q}));
            QCOMPARE(store.fields("MATCHEX"), matchFields);
        } else {
            QVERIFY(!sent);
            QVERIFY2(error.contains("OUTPUT STANDARD H_T: !OUTPUT ERROR") &&
                         error.contains("MATCHEX: !MATCHEX ERROR"),
                     qPrintable(error));
            QCOMPARE(store.fields("OUTPUT STANDARD H_T"), beforePair);
            QCOMPARE(store.fields("MATCHEX"), beforeMatch);
        }
        ParameterSet fresh;
        QVERIFY(fresh.LoadCompound(conn.Response(), "OUTPUT STANDARD H_T"));
        QVERIFY(fresh.Load(conn.Response(), "MATCHEX"));
        QCOMPARE(fresh.GetParameter("OUTPUT STANDARD H_T").Fields(), store.fields("OUTPUT STANDARD H_T"));
        QCOMPARE(fresh.GetParameter("MATCHEX").Fields(), store.fields("MATCHEX"));
        if (travels) {
            QCOMPARE(unquoteField(fresh.GetParameter("OUTPUT STANDARD H_T").Field(0)), text);
            QCOMPARE(unquoteField(fresh.GetParameter("OUTPUT STANDARD H_T").Field(1)), text);
            QCOMPARE(unquoteField(fresh.GetParameter("MATCHEX").Field(1)), text);
        }
        const QString otherwise = listingLineReadOtherwise();
        QVERIFY2(otherwise.isEmpty(), qPrintable(otherwise));
    }

    // Lines from a terminal or a configuration file need not come from a window: whatever the
    // reader keeps of them, the program reads back as the reader holds it.
    void rawWritesReadBackAsStored_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("errorCode"); // 0: accepted
        QTest::addColumn<QStringList>("stored");
        const QStringList before{"\"before\""};
        QTest::newRow("unterminated") << "HEADER \"ab" << 0 << QStringList{"\"\"ab\""};
        QTest::newRow("bare text") << "HEADER a\"b" << 0 << QStringList{"\"a\"b\""};
        QTest::newRow("lone quote") << "HEADER \"" << 0 << QStringList{"\"\"\""};
        // Refused: kept, the first two would list as two fields; the last arrives as two.
        QTest::newRow("unterminated, opening quote before a blank") << "HEADER \" a" << 2 << before;
        QTest::newRow("unterminated, opening quote before a blank, inner quote")
            << "HEADER \" a\"b" << 2 << before;
        QTest::newRow("ended early") << "HEADER \"a\" b\"" << 3 << before;
    }
    void rawWritesReadBackAsStored() {
        QFETCH(QString, command);
        QFETCH(int, errorCode);
        QFETCH(QStringList, stored);
        QVERIFY(roundTripReader());
        QVERIFY(m_conn->SendCommand("HEADER \"before\"").ok);
        const vm::link::CommandReply reply = m_conn->SendCommand(command);
        QVERIFY(reply.completed);
        QCOMPARE(reply.errorCode, errorCode);
        QCOMPARE(m_reader->parameters().fields("HEADER"), stored);
        ParameterSet fresh;
        QVERIFY(fresh.Load(m_conn->Response(), "HEADER"));
        QCOMPARE(fresh.GetParameter("HEADER").Fields(), stored);
        const QString otherwise = listingLineReadOtherwise();
        QVERIFY2(otherwise.isEmpty(), qPrintable(otherwise));
    }

    // A parameter only the file lists is one row with its whole line; taking it writes that
    // line as it stands, a name of several words staying the name. One only the reader lists
    // cannot be taken.
    void lineOnlyInTheFileIsTakenWhole() {
        const QStringList reader = {"TRIG C", "BEEP Y"};
        const QStringList file = reader + QStringList{"OUTPUT TCP1 OKDEC Y \"x y\" NONE"};
        const QList<ConfigDifference> rows = compareConfigurations(reader, file);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.at(0).name, QStringLiteral("OUTPUT TCP1 OKDEC"));
        QCOMPARE(rows.at(0).field, -1);
        ParameterSet set;
        QVERIFY(takeDifference(set, rows.at(0)));
        QCOMPARE(set.GetParameter("OUTPUT TCP1 OKDEC").Fields(), QStringList({"Y", "\"x y\"", "NONE"}));
        QCOMPARE(set.ModifiedNames(), QStringList({"OUTPUT TCP1 OKDEC"}));
        ParameterSet none;
        QVERIFY(!takeDifference(none, compareConfigurations(file, reader).value(0)));
        QVERIFY(!none.Modified());
    }

    void cleanupTestCase() {
        m_conn.reset();
        if (m_coordinator)
            m_coordinator->Focus("");
        m_coordinator.reset();
        m_reader.reset();
    }

private:
    // One reader for the round trips, focused and under this connection's control.
    bool roundTripReader() {
        if (m_ready)
            return true;
        m_reader = vm::testing::startReader("Quotes");
        if (!m_reader)
            return false;
        m_coordinator = std::make_unique<Coordinator>();
        m_conn = std::make_unique<SettingsConnection>();
        m_ready = m_coordinator->Focus(m_reader->address().toString()) && vm::testing::takeControl(*m_conn);
        return m_ready;
    }

    // Every line of the reader's configuration listing splits, on the program's side, into the
    // fields the reader holds for that parameter.
    QString listingLineReadOtherwise() {
        const vm::sim::ParameterStore& store = m_reader->parameters();
        for (const QString& line : store.configurationListing()) {
            const QStringList words = splitFields(line);
            bool found = false;
            for (qsizetype n = 1; n <= words.size() && !found; ++n) {
                const QString name = words.mid(0, n).join(QLatin1Char(' '));
                const QStringList held = store.fields(name);
                found = !held.isEmpty() && words.mid(n) == held;
            }
            if (!found)
                return line;
        }
        return {};
    }

    std::unique_ptr<vm::sim::Reader> m_reader;
    std::unique_ptr<Coordinator> m_coordinator;
    std::unique_ptr<SettingsConnection> m_conn;
    bool m_ready = false;
};

int runReaderWordsTests(int argc, char** argv) {
    TestReaderWords test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_readerwords.moc"
