#include "tools/dlgselectfolder.h"

#include "resources/strings.h"

#include <QComboBox>
#include <QDir>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QVBoxLayout>

namespace vm::tools {

namespace {
QString driveOf(const QString& path) {
    const QString clean = QDir::cleanPath(QDir(path).absolutePath());
    for (const QFileInfo& drive : QDir::drives()) {
        const QString root = drive.absoluteFilePath();
        if (clean.startsWith(root, Qt::CaseInsensitive))
            return root;
    }
    return QDir::rootPath();
}
} // namespace

dlgSelectFolder::dlgSelectFolder(QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("dlgSelectFolder"));
    setWindowTitle(vm::res::Str(818));

    m_drives = new QComboBox(this);
    m_drives->setObjectName(QStringLiteral("drives"));
    for (const QFileInfo& drive : QDir::drives())
        m_drives->addItem(QDir::toNativeSeparators(drive.absoluteFilePath()), drive.absoluteFilePath());

    m_model = new QFileSystemModel(this);
    m_model->setFilter(QDir::AllDirs | QDir::NoDot | QDir::Drives);
    m_model->setRootPath(QString());

    m_dirs = new QListView(this);
    m_dirs->setObjectName(QStringLiteral("dirs"));
    m_dirs->setModel(m_model);

    auto* drivesLabel = new QLabel(vm::res::Str(20274), this);
    drivesLabel->setBuddy(m_drives);
    auto* dirsLabel = new QLabel(vm::res::Str(20275), this);
    dirsLabel->setBuddy(m_dirs);

    m_ok = new QPushButton(vm::res::Str(51), this);
    m_ok->setObjectName(QStringLiteral("btnOK"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(vm::res::Str(52), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(drivesLabel);
    layout->addWidget(m_drives);
    layout->addWidget(dirsLabel);
    layout->addWidget(m_dirs, 1);
    layout->addLayout(buttons);
    resize(360, 420);

    connect(m_drives, &QComboBox::currentIndexChanged, this, &dlgSelectFolder::driveChosen);
    connect(m_dirs, &QListView::activated, this, &dlgSelectFolder::directoryActivated);
    connect(m_dirs, &QListView::clicked, this, &dlgSelectFolder::directoryClicked);
    // The arrow keys choose a folder as a click does.
    connect(m_dirs->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!m_updating)
                    directoryClicked(current);
            });
    // Enter opens the highlighted folder, as a double click does, and keeps the picker open;
    // otherwise the key would reach the OK button and a keyboard could never walk down a level.
    m_dirs->installEventFilter(this);
    connect(m_ok, &QPushButton::clicked, this, &dlgSelectFolder::accept);
    connect(m_cancel, &QPushButton::clicked, this, &dlgSelectFolder::reject);
}

void dlgSelectFolder::SetInitialFolder(const QString& path) {
    m_initialFolder = path;
}

void dlgSelectFolder::showEvent(QShowEvent* event) {
    QString start = m_initialFolder;
    if (start.isEmpty() || !QDir(start).exists())
        start = QDir::currentPath();
    moveTo(start);
    QDialog::showEvent(event);
}

void dlgSelectFolder::moveTo(const QString& path) {
    const QString absolute = QDir::cleanPath(QDir(path).absolutePath());
    m_folder = absolute;
    m_updating = true;
    const int driveIndex = m_drives->findData(driveOf(absolute), Qt::UserRole, Qt::MatchFixedString);
    if (driveIndex >= 0)
        m_drives->setCurrentIndex(driveIndex);
    m_dirs->setRootIndex(m_model->index(absolute));
    // Nothing highlighted in the new level: the folder just opened stays the chosen one, and the
    // next arrow key starts from the top of the list.
    m_dirs->selectionModel()->clearCurrentIndex();
    m_updating = false;
    m_dirs->setAccessibleName(QDir::toNativeSeparators(absolute));
}

void dlgSelectFolder::driveChosen(int index) {
    if (m_updating || index < 0)
        return;
    moveTo(m_drives->itemData(index).toString());
}

void dlgSelectFolder::directoryClicked(const QModelIndex& index) {
    if (index.isValid())
        m_folder = QDir::cleanPath(m_model->filePath(index));
}

void dlgSelectFolder::directoryActivated(const QModelIndex& index) {
    if (index.isValid())
        moveTo(m_model->filePath(index));
}

bool dlgSelectFolder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_dirs && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && m_dirs->currentIndex().isValid()) {
            directoryActivated(m_dirs->currentIndex());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void dlgSelectFolder::accept() {
    m_folder = QDir::toNativeSeparators(m_folder);
    QDialog::accept();
}

void dlgSelectFolder::reject() {
    m_folder.clear();
    QDialog::reject();
}

} // namespace vm::tools
