#include "shell/camerafinder.h"

#include "display/cameras.h"
#include "display/findbox.h"
#include "resources/strings.h"
#include "shell/cameratoolbar.h"

#include <QAction>
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
    setAccessibleName(vm::res::Str(20383));
    setFrameShape(QFrame::StyledPanel);
    m_find = new vm::display::FindBox(vm::res::Str(20380), vm::res::Str(20383), vm::res::Str(20382),
                                      vm::res::Str(20393), this);
    m_find->edit()->setObjectName(QStringLiteral("txtFindCamera"));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("lstCameras"));
    m_list->setAccessibleName(vm::res::Str(20384));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addWidget(m_find);
    layout->addWidget(m_list, 1);
    resize(260, 320);

    connect(m_find, &vm::display::FindBox::wordChanged, this, &CameraFinder::filterChanged);
    connect(m_find->edit(), &QLineEdit::returnPressed, this, [this] { choose(m_list->currentItem()); });
    connect(m_list, &QListWidget::itemActivated, this, &CameraFinder::choose);
    m_find->setList(m_list);
    setFocusProxy(m_find);
}

QLineEdit* CameraFinder::findText() const {
    return m_find->edit();
}

void CameraFinder::setCameras(const QList<QAction*>& cameras) {
    QList<QPair<QString, QAction*>> sorted;
    for (QAction* action : cameras)
        sorted.append({vm::display::naturalSortKey(CameraToolbar::caption(action)), action});
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    m_find->clearQuietly();
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
    const QString word = m_find->word();
    QListWidgetItem* first = nullptr;
    for (int i = 0; i < m_list->count(); ++i) {
        QListWidgetItem* row = m_list->item(i);
        const bool match = vm::display::FindBox::matches(row->text(), word);
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

} // namespace vm::shell
