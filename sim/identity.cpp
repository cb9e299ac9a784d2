// The reader's network identity: its name, address, mask and gateway, by DHCP or static.
// Changes are kept (without SAVE) and take effect when the reader boots again.

#include "sim/logging.h"
#include "sim/reader.h"

namespace vm::sim {

namespace {

const QString kIp = QStringLiteral("IP");
const QString kDhcp = QStringLiteral("DHCP");

} // namespace

QStringList Reader::communicationParameters() {
    return {kIp, kDhcp, QStringLiteral("DOMAIN"), QStringLiteral("TTY"), QStringLiteral("EIPENABLE")};
}

QHash<QString, QStringList> Reader::keptCommunication() const {
    QHash<QString, QStringList> kept;
    for (const QString& name : communicationParameters()) {
        const QStringList f = m_store->fields(name);
        if (!f.isEmpty())
            kept.insert(name, f);
    }
    return kept;
}

QHostAddress Reader::leasedAddress() const {
    // The same unit is always given the same address, in a range no test reader starts in.
    const QStringList mac = m_mac.split(QLatin1Char(':'));
    const int high = mac.value(4).toInt(nullptr, 16);
    const int low = std::clamp(mac.value(5).toInt(nullptr, 16), 1, 254);
    return QHostAddress(QStringLiteral("127.250.%1.%2").arg(high).arg(low));
}

void Reader::bootIdentity(const QHash<QString, QStringList>& kept, bool firstBoot) {
    for (auto it = kept.constBegin(); it != kept.constEnd(); ++it)
        if (m_store->fields(it.key()) != it.value())
            m_store->setFields(it.key(), it.value());
    QStringList ip = m_store->fields(kIp);
    if (ip.size() < 4)
        return;
    takeName(ip[0]);
    QHostAddress address;
    if (m_store->fields(kDhcp).value(0) == QLatin1String("Y")) {
        address = leasedAddress();
    } else if (firstBoot) {
        // Installed at the address it was started on.
        address = m_config.address;
    } else {
        address = QHostAddress(ip[1]);
        if (address.protocol() != QAbstractSocket::IPv4Protocol || !address.isLoopback()) {
            // Only loopback addresses exist here; the reader stays reachable where it was.
            qCWarning(lcSim).noquote() << m_name << "cannot move to" << ip[1]
                                       << "(not a loopback address); stays on" << m_config.address.toString();
            return;
        }
    }
    m_config.address = address;
    if (ip[1] != address.toString()) {
        ip[1] = address.toString();
        m_store->setFields(kIp, ip);
    }
}

} // namespace vm::sim
