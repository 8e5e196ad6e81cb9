#include "params_tree.h"

#include "item_model_utils.h"

#include <QAbstractItemDelegate>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDoubleSpinBox>
#include <QHash>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QScrollBar>
#include <QSpinBox>

#include <vector>

ParamsSerializer::~ParamsSerializer() = default;

QString ParamsSerializer::error() const
{
    return {};
}

namespace {

QString itemName(const QTreeWidgetItem* item)
{
    return item->data(0, Qt::UserRole).toString();
}

bool isSection(const QTreeWidgetItem* item)
{
    return item->childCount() > 0;
}

// Text with either decimal mark, as parameter files from any locale hold it.
double toDouble(const QVariant& value)
{
    if (value.type() != QVariant::String)
        return value.toDouble();
    bool ok = false;
    double number = value.toString().toDouble(&ok);
    if (!ok)
        number = QLocale::system().toDouble(value.toString(), &ok);
    return ok ? number : 0.0;
}

} // namespace

ParamsTree::ParamsTree(QWidget* parent) : QTreeWidget(parent)
{
    setColumnCount(2);
    setUniformRowHeights(true);
    currentParent = invisibleRootItem();
    addHeightItem();
}

ParamsTree::~ParamsTree()
{
    for (auto& group : exclusiveGroups)
        delete group.second;
}

// The hidden first row holds a line edit: with uniform row heights every row
// becomes as tall as an editor.
void ParamsTree::addHeightItem()
{
    QTreeWidgetItem* item = newItem(QString(""), QString(""));
    addTopLevelItem(item);
    auto* edit = new QLineEdit(QString(""));
    setItemWidget(item, 0, edit);
    forgetPolishRequest(edit);
    item->setHidden(true);
}

QTreeWidgetItem* ParamsTree::newItem(const QString& label, const QString& name)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, label);
    item->setData(0, Qt::UserRole, name);
    return item;
}

QString ParamsTree::generateItemName(const QTreeWidgetItem* parent, const QString& name) const
{
    QStringList parts{name};
    for (const QTreeWidgetItem* item = parent; item; item = item->parent())
        parts.prepend(itemName(item));
    return parts.join(QLatin1Char('.'));
}

ParamsTree& ParamsTree::addSection(const QString& label, bool expanded)
{
    return addSection(label, label, expanded);
}

// Whether a section may open below the current one; a refused section is
// counted, so that its up() closes it and what it holds is left out.
bool ParamsTree::enterSection(const QString& label)
{
    if (refusedDepth == 0 && depth < maxDepth) {
        ++depth;
        return true;
    }
    if (refusedDepth++ == 0)
        qWarning("ParamsTree: section \"%s\" refused: sections nest no deeper than %d",
                 qPrintable(label.left(80)), maxDepth);
    return false;
}

ParamsTree& ParamsTree::addSection(const QString& label, const QString& name, bool expanded)
{
    if (!enterSection(label))
        return *this;
    QTreeWidgetItem* item = newItem(label, name);
    currentParent->addChild(item);
    item->setExpanded(expanded);
    currentParent = item;
    return *this;
}

ParamsTree& ParamsTree::up()
{
    if (refusedDepth > 0) {
        --refusedDepth;
    } else if (currentParent != invisibleRootItem()) {
        QTreeWidgetItem* parent = currentParent->parent();
        currentParent = parent ? parent : invisibleRootItem();
        --depth;
    }
    return *this;
}

ParamsTree& ParamsTree::asSection(bool expanded)
{
    int count = currentParent->childCount();
    if (refusedDepth > 0 || count > 0) {
        if (!enterSection(refusedDepth > 0 ? QString() : currentParent->child(count - 1)->text(0)))
            return *this;
        currentParent = currentParent->child(count - 1);
        currentParent->setExpanded(expanded);
    }
    return *this;
}

