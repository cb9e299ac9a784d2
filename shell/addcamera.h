#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vm::link {
class Coordinator;
class Device;
struct DiscoveryAnswer;
} // namespace vm::link

namespace vm::shell {

// "Add Camera Button": pick a discovered reader, a PC serial port, or type a static
// address. The choice is raised as AddCamera(name).
class AddCamera : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* StaticAddressEntry = "<Static IP Address>";
    // A row of a reader whose name cannot be used holds the address it is added by.
    static constexpr int AddressRole = Qt::UserRole + 1;
    // "192.0.2.7 — name not usable: contains '/'"
    static QString refusedReaderText(const vm::link::DiscoveryAnswer& answer);

    explicit AddCamera(QWidget* parent = nullptr);
    ~AddCamera() override;

    QListWidget* cameraList() const { return m_cameraList; }
    QLineEdit* ipText() const { return m_txtIP; }

    void accept() override;

signals:
    void AddCameraChosen(const QString& name);

private:
    void fill();
    void selectionChanged();
    void deviceDiscovered(vm::link::Device* device);
    void listRefusedReaders();
    void itemDoubleClicked(QListWidgetItem* item);

    vm::link::Coordinator* m_coord = nullptr;
    QLabel* m_label1 = nullptr;
    QListWidget* m_cameraList = nullptr;
    QLabel* m_lblIP = nullptr;
    QLineEdit* m_txtIP = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace vm::shell
