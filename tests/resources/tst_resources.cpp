#include "resources/strings.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using vm::res::Language;

class TestResources : public QObject {
    Q_OBJECT

private:
    struct GeneratorRun {
        int exitCode = -1;
        QString errors;
        QString testTable; // the generated test-language text file
        bool sourceWritten = false;
    };

    // Runs the real build-time generator on a table written to a scratch file.
    GeneratorRun runGenerator(const QByteArray& table) {
        GeneratorRun run;
        const QString input = m_dir.filePath(QStringLiteral("strings.en.txt"));
        const QString source = m_dir.filePath(QStringLiteral("out.cpp"));
        const QString testText = m_dir.filePath(QStringLiteral("strings.test.txt"));
        QFile::remove(source);
        QFile::remove(testText);
        QFile file(input);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return run;
        file.write(table);
        file.close();

        QProcess process;
        process.start(QStringLiteral(VELMARROW_STRINGTABLEGEN), {input, source, testText});
        if (!process.waitForFinished(60000))
            return run;
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.errors = QString::fromUtf8(process.readAllStandardError());
        run.sourceWritten = QFile::exists(source);
        QFile out(testText);
        if (out.open(QIODevice::ReadOnly))
            run.testTable = QString::fromUtf8(out.readAll());
        return run;
    }

    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        m_savedEnvironment = qgetenv(vm::res::LanguageEnvironmentVariable);
        m_hadEnvironment = qEnvironmentVariableIsSet(vm::res::LanguageEnvironmentVariable);
    }

    void init() {
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        vm::res::setLanguage(Language::English);
        qunsetenv(vm::res::LanguageEnvironmentVariable);
    }

    void cleanupTestCase() {
        if (m_hadEnvironment)
            qputenv(vm::res::LanguageEnvironmentVariable, m_savedEnvironment);
        else
            qunsetenv(vm::res::LanguageEnvironmentVariable);
        vm::res::setLanguage(Language::English);
    }

    void lookup_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("test");
        QTest::newRow("button") << 51 << "OK"
                                << "(OK)";
        QTest::newRow("menu with ellipsis") << 107 << "Save Camera Configuration To File..."
                                            << "(Save) (Camera) (Configuration) (To) (File)...";
        QTest::newRow("non-ASCII sign") << 402 << QString::fromUtf8("About Velmarrow\u2122...")
                                        << QString::fromUtf8("(About) (Velmarrow)\u2122...");
        QTest::newRow("leading blank kept") << 816 << " - Camera Report"
                                            << " - (Camera) (Report)";
        QTest::newRow("digits alone stay") << 1545 << "4:1 Compression"
                                           << "4:1 (Compression)";
        QTest::newRow("comma and colon") << 1306 << "When in control, use maximum transfer rates"
                                         << "(When) (in) (control), (use) (maximum) (transfer) (rates)";
        QTest::newRow("escaped backslash") << 1914 << "New line (\\0d\\0a)"
                                           << "(New) (line) (\\(0d)\\(0a))";
        QTest::newRow("keyword with underscore") << 1906 << "(VERI_GRADE)"
                                                 << "((VERI_GRADE))";
        QTest::newRow("status bar") << 1514 << "Total"
                                    << "(Total)";
        QTest::newRow("grade caption") << 2008 << "Poor"
                                       << "(Poor)";
    }

    void lookup() {
        QFETCH(int, id);
        QFETCH(QString, english);
        QFETCH(QString, test);
        QVERIFY(vm::res::contains(id));
        QCOMPARE(vm::res::Str(id, Language::English), english);
        QCOMPARE(vm::res::Str(id, Language::Test), test);

        QCOMPARE(vm::res::Str(id), english);
        vm::res::setLanguage(Language::Test);
        QCOMPARE(vm::res::language(), Language::Test);
        QCOMPARE(vm::res::Str(id), test);
        vm::res::setLanguage(Language::English);
        QCOMPARE(vm::res::Str(id), english);
    }

    void unknownNumberShowsItsNumber() {
        QVERIFY(!vm::res::contains(9999));
        QTest::ignoreMessage(QtWarningMsg, "No string with number 9999");
        QCOMPARE(vm::res::Str(9999), QStringLiteral("#9999"));

        vm::res::setLanguage(Language::Test);
        QTest::ignoreMessage(QtWarningMsg, "No string with number 0");
        QCOMPARE(vm::res::Str(0), QStringLiteral("#0"));
        QTest::ignoreMessage(QtWarningMsg, "No string with number -5");
        QCOMPARE(vm::res::Str(-5, Language::English), QStringLiteral("#-5"));
    }

    void bothTablesHoldTheSameNumbers() {
        const QList<int> ids = vm::res::ids();
        QVERIFY(ids.size() > 150);
        for (qsizetype i = 1; i < ids.size(); ++i)
            QVERIFY2(ids.at(i - 1) < ids.at(i), qPrintable(QString::number(ids.at(i))));

        static const QRegularExpression letter(QStringLiteral("[A-Za-z]"));
        for (int id : ids) {
            const QString english = vm::res::Str(id, Language::English);
            const QString test = vm::res::Str(id, Language::Test);
            QVERIFY2(!english.isEmpty() && !test.isEmpty(), qPrintable(QString::number(id)));
            // The test language only adds parentheses: take them away and the English is back.
            QString bare = test;
            QString englishBare = english;
            bare.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
            englishBare.remove(QLatin1Char('(')).remove(QLatin1Char(')'));
            QCOMPARE(bare, englishBare);
            if (english.contains(letter))
                QVERIFY2(test != english, qPrintable(QString::number(id)));
        }
    }

    void compiledTableMatchesTheSourceFile() {
        QFile file(QStringLiteral(VELMARROW_STRINGS_SOURCE));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
        static const QRegularExpression entry(QStringLiteral("^(\\d+)\\t"));
        QSet<int> seen;
        QList<int> numbers;
        for (const QString& line : lines) {
            const auto match = entry.match(line);
            if (!match.hasMatch())
                continue;
            const int number = match.captured(1).toInt();
            QVERIFY2(!seen.contains(number), qPrintable(QStringLiteral("repeated %1").arg(number)));
            seen.insert(number);
            numbers.append(number);
        }
        QCOMPARE(numbers, vm::res::ids());

        // The edited file passes the generator's own checks.
        QVERIFY(file.seek(0));
        const GeneratorRun run = runGenerator(file.readAll());
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.errors.isEmpty(), qPrintable(run.errors));
    }

    void languageSelection_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("environment"); // empty: not set
        QTest::addColumn<Language>("expected");
        QTest::addColumn<QString>("warning"); // empty: none expected

        const QString program = QStringLiteral("velmarrow");
        QTest::newRow("nothing given")
            << QStringList{program} << QByteArray() << Language::English << QString();
        QTest::newRow("option") << QStringList{program, "--language", "test"} << QByteArray()
                                << Language::Test << QString();
        QTest::newRow("option with =")
            << QStringList{program, "--language=TEST"} << QByteArray() << Language::Test << QString();
        QTest::newRow("environment") << QStringList{program} << QByteArray(" test ") << Language::Test
                                     << QString();
        QTest::newRow("command line wins") << QStringList{program, "--other", "--language", "en"}
                                           << QByteArray("test") << Language::English << QString();
        QTest::newRow("last option wins") << QStringList{program, "--language=en", "--language", "test"}
                                          << QByteArray() << Language::Test << QString();
        QTest::newRow("bad option falls back to environment")
            << QStringList{program, "--language", "fr"} << QByteArray("test") << Language::Test
            << QStringLiteral("Unknown language \"fr\" given with --language; use en or test");
        QTest::newRow("bad environment")
            << QStringList{program} << QByteArray("klingon") << Language::English
            << QStringLiteral("Unknown language \"klingon\" in VELMARROW_LANGUAGE; use en or test");
        QTest::newRow("option without value")
            << QStringList{program, "--language"} << QByteArray() << Language::English
            << QStringLiteral("--language needs a value: en or test");
        QTest::newRow("program name is not an option")
            << QStringList{"--language=test"} << QByteArray() << Language::English << QString();
    }

    void languageSelection() {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, environment);
        QFETCH(Language, expected);
        QFETCH(QString, warning);

        // Start from the other language so that a choice that is never made shows.
        vm::res::setLanguage(expected == Language::English ? Language::Test : Language::English);
        if (!environment.isEmpty())
            qputenv(vm::res::LanguageEnvironmentVariable, environment);
        if (!warning.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));

        QCOMPARE(vm::res::initLanguage(arguments), expected);
        QCOMPARE(vm::res::language(), expected);
        QCOMPARE(vm::res::Str(1516),
                 expected == Language::Test ? QStringLiteral("(Fail)") : QStringLiteral("Fail"));
    }

    void generatorMakesTheTestLanguage() {
        const GeneratorRun run = runGenerator("# comment\r\n"
                                              "\n"
                                              "1\tE&xit\r\n"
                                              "2\t&Open %1 of %L2 && 4:1 don't\n"
                                              "3\tLine one\\r\\nLine two\\tend \\\\ x\n"
                                              "4\t...\n"
                                              "5\t\xC3\x9C"
                                              "bersicht 3D_view\n");
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.errors.isEmpty(), qPrintable(run.errors));
        QVERIFY(run.sourceWritten);
        QStringList lines = run.testTable.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(lines.size() > 1 && lines.first().startsWith(QLatin1Char('#')));
        lines.removeFirst();
        QCOMPARE(lines, (QStringList{QStringLiteral("1\t(E&xit)"),
                                     QStringLiteral("2\t(&Open) %1 (of) %L2 && 4:1 (don)'(t)"),
                                     QStringLiteral("3\t(Line) (one)\\r\\n(Line) (two)\\t(end) \\\\ (x)"),
                                     QStringLiteral("4\t..."),
                                     QString::fromUtf8("5\t(\xC3\x9C"
                                                       "bersicht) (3D_view)")}));
    }

    void generatorRejectsBadLines_data() {
        QTest::addColumn<QByteArray>("table");
        QTest::addColumn<QString>("message"); // ":<line>: error: ..." as printed

        QTest::newRow("repeated number") << QByteArray("10\tOne\n# c\n10\tTwo\n")
                                         << ":3: error: number 10 is repeated (first given on line 1)";
        QTest::newRow("out of order") << QByteArray("10\tOne\n9\tTwo\n")
                                      << ":2: error: number 9 is out of order: it follows 10 (line 1)";
        QTest::newRow("no tab") << QByteArray("10\tOne\n11 Two\n")
                                << ":2: error: expected <number><TAB><text>, found \"11 Two\"";
        QTest::newRow("not a number") << QByteArray("x1\tOne\n") << ":1: error: expected <number><TAB><text>";
        QTest::newRow("empty text") << QByteArray("10\t\n") << ":1: error: number 10 has an empty text";
        QTest::newRow("zero") << QByteArray("0\tZero\n") << ":1: error: number 0 is outside 1..65535";
        QTest::newRow("too large") << QByteArray("70000\tBig\n")
                                   << ":1: error: number 70000 is outside 1..65535";
        QTest::newRow("unknown escape")
            << QByteArray("10\tC:\\Images\n") << ":1: error: number 10: unknown escape \\I";
        QTest::newRow("backslash at end")
            << QByteArray("10\tEnd\\\n") << ":1: error: number 10: a backslash at the end of the text";
        QTest::newRow("not UTF-8") << QByteArray("10\tBad \xFF text\n")
                                   << ":1: error: number 10: the text is not valid UTF-8";
        QTest::newRow("nothing in it")
            << QByteArray("# only a comment\n") << "error: the file holds no entries";
    }

    void generatorRejectsBadLines() {
        QFETCH(QByteArray, table);
        QFETCH(QString, message);
        const GeneratorRun run = runGenerator(table);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.errors.contains(QStringLiteral("strings.en.txt") +
                                     (message.startsWith(':') ? message : ": " + message)),
                 qPrintable(run.errors));
        QVERIFY(!run.sourceWritten);
    }

private:
    QByteArray m_savedEnvironment;
    bool m_hadEnvironment = false;
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
