#pragma once

#include "sim/command.h"

#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

namespace vm::sim {

class ParameterStore;
struct ReaderConfig;

// The unit a reader is: its name, software version and firmware level, MAC address and
// network address. The name and address follow the IP and DHCP settings when the reader
// boots (changes to them are kept without SAVE and take effect at the next boot); NAME
// renames it at once. Answers the commands that ask who the reader is.
class Identity : public QObject {
    Q_OBJECT
public:
    explicit Identity(const ReaderConfig& config, QObject* parent = nullptr);

    QString name() const { return m_name; }
    QString softwareVersion() const { return m_softwareVersion; }
    int level() const { return m_level; }
    QString macAddress() const { return m_mac; }
    QHostAddress address() const { return m_address; }
    // The address DHCP gives this unit.
    QHostAddress leasedAddress() const;

    // Answers to `name` from now on and says so (renamed); an empty name or its own changes nothing.
    void rename(const QString& name);
    // Takes on the name its flash holds as it powers up, before anyone can be told.
    void restoreName(const QString& name) { m_name = name; }

    // The communication settings that a reboot keeps even when they were not saved.
    static QStringList communicationParameters();
    static QHash<QString, QStringList> keptCommunication(const ParameterStore& store);
    // Takes on the name and address the settings give (the address it was started on at the
    // first boot, unless DHCP leases it one).
    void boot(ParameterStore& store, const QHash<QString, QStringList>& kept, bool firstBoot);

    // VERSION, and NAME asked or written (through the IP setting, which keeps it).
    QStringList versionCommand(const Command& c) const;
    QStringList nameCommand(const Command& c) const;
    QStringList renameCommand(const Command& c, ParameterStore& store);
    // The factory blocks of SETTINGS_HARDWARE, SETTINGS_CUSTOMER and SETTINGS_MANUFACTURING.
    QStringList factoryBlock(const QString& keyword, int lightChannels) const;

signals:
    void renamed(const QString& name);

private:
    QString m_name;
    QString m_softwareVersion;
    int m_level = 0;
    QString m_mac;
    QHostAddress m_address;
};

} // namespace vm::sim
