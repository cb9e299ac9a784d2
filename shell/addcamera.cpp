#include "shell/addcamera.h"

#include "app/prompts.h"
#include "display/cameras.h"
#include "display/findbox.h"
#include "link/coordinator.h"
#include "link/device.h"
#include "link/protocol.h"
#include "resources/strings.h"
#include "shell/readerrules.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::shell {

AddCamera::AddCamera(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("AddCamera"));
    setWindowTitle(vm::res::Str(20174));
    setModal(true);

    m_coord = new vm::link::Coordinator(this);

    m_label1 = new QLabel(vm::res::Str(20175), this);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_find = new vm::display::FindBox(vm::res::Str(20380), vm::res::Str(20381), vm::res::Str(20382),
                                      vm::res::Str(20393), this);
    m_find->label()->setObjectName(QStringLiteral("lblFind"));
    m_find->edit()->setObjectName(QStringLiteral("txtFind"));
    m_cameraList = new QListWidget(this);
    m_cameraList->setObjectName(QStringLiteral("CameraList"));
    m_label1->setBuddy(m_cameraList);
    // A list takes no name from its label for assistive tools: it is given the label's words.
    m_cameraList->setAccessibleName(vm::res::Str(20175).remove(QLatin1Char(':')));
    m_lblIP = new QLabel(vm::res::Str(20176), this);
    m_lblIP->setObjectName(QStringLiteral("lblIP"));
    m_txtIP = new QLineEdit(this);
    m_txtIP->setObjectName(QStringLiteral("txtIP"));
    m_lblIP->setBuddy(m_txtIP);
    m_ok = new QPushButton(vm::res::Str(51), this);
    m_ok->setObjectName(QStringLiteral("OK"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(vm::res::Str(52), this);
    m_cancel->setObjectName(QStringLiteral("Cancel"));

    auto* ipRow = new QHBoxLayout;
    ipRow->addWidget(m_lblIP);
    ipRow->addWidget(m_txtIP, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label1);
    layout->addWidget(m_find);
    layout->addWidget(m_cameraList, 1);
    layout->addLayout(ipRow);
    layout->addLayout(buttons);
    resize(340, 360);

    connect(m_cameraList, &QListWidget::currentRowChanged, this, &AddCamera::selectionChanged);
    // Assistive tools select an entry without making it the current one: the choice is the
    // selected entry all the same.
    connect(m_cameraList, &QListWidget::itemSelectionChanged, this, [this] {
        const QList<QListWidgetItem*> selected = m_cameraList->selectedItems();
        if (!selected.isEmpty() && m_cameraList->currentItem() != selected.first())
            m_cameraList->setCurrentItem(selected.first());
    });
    connect(m_cameraList, &QListWidget::itemDoubleClicked, this, &AddCamera::itemDoubleClicked);
    connect(m_coord, &vm::link::Coordinator::OnDeviceDiscovered, this, &AddCamera::deviceDiscovered);
    connect(m_coord, &vm::link::Coordinator::OnRefusedReadersChanged, this, &AddCamera::listRefusedReaders);
    connect(m_find, &vm::display::FindBox::wordChanged, this, &AddCamera::filterChanged);
    m_find->setList(m_cameraList);
    connect(m_ok, &QPushButton::clicked, this, &AddCamera::accept);
    connect(m_cancel, &QPushButton::clicked, this, &AddCamera::reject);

    fill();
}

AddCamera::~AddCamera() = default;

QLineEdit* AddCamera::findText() const {
    return m_find->edit();
}

void AddCamera::fill() {
    m_cameraList->clear();
    m_cameraList->addItem(QString::fromLatin1(StaticAddressEntry));
    if (m_coord->SerialPortCount() > 0)
        for (const QString& port : m_coord->SerialPortNames())
            insertSorted(port, QLatin1Char('1') + vm::display::naturalSortKey(port));
    for (vm::link::Device* device : m_coord->Devices())
        deviceDiscovered(device);
    listRefusedReaders();
    m_cameraList->setCurrentRow(0);
    selectionChanged();
}

void AddCamera::selectionChanged() {
    const bool staticAddress = m_cameraList->currentRow() == 0;
    m_txtIP->setEnabled(staticAddress);
    m_lblIP->setEnabled(staticAddress);
}

void AddCamera::deviceDiscovered(vm::link::Device* device) {
    if (device && m_cameraList->findItems(device->Name(), Qt::MatchExactly).isEmpty())
        insertSorted(device->Name(), QLatin1Char('2') + vm::display::naturalSortKey(device->Name()));
}

QListWidgetItem* AddCamera::insertSorted(const QString& text, const QString& sortKey) {
    // Rows 1 and on are in key order: the place is found by halving.
    int low = 1;
    int high = m_cameraList->count();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (m_cameraList->item(middle)->data(SortKeyRole).toString() < sortKey)
            low = middle + 1;
        else
            high = middle;
    }
    auto* row = new QListWidgetItem(text);
    row->setData(SortKeyRole, sortKey);
    m_cameraList->insertItem(low, row);
    const QString word = m_find->word();
    row->setHidden(!vm::display::FindBox::matches(text, word));
    // A match found while the static address entry is chosen becomes the choice.
    if (!row->isHidden() && !word.isEmpty() && m_cameraList->currentRow() == 0)
        m_cameraList->setCurrentItem(row);
    return row;
}

