#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;
class QTcpServer;

namespace vm::sim {

class Simulator;

// The operator's handle on a running simulator: text commands on a loopback TCP port and/or the
// program's standard input. `help` lists them.
class AdminConsole : public QObject {
    Q_OBJECT
public:
    explicit AdminConsole(Simulator& simulator, QObject* parent = nullptr);
    ~AdminConsole() override;

    bool listen(quint16 port, QString* error);
    quint16 port() const;
    void readStandardInput();

    // Runs one admin command and answers its text (lines ended by "\n", the last one "ok" or
    // "error: ...").
    QString execute(const QString& line);

    static QString helpText();

signals:
    void quitRequested();

private:
    // One admin verb, its help and what carries it out (adminconsole.cpp).
    struct Verb;
    static const QList<Verb>& verbs();

    Simulator& m_simulator;
    std::unique_ptr<QTcpServer> m_server;
    std::unique_ptr<QSocketNotifier> m_stdin;
    QByteArray m_stdinBuffer;
};

} // namespace vm::sim
