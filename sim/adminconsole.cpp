#include "sim/adminconsole.h"

#include "sim/readcycle.h"
#include "sim/reader.h"
#include "sim/scene.h"
#include "sim/simulator.h"

#include <QJsonDocument>
#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>

#include <unistd.h>

namespace vm::sim {

AdminConsole::AdminConsole(Simulator& simulator, QObject* parent)
    : QObject(parent)
    , m_simulator(simulator) {}

AdminConsole::~AdminConsole() = default;

// One admin verb: what help shows for it and what carries it out.
struct AdminConsole::Verb {
    struct Line {
        Reader* reader; // null for the verbs that take no reader
        QStringList words;
        QString arg; // the words after the reader, as one text
    };
    using Run = QString (*)(AdminConsole&, const Line&);

    const char* name;
    // The verb with its arguments and what it does, as help shows them ("\n" starts another
    // line of the description); a verb without usage is described with the one before it.
    const char* usage;
    const char* help;
    Run run;
    // Whether the verb works on one reader (a leading number picks it: "state 2") or on the
    // simulator as a whole.
    enum class Scope { Reader, Simulator };
    Scope scope = Scope::Reader;
    // With this many words a leading number is the verb's own ("slow 500" is a delay for
    // reader 1, "slow 2 500" one for reader 2).
    int ownNumberWords = -1;
};

const QList<AdminConsole::Verb>& AdminConsole::verbs() {
    static const QString ok = QStringLiteral("ok\n");
    static const QList<Verb> table = {
        {"help", "help", "this text", [](AdminConsole&, const Verb::Line&) { return helpText() + ok; },
         Verb::Scope::Simulator},
        {"readers", "readers", "one line per reader",
         [](AdminConsole& console, const Verb::Line&) {
             QString out;
             int k = 1;
             for (Reader* r : console.m_simulator.readers())
                 out += QStringLiteral("%1 %2 %3 %4:%5/%6 controller=%7\n")
                            .arg(k++)
                            .arg(r->name(), r->softwareVersion(), r->address().toString())
                            .arg(r->commandPort())
                            .arg(r->dataPort())
                            .arg(r->controller());
             return out + ok;
         },
         Verb::Scope::Simulator},
        {"state", "state [READER]", "the reader's state",
         [](AdminConsole&, const Verb::Line& l) { return l.reader->stateText() + QStringLiteral("\nok\n"); }},
        {"input", "input [READER] high|low", "set the external trigger input (TE decides the edge)",
         [](AdminConsole&, const Verb::Line& l) {
             if (l.arg != QLatin1String("high") && l.arg != QLatin1String("low"))
                 return QStringLiteral("error: input high|low\n");
             l.reader->setExternalInput(l.arg == QLatin1String("high"));
             return ok;
         }},
        {"line", "line [READER] LINE high|low|pulse [MS]",
         "drive an input line: OPTO_IN1, or a GPIO_OUTn line carrying an\n"
         "input tag; pulse is high for MS ms (default 100), then low",
         [](AdminConsole& console, const Verb::Line& l) {
             const QStringList& w = l.words;
             const QString how = w.value(1).toLower();
             bool good = true;
             const int ms = w.size() > 2 ? w[2].toInt(&good) : 100;
             if (w.size() < 2 || w.size() > 3 || !good || ms < 1 || ms > 60000 ||
                 (how != QLatin1String("high") && how != QLatin1String("low") &&
                  how != QLatin1String("pulse")) ||
                 (w.size() == 3 && how != QLatin1String("pulse")))
                 return QStringLiteral("error: line [READER] LINE high|low|pulse [MS] (MS 1 to 60000)\n");
             QString error;
             if (!l.reader->driveLine(w[0], how != QLatin1String("low"), &error))
                 return QStringLiteral("error: %1\n").arg(error);
             if (how == QLatin1String("pulse")) {
                 // The reader may be rebooted or gone when the pulse ends.
                 QPointer<Reader> reader(l.reader);
                 const QString line = w[0];
                 QTimer::singleShot(ms, &console, [reader, line] {
                     if (reader)
                         reader->driveLine(line, false);
                 });
             }
             return ok;
         }},
        {"trigger", "trigger [READER]", "a virtual trigger",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->cycles().trigger(QStringLiteral("ADMIN"));
             return ok;
         }},
        {"steal", "steal [READER] STATION", "another station takes programming control",
         [](AdminConsole&, const Verb::Line& l) {
             if (l.arg.isEmpty())
                 return QStringLiteral("error: steal needs a station name\n");
             l.reader->takeControl(l.arg);
             return ok;
         }},
        {"unsteal", "unsteal [READER]", "nobody holds control",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->dropControl();
             return ok;
         }},
        {"refusecontrol", "refusecontrol [READER] once|always|off",
         "CONTROL is refused (error 8): the next request, every\n"
         "request from any station, or none again",
         [](AdminConsole&, const Verb::Line& l) {
             if (l.arg == QLatin1String("once"))
                 l.reader->refuseControl(ControlRefusal::Once);
             else if (l.arg == QLatin1String("always"))
                 l.reader->refuseControl(ControlRefusal::Always);
             else if (l.arg == QLatin1String("off"))
                 l.reader->refuseControl(ControlRefusal::None);
             else
                 return QStringLiteral("error: refusecontrol [READER] once|always|off\n");
             return ok;
         }},
        {"drop", "drop [READER]", "closes every command and data connection",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->dropConnections();
             return ok;
         }},
        {"down", "down [READER] / up [READER]", "stop / resume accepting connections",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->setListening(false);
             return ok;
         }},
        {"up", nullptr, nullptr,
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->setListening(true);
             return ok;
         }},
        {"reboot", "reboot [READER]", "reboots: connections drop, unsaved changes are lost",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->reboot();
             return ok;
         }},
        {"malform", "malform [READER]", "the next reply is malformed (no status line)",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->setNextReplyFault(ReplyFault::Malformed);
             return ok;
         }},
        {"slow", "slow [READER] MS", "the next reply comes MS milliseconds late",
         [](AdminConsole&, const Verb::Line& l) {
             bool good = false;
             const int ms = l.arg.toInt(&good);
             if (!good || ms < 0 || ms > 600000)
                 return QStringLiteral("error: slow needs milliseconds\n");
             l.reader->setNextReplyFault(ReplyFault::Slow, ms);
             return ok;
         },
         Verb::Scope::Reader, 1},
        {"silent", "silent [READER]", "the next command gets no reply",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->setNextReplyFault(ReplyFault::Silent);
             return ok;
         }},
        {"refuse", "refuse [READER] [COMMAND]",
         "the next command (or the next COMMAND) is refused with\n"
         "error 8 and left undone",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->setNextReplyFault(ReplyFault::Refused, 0, l.arg.trimmed());
             return ok;
         }},
        {"hangup", "hangup [READER] [COMMAND]",
         "the next command (or the next COMMAND) closes the\n"
         "connection instead of being answered, left undone",
         [](AdminConsole&, const Verb::Line& l) {
             l.reader->setNextReplyFault(ReplyFault::Drop, 0, l.arg.trimmed());
             return ok;
         }},
        {"scene", "scene [READER] TEXT", "the text of the symbol in front of the camera",
         [](AdminConsole&, const Verb::Line& l) {
             QString error;
             if (!l.reader->setScene(QStringLiteral("text"), l.arg, &error))
                 return QStringLiteral("error: %1\n").arg(error);
             return ok;
         }},
        {"sceneset", "sceneset [READER] [KEY VALUE]",
         "a scene setting: text, serial, serialdigits, serialstep,\n"
         "symbology, x, y, rotation, scale, contrast, noise, blur,\n"
         "part: paper, dark, lightondark, mirrored, lowcontrast;\n"
         "alone, every setting, fault and drift as one JSON line",
         [](AdminConsole&, const Verb::Line& l) {
             QString error;
             if (l.words.isEmpty()) {
                 ReadCycle* camera = ReadCycle::serving(l.reader->parameters());
                 if (!camera)
                     return QStringLiteral("error: %1 has no camera\n").arg(l.reader->name());
                 return QString::fromUtf8(
                            QJsonDocument(camera->scene().settings()).toJson(QJsonDocument::Compact)) +
                        QStringLiteral("\nok\n");
             }
             if (l.words.size() < 2)
                 return QStringLiteral("error: sceneset [READER] KEY VALUE\n");
             if (!l.reader->setScene(l.words[0], l.words.mid(1).join(QLatin1Char(' ')), &error))
                 return QStringLiteral("error: %1\n").arg(error);
             return ok;
         }},
        {"fault", "fault [READER] KIND STRENGTH",
         "a print fault of the part in view, 0 (none) to 100 percent:\n"
         "fade (pale ink), finder (a stretch of the Data Matrix finder\n"
         "printed light), uneven (the printer's pitch wobbles), spot (a\n"
         "dark spot in a space of a barcode); fault [READER] none ends all",
         [](AdminConsole&, const Verb::Line& l) {
             QString error;
             if (!l.reader->setScene(QStringLiteral("fault"), l.arg, &error))
                 return QStringLiteral("error: %1\n").arg(error);
             return ok;
         }},
        {"image", "image [READER] FILE|none",
         "a picture file in front of the camera (any picture format;\n"
         "grey 255 is 100 % reflectance), read by every cycle as a\n"
         "transferred image file is, until image [READER] none",
         [](AdminConsole&, const Verb::Line& l) {
             ReadCycle* camera = ReadCycle::serving(l.reader->parameters());
             if (!camera)
                 return QStringLiteral("error: %1 has no camera\n").arg(l.reader->name());
             if (l.arg.isEmpty())
                 return QStringLiteral("error: image [READER] FILE|none\n");
             if (l.arg == QLatin1String("none")) {
                 camera->removePicture();
                 return ok;
             }
             QString error;
             if (!camera->showPicture(l.arg, &error))
                 return QStringLiteral("error: %1\n").arg(error);
             return ok;
         }},
        {"rate", "rate [READER] N", "continuous read cycles per second (at most 1000)",
         [](AdminConsole&, const Verb::Line& l) {
             bool good = false;
             const double rate = l.arg.toDouble(&good);
             if (!good || rate <= 0 || rate > CycleDriver::kMaxRate)
                 return QStringLiteral("error: rate must be above 0 and at most %1\n")
                     .arg(CycleDriver::kMaxRate);
             l.reader->cycles().setRate(rate);
             return ok;
         },
         Verb::Scope::Reader, 1},
        {"replay", "replay [READER] on|off",
         "cycles report the last image again without acquiring or\n"
         "decoding, so records stream at the full rate",
         [](AdminConsole&, const Verb::Line& l) {
             if (l.arg != QLatin1String("on") && l.arg != QLatin1String("off"))
                 return QStringLiteral("error: replay [READER] on|off\n");
             l.reader->setReplay(l.arg == QLatin1String("on"));
             return ok;
         }},
        {"serial", "serial [READER] [baud N|pacing on|off]",
         "the serial line: its device, settings, pacing and waiting\n"
         "output; baud sets the port's speed as TTY does (1200 to\n"
         "115200); pacing off sends as fast as the PC reads",
         [](AdminConsole&, const Verb::Line& l) {
             const QStringList& w = l.words;
             QString error;
             if (w.isEmpty())
                 return l.reader->serialText() + QStringLiteral("\nok\n");
             bool good = false;
             const int baud = w.size() == 2 ? w[1].toInt(&good) : 0;
             if (w.size() == 2 && w[0] == QLatin1String("baud") && good) {
                 if (!l.reader->setSerialBaud(baud, &error))
                     return QStringLiteral("error: %1\n").arg(error);
                 return ok;
             }
             if (w.size() == 2 && w[0] == QLatin1String("pacing") &&
                 (w[1] == QLatin1String("on") || w[1] == QLatin1String("off"))) {
                 if (l.reader->serialDevice().isEmpty())
                     return QStringLiteral("error: %1 has no serial line\n").arg(l.reader->name());
                 l.reader->setSerialPacing(w[1] == QLatin1String("on"));
                 return ok;
             }
             return QStringLiteral("error: serial [READER] [baud N|pacing on|off]\n");
         }},
        {"drift", "drift [READER] KIND RATE|off",
         "a print fault that grows by RATE percent a minute from its\n"
         "present strength (negative: recedes), as ink fades on a line:\n"
         "drift fade 3; drift [READER] KIND off keeps the strength it\n"
         "reached, drift [READER] off stops every drift",
         [](AdminConsole&, const Verb::Line& l) {
             QString error;
             if (!l.reader->setScene(QStringLiteral("drift"), l.arg, &error))
                 return QStringLiteral("error: %1\n").arg(error);
             return ok;
         }},
        // "lamp 90 20": light 90 of reader 1.
        {"lamp", "lamp [READER] LIGHT PERCENT", "output of an external light channel's lamp (0 to 100)",
         [](AdminConsole&, const Verb::Line& l) {
             QString error;
             if (l.words.size() != 2)
                 return QStringLiteral("error: lamp [READER] LIGHT PERCENT\n");
             if (!l.reader->setLampOutput(l.words[0], l.words[1], &error))
                 return QStringLiteral("error: %1\n").arg(error);
             return ok;
         },
         Verb::Scope::Reader, 2},
        {"quit", "quit", "stops the simulator",
         [](AdminConsole& console, const Verb::Line&) {
             emit console.quitRequested();
             return ok;
         },
         Verb::Scope::Simulator},
    };
    return table;
}

