// Configuration files and camera-level commands, driven from the main window against
// simulated readers over real loopback sockets: save and restore on the reader, saving
// and loading ".lcf" files with the load log, and the File menu's rules (the PID copy and
// compare windows have their contract tables).
#include "app/programstate.h"
#include "app/readhistory.h"
#include "app/settingsstore.h"
#include "app/windowregistry.h"
#include "common/hostilereader.h"
#include "common/prompts.h"
#include "common/readers.h"
#include "display/xtermwnd.h"
#include "link/configuration.h"
#include "link/connection.h"
#include "link/coordinator.h"
#include "shell/basicinterface.h"
#include "shell/configcommands.h"
#include "shell/frmlog.h"
#include "shell/statusbar.h"
#include "sim/parameterstore.h"
#include "sim/reader.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <algorithm>
#include <functional>
#include <memory>

using namespace vm;
using app::PromptAnswer;
using app::PromptButtons;
using app::PromptIcon;
using shell::BasicInterface;
namespace cfg = shell::configcommands;

namespace {

QStringList toLines(const QSignalSpy& spy) {
    QStringList lines;
    for (const QList<QVariant>& call : spy)
        lines << call.at(0).toString();
    return lines;
}

struct LogLine {
    QString text;
    QColor colour;
};

QList<LogLine> logLines(const shell::frmLog* log) {
    QList<LogLine> out;
    for (QTextBlock b = log->log()->document()->begin(); b.isValid(); b = b.next()) {
        if (b.text().isEmpty())
            continue;
        out.append({b.text(), b.begin().fragment().charFormat().foreground().color()});
    }
    return out;
}

const QColor kYellow(255, 255, 0);
const QColor kRed(255, 0, 0);

QStringList withoutIdentity(QStringList lines) {
    lines.removeIf([](const QString& l) { return link::isIdentityLine(l); });
    return lines;
}

} // namespace

class TestConfig : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<sim::Reader> m_first;
    std::unique_ptr<sim::Reader> m_second;
    std::unique_ptr<BasicInterface> m_window;
    QString m_chosen; // the file the next file dialog answers
    QList<bool> m_dialogs;
    int m_settingsCount = 0;

    BasicInterface& window() { return *m_window; }

    void focus(sim::Reader& reader) {
        const QString address = reader.address().toString();
        window().AddCameraButton(address);
        window().ClickCameraButton(address);
        QTRY_VERIFY(window().imageConnection()->Connected());
        QTRY_VERIFY(app::firmwareLevel() > 0);
    }

    void takeControl() {
        testing::ExpectPrompts boxes;
        boxes->expectMessage("Velmarrow",
                             "Do you wish to control the camera " +
                                 window().coordinator()->FocusedDevice()->Name() + "?",
                             PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::Yes);
        QVERIFY(window().EnsureControl());
        QTRY_VERIFY(window().imageConnection()->HasControl());
    }
    // The reader focused, and this station in control of it.
    void focusInControl(sim::Reader& reader) {
        focus(reader);
        takeControl();
    }

    QString writeFile(const QString& name, const QByteArray& bytes) {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return {};
        return path;
    }

    shell::frmLog* openLog() const {
        return qobject_cast<shell::frmLog*>(app::windows().find(QLatin1String(shell::frmLog::WindowName)));
    }

