#include "sim/adminconsole.h"

#include "sim/reader.h"
#include "sim/simulator.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <unistd.h>

namespace vm::sim {

AdminConsole::AdminConsole(Simulator& simulator, QObject* parent)
    : QObject(parent)
    , m_simulator(simulator) {}

AdminConsole::~AdminConsole() = default;

QString AdminConsole::helpText() {
    return QStringLiteral(
        "Admin commands (READER is 1-based and may be left out for reader 1):\n"
        "  help                      this text\n"
        "  readers                   one line per reader\n"
        "  state [READER]            the reader's state\n"
        "  input [READER] high|low   set the external trigger input (TE decides the edge)\n"
        "  line [READER] LINE high|low|pulse [MS]\n"
        "                            drive an input line: OPTO_IN1, or a GPIO_OUTn line carrying an\n"
        "                            input tag; pulse is high for MS ms (default 100), then low\n"
        "  trigger [READER]          a virtual trigger\n"
        "  steal [READER] STATION    another station takes programming control\n"
        "  unsteal [READER]          nobody holds control\n"
        "  refusecontrol [READER] once|always|off\n"
        "                            CONTROL is refused (error 8): the next request, every\n"
        "                            request from any station, or none again\n"
        "  drop [READER]             closes every command and data connection\n"
        "  down [READER] / up [READER]  stop / resume accepting connections\n"
        "  reboot [READER]           reboots: connections drop, unsaved changes are lost\n"
        "  malform [READER]          the next reply is malformed (no status line)\n"
        "  slow [READER] MS          the next reply comes MS milliseconds late\n"
        "  silent [READER]           the next command gets no reply\n"
        "  refuse [READER] [COMMAND] the next command (or the next COMMAND) is refused with\n"
        "                            error 8 and left undone\n"
        "  hangup [READER] [COMMAND] the next command (or the next COMMAND) closes the\n"
        "                            connection instead of being answered, left undone\n"
        "  scene [READER] TEXT       the text of the symbol in front of the camera\n"
        "  sceneset [READER] KEY VALUE  a scene setting: text, serial, serialdigits, serialstep,\n"
        "                            symbology, x, y, rotation, scale, contrast, noise, blur,\n"
        "                            part: paper, dark, lightondark, mirrored, lowcontrast\n"
        "  fault [READER] KIND STRENGTH  a print fault of the part in view, 0 (none) to 100 percent:\n"
        "                            fade (pale ink), finder (a stretch of the Data Matrix finder\n"
        "                            printed light), uneven (the printer's pitch wobbles), spot (a\n"
        "                            dark spot in a space of a barcode); fault [READER] none ends all\n"
        "  rate [READER] N           continuous read cycles per second (at most 1000)\n"
        "  replay [READER] on|off    cycles report the last image again without acquiring or\n"
        "                            decoding, so records stream at the full rate\n"
        "  lamp [READER] LIGHT PERCENT  output of an external light channel's lamp (0 to 100)\n"
        "  quit                      stops the simulator\n");
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
            const QByteArray out = execute(line).toUtf8();
            ::write(STDOUT_FILENO, out.constData(), size_t(out.size()));
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
    if (cmd == QLatin1String("help"))
        return helpText() + QStringLiteral("ok\n");
    if (cmd == QLatin1String("quit")) {
        emit quitRequested();
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("readers")) {
        QString out;
        int k = 1;
        for (Reader* r : m_simulator.readers())
            out += QStringLiteral("%1 %2 %3 %4:%5/%6 controller=%7\n")
                       .arg(k++)
                       .arg(r->name(), r->softwareVersion(), r->address().toString())
                       .arg(r->commandPort())
                       .arg(r->dataPort())
                       .arg(r->controller());
        return out + QStringLiteral("ok\n");
    }
    int index = 0;
    bool isNumber = false;
    if (!w.isEmpty()) {
        const int k = w.first().toInt(&isNumber);
        // "slow 500" is a delay for reader 1, "slow 2 500" one for reader 2.
        const bool numberIsArgument =
            ((cmd == QLatin1String("slow") || cmd == QLatin1String("rate")) && w.size() == 1) ||
            (cmd == QLatin1String("lamp") && w.size() == 2); // "lamp 90 20": light 90 of reader 1
        if (isNumber && !numberIsArgument) {
            index = k - 1;
            w.removeFirst();
        }
    }
    Reader* r = m_simulator.reader(index);
    if (!r)
        return QStringLiteral("error: no reader %1\n").arg(index + 1);
    const QString arg = w.join(QLatin1Char(' '));
    if (cmd == QLatin1String("state"))
        return r->stateText() + QStringLiteral("\nok\n");
    if (cmd == QLatin1String("input")) {
        if (arg != QLatin1String("high") && arg != QLatin1String("low"))
            return QStringLiteral("error: input high|low\n");
        r->setExternalInput(arg == QLatin1String("high"));
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("line")) {
        const QString how = w.value(1).toLower();
        bool ok = true;
        const int ms = w.size() > 2 ? w[2].toInt(&ok) : 100;
        if (w.size() < 2 || w.size() > 3 || !ok || ms < 1 || ms > 60000 ||
            (how != QLatin1String("high") && how != QLatin1String("low") && how != QLatin1String("pulse")) ||
            (w.size() == 3 && how != QLatin1String("pulse")))
            return QStringLiteral("error: line [READER] LINE high|low|pulse [MS] (MS 1 to 60000)\n");
        QString error;
        if (!r->driveLine(w[0], how != QLatin1String("low"), &error))
            return QStringLiteral("error: %1\n").arg(error);
        if (how == QLatin1String("pulse")) {
            // The reader may be rebooted or gone when the pulse ends.
            QPointer<Reader> reader(r);
            const QString line = w[0];
            QTimer::singleShot(ms, this, [reader, line] {
                if (reader)
                    reader->driveLine(line, false);
            });
        }
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("trigger")) {
        r->cycles().trigger(QStringLiteral("ADMIN"));
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("steal")) {
        if (arg.isEmpty())
            return QStringLiteral("error: steal needs a station name\n");
        r->takeControl(arg);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("unsteal")) {
        r->dropControl();
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("refusecontrol")) {
        if (arg == QLatin1String("once"))
            r->refuseControl(ControlRefusal::Once);
        else if (arg == QLatin1String("always"))
            r->refuseControl(ControlRefusal::Always);
        else if (arg == QLatin1String("off"))
            r->refuseControl(ControlRefusal::None);
        else
            return QStringLiteral("error: refusecontrol [READER] once|always|off\n");
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("drop")) {
        r->dropConnections();
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("down") || cmd == QLatin1String("up")) {
        r->setListening(cmd == QLatin1String("up"));
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("reboot")) {
        r->reboot();
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("malform")) {
        r->setNextReplyFault(ReplyFault::Malformed);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("silent")) {
        r->setNextReplyFault(ReplyFault::Silent);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("refuse")) {
        r->setNextReplyFault(ReplyFault::Refused, 0, arg.trimmed());
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("hangup")) {
        r->setNextReplyFault(ReplyFault::Drop, 0, arg.trimmed());
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("slow")) {
        bool ok = false;
        const int ms = arg.toInt(&ok);
        if (!ok || ms < 0 || ms > 600000)
            return QStringLiteral("error: slow needs milliseconds\n");
        r->setNextReplyFault(ReplyFault::Slow, ms);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("scene")) {
        QString error;
        if (!r->setScene(QStringLiteral("text"), arg, &error))
            return QStringLiteral("error: %1\n").arg(error);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("sceneset")) {
        QString error;
        if (w.size() < 2)
            return QStringLiteral("error: sceneset [READER] KEY VALUE\n");
        if (!r->setScene(w[0], w.mid(1).join(QLatin1Char(' ')), &error))
            return QStringLiteral("error: %1\n").arg(error);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("fault")) {
        QString error;
        if (!r->setScene(QStringLiteral("fault"), arg, &error))
            return QStringLiteral("error: %1\n").arg(error);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("lamp")) {
        QString error;
        if (w.size() != 2)
            return QStringLiteral("error: lamp [READER] LIGHT PERCENT\n");
        if (!r->setLampOutput(w[0], w[1], &error))
            return QStringLiteral("error: %1\n").arg(error);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("rate")) {
        bool ok = false;
        const double rate = arg.toDouble(&ok);
        if (!ok || rate <= 0 || rate > CycleDriver::kMaxRate)
            return QStringLiteral("error: rate must be above 0 and at most %1\n").arg(CycleDriver::kMaxRate);
        r->cycles().setRate(rate);
        return QStringLiteral("ok\n");
    }
    if (cmd == QLatin1String("replay")) {
        if (arg != QLatin1String("on") && arg != QLatin1String("off"))
            return QStringLiteral("error: replay [READER] on|off\n");
        r->setReplay(arg == QLatin1String("on"));
        return QStringLiteral("ok\n");
    }
    return QStringLiteral("error: unknown admin command %1 (try help)\n").arg(cmd);
}

} // namespace vm::sim
