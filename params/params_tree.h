// A two-column tree editor for a set of instrument parameters: sections and
// parameters in column 0, one editor widget per parameter in column 1.
#pragma once

#include <QList>
#include <QStringList>
#include <QTreeWidget>
#include <QVariant>

#include <functional>
#include <map>

class QButtonGroup;
class QValidator;

// Keeps parameter values as text, addressed by a key and the names of the
// sections above it.
class ParamsSerializer
{
public:
    virtual ~ParamsSerializer();
    virtual void store(const QString& key, const QString& value) = 0;
    virtual void store(const QStringList& path, const QString& key, const QString& value) = 0;
    virtual QString load(const QString& key, const QString& defaultValue) = 0;
    virtual QString load(const QStringList& path, const QString& key,
                         const QString& defaultValue) = 0;
    virtual bool saveAll(const QString& fileName) = 0;
    // Why the last reading or saveAll failed; empty when nothing failed.
    virtual QString error() const;
};

class ParamsTree : public QTreeWidget
{
    Q_OBJECT

public:
    // -1: no group; any other number: at most one check box of that number is checked.
    typedef int ExclusiveGroup;

    // Whether a section is expanded, as kept for the tree's owner.
    struct nodes
    {
        QString name;
        bool expanded = false;
    };

    // Sections nest no deeper than this: a deeper tree would exhaust the stack
    // when its items are torn down, and no parameter set comes near it.
    static constexpr int maxDepth = 64;
    // The longest value an editor holds whole, and a parameter file may carry.
    static constexpr int maxValueLength = 65536;

    explicit ParamsTree(QWidget* parent = nullptr);
    ~ParamsTree() override;

    // Builder: each call returns the tree, so calls chain. A section deeper
    // than maxDepth is refused with a warning, and so is everything added in
    // it until the matching up().
    ParamsTree& addSection(const QString& label, bool expanded = true);
    ParamsTree& addSection(const QString& label, const QString& name, bool expanded = true);
    // Without this a name given as a literal would be taken for the expanded flag.
    ParamsTree& addSection(const QString& label, const char* name, bool expanded = true)
    {
        return addSection(label, QString::fromUtf8(name), expanded);
    }
    ParamsTree& up();
    ParamsTree& asSection(bool expanded = true);
    ParamsTree& readOnly();

    // Choice.
    ParamsTree& addParam(const QString& label, unsigned int index, const QStringList& items);
    ParamsTree& addParam(const QString& label, const QString& name, unsigned int index,
                         const QStringList& items);
    // Masked text.
    ParamsTree& addParam(const QString& label, const QString& value, const QString& mask);
    ParamsTree& addParam(const QString& label, const QString& name, const QString& value,
                         const QString& mask);
    ParamsTree& addParam(const QString& label, const QString& value, const char* mask);
    // Validated text; the validator must outlive the tree.
    ParamsTree& addParam(const QString& label, const QString& value, const QValidator& validator);
    ParamsTree& addParam(const QString& label, const QString& name, const QString& value,
                         const QValidator& validator);
    // Flag.
    ParamsTree& addParam(const QString& label, bool checked, ExclusiveGroup group);
    ParamsTree& addParam(const QString& label, const QString& name, bool checked,
                         ExclusiveGroup group);
    // Decimal when `value` holds a double or a float, otherwise integer.
    ParamsTree& addParam(const QString& label, const QVariant& value, const QVariant& min,
                         const QVariant& max, int decimals);
    ParamsTree& addParam(const QString& label, const QString& name, const QVariant& value,
                         const QVariant& min, const QVariant& max, int decimals);

    QVariant getValue(const QString& label, const QString& section = QString()) const;
    QVariant value(const QString& label, const QString& section,
                   const QVariant& defaultValue) const;

    static QVariant itemToVariant(QWidget* editor);
    static void setItemData(QWidget* editor, const QVariant& value);

    void saveValues(ParamsSerializer& serializer) const;
    void loadValues(ParamsSerializer& serializer);

    void writeNodes(QList<ParamsTree::nodes>& list) const;
    void readNodes(const QList<ParamsTree::nodes>& list);

    // The height of a parameter row; 0 for a tree without rows.
    int rowHeight() const;

signals:
    void valueChanged(QString what, QVariant value);

public slots:
    void clear();
    void changeValue(QString what, QVariant value);
    void spinBoxValueChanged(int value);
    void doubleSpinBoxValueChanged(double value);

protected:
    void showEvent(QShowEvent* event) override;
    void updateEditorGeometries() override;

private:
    QString generateItemName(const QTreeWidgetItem* parent, const QString& name) const;
    QTreeWidgetItem* newItem(const QString& label, const QString& name);
    ParamsTree& placeEditor(const QString& label, const QString& name, QWidget* editor);
    void addHeightItem();
    void walkEditors(const std::function<void(const QStringList& path, QTreeWidgetItem* item,
                                              QWidget* editor)>& visit) const;

    bool enterSection(const QString& label);
    static void forgetPolishRequest(QWidget* editor);

    QTreeWidgetItem* currentParent = nullptr;
    int depth = 0;              // sections above what is added next
    int refusedDepth = 0;       // refused sections still open below that
    unsigned editorLayouts = 0; // counts the placings of the editors
    std::map<int, QButtonGroup*> exclusiveGroups;
};
