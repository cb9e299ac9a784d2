#pragma once

#include "sim/eventlog.h"
#include "sim/reader.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QUdpSocket>

#include <map>
#include <memory>
#include <vector>

namespace vm::sim {

struct SimulatorConfig {
    QList<ReaderConfig> readers;
    quint16 discoveryPort = 4370; // 0 picks a free port
    QString logPath;              // JSON lines of every command, reply, record and event
};

// Several simulated readers in one process, answering discovery from one UDP socket.
class Simulator : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kProbe = "LUMIVEX DISCOVER 1";
    // Answers to one probe go out this many at a time, kAnswerGapMs apart, so that the
    // asking PC's socket takes hundreds of them without dropping any.
    static constexpr int kAnswerBatch = 32;
    static constexpr int kAnswerGapMs = 2;

    explicit Simulator(SimulatorConfig config, QObject* parent = nullptr);
    ~Simulator() override;

    // Starts the discovery socket and every reader; false with `error` set when any fails.
    bool start(QString* error = nullptr);
    void stop();

    quint16 discoveryPort() const;
    int readerCount() const { return int(m_readers.size()); }
    Reader* reader(int index) const;
    QList<Reader*> readers() const;

    // The discovery answer of one reader.
    static QByteArray discoveryAnswer(const Reader& reader);

    // A software version for reader k (1-based) built from "--version"/"--level" lists.
    static QString versionFor(const QStringList& versions, const QStringList& levels, int k);

signals:
    void probeAnswered(const QHostAddress& to, quint16 port);

private:
    void readProbes();
    void sendAnswers();

    SimulatorConfig m_config;
    EventLog m_log;
    std::vector<std::unique_ptr<Reader>> m_readers;
    std::unique_ptr<QUdpSocket> m_discovery;
    std::map<QString, std::unique_ptr<QUdpSocket>> m_answerSockets; // one per reader address
    QUdpSocket* answerSocket(const Reader& reader);
    // Probes being answered: who asked, and the next reader to answer.
    struct Probe {
        QHostAddress to;
        quint16 port = 0;
        size_t next = 0;
    };
    QList<Probe> m_probes;
    QTimer m_answerTimer;
};

} // namespace vm::sim
