// The reader's identity: its name, address, mask and gateway, by DHCP or static.
// Changes are kept (without SAVE) and take effect when the reader boots again.

#include "sim/identity.h"

#include "sim/catalogue.h"
#include "sim/logging.h"
#include "sim/parameterstore.h"
#include "sim/reader.h"

#include <algorithm>

namespace vm::sim {

namespace {

const QString kIp = QStringLiteral("IP");
const QString kDhcp = QStringLiteral("DHCP");

// A locally administered address made of the command port and the reader's own address, so
// that every simulated reader has one of its own.
QString defaultMac(const QHostAddress& address, quint16 port) {
    const quint32 a = address.toIPv4Address();
    return QString("02:%1:%2:%3:%4:%5")
        .arg((port >> 8) & 0xff, 2, 16, QLatin1Char('0'))
        .arg(port & 0xff, 2, 16, QLatin1Char('0'))
        .arg((a >> 16) & 0xff, 2, 16, QLatin1Char('0'))
        .arg((a >> 8) & 0xff, 2, 16, QLatin1Char('0'))
        .arg(a & 0xff, 2, 16, QLatin1Char('0'))
        .toUpper();
}

} // namespace

Identity::Identity(const ReaderConfig& config, QObject* parent)
    : QObject(parent)
    , m_name(config.name)
    , m_softwareVersion(config.softwareVersion)
    , m_level(firmwareLevelOf(config.softwareVersion))
    , m_mac(config.macAddress.isEmpty() ? defaultMac(config.address, config.commandPort) : config.macAddress)
    , m_address(config.address) {}

void Identity::rename(const QString& name) {
    if (name.isEmpty() || name == m_name)
        return;
    m_name = name;
    emit renamed(name);
}

QStringList Identity::communicationParameters() {
    return {kIp, kDhcp, QStringLiteral("DOMAIN"), QStringLiteral("TTY"), QStringLiteral("EIPENABLE")};
}

QHash<QString, QStringList> Identity::keptCommunication(const ParameterStore& store) {
    QHash<QString, QStringList> kept;
    for (const QString& name : communicationParameters()) {
        const QStringList f = store.fields(name);
        if (!f.isEmpty())
            kept.insert(name, f);
    }
    return kept;
}

QHostAddress Identity::leasedAddress() const {
    // The same unit is always given the same address, in a range no test reader starts in.
    const QStringList mac = m_mac.split(QLatin1Char(':'));
    const int high = mac.value(4).toInt(nullptr, 16);
    const int low = std::clamp(mac.value(5).toInt(nullptr, 16), 1, 254);
    return QHostAddress(QStringLiteral("127.250.%1.%2").arg(high).arg(low));
}

void Identity::boot(ParameterStore& store, const QHash<QString, QStringList>& kept, bool firstBoot) {
    for (auto it = kept.constBegin(); it != kept.constEnd(); ++it)
        if (store.fields(it.key()) != it.value())
            store.setFields(it.key(), it.value());
    QStringList ip = store.fields(kIp);
    if (ip.size() < 4)
        return;
    rename(ip[0]);
    QHostAddress address;
    if (store.fields(kDhcp).value(0) == QLatin1String("Y")) {
        address = leasedAddress();
    } else if (firstBoot) {
        // Installed at the address it was started on.
        address = m_address;
    } else {
        address = QHostAddress(ip[1]);
        if (address.protocol() != QAbstractSocket::IPv4Protocol || !address.isLoopback()) {
            // Only loopback addresses exist here; the reader stays reachable where it was.
            qCWarning(lcSim).noquote() << m_name << "cannot move to" << ip[1]
                                       << "(not a loopback address); stays on" << m_address.toString();
            return;
        }
    }
    m_address = address;
    if (ip[1] != address.toString()) {
        ip[1] = address.toString();
        store.setFields(kIp, ip);
    }
}

QStringList Identity::versionCommand(const Command& c) const {
    return c.ok({QStringLiteral("VERSION ") + m_softwareVersion});
}

QStringList Identity::nameCommand(const Command& c) const {
    return c.ok({QStringLiteral("NAME \"%1\"").arg(m_name)});
}

QStringList Identity::renameCommand(const Command& c, ParameterStore& store) {
    const ParameterSpec* ip = findParameter(kIp, m_level);
    QStringList f = store.fields(kIp);
    f[0] = stripQuotes(c.line.mid(c.words[0].size()).trimmed());
    const WriteResult r = store.write(*ip, f);
    if (!r.ok()) {
        ParameterSpec name = *ip;
        name.name = c.keyword;
        return c.refuse(r.code, refusalExplanation(name, r), r.text);
    }
    rename(f[0]); // NAME renames at once; IP keeps a new name for the next boot
    return c.ok();
}

QStringList Identity::factoryBlock(const QString& keyword, int lightChannels) const {
    QString serial = m_mac;
    serial.remove(QLatin1Char(':'));
    if (keyword == QLatin1String("SETTINGS_HARDWARE"))
        return {QStringLiteral("MODEL LXM2"),
                QStringLiteral("SENSOR 659x494 GREY8"),
                QStringLiteral("INTERNAL_LIGHT RED 625NM"),
                QStringLiteral("EXTERNAL_LIGHT_CHANNELS %1").arg(lightChannels),
                QStringLiteral(
                    "IO OPTO_IN1 OPTO_OUT1 OPTO_OUT2 OPTO_OUT3 GPIO_OUT1 GPIO_OUT2 GPIO_OUT3 GPIO_OUT4"),
                QStringLiteral("SERIAL RS232 115200")};
    if (keyword == QLatin1String("SETTINGS_CUSTOMER"))
        return {QStringLiteral("CUSTOMER STANDARD"), QStringLiteral("DEFAULT_PID NONE"),
                QStringLiteral("LOCKED_PARAMETERS NONE")};
    return {QStringLiteral("SERIAL_NUMBER LVX-%1").arg(serial), QStringLiteral("MAC %1").arg(m_mac),
            QStringLiteral("SOFTWARE %1").arg(m_softwareVersion),
            QStringLiteral("SOFTWARE_LEVEL %1").arg(m_level), QStringLiteral("MANUFACTURED 2021-03-14")};
}

} // namespace vm::sim
