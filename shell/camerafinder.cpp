#include "shell/camerafinder.h"

#include "display/cameras.h"
#include "shell/cameratoolbar.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace vm::shell {

namespace {
constexpr int kCaptionRole = Qt::UserRole + 1;
}

CameraFinder::CameraFinder(QWidget* parent)
    : QFrame(parent, Qt::Popup) {
    setObjectName(QStringLiteral("CameraFinder"));
    setAccessibleName(tr("Find a saved camera"));
    setFrameShape(QFrame::StyledPanel);
    auto* label = new QLabel(tr("&Find:"), this);
    m_find = new QLineEdit(this);
    m_find->setObjectName(QStringLiteral("txtFindCamera"));
    m_find->setAccessibleName(tr("Find a saved camera"));
    m_find->setPlaceholderText(tr("Type part of a name"));
    m_find->setClearButtonEnabled(true);
    label->setBuddy(m_find);
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstCameras"));
    m_list->setAccessibleName(tr("Saved cameras"));
    auto* findRow = new QHBoxLayout;
    findRow->addWidget(label);
    findRow->addWidget(m_find, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(findRow);
    layout->addWidget(m_list, 1);
    resize(260, 320);

    connect(m_find, &QLineEdit::textChanged, this, &CameraFinder::filterChanged);
    connect(m_find, &QLineEdit::returnPressed, this, [this] { choose(m_list->currentItem()); });
    connect(m_list, &QListWidget::itemActivated, this, &CameraFinder::choose);
    m_find->installEventFilter(this);
    setFocusProxy(m_find);
}

void CameraFinder::setCameras(const QList<QAction*>& cameras) {
    QList<QPair<QString, QAction*>> sorted;
    for (QAction* action : cameras)
        sorted.append({vm::display::naturalSortKey(CameraToolbar::caption(action)), action});
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    m_find->blockSignals(true);
    m_find->clear();
    m_find->blockSignals(false);
    m_list->clear();
    for (const auto& [key, action] : sorted) {
        auto* row = new QListWidgetItem(action->icon(), CameraToolbar::caption(action), m_list);
        row->setData(kCaptionRole, CameraToolbar::caption(action));
        row->setToolTip(action->toolTip());
        // A camera whose button cannot be pressed (its reader is not reachable) cannot be
        // chosen here either.
        if (!action->isEnabled())
            row->setFlags(row->flags() & ~Qt::ItemIsEnabled);
        if (action->isChecked()) {
            QFont bold = row->font();
            bold.setBold(true);
            row->setFont(bold);
            m_list->setCurrentItem(row);
        }
    }
    if (!m_list->currentItem() && m_list->count() > 0)
        m_list->setCurrentRow(0);
}

void CameraFinder::filterChanged() {
    const QString word = m_find->text().trimmed();
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* row = m_list->item(i);
        const bool match = word.isEmpty() || row->text().contains(word, Qt::CaseInsensitive);
        row->setHidden(!match);
        if (match && !first && (row->flags() & Qt::ItemIsEnabled))
            first = row;
    }
    QListWidgetItem* current = m_list->currentItem();
    if (!current || current->isHidden())
        m_list->setCurrentItem(first);
    if (m_list->currentItem())
        m_list->scrollToItem(m_list->currentItem());
}

void CameraFinder::choose(QListWidgetItem* item) {
    if (!item || item->isHidden() || !(item->flags() & Qt::ItemIsEnabled))
        return;
    const QString caption = item->data(kCaptionRole).toString();
    close();
    emit cameraChosen(caption);
}

bool CameraFinder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_find && event->type() == QEvent::KeyPress) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            QApplication::sendEvent(m_list, event);
            return true;
        default:
            break;
        }
    }
    return QFrame::eventFilter(watched, event);
}

} // namespace vm::shell
