// What the loop and group trees share: every item carries a 32-bit tag, the context menu
// acts on the item the operator chose with the left button or the keyboard (a right-click
// never moves the selection), and the loop tree opens one branch at a time.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTreeWidgetItem>

#include <cstdint>

class QTreeWidget;

namespace pagetree {

// A new item holding `text` and `tag`, not yet inserted anywhere.
QTreeWidgetItem* MakeItem(const QString& text, std::uint32_t tag);
std::uint32_t Tag(const QTreeWidgetItem* item);

// The selected item, or nullptr. The current item alone does not count: a tree that
// merely received the focus has a current item but nothing the operator chose.
QTreeWidgetItem* SelectedItem(const QTreeWidget* tree);

// Right-button presses, releases and double-clicks no longer reach the tree, so they
// cannot select the row under the pointer; the context-menu event still arrives.
void KeepSelectionOnRightClick(QTreeWidget* tree);

// Selecting an item expands it and collapses the branch of the item selected before,
// up to the nearest item the two share.
class SingleExpand : public QObject {
    Q_OBJECT
public:
    explicit SingleExpand(QTreeWidget* tree);
    // The tree was cleared: the previous item is gone.
    void Forget() { m_previous = nullptr; }

private:
    void OnSelectionChanged();

    QTreeWidget* m_tree;
    QTreeWidgetItem* m_previous = nullptr;
};

} // namespace pagetree
