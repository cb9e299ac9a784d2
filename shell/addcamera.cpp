#include "shell/addcamera.h"

#include "app/prompts.h"
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
    connect(m_ok, &QPushButton::clicked, this, &AddCamera::accept);
    connect(m_cancel, &QPushButton::clicked, this, &AddCamera::reject);

    fill();
}

AddCamera::~AddCamera() = default;

void AddCamera::fill() {
    m_cameraList->clear();
    m_cameraList->addItem(QString::fromLatin1(StaticAddressEntry));
    if (m_coord->SerialPortCount() > 0)
        m_cameraList->addItems(m_coord->SerialPortNames());
    for (const vm::link::Device* device : m_coord->Devices())
        m_cameraList->addItem(device->Name());
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
        m_cameraList->addItem(device->Name());
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
            row = new QListWidgetItem(m_cameraList);
            row->setData(AddressRole, address);
        }
        row->setText(refusedReaderText(answer));
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
