#include "comm/ftpserver.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace vm::testing {

namespace {

constexpr int kStartMs = 15000;

// The server can be given a disk that fills (the free bytes in a file the test writes, none
// meaning no limit) and notes each store, delete and rename it is asked for in a journal.
const char kScript[] = R"(import errno, logging, os, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import DTPHandler, FTPHandler
from pyftpdlib.servers import FTPServer
root, journal, space = sys.argv[2], sys.argv[3], sys.argv[4]

def note(line):
    with open(journal, "a") as f:
        f.write(line + "\n")

def free():
    try:
        with open(space) as f:
            return int(f.read())
    except (OSError, ValueError):
        return -1

def set_free(n):
    with open(space, "w") as f:
        f.write(str(n))

class DiskFull(OSError):
    pass

class Disk:
    def __init__(self, f):
        self.f = f
    def write(self, data):
        left = free()
        if left >= 0:
            if len(data) > left:
                self.f.write(data[:left])
                set_free(0)
                raise DiskFull(errno.ENOSPC, os.strerror(errno.ENOSPC))
            set_free(left - len(data))
        return self.f.write(data)
    def __getattr__(self, name):
        return getattr(self.f, name)

class FS(AbstractedFS):
    def open(self, filename, mode):
        f = AbstractedFS.open(self, filename, mode)
        return Disk(f) if ("w" in mode or "a" in mode) else f
    def remove(self, path):
        size = os.path.getsize(path)
        AbstractedFS.remove(self, path)
        if free() >= 0:
            set_free(free() + size)

class DTP(DTPHandler):
    def handle_error(self):
        err = sys.exc_info()[1]
        inner = err.args[0] if err is not None and err.args else None
        if isinstance(err, DiskFull) or isinstance(inner, DiskFull):
            self._resp = ("452 Insufficient storage space; transfer aborted.", logging.warning)
            self.close()
        else:
            DTPHandler.handle_error(self)

class Handler(FTPHandler):
    dtp_handler = DTP
    abstracted_fs = FS
    def rel(self, path):
        return os.path.relpath(path, root).replace(os.sep, "/")
    def ftp_STOR(self, file, mode="w"):
        note("STOR " + self.rel(file))
        return FTPHandler.ftp_STOR(self, file, mode)
    def ftp_DELE(self, path):
        note("DELE " + self.rel(path))
        return FTPHandler.ftp_DELE(self, path)
    def ftp_RNFR(self, path):
        note("RNFR " + self.rel(path))
        return FTPHandler.ftp_RNFR(self, path)
    def ftp_RNTO(self, path):
        note("RNTO " + self.rel(path))
        return FTPHandler.ftp_RNTO(self, path)

authorizer = DummyAuthorizer()
authorizer.add_anonymous(root, perm="elradfmw")
Handler.authorizer = authorizer
server = FTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
server.serve_forever()
)";

// Debian's interpreter first: the one pyftpdlib is installed for.
QString python() {
    return QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                             : QStringLiteral("python3");
}

} // namespace

FtpServer::FtpServer() {
    // The server logs every command; only a failure to start is of interest.
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(QProcess::nullDevice());
}

FtpServer::~FtpServer() {
    stop();
}

QString FtpServer::unavailableReason() {
    QProcess probe;
    probe.start(python(), {QStringLiteral("-c"), QStringLiteral("import pyftpdlib")});
    if (!probe.waitForFinished(kStartMs) || probe.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("python3 could not run");
    if (probe.exitCode() != 0)
        return QStringLiteral("the python3 module pyftpdlib is missing (Debian package python3-pyftpdlib)");
    return {};
}

bool FtpServer::start() {
    if (m_port == 0) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, 0))
            return false;
        m_port = probe.serverPort();
    }
    const QString script = m_script.filePath(QStringLiteral("ftpserver.py"));
    QFile f(script);
    if (!f.exists() && (!f.open(QIODevice::WriteOnly) || f.write(kScript) < 0))
        return false;
    f.close();
    m_process.start(python(), {script, QString::number(m_port), m_root.path(), journalPath(), spacePath()});
    if (!m_process.waitForStarted(kStartMs))
        return false;
    // Listening once a connection is accepted.
    return QTest::qWaitFor(
               [this] {
                   if (m_process.state() != QProcess::Running)
                       return true;
                   QTcpSocket s;
                   s.connectToHost(QHostAddress::LocalHost, m_port);
                   return s.waitForConnected(500);
               },
               kStartMs) &&
           m_process.state() == QProcess::Running;
}

QString FtpServer::journalPath() const {
    return m_script.filePath(QStringLiteral("journal.txt"));
}

QString FtpServer::spacePath() const {
    return m_script.filePath(QStringLiteral("space.txt"));
}

bool FtpServer::setFreeSpace(qint64 bytes) {
    QFile f(spacePath());
    if (bytes < 0)
        return !f.exists() || f.remove();
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(QByteArray::number(bytes)) > 0;
}

qint64 FtpServer::freeSpace() const {
    QFile f(spacePath());
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 n = f.readAll().trimmed().toLongLong(&ok);
    return ok ? n : -1;
}

QStringList FtpServer::journal() const {
    QFile f(journalPath());
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void FtpServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kStartMs);
}

} // namespace vm::testing
