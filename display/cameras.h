#pragma once

#include <QList>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>

namespace vm::link {
class Coordinator;
class Device;
} // namespace vm::link

namespace vm::display {

// The network overview: every reader that discovery found, with its name,
// address, software version, controlling station and whether it still answers.
// It finds the readers by itself through a coordinator of its own.
class Cameras : public QTableWidget {
    Q_OBJECT
public:
    enum Column { NameColumn, AddressColumn, VersionColumn, ControllerColumn, ReachableColumn, ColumnCount };

    explicit Cameras(QWidget* parent = nullptr);
    ~Cameras() override;

    // Width the overview needs to show its columns, in twips.
    int ContentWidth() const;
    // Re-reads every reader's details now (also done on every discovery change and
    // once per discovery interval).
    void Refresh();

signals:
    // The needed width changed; the hosting window may resize.
    void contentResized();

private:
    void addDevice(vm::link::Device* device);

    vm::link::Coordinator* m_coord;
    QList<QPointer<vm::link::Device>> m_devices;
    QTimer m_refreshTimer;
    int m_lastWidth = 0;
};

} // namespace vm::display
