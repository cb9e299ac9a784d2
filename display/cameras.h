#pragma once

#include <QHash>
#include <QList>
#include <QPointer>
#include <QTableWidget>
#include <QTimer>

namespace vm::link {
class Coordinator;
class Device;
} // namespace vm::link

namespace vm::display {

// The text that sorts as people read names and addresses: case folded, each run of
// digits padded to ten places, so that Line4 sorts before Line10 and 127.0.0.9 before
// 127.0.0.10.
QString naturalSortKey(const QString& text);

// The network overview: every reader that discovery found, with its name,
// address, software version, controlling station and whether it still answers.
// It finds the readers by itself through a coordinator of its own.
//
// A plant's network holds hundreds of readers: the rows are sorted by the column
// whose header was clicked (names and addresses by their numbers: Line4 before
// Line10), a filter narrows them to the readers whose texts contain a word, and the
// answers of a discovery burst are gathered into one refresh instead of one per reader.
class Cameras : public QTableWidget {
    Q_OBJECT
public:
    enum Column { NameColumn, AddressColumn, VersionColumn, ControllerColumn, ReachableColumn, ColumnCount };
    // The text a cell sorts by (numbers padded so that they sort by their value).
    static constexpr int SortKeyRole = Qt::UserRole + 1;
    // Discovery answers arriving within this many ms are shown in one refresh.
    static constexpr int kGatherMs = 100;

    explicit Cameras(QWidget* parent = nullptr);
    ~Cameras() override;

    // Width the overview needs to show its columns, in twips.
    int ContentWidth() const;
    // Re-reads every reader's details now (also done on every discovery change and
    // once per discovery interval).
    void Refresh();

    // Shows only the readers whose name, address, software or controlling station
    // contains the text (case ignored); an empty text shows every reader.
    void setFilterText(const QString& text);
    QString filterText() const { return m_filter; }
    int shownCount() const { return m_shown; }

signals:
    // The needed width changed; the hosting window may resize.
    void contentResized();
    // The number of readers listed or shown by the filter changed.
    void countsChanged(int shown, int total);

private:
    void addDevice(vm::link::Device* device);
    // A refresh soon, once, for however many discovery events come meanwhile.
    void scheduleRefresh();
    void applyFilter();
    void fitColumns();

    vm::link::Coordinator* m_coord;
    QList<QPointer<vm::link::Device>> m_devices;
    // The name cell of each reader's row, by the reader's device or (a reader whose name
    // cannot be used) by its address; rows move when sorted, the cells go with them.
    QHash<const vm::link::Device*, QTableWidgetItem*> m_deviceRows;
    QHash<QString, QTableWidgetItem*> m_refusedRows;
    QTimer m_refreshTimer;
    QTimer m_gatherTimer;
    QString m_filter;
    int m_shown = 0;
    int m_lastTotal = -1;
    int m_lastWidth = 0;
};

} // namespace vm::display
