#include "sim/simulator.h"

#include "sim/catalogue.h"
#include "sim/logging.h"

#include <QNetworkDatagram>

namespace vm::sim {

Simulator::Simulator(SimulatorConfig config, QObject* parent)
    : QObject(parent)
    , m_config(std::move(config)) {
    m_answerTimer.setInterval(kAnswerGapMs);
    connect(&m_answerTimer, &QTimer::timeout, this, &Simulator::sendAnswers);
}

Simulator::~Simulator() {
    stop();
}

bool Simulator::start(QString* error) {
    if (!m_config.logPath.isEmpty() && !m_log.isOpen() && !m_log.open(m_config.logPath, error))
        return false;
    m_discovery = std::make_unique<QUdpSocket>();
    // Bound to every address so that probes to the loopback broadcast arrive; answers go only to
    // loopback senders.
    if (!m_discovery->bind(QHostAddress::AnyIPv4, m_config.discoveryPort,
                           QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        if (error)
            *error = QStringLiteral("discovery port %1: %2")
                         .arg(m_config.discoveryPort)
                         .arg(m_discovery->errorString());
        m_discovery.reset();
        return false;
    }
    connect(m_discovery.get(), &QUdpSocket::readyRead, this, &Simulator::readProbes);
    for (const ReaderConfig& rc : std::as_const(m_config.readers)) {
        auto reader = std::make_unique<Reader>(rc, &m_log);
        if (!reader->start(error)) {
            stop();
            return false;
        }
        m_readers.push_back(std::move(reader));
    }
    return true;
}

void Simulator::stop() {
    m_answerTimer.stop();
    m_probes.clear();
    m_readers.clear();
    m_discovery.reset();
    m_answerSockets.clear();
}

quint16 Simulator::discoveryPort() const {
    return m_discovery ? m_discovery->localPort() : 0;
}

Reader* Simulator::reader(int index) const {
    return index >= 0 && index < int(m_readers.size()) ? m_readers[size_t(index)].get() : nullptr;
}

QList<Reader*> Simulator::readers() const {
    QList<Reader*> out;
    for (const auto& r : m_readers)
        out << r.get();
    return out;
}

QByteArray Simulator::discoveryAnswer(const Reader& reader) {
    QByteArray a("LUMIVEX READER 1\n");
    a += "name=" + reader.name().toUtf8() + '\n';
    a += "address=" + reader.address().toString().toUtf8() + '\n';
    a += "command=" + QByteArray::number(reader.commandPort()) + '\n';
    a += "data=" + QByteArray::number(reader.dataPort()) + '\n';
    a += "version=" + reader.softwareVersion().toUtf8() + '\n';
    a += "controller=" + reader.controller().toUtf8() + '\n';
    a += "mac=" + reader.macAddress().toLower().toUtf8() + '\n';
    if (!reader.serialDevice().isEmpty()) {
        a += "serial=" + reader.serialDevice().toUtf8() + '\n';
        a += "port=" + reader.serialPortName().toUtf8() + '\n';
    }
    return a;
}

QUdpSocket* Simulator::answerSocket(const Reader& reader) {
    const QHostAddress address = reader.address();
    if (address.isNull() || address == QHostAddress::AnyIPv4 || address == QHostAddress::Any)
        return m_discovery.get();
    auto& socket = m_answerSockets[address.toString()];
    if (!socket) {
        socket = std::make_unique<QUdpSocket>();
        if (!socket->bind(address, 0)) {
            socket.reset();
            m_answerSockets.erase(address.toString());
            return m_discovery.get();
        }
    }
    return socket.get();
}

void Simulator::readProbes() {
    while (m_discovery && m_discovery->hasPendingDatagrams()) {
        const QNetworkDatagram d = m_discovery->receiveDatagram(2048);
        const QHostAddress from = d.senderAddress();
        bool isV4 = false;
        const QHostAddress v4(from.toIPv4Address(&isV4));
        if (!isV4 || !v4.isLoopback())
            continue; // only ever answer on loopback
        if (d.data().trimmed() != kProbe)
            continue;
        m_probes.append({v4, quint16(d.senderPort()), 0});
    }
    if (!m_probes.isEmpty() && !m_answerTimer.isActive()) {
        sendAnswers(); // the first batch at once
        if (!m_probes.isEmpty())
            m_answerTimer.start();
    }
}

void Simulator::sendAnswers() {
    int budget = kAnswerBatch;
    while (budget > 0 && !m_probes.isEmpty()) {
        Probe& p = m_probes.first();
        while (budget > 0 && p.next < m_readers.size()) {
            const Reader& r = *m_readers[p.next++];
            if (!r.isRunning() || !r.isListening())
                continue;
            // Each answer leaves from its reader's own address, as from a device of its own:
            // the PC takes a reader's address from the answer's sender.
            answerSocket(r)->writeDatagram(discoveryAnswer(r), p.to, p.port);
            --budget;
        }
        if (p.next >= m_readers.size()) {
            const Probe done = m_probes.takeFirst();
            emit probeAnswered(done.to, done.port);
        }
    }
    if (m_probes.isEmpty())
        m_answerTimer.stop();
}

QString Simulator::versionFor(const QStringList& versions, const QStringList& levels, int k) {
    if (!versions.isEmpty())
        return versions.value(k - 1, versions.last());
    if (!levels.isEmpty())
        return softwareVersionForLevel(levels.value(k - 1, levels.last()).toInt());
    return softwareVersionForLevel(10);
}

} // namespace vm::sim