ParamsTree& ParamsTree::readOnly()
{
    if (refusedDepth > 0)
        return *this;
    int count = currentParent->childCount();
    if (count > 0)
        if (QWidget* editor = itemWidget(currentParent->child(count - 1), 1))
            editor->setEnabled(false);
    return *this;
}

ParamsTree& ParamsTree::placeEditor(const QString& label, const QString& name, QWidget* editor)
{
    if (refusedDepth > 0) {
        delete editor;
        return *this;
    }
    editor->setObjectName(generateItemName(currentParent, name));
    QTreeWidgetItem* item = newItem(label, name);
    currentParent->addChild(item);
    setItemWidget(item, 1, editor);
    forgetPolishRequest(editor);
    return *this;
}

ParamsTree& ParamsTree::addParam(const QString& label, unsigned int index, const QStringList& items)
{
    return addParam(label, label, index, items);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& name, unsigned int index,
                                 const QStringList& items)
{
    auto* box = new QComboBox;
    box->addItems(items);
    if (index < static_cast<unsigned int>(items.size()))
        box->setCurrentIndex(static_cast<int>(index));
    return placeEditor(label, name, box);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& value, const QString& mask)
{
    return addParam(label, label, value, mask);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& value, const char* mask)
{
    return addParam(label, label, value, QString::fromUtf8(mask));
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& name, const QString& value,
                                 const QString& mask)
{
    auto* edit = new QLineEdit;
    edit->setInputMask(mask);
    edit->setMaxLength(maxValueLength); // a mask sets its own
    edit->setText(value);
    return placeEditor(label, name, edit);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& value,
                                 const QValidator& validator)
{
    return addParam(label, label, value, validator);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& name, const QString& value,
                                 const QValidator& validator)
{
    auto* edit = new QLineEdit;
    edit->setValidator(&validator);
    edit->setMaxLength(maxValueLength);
    edit->setText(value);
    return placeEditor(label, name, edit);
}

ParamsTree& ParamsTree::addParam(const QString& label, bool checked, ExclusiveGroup group)
{
    return addParam(label, label, checked, group);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& name, bool checked,
                                 ExclusiveGroup group)
{
    auto* box = new QCheckBox;
    box->setTristate(false);
    box->setChecked(checked);
    if (group != -1) {
        QButtonGroup*& buttons = exclusiveGroups[group];
        if (!buttons) {
            buttons = new QButtonGroup;
            buttons->setExclusive(true);
        }
        buttons->addButton(box);
    }
    return placeEditor(label, name, box);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QVariant& value, const QVariant& min,
                                 const QVariant& max, int decimals)
{
    return addParam(label, label, value, min, max, decimals);
}

ParamsTree& ParamsTree::addParam(const QString& label, const QString& name, const QVariant& value,
                                 const QVariant& min, const QVariant& max, int decimals)
{
    int type = value.userType();
    if (type == QMetaType::Double || type == QMetaType::Float) {
        auto* box = new QDoubleSpinBox;
        box->setRange(min.toDouble(), max.toDouble());
        box->setDecimals(decimals);
        box->setValue(value.toDouble());
        connect(box, qOverload<double>(&QDoubleSpinBox::valueChanged), this,
                &ParamsTree::doubleSpinBoxValueChanged);
        return placeEditor(label, name, box);
    }
    auto* box = new QSpinBox;
    box->setRange(min.toInt(), max.toInt());
    box->setValue(value.toInt());
    connect(box, qOverload<int>(&QSpinBox::valueChanged), this, &ParamsTree::spinBoxValueChanged);
    return placeEditor(label, name, box);
}

QVariant ParamsTree::itemToVariant(QWidget* editor)
{
    if (auto* box = qobject_cast<QComboBox*>(editor))
        return box->currentIndex();
    if (auto* edit = qobject_cast<QLineEdit*>(editor))
        return edit->text();
    if (auto* box = qobject_cast<QCheckBox*>(editor))
        return box->isChecked() ? 1u : 0u;
    if (auto* box = qobject_cast<QSpinBox*>(editor))
        return box->value();
    if (auto* box = qobject_cast<QDoubleSpinBox*>(editor))
        return box->value();
    return QVariant();
}

