#pragma once

// A real FTP server for tests: pyftpdlib in a child process, on a free loopback port, with
// an anonymous user who may write into a temporary folder.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace vm::testing {

class FtpServer {
public:
    FtpServer();
    ~FtpServer();

    // Why the server cannot run here (no Python or no pyftpdlib); empty when it can.
    static QString unavailableReason();

    // Starts (or starts again, on the same port) and waits until it accepts connections.
    bool start();
    // Stops it; a transfer under way breaks off.
    void stop();

    quint16 port() const { return m_port; }
    QString host() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }
    // The folder the anonymous user sees as "/".
    QString root() const { return m_root.path(); }

    // A disk with this many bytes left (fewer as files are written, more as they are
    // deleted): a write past them stores what fits and aborts with "452". Negative: no limit.
    bool setFreeSpace(qint64 bytes);
    qint64 freeSpace() const;
    // Every STOR, DELE, RNFR and RNTO asked for, in order, as "STOR folder/name".
    QStringList journal() const;

private:
    QString journalPath() const;
    QString spacePath() const;

    QTemporaryDir m_root;
    QTemporaryDir m_script;
    QProcess m_process;
    quint16 m_port = 0;
};

} // namespace vm::testing