QString AdminConsole::helpText() {
    // A description starts at column 28, or two blanks after a usage that reaches it; a usage
    // too long for that has a line of its own.
    constexpr int kColumn = 28;
    constexpr int kLongestInline = 29;
    const QString indent(kColumn, QLatin1Char(' '));
    QString out = QStringLiteral("Admin commands (READER is 1-based and may be left out for reader 1):\n");
    for (const Verb& verb : verbs()) {
        if (!verb.usage)
            continue;
        const QString usage = QLatin1String(verb.usage);
        const QStringList help = QString::fromLatin1(verb.help).split(QLatin1Char('\n'));
        if (usage.size() > kLongestInline)
            out += QStringLiteral("  ") + usage + QLatin1Char('\n') + indent;
        else if (usage.size() + 3 > kColumn)
            out += QStringLiteral("  ") + usage + QStringLiteral("  ");
        else
            out += QStringLiteral("  ") + usage.leftJustified(kColumn - 2);
        out += help.join(QLatin1Char('\n') + indent) + QLatin1Char('\n');
    }
    return out;
}

bool AdminConsole::listen(quint16 port, QString* error) {
    m_server = std::make_unique<QTcpServer>();
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        *error = QStringLiteral("admin port %1: %2").arg(port).arg(m_server->errorString());
        m_server.reset();
        return false;
    }
    connect(m_server.get(), &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = m_server->nextPendingConnection()) {
            s->setParent(this);
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QTcpSocket::readyRead, s, [this, s] {
                while (s->canReadLine())
                    s->write(execute(QString::fromUtf8(s->readLine())).toUtf8());
                // Handed to the system at once: a client that has closed its sending side
                // makes the socket close right after this, which would drop a buffered answer.
                s->flush();
                if (s->bytesAvailable() > 4096)
                    s->abort(); // an admin line is short
            });
        }
    });
    return true;
}