void ParamsTree::setItemData(QWidget* editor, const QVariant& value)
{
    if (auto* box = qobject_cast<QComboBox*>(editor)) {
        int index = value.toInt();
        if (index >= 0 && index < box->count())
            box->setCurrentIndex(index);
    } else if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
        edit->setText(value.toString());
    } else if (auto* box = qobject_cast<QCheckBox*>(editor)) {
        box->setChecked(value.toUInt() != 0);
    } else if (auto* box = qobject_cast<QSpinBox*>(editor)) {
        box->setValue(value.toInt());
    } else if (auto* box = qobject_cast<QDoubleSpinBox*>(editor)) {
        box->setValue(toDouble(value));
    }
}

QVariant ParamsTree::getValue(const QString& label, const QString& section) const
{
    for (QTreeWidgetItem* item : itemutils::findByText(*this, label)) {
        if (section.isEmpty())
            return itemToVariant(itemWidget(item, 1));
        if (itemutils::hasAncestorWithText(item, section))
            return itemToVariant(itemWidget(item, 1));
    }
    return QVariant();
}

QVariant ParamsTree::value(const QString& label, const QString& section,
                           const QVariant& defaultValue) const
{
    QVariant found = getValue(label, section);
    return found.isValid() && !found.isNull() ? found : defaultValue;
}

// Visits every parameter editor below the root in tree order, with the names
// of the sections above it (empty at the top level).
void ParamsTree::walkEditors(
    const std::function<void(const QStringList& path, QTreeWidgetItem* item, QWidget* editor)>&
        visit) const
{
    QStringList path;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        itemutils::walk(
            topLevelItem(i),
            [&](QTreeWidgetItem* item) {
                if (QWidget* editor = itemWidget(item, 1))
                    visit(path, item, editor);
                if (isSection(item))
                    path << itemName(item);
            },
            [&](QTreeWidgetItem* item) {
                if (isSection(item))
                    path.removeLast();
            });
    }
}

void ParamsTree::saveValues(ParamsSerializer& serializer) const
{
    walkEditors([&](const QStringList& path, QTreeWidgetItem* item, QWidget* editor) {
        QString name = itemName(item);
        // A tree disabled as a whole still saves; only read-only editors are left out.
        if (name.isNull() || !editor->isEnabledTo(viewport()))
            return;
        QString text = itemToVariant(editor).toString();
        if (!item->parent())
            serializer.store(name, text);
        else
            serializer.store(path, name, text);
    });
}

void ParamsTree::loadValues(ParamsSerializer& serializer)
{
    walkEditors([&](const QStringList& path, QTreeWidgetItem* item, QWidget* editor) {
        QString name = itemName(item);
        if (name.isNull())
            return;
        QString current = itemToVariant(editor).toString();
        QString text =
            !item->parent() ? serializer.load(name, current) : serializer.load(path, name, current);
        setItemData(editor, QVariant(text));
    });
}

void ParamsTree::writeNodes(QList<ParamsTree::nodes>& list) const
{
    list.clear();
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QStringList enclosing;
        itemutils::walk(
            topLevelItem(i),
            [&](QTreeWidgetItem* item) {
                if (!isSection(item))
                    return;
                list.append({item->text(0), item->isExpanded()});
                QTreeWidgetItem* parent = item->parent();
                if (!parent)
                    list.append({item->text(0), item->isExpanded()});
                else if (parent->child(0) != item)
                    list.append({(enclosing + QStringList{item->text(0)}).join(QLatin1Char('.')),
                                 item->isExpanded()});
                enclosing << item->text(0);
            },
            [&](QTreeWidgetItem* item) {
                if (isSection(item))
                    enclosing.removeLast();
            });
    }
}

