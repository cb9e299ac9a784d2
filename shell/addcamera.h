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

namespace vm::display {
class FindBox;
}

namespace vm::shell {

// "Add Camera Button": pick a discovered reader, a PC serial port, or type a static
// address. The choice is raised as AddCamera(name).
//
// A plant's network answers with hundreds of readers: the list keeps them sorted as
// people read names (Line4 before Line10; the static address entry first, then the serial
// ports, the readers, and readers whose names cannot be used), and the find box above it
// narrows the list to the entries containing what is typed. Up, Down, Page Up and Page
// Down in the find box move through what is left; Enter adds the chosen one.
class AddCamera : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* StaticAddressEntry = "<Static IP Address>";
    // A row of a reader whose name cannot be used holds the address it is added by.
    static constexpr int AddressRole = Qt::UserRole + 1;
    // What an entry sorts by.
    static constexpr int SortKeyRole = Qt::UserRole + 2;
    // "192.0.2.7 — name not usable: contains '/'"
    static QString refusedReaderText(const vm::link::DiscoveryAnswer& answer);

    explicit AddCamera(QWidget* parent = nullptr);
    ~AddCamera() override;

    QListWidget* cameraList() const { return m_cameraList; }
    QLineEdit* ipText() const { return m_txtIP; }
    QLineEdit* findText() const;

    void accept() override;

signals:
    void AddCameraChosen(const QString& name);

private:
    void fill();
    void selectionChanged();
    void deviceDiscovered(vm::link::Device* device);
    void listRefusedReaders();
    void itemDoubleClicked(QListWidgetItem* item);
    // Puts an entry at its sorted place (after the static address entry) and under the
    // filter; returns it.
    QListWidgetItem* insertSorted(const QString& text, const QString& sortKey);
    void filterChanged();

    vm::link::Coordinator* m_coord = nullptr;
    QLabel* m_label1 = nullptr;
    vm::display::FindBox* m_find = nullptr;
    QListWidget* m_cameraList = nullptr;
    QLabel* m_lblIP = nullptr;
    QLineEdit* m_txtIP = nullptr;
    QPushButton* m_ok = nullptr;
    QPushButton* m_cancel = nullptr;
};

} // namespace vm::shell