void AddCamera::filterChanged() {
    const QString word = m_find->word();
    QListWidgetItem* firstMatch = nullptr;
    // The static address entry stays: a reader discovery does not find is typed below.
    for (int i = 1; i < m_cameraList->count(); ++i) {
        QListWidgetItem* row = m_cameraList->item(i);
        const bool match = vm::display::FindBox::matches(row->text(), word);
        row->setHidden(!match);
        if (match && !firstMatch)
            firstMatch = row;
    }
    QListWidgetItem* current = m_cameraList->currentItem();
    if (word.isEmpty()) {
        if (current)
            m_cameraList->scrollToItem(current);
        return;
    }
    if (!current || current->isHidden() || m_cameraList->currentRow() == 0)
        m_cameraList->setCurrentRow(firstMatch ? m_cameraList->row(firstMatch) : 0);
    if (m_cameraList->currentItem())
        m_cameraList->scrollToItem(m_cameraList->currentItem());
}

QString AddCamera::refusedReaderText(const vm::link::DiscoveryAnswer& answer) {
    return tr("%1 \u2014 name not usable: %2").arg(answer.address.toString(), answer.nameProblem);
}

void AddCamera::listRefusedReaders() {
    // Such a reader is offered by its address, the one way the program can reach it; a row
    // stays when the reader falls silent, as the names of discovered readers do.
    for (const vm::link::DiscoveryAnswer& answer : m_coord->RefusedReaders()) {
        const QString address = answer.address.toString();
        QListWidgetItem* row = nullptr;
        for (int i = 1; i < m_cameraList->count() && !row; ++i)
            if (m_cameraList->item(i)->data(AddressRole).toString() == address)
                row = m_cameraList->item(i);
        if (!row) {
            row = insertSorted(refusedReaderText(answer),
                               QLatin1Char('3') + vm::display::naturalSortKey(address));
            row->setData(AddressRole, address);
        }
        row->setText(refusedReaderText(answer));
        row->setHidden(!vm::display::FindBox::matches(row->text(), m_find->word()));
        row->setToolTip(tr("The reader at %1 calls itself \"%2\", a name Velmarrow cannot use (%3). "
                           "It is added by its address.")
                            .arg(address, vm::link::printable(answer.name, vm::link::kMaxReaderNameLength),
                                 answer.nameProblem));
    }
}

void AddCamera::itemDoubleClicked(QListWidgetItem* item) {
    if (item)
        accept();
}

void AddCamera::accept() {
    QString name;
    if (m_cameraList->currentRow() <= 0) {
        name = m_txtIP->text().trimmed();
        if (!IsValidIPAddress(name)) {
            vm::app::showMessage(this, QStringLiteral("Invalid IP address!"), vm::app::PromptButtons::Ok,
                                 vm::app::PromptIcon::Critical, QStringLiteral("IP Error"));
            return;
        }
    } else {
        const QListWidgetItem* row = m_cameraList->currentItem();
        const QString address = row->data(AddressRole).toString();
        name = address.isEmpty() ? row->text() : address;
    }
    emit AddCameraChosen(name);
    QDialog::accept();
}

} // namespace vm::shell