quint16 AdminConsole::port() const {
    return m_server ? m_server->serverPort() : 0;
}

namespace {

// Standard output may be a pipe that takes part of an answer at a time; what it refuses for
// good (a closed pipe) is dropped, as the console has nowhere else to say it.
void writeAll(const QByteArray& bytes) {
    const char* at = bytes.constData();
    size_t left = size_t(bytes.size());
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        at += n;
        left -= size_t(n);
    }
}

} // namespace

void AdminConsole::readStandardInput() {
    m_stdin = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_stdin.get(), &QSocketNotifier::activated, this, [this] {
        char buf[1024];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n <= 0) {
            m_stdin->setEnabled(false); // end of input: the admin port stays
            return;
        }
        m_stdinBuffer.append(buf, int(n));
        qsizetype lf;
        while ((lf = m_stdinBuffer.indexOf('\n')) >= 0) {
            const QString line = QString::fromUtf8(m_stdinBuffer.left(lf));
            m_stdinBuffer.remove(0, lf + 1);
            writeAll(execute(line).toUtf8());
        }
        if (m_stdinBuffer.size() > 4096)
            m_stdinBuffer.clear();
    });
}

QString AdminConsole::execute(const QString& line) {
    QStringList w = line.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return {};
    const QString cmd = w.takeFirst().toLower();
    const Verb* verb = nullptr;
    for (const Verb& v : verbs())
        if (cmd == QLatin1String(v.name))
            verb = &v;
    Reader* r = nullptr;
    // A verb nobody knows still names its reader: the missing reader is the first error.
    if (!verb || verb->scope == Verb::Scope::Reader) {
        int index = 0;
        bool isNumber = false;
        if (!w.isEmpty()) {
            const int k = w.first().toInt(&isNumber);
            if (isNumber && !(verb && w.size() == verb->ownNumberWords)) {
                index = k - 1;
                w.removeFirst();
            }
        }
        r = m_simulator.reader(index);
        if (!r)
            return QStringLiteral("error: no reader %1\n").arg(index + 1);
    }
    if (!verb)
        return QStringLiteral("error: unknown admin command %1 (try help)\n").arg(cmd);
    return verb->run(*this, {r, w, w.join(QLatin1Char(' '))});
}

} // namespace vm::sim
