#include "comm/ftpserver.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace vm::testing {

namespace {

constexpr int kStartMs = 15000;

const char kScript[] = R"(import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
authorizer = DummyAuthorizer()
authorizer.add_anonymous(sys.argv[2], perm="elradfmw")
FTPHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", int(sys.argv[1])), FTPHandler)
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
    m_process.start(python(), {script, QString::number(m_port), m_root.path()});
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

void FtpServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.kill();
    m_process.waitForFinished(kStartMs);
}

} // namespace vm::testing
