#pragma once

#include "app/windowregistry.h"
#include "settings/settingswindow.h"

#include <QList>

#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QRadioButton;

namespace vm::link {
class Coordinator;
}

namespace vm::io {

// The reader's network identity, its serial port and Ethernet/IP, and the serial settings
// this PC uses on each of its own serial ports.
class dlgCommSetup final : public vm::settings::SettingsWindow {
    Q_OBJECT
public:
    static constexpr const char* WindowName = "dlgCommSetup";
    // The longest camera name the reader takes.
    static constexpr int kLongestCameraName = 15;

    explicit dlgCommSetup(QWidget* parent = nullptr);
    ~dlgCommSetup() override;
    static vm::app::WindowEntry windowEntry();

    // The checks OK makes: "" when the text passes, else the message.
    static QString cameraNameError(const QString& name);
    static bool validDomain(const QString& domain);
    static bool validAddress(const QString& address);

private:
    struct PortRow {
        QString name;
        quint32 baudRate = 115200;
        quint32 parity = 0;
        quint32 byteSize = 8;
        quint32 stopBits = 0;
        quint32 flowControl = 0;
        bool modified = false;
    };

    // An address box, the IP field it shows and the message when it is not an address.
    struct AddressField {
        QLineEdit* box;
        int field;
        const char* message;
    };

    QStringList parametersToLoad() const override;
    void loadParameters() override;
    void refresh() override;
    void applyControlState(bool control) override;
    bool writeControls() override;
    vm::settings::Validation validate() override;
    // Control is read once, when the dialog opens: the reader's frames follow that.
    bool inputsAllowed() const override { return m_readerFrames; }
    bool okAllowed() const override;
    void okPressed() override;
    // The controls are put into the set only at OK: what waits is what differs from the reader.
    QStringList unsentChanges() const override;

    // A reader field as the dialog's controls show it.
    struct Shown {
        QString parameter;
        int field;
        QString value;
    };
    QList<Shown> shownFields() const;
    QList<AddressField> addressFields() const;
    void loadPorts();
    void portSelected(int index);
    void pcListChanged();
    void readerParityChanged(int index);
    void setField(const QString& parameter, int field, const QString& value);

    std::unique_ptr<vm::link::Coordinator> m_coordinator;
    std::vector<PortRow> m_ports;
    bool m_readerFrames = false;
    bool m_portLocked = false;

    QGroupBox* m_frameTcp = nullptr;
    QGroupBox* m_frameCamSerial = nullptr;
    QGroupBox* m_framePcSerial = nullptr;
    QGroupBox* m_frameMisc = nullptr;
    QLineEdit* m_camName = nullptr;
    QLineEdit* m_mac = nullptr;
    QRadioButton* m_useDhcp = nullptr;
    QRadioButton* m_useStatic = nullptr;
    QLineEdit* m_domain = nullptr;
    QLineEdit* m_ip = nullptr;
    QLineEdit* m_subnet = nullptr;
    QLineEdit* m_gateway = nullptr;
    QComboBox* m_baudCam = nullptr;
    QComboBox* m_parityCam = nullptr;
    QComboBox* m_dataBitsCam = nullptr;
    QComboBox* m_stopBitsCam = nullptr;
    QComboBox* m_flowCam = nullptr;
    QComboBox* m_ports_ = nullptr;
    QComboBox* m_baud = nullptr;
    QComboBox* m_parity = nullptr;
    QComboBox* m_dataBits = nullptr;
    QComboBox* m_stopBits = nullptr;
    QComboBox* m_flow = nullptr;
    QCheckBox* m_eip = nullptr;
};

} // namespace vm::io
