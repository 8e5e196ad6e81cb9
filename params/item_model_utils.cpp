#include "item_model_utils.h"

#include <QTreeWidget>

namespace itemutils {

void walk(QTreeWidgetItem* item, const std::function<void(QTreeWidgetItem*)>& enter,
          const std::function<void(QTreeWidgetItem*)>& leave)
{
    enter(item);
    for (int i = 0; i < item->childCount(); ++i)
        walk(item->child(i), enter, leave);
    if (leave)
        leave(item);
}

QList<QTreeWidgetItem*> allItems(const QTreeWidget& tree)
{
    QList<QTreeWidgetItem*> items;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        walk(tree.topLevelItem(i), [&](QTreeWidgetItem* item) { items << item; });
    return items;
}

QList<QTreeWidgetItem*> findByText(const QTreeWidget& tree, const QString& text)
{
    QList<QTreeWidgetItem*> found;
    for (QTreeWidgetItem* item : allItems(tree))
        if (item->text(0) == text)
            found << item;
    return found;
}

bool hasAncestorWithText(const QTreeWidgetItem* item, const QString& text)
{
    for (const QTreeWidgetItem* up = item->parent(); up; up = up->parent())
        if (up->text(0) == text)
            return true;
    return false;
}

int countItems(const QTreeWidget& tree, int limit)
{
    int count = 0;
    QList<const QTreeWidgetItem*> pending;
    for (int i = 0; i < tree.topLevelItemCount(); ++i)
        pending << tree.topLevelItem(i);
    while (!pending.isEmpty() && count < limit) {
        const QTreeWidgetItem* item = pending.takeFirst();
        ++count;
        for (int i = 0; i < item->childCount(); ++i)
            pending << item->child(i);
    }
    return count;
}

} // namespace itemutils