private slots:
    void initTestCase() {
        qputenv("VELMARROW_STATION", "TEST-PC");
        qputenv("VmSplashEnabled", "0");
        qputenv("VelmarrowPassword", "");
        m_first = testing::startReader("First");
        m_second = testing::startReader("Second");
        QVERIFY(m_first && m_second);
        if (app::windows().windowEntries().empty())
            app::registerWindows(app::windows());
        cfg::setFileChooser([this](QWidget*, bool forSaving) {
            m_dialogs << forSaving;
            return m_chosen;
        });
    }

    void cleanupTestCase() {
        cfg::setFileChooser({});
        m_first.reset();
        m_second.reset();
    }

    void init() {
        QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
        const QString file = m_dir.filePath(QStringLiteral("settings%1.ini").arg(++m_settingsCount));
        app::installSettings(std::make_unique<app::SettingsStore>(file, m_dir.filePath("options.ini")));
        app::setHistoryFile(
            m_dir.filePath("history.sqlite")); // the main window records here, not in the user's data folder
        app::settings().Open("Velmarrow");
        m_first->dropControl();
        m_second->dropControl();
        m_dialogs.clear();
        m_window = std::make_unique<BasicInterface>();
        window().setProgramVersion("3.0.2.1");
        window().setLegacyFolder(m_dir.filePath("nolegacy"));
        window().Load();
        window().show();
    }

    void cleanup() {
        if (m_window) {
            window().close();
            m_window.reset();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        app::installSettings(nullptr);
    }

    // The File menu's items in order are checked by tst_windows' menusOfTheProgram; here, which
    // need a reader, and that without control they send nothing.
    void fileMenuEnabling() {
        const QStringList readerItems{"mnuSaveParameters",    "mnuRestoreDefaults", "mnuSaveConfiguration",
                                      "mnuLoadConfiguration", "mnuCopyToPid",       "mnuCopyFromPid"};
        for (const QString& key : readerItems)
            QVERIFY2(!window().action(key)->isEnabled(), qPrintable(key));
        focus(*m_first);
        for (const QString& key : readerItems)
            QVERIFY2(window().action(key)->isEnabled(), qPrintable(key));

        // Without control nothing reaches the reader.
        const qsizetype before = m_first->receivedCommands().size();
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow",
                                 "Do you wish to control the camera " + m_first->address().toString() + "?",
                                 PromptIcon::Question, PromptButtons::YesNo, PromptAnswer::No);
            boxes->expectMessage("Velmarrow", "Cannot change settings without control...", PromptIcon::None,
                                 PromptButtons::Ok, PromptAnswer::Ok);
            window().action("mnuSaveParameters")->trigger();
        }
        QVERIFY(!m_first->receivedCommands().mid(before).contains("SAVE"));
    }

    void saveAndRestoreOnTheReader() {
        focusInControl(*m_first);
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow", "Camera Parameters are saved to flash", PromptIcon::None,
                                 PromptButtons::Ok, PromptAnswer::Ok);
            window().action("mnuSaveParameters")->trigger();
        }
        QCOMPARE(m_first->receivedCommands().last(), QStringLiteral("SAVE"));
        // A save the reader refuses is told as not done, with the reader's reason.
        m_first->setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("SAVE"));
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Velmarrow",
                                 "Camera Parameters could not be saved to flash: refused by the reader: the "
                                 "value cannot be applied now",
                                 PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
            window().action("mnuSaveParameters")->trigger();
        }

        link::SettingsConnection listener;
        QSignalSpy heard(&listener, &link::Connection::OnBroadcastMessage);
        // A changed decoder and application mode, both put back by "Both".
        const QStringList factory = m_first->parameters().configurationListing();
        QVERIFY(window().imageConnection()->SendCommand("TRIG T").ok);
        QVERIFY(window().imageConnection()->SendCommand("BARQZ 40").ok);
        QVERIFY(m_first->parameters().configurationListing() != factory);
        // Each item: the commands it sends, its status text and the words the other windows hear.
        struct Item {
            const char* action;
            QStringList commands;
            QString status;
            QStringList words;
        };
        const QList<Item> items = {
            {"mnuRestoreBoth",
             {"RESET DECODER", "RESET APPMODE"},
             "Application mode and decoder restored to defaults",
             {"UPDATEPHOTO", "UPDATEIO", "UNLEARN"}},
            {"mnuRestoreDecoder", {"RESET DECODER"}, "Decoder restored to defaults", {"UNLEARN"}},
            {"mnuRestoreAppMode",
             {"RESET APPMODE"},
             "Application mode restored to defaults",
             {"UPDATEPHOTO", "UPDATEIO", "UNLEARN"}},
        };
        for (const Item& item : items) {
            heard.clear();
            const qsizetype before = m_first->receivedCommands().size();
            window().action(item.action)->trigger();
            QCOMPARE(m_first->receivedCommands().mid(before), item.commands);
            QCOMPARE(m_first->parameters().configurationListing(), factory);
            QCOMPARE(window().vmStatusBar()->StatusMsgText().trimmed(), item.status);
            // Read whole at the window's first size, beside the counters: not cut in the middle.
            QTRY_COMPARE(window().vmStatusBar()->findChild<QLabel*>("Info1")->text().trimmed(), item.status);
            QTRY_COMPARE(heard.count(), item.words.size());
            QStringList words;
            for (const auto& args : heard)
                words << args.at(1).toString();
            QCOMPARE(words, item.words);
        }

        // A restore the reader refuses is told in the status bar by its command and the
        // reader's reason; the one it carried out is not reported as failed.
        m_first->setNextReplyFault(sim::ReplyFault::Refused, 0, QStringLiteral("RESET"));
        window().action("mnuRestoreBoth")->trigger();
        QCOMPARE(window().vmStatusBar()->StatusMsgText().trimmed(),
                 QStringLiteral("Restoring defaults failed: RESET DECODER: refused by the reader: the value "
                                "cannot be applied now"));
    }

    void savedConfigurationLoadsIntoAFreshReader() {
        focusInControl(*m_first);
        QVERIFY(window().imageConnection()->SendCommand("TRIG T").ok);
        QVERIFY(window().imageConnection()->SendCommand("HEADER \"Lot 7\"").ok);
        m_chosen = m_dir.filePath("first.lcf");
        window().action("mnuSaveConfiguration")->trigger();
        QCOMPARE(m_dialogs, QList<bool>{true});

        QFile saved(m_chosen);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        QVERIFY(bytes.endsWith("\r\n"));
        QVERIFY(!bytes.contains("\r\n\r\n"));
        QVERIFY(!bytes.contains("!SHOW"));
        const QStringList listing = m_first->parameters().configurationListing();
        QCOMPARE(QString::fromUtf8(bytes).split("\r\n", Qt::SkipEmptyParts), listing);

        focusInControl(*m_second);
        QVERIFY(withoutIdentity(m_second->parameters().configurationListing()) != withoutIdentity(listing));
        const qsizetype before = m_second->receivedCommands().size();
        window().action("mnuLoadConfiguration")->trigger();
        // Every line went out, in file order, and no error kept the log open.
        QStringList sent = m_second->receivedCommands().mid(before);
        sent.removeIf([&](const QString& c) { return !listing.contains(c); });
        QCOMPARE(sent, listing);
        QCOMPARE(withoutIdentity(m_second->parameters().configurationListing()), withoutIdentity(listing));
        QTRY_VERIFY(!openLog());
        // The file made the second reader a namesake of the first; give it its own name back.
        sim::Station station{"TEST-PC"};
        QVERIFY(
            m_second->execute("IP Second " + m_second->address().toString() + " 255.0.0.0 0.0.0.0", station)
                .last()
                .endsWith("OK"));
    }

    void fileOfOnlyAStatusLineSendsNothing() {
        focusInControl(*m_first);
        link::SettingsConnection listener;
        QSignalSpy heard(&listener, &link::Connection::OnBroadcastMessage);
        m_chosen = writeFile("status.lcf", "!SHOW OK\r\n\r\n");
        const qsizetype before = m_first->receivedCommands().size();
        window().action("mnuLoadConfiguration")->trigger();
        QCOMPARE(m_first->receivedCommands().size(), before);
        QTRY_VERIFY(!openLog());
        QTRY_COMPARE(heard.count(), 6);
        QStringList messages;
        for (const auto& args : heard) {
            QCOMPARE(args.at(0).toString(), QStringLiteral("BasicInterface_SELF"));
            messages << args.at(1).toString();
        }
        QCOMPARE(messages, (QStringList{"SCHEDULEUPDATE", "UPDATEPHOTO", "UPDATEIO", "UPDATETIMEOUT",
                                        "UPDATELASER", "UPDATEBC"}));
    }

    void refusedLineIsLoggedAndLoadingGoesOn() {
        focusInControl(*m_first);
        m_chosen = writeFile("three.lcf", "TRIG T\r\nNUMDM 99\r\nBEEP N\r\n");
        // The status bar's progress shows while the lines go out, and goes when they are through.
        bool progressShown = false;
        const QMetaObject::Connection hook = connect(m_first.get(), &sim::Reader::commandReceived, this, [&] {
            progressShown |= window().vmStatusBar()->ProgressVisible();
        });
        window().action("mnuLoadConfiguration")->trigger();
        disconnect(hook);
        QVERIFY(progressShown);
        QVERIFY(!window().vmStatusBar()->ProgressVisible());
        QCOMPARE(m_first->parameters().fields("TRIG"), QStringList{"T"});
        QCOMPARE(m_first->parameters().fields("BEEP"), QStringList{"N"});
        shell::frmLog* log = openLog();
        QVERIFY(log);
        QCOMPARE(log->caption(), QStringLiteral("1 error was reported:"));
        const QList<LogLine> lines = logLines(log);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0).text, QStringLiteral("NUMDM 99"));
        QCOMPARE(lines.at(0).colour, kYellow);
        // The reader's own explanation, in red: which values it takes.
        QVERIFY2(lines.at(1).text.startsWith("NUMDM field 0 must be"), qPrintable(lines.at(1).text));
        QCOMPARE(lines.at(1).colour, kRed);

        // A second load with three refusals reuses the log and counts them all; the reader's
        // status for an unknown "ERROR" command has its ERROR right after the "!".
        m_chosen = writeFile("three-refused.lcf", "NUMDM 99\r\nNOSUCHTHING 1\r\nERROR 1\r\nTRIG C\r\n");
        window().action("mnuLoadConfiguration")->trigger();
        QCOMPARE(openLog()->caption(), QStringLiteral("3 errors were reported:"));
        QCOMPARE(logLines(openLog()).size(), 6);
        QCOMPARE(logLines(openLog()).at(4).text, QStringLiteral("ERROR 1"));
        QCOMPARE(m_first->parameters().fields("TRIG"), QStringList{"C"});

        // A line the reader never answers is logged like a refused one, with the reason in red.
        m_chosen = writeFile("unanswered.lcf", "BEEP N\r\nTRIG T\r\n");
        m_first->setNextReplyFault(sim::ReplyFault::Silent, 0, QStringLiteral("BEEP"));
        window().action("mnuLoadConfiguration")->trigger();
        QCOMPARE(openLog()->caption(), QStringLiteral("1 error was reported:"));
        const QList<LogLine> silent = logLines(openLog());
        QCOMPARE(silent.size(), 2);
        QCOMPARE(silent.at(0).text, QStringLiteral("BEEP N"));
        QCOMPARE(silent.at(0).colour, kYellow);
        QVERIFY2(silent.at(1).text.startsWith("No reply to \"BEEP N\" within"),
                 qPrintable(silent.at(1).text));
        QCOMPARE(silent.at(1).colour, kRed);
        QCOMPARE(m_first->parameters().fields("TRIG"), QStringList{"T"});
        // The log belongs to the reader it tells of: moving on to another reader closes it.
        QPointer<shell::frmLog> shown = openLog();
        focus(*m_second);
        QTRY_VERIFY(!shown);
        QVERIFY(!openLog());
    }

    // A long load stops as soon as control goes to another station, or when the operator
    // stops it from the log (or closes the log), and says how many lines were not sent.
    void loadStopsWhenControlGoesOrTheOperatorSaysSo() {
        QByteArray file;
        for (int i = 0; i < 40; ++i)
            file += i % 2 ? "BEEP N\r\n" : "BEEP Y\r\n";
        m_chosen = writeFile("long.lcf", file);
        const auto beeps = [this](const QStringList& lines) {
            return int(std::count_if(lines.begin(), lines.end(),
                                     [](const QString& l) { return l.startsWith(QLatin1String("BEEP ")); }));
        };
        const QRegularExpression notSent(QStringLiteral("^(.*); (\\d+) lines were not sent$"));
        struct Stop {
            const char* why;
            std::function<void()> act;
        };
        // Stop Loading, once pressed, is greyed while the load winds down.
        bool stopGreyed = false;
        const Stop stops[] = {
            {"Programming control of the camera was lost", [this] { m_first->takeControl("OTHER-PC"); }},
            {"Loading was stopped",
             [&] {
                 openLog()->stopButton()->click();
                 stopGreyed = !openLog()->stopButton()->isEnabled();
             }},
            {"Loading was stopped", [this] { openLog()->close(); }},
            // Escape pressed in the log while the load looks at the operator's input between
            // two lines: the closed window is gone only once the load next waits for the reader,
            // and no line may go out meanwhile.
            {"Loading was stopped",
             [this] {
                 auto* progress = window().vmStatusBar()->findChild<QProgressBar*>("Progress");
                 auto once = std::make_shared<QMetaObject::Connection>();
                 *once = connect(progress, &QProgressBar::valueChanged, this, [this, once] {
                     disconnect(*once);
                     QMetaObject::invokeMethod(
                         openLog(), [log = openLog()] { QTest::keyClick(log, Qt::Key_Escape); },
                         Qt::QueuedConnection);
                 });
             }},
        };
        focus(*m_first);
        for (const Stop& stop : stops) {
            if (!window().imageConnection()->HasControl())
                takeControl();
            // The main window tells of control taken away, as it always does.
            testing::ExpectPrompts boxes;
            if (QByteArray(stop.why).startsWith("Programming"))
                boxes->expectMessage(
                    "Connection Error",
                    "Connection Dropped Unexpectedly\r\nCamera was reconnected but control was lost",
                    PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
            QSignalSpy received(m_first.get(), &sim::Reader::commandReceived);
            // The fifth line brings the stop.
            QMetaObject::Connection hook =
                connect(m_first.get(), &sim::Reader::commandReceived, this, [&](const QString& line) {
                    if (line.startsWith(QLatin1String("BEEP ")) && beeps(toLines(received)) == 5)
                        stop.act();
                });
            window().action("mnuLoadConfiguration")->trigger();
            disconnect(hook);
            const int sent = beeps(toLines(received));
            QVERIFY2(sent >= 5 && sent <= 8, qPrintable(QString::number(sent)));
            // Stopped from the log, the line the reader was answering is the last one sent.
            if (QByteArray(stop.why).startsWith("Loading"))
                QCOMPARE(sent, 5);
            // Told in the status bar, and in the log while it is open.
            const QString status = window().vmStatusBar()->StatusMsgText().trimmed();
            const QRegularExpressionMatch told = notSent.match(status);
            QVERIFY2(told.hasMatch(), qPrintable(status));
            QCOMPARE(told.captured(1), QLatin1String(stop.why));
            QCOMPARE(told.captured(2).toInt() + sent, 40);
            if (shell::frmLog* log = openLog()) {
                QCOMPARE(logLines(log).constLast().text, status);
                QCOMPARE(stopGreyed, &stop == &stops[1]);
                QVERIFY(!log->stopButton()->isVisible());
                log->close();
            }
        }
        // Stopped from the log, which stays open: the next load into it goes to its end.
        QSignalSpy received(m_first.get(), &sim::Reader::commandReceived);
        QMetaObject::Connection hook =
            connect(m_first.get(), &sim::Reader::commandReceived, this, [&](const QString& line) {
                if (line.startsWith(QLatin1String("BEEP ")) && beeps(toLines(received)) == 5)
                    openLog()->stopButton()->click();
            });
        window().action("mnuLoadConfiguration")->trigger();
        disconnect(hook);
        QVERIFY(openLog());
        received.clear();
        window().action("mnuLoadConfiguration")->trigger();
        QCOMPARE(beeps(toLines(received)), 40);
        QCOMPARE(window().vmStatusBar()->StatusMsgText().trimmed(),
                 QStringLiteral("40 Lines loaded,  0 errors reported"));
        if (shell::frmLog* log = openLog())
            log->close();
    }

    // Blank lines and stray carriage returns are no commands: nothing is sent for them and
    // nothing is reported.
    void blankLinesAreNoCommands() {
        focusInControl(*m_first);
        m_chosen = writeFile("blanks.lcf", "TRIG T\r\n\r\r\n   \r\nBEEP N\r\n");
        QSignalSpy received(m_first.get(), &sim::Reader::commandReceived);
        window().action("mnuLoadConfiguration")->trigger();
        QStringList written;
        for (const QString& line : toLines(received))
            if (line.startsWith(QLatin1String("TRIG")) || line.startsWith(QLatin1String("BEEP")) ||
                line.trimmed().isEmpty())
                written << line;
        QCOMPARE(written, (QStringList{"TRIG T", "BEEP N"}));
        QVERIFY(!openLog());
    }

    // One error is told in the singular. (The plural and the final captions are shown by the
    // loads above.)
    void progressCaptionsCountLinesAndErrors() {
        QCOMPARE(cfg::progressCaption(3, 1), QStringLiteral("3 Lines loaded,  1 error reported"));
    }

    void replyLinesDecideWhatFailed() {
        // A reader that says whatever the test wants, reached through the same library.
        test::HostileReader hostile(QHostAddress(testing::nextAddress()));
        QVERIFY(hostile.start());
        hostile.setAnswer([&hostile](const QString& line) -> QByteArray {
            if (line == "BEEP Y")
                return "ERROR\r\n!BEEP OK\r\n";
            if (line == "TRIG X")
                return "bad trigger\r\n\r\n!TRIG ERROR\r\n";
            return hostile.politeAnswer(line);
        });
        link::Coordinator coordinator;
        testing::focusReader(coordinator, hostile.address().toString());
        link::SettingsConnection conn;
        QTRY_VERIFY(conn.Connected());

        const link::LineOutcome collected = link::sendConfigurationLine(conn.Response(), "BEEP Y");
        QVERIFY(!collected.failed);
        QCOMPARE(collected.replyText, QStringList{"ERROR"});
        const link::LineOutcome refused = link::sendConfigurationLine(conn.Response(), "TRIG X");
        QVERIFY(refused.failed);
        QCOMPARE(refused.replyText, (QStringList{"bad trigger", ""}));
        QCOMPARE(refused.reason(), QStringLiteral("bad trigger"));
        coordinator.Focus(QString());
    }

    void savingKeepsTheFileWhenTheReaderIsSilent() {
        focusInControl(*m_first);
        m_chosen = writeFile("keep.lcf", "TRIG T\r\n");
        m_first->setNextReplyFault(sim::ReplyFault::Silent, 0, "SHOW");
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage(
                "Velmarrow",
                "The camera did not send its configuration (No reply to \"SHOW CONFIG\" within 500 "
                "ms). " +
                    QDir::toNativeSeparators(m_chosen) + " was not written.",
                PromptIcon::Exclamation, PromptButtons::Ok, PromptAnswer::Ok);
            window().action("mnuSaveConfiguration")->trigger();
        }
        QFile kept(m_chosen);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("TRIG T\r\n"));

        // Cancelling the dialog ends the command without a word.
        m_chosen.clear();
        const qsizetype before = m_first->receivedCommands().size();
        window().action("mnuSaveConfiguration")->trigger();
        window().action("mnuLoadConfiguration")->trigger();
        QCOMPARE(m_first->receivedCommands().size(), before);
    }

    void loadRefusesWhatIsNoConfiguration() {
        focusInControl(*m_first);
        m_chosen = writeFile("binary.lcf", QByteArray("TRIG T\r\n\0\1\2", 11));
        const qsizetype before = m_first->receivedCommands().size();
        {
            testing::ExpectPrompts boxes;
            boxes->expectMessage("Select Configuration File",
                                 QDir::toNativeSeparators(m_chosen) +
                                     " is not a configuration file (it holds binary data)",
                                 PromptIcon::Critical, PromptButtons::Ok, PromptAnswer::Ok);
            window().action("mnuLoadConfiguration")->trigger();
        }
        QCOMPARE(m_first->receivedCommands().size(), before);
    }
};

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
