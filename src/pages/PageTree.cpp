#include "pages/PageTree.h"

#include <QEvent>
#include <QMouseEvent>
#include <QTreeWidget>

namespace pagetree {

namespace {

class RightClickFilter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
            if (static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) return true;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }
};

bool IsAncestorOrSelf(const QTreeWidgetItem* candidate, const QTreeWidgetItem* item) {
    for (const QTreeWidgetItem* i = item; i; i = i->parent())
        if (i == candidate) return true;
    return false;
}

} // namespace

QTreeWidgetItem* MakeItem(const QString& text, std::uint32_t tag) {
    auto* item = new QTreeWidgetItem(QStringList{text});
    item->setData(0, Qt::UserRole, QVariant::fromValue<quint32>(tag));
    return item;
}

std::uint32_t Tag(const QTreeWidgetItem* item) {
    return item ? item->data(0, Qt::UserRole).value<quint32>() : 0;
}

QTreeWidgetItem* SelectedItem(const QTreeWidget* tree) {
    const auto items = tree->selectedItems();
    return items.isEmpty() ? nullptr : items.front();
}

void KeepSelectionOnRightClick(QTreeWidget* tree) {
    tree->viewport()->installEventFilter(new RightClickFilter(tree));
}

SingleExpand::SingleExpand(QTreeWidget* tree) : QObject(tree), m_tree(tree) {
    connect(tree, &QTreeWidget::itemSelectionChanged, this, &SingleExpand::OnSelectionChanged);
}

void SingleExpand::OnSelectionChanged() {
    QTreeWidgetItem* current = SelectedItem(m_tree);
    if (!current) return; // a deselection keeps the tree as it is
    for (QTreeWidgetItem* i = m_previous; i && !IsAncestorOrSelf(i, current); i = i->parent())
        i->setExpanded(false);
    if (current->childCount() > 0) current->setExpanded(true);
    m_previous = current;
}

} // namespace pagetree