void ParamsTree::readNodes(const QList<ParamsTree::nodes>& list)
{
    // The first item of each text in one walk, not a walk for every node.
    QHash<QString, QTreeWidgetItem*> first;
    for (QTreeWidgetItem* item : itemutils::allItems(*this))
        if (!first.contains(item->text(0)))
            first.insert(item->text(0), item);
    for (const ParamsTree::nodes& node : list)
        if (QTreeWidgetItem* item = first.value(node.name))
            item->setExpanded(node.expanded);
}

int ParamsTree::rowHeight() const
{
    if (model()->rowCount() == 0)
        return 0;
    return QTreeWidget::rowHeight(model()->index(1, 0));
}

void ParamsTree::clear()
{
    QTreeWidget::clear();
    currentParent = invisibleRootItem();
    depth = 0;
    refusedDepth = 0;
    for (auto& group : exclusiveGroups)
        delete group.second;
    exclusiveGroups.clear();
    addHeightItem();
}

void ParamsTree::changeValue(QString what, QVariant value)
{
    QWidget* editor = findChild<QWidget*>(what);
    if (auto* box = qobject_cast<QSpinBox*>(editor))
        box->setValue(value.toInt());
    else if (auto* box = qobject_cast<QDoubleSpinBox*>(editor))
        box->setValue(value.toDouble());
}

void ParamsTree::spinBoxValueChanged(int value)
{
    if (QObject* from = sender())
        emit valueChanged(from->objectName(), value);
}

void ParamsTree::doubleSpinBoxValueChanged(double value)
{
    if (QObject* from = sender())
        emit valueChanged(from->objectName(), value);
}

void ParamsTree::showEvent(QShowEvent* event)
{
    QTreeWidget::showEvent(event);
    resizeColumnToContents(0);
    resizeColumnToContents(1);
}

// Qt places the editors in no particular order and finds the row of each by
// a search through the rows: with an editor on every row, that costs the
// square of the rows at every show, hide and resize. Taken in the order of
// the rows, each row is found beside the one before.
void ParamsTree::updateEditorGeometries()
{
    const unsigned before = editorLayouts;
    executeDelayedItemsLayout(); // a pending layout places the editors itself
    if (editorLayouts != before)
        return;
    ++editorLayouts;

    QStyleOptionViewItem option = viewOptions();
    QList<QWidget*> hidden; // hidden afterwards, as Qt does: hiding may move the focus
    std::vector<std::pair<QTreeWidgetItem*, bool>> pending; // an item, and whether it is in view
    for (int i = topLevelItemCount() - 1; i >= 0; --i)
        pending.emplace_back(topLevelItem(i), true);
    while (!pending.empty()) {
        auto [item, inView] = pending.back();
        pending.pop_back();
        inView = inView && !item->isHidden();
        for (int column = 0; column < columnCount(); ++column) {
            QWidget* editor = itemWidget(item, column);
            if (!editor)
                continue;
            const QModelIndex index = indexFromItem(item, column);
            option.rect = inView ? visualRect(index) : QRect();
            if (!option.rect.isValid()) {
                hidden << editor;
                continue;
            }
            editor->show();
            if (QAbstractItemDelegate* delegate = itemDelegate(index))
                delegate->updateEditorGeometry(editor, option, index);
        }
        const bool childrenInView = inView && item->isExpanded();
        for (int i = item->childCount() - 1; i >= 0; --i)
            pending.emplace_back(item->child(i), childrenInView);
    }
    for (QWidget* editor : hidden)
        editor->hide();
}

// Every widget asks to be polished through the event queue when it is made,
// and one destroyed with the request still queued searches the whole queue
// for it: editors that no event loop has seen (a tree saved without being
// shown) would take the square of their number to go. An editor is polished
// anyway when it is shown; taken out at once, the request costs a search of
// a queue that does not grow with the tree.
void ParamsTree::forgetPolishRequest(QWidget* editor)
{
    QCoreApplication::removePostedEvents(editor, QEvent::PolishRequest);
    for (QWidget* part : editor->findChildren<QWidget*>())
        QCoreApplication::removePostedEvents(part, QEvent::PolishRequest);
}
