// Walks and searches over the items of a QTreeWidget, shared by the parameter
// tree and the parameter dialog.
#pragma once

#include <QList>
#include <QString>

#include <functional>

class QTreeWidget;
class QTreeWidgetItem;

namespace itemutils {

// Every item of the tree, depth first, children in order, without the
// invisible root.
QList<QTreeWidgetItem*> allItems(const QTreeWidget& tree);

// The items whose column-0 text is exactly `text`, in tree order.
QList<QTreeWidgetItem*> findByText(const QTreeWidget& tree, const QString& text);

// Whether some ancestor of `item` (not `item` itself) has the column-0 text `text`.
bool hasAncestorWithText(const QTreeWidgetItem* item, const QString& text);

// The number of items in the whole tree, counting no further than `limit`.
int countItems(const QTreeWidget& tree, int limit);

// Walks the subtree of `item` depth first, children in order, `item` first.
// `enter` is called on arriving at an item, `leave` after its subtree is done.
void walk(QTreeWidgetItem* item, const std::function<void(QTreeWidgetItem*)>& enter,
          const std::function<void(QTreeWidgetItem*)>& leave = {});

} // namespace itemutils
