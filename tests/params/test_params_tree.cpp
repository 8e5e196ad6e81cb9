#include "params_tree.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtTest>

namespace {

// Records how the tree addresses each value: "key" at the top level,
// "path/key" below it.
class RecordingSerializer : public ParamsSerializer
{
public:
    void store(const QString& key, const QString& value) override { stored[key] = value; }
    void store(const QStringList& path, const QString& key, const QString& value) override
    {
        stored[path.join('/') + '/' + key] = value;
    }
    QString load(const QString& key, const QString& defaultValue) override
    {
        return stored.value(key, defaultValue);
    }
    QString load(const QStringList& path, const QString& key, const QString& defaultValue) override
    {
        return stored.value(path.join('/') + '/' + key, defaultValue);
    }
    bool saveAll(const QString&) override { return true; }

    QMap<QString, QString> stored;
};

template <typename T> T* editor(ParamsTree& tree, const QString& name)
{
    T* found = tree.findChild<T*>(name);
    if (!found)
        qWarning("no editor %s", qPrintable(name));
    return found;
}

QTreeWidgetItem* item(ParamsTree& tree, const QString& label)
{
    auto found = tree.findItems(label, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

// Counts the polish requests that reach the objects it watches.
class PolishSpy : public QObject
{
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        requests += event->type() == QEvent::PolishRequest;
        return false;
    }
    int requests = 0;
};

// The most sections above any item.
int deepest(ParamsTree& tree)
{
    int most = 0;
    for (QTreeWidgetItemIterator it(&tree); *it; ++it) {
        int depth = 0;
        for (QTreeWidgetItem* up = (*it)->parent(); up; up = up->parent())
            ++depth;
        most = qMax(most, depth);
    }
    return most;
}

} // namespace

class TestParamsTree : public QObject
{
    Q_OBJECT

private slots:
    void builderGivesDottedNames();
    void editorsReadAndWriteValues();
    void exclusiveGroups();
    void getValueUnderSections();
    void saveSkipsReadOnlyButLoadsIt();
    void sectionStatesAndSpinBoxSignals();
    void sectionsNestNoDeeperThanTheLimit();
    void editorsFollowTheirRows();
};

void TestParamsTree::builderGivesDottedNames()
{
    ParamsTree tree;
    tree.addParam("Code", "0x1A", "\\0\\xHH")
        .addSection("Device", "dev")
        .readOnly() // no child yet: Code stays editable
        .addSection("ADC", "adc", false)
        .addParam("Gain", "gain", QVariant(5), QVariant(0), QVariant(10), 0)
        .up()
        .up()
        .up() // already at the root
        .addParam("Gain", "gain", QVariant(2.5), QVariant(0.0), QVariant(10.0), 2)
        .addParam("Range", 5u, QStringList{"low", "mid", "high"});

    QSpinBox* gain = editor<QSpinBox>(tree, "dev.adc.gain");
    QVERIFY(gain);
    QCOMPARE(gain->value(), 5);
    QVERIFY(editor<QDoubleSpinBox>(tree, ".gain"));
    QCOMPARE(editor<QComboBox>(tree, ".Range")->currentIndex(), 0); // index 5 of 3 items
    QCOMPARE(editor<QLineEdit>(tree, ".Code")->text(), QString("0x1A"));
    QVERIFY(editor<QLineEdit>(tree, ".Code")->isEnabledTo(&tree));
    QVERIFY(item(tree, "Device")->isExpanded());
    QVERIFY(!item(tree, "ADC")->isExpanded());
    QCOMPARE(tree.topLevelItemCount(), 5); // the height item first
    QVERIFY(tree.topLevelItem(0)->isHidden());
    QVERIFY(qobject_cast<QLineEdit*>(tree.itemWidget(tree.topLevelItem(0), 0)));

    // asSection turns the last item into the parent of what follows.
    tree.addParam("Mode", 0u, QStringList{"a", "b"})
        .asSection(false)
        .addParam("Hold", "hold", true, -1);
    QVERIFY(editor<QCheckBox>(tree, "Mode.hold"));
    QVERIFY(!item(tree, "Mode")->isExpanded());

    tree.addParam("Level", "level", QVariant(3), QVariant(0), QVariant(9), 0);
    tree.show();
    QVERIFY(tree.rowHeight() > 0);

    tree.clear();
    QCOMPARE(tree.topLevelItemCount(), 1);
    tree.addParam("After", "after", QVariant(1), QVariant(0), QVariant(9), 0);
    QCOMPARE(tree.topLevelItemCount(), 2); // a top-level item again
}

void TestParamsTree::editorsReadAndWriteValues()
{
    ParamsTree tree;
    tree.addParam("Choice", 1u, QStringList{"a", "b", "c"})
        .addParam("Count", QVariant(4), QVariant(-100), QVariant(100), 0)
        .addParam("Ratio", QVariant(0.5f), QVariant(0.0), QVariant(9.0), 3)
        .addParam("On", true, -1);
    auto* choice = editor<QComboBox>(tree, ".Choice");
    auto* count = editor<QSpinBox>(tree, ".Count");
    auto* ratio = editor<QDoubleSpinBox>(tree, ".Ratio");
    auto* on = editor<QCheckBox>(tree, ".On");
    QVERIFY(choice && count && ratio && on);

    QCOMPARE(ParamsTree::itemToVariant(choice), QVariant(1));
    QCOMPARE(ParamsTree::itemToVariant(on), QVariant(1u));
    QCOMPARE(ParamsTree::itemToVariant(ratio), QVariant(0.5));

    ParamsTree::setItemData(choice, QVariant("3")); // out of range: unchanged
    QCOMPARE(choice->currentIndex(), 1);
    ParamsTree::setItemData(choice, QVariant("2"));
    QCOMPARE(choice->currentIndex(), 2);
    ParamsTree::setItemData(count, QVariant("many"));
    QCOMPARE(count->value(), 0);
    ParamsTree::setItemData(count, QVariant("-7"));
    QCOMPARE(count->value(), -7);
    ParamsTree::setItemData(ratio, QVariant("1.25"));
    QCOMPARE(ratio->value(), 1.25);
    ParamsTree::setItemData(on, QVariant("0"));
    QVERIFY(!on->isChecked());

    QLabel other;
    QVERIFY(!ParamsTree::itemToVariant(&other).isValid());
    QVERIFY(!ParamsTree::itemToVariant(nullptr).isValid());
    ParamsTree::setItemData(&other, QVariant("x")); // ignored
    QCOMPARE(other.text(), QString());
}

void TestParamsTree::exclusiveGroups()
{
    ParamsTree tree;
    tree.addParam("A", "a", true, 2)
        .addParam("B", "b", true, 2) // checked on entry: A gives way
        .addParam("Free", "free", true, -1)
        .addParam("C", "c", false, 3);
    auto* a = editor<QCheckBox>(tree, ".a");
    auto* b = editor<QCheckBox>(tree, ".b");
    auto* free = editor<QCheckBox>(tree, ".free");
    auto* c = editor<QCheckBox>(tree, ".c");
    QVERIFY(!a->isChecked() && b->isChecked());

    a->click();
    QVERIFY(a->isChecked());
    QVERIFY(!b->isChecked());
    QVERIFY(free->isChecked()); // no group: independent
    c->click();
    QVERIFY(c->isChecked() && a->isChecked()); // another group
    free->click();
    QVERIFY(!free->isChecked());

    // After clear() the same number starts a new group.
    tree.clear();
    tree.addParam("D", "d", true, 2).addParam("E", "e", true, 2);
    QVERIFY(!editor<QCheckBox>(tree, ".d")->isChecked());
    QVERIFY(editor<QCheckBox>(tree, ".e")->isChecked());
}

void TestParamsTree::getValueUnderSections()
{
    ParamsTree tree;
    tree.addSection("dev")
        .addSection("adc")
        .addParam("gain", QVariant(1), QVariant(0), QVariant(99), 0)
        .up()
        .up()
        .addSection("aux")
        .addParam("gain", QVariant(2), QVariant(0), QVariant(99), 0)
        .addParam("name", "probe", QString());

    QCOMPARE(tree.getValue("gain", "aux"), QVariant(2));
    QCOMPARE(tree.getValue("gain", "dev"), QVariant(1)); // any enclosing section
    QCOMPARE(tree.getValue("gain"), QVariant(1));        // first in tree order
    QVERIFY(!tree.getValue("gain", "none").isValid());
    QVERIFY(!tree.getValue("missing").isValid());
    QVERIFY(!tree.getValue("aux").isValid()); // a section has no editor
    QCOMPARE(tree.value("missing", "", QVariant(42)), QVariant(42));
    QCOMPARE(tree.value("name", "aux", QVariant("none")), QVariant("probe"));
}

void TestParamsTree::saveSkipsReadOnlyButLoadsIt()
{
    ParamsTree tree;
    tree.addParam("Rate", "rate", QVariant(10), QVariant(0), QVariant(100), 0)
        .addSection("Device", "dev")
        .addSection("ADC", "adc")
        .addParam("Gain", "gain", QVariant(5), QVariant(0), QVariant(100), 0)
        .addParam("Offset", "offset", QVariant(3), QVariant(-100), QVariant(100), 0)
        .readOnly()
        .up()
        .addParam("Mode", "mode", 2u, QStringList{"a", "b", "c"})
        .addParam("Hold", "hold", true, -1)
        .addParam("Label", "label", "probe 1", QString());

    RecordingSerializer saved;
    tree.setEnabled(false); // a tree disabled as a whole still saves
    tree.saveValues(saved);
    QCOMPARE(saved.stored, (QMap<QString, QString>{{"rate", "10"},
                                                   {"dev/adc/gain", "5"},
                                                   {"dev/mode", "2"},
                                                   {"dev/hold", "1"},
                                                   {"dev/label", "probe 1"}}));

    RecordingSerializer stored;
    stored.stored = {{"rate", "20"}, {"dev/adc/offset", "-4"}, {"dev/mode", "0"}};
    tree.loadValues(stored);
    QCOMPARE(tree.getValue("Rate"), QVariant(20));
    QCOMPARE(tree.getValue("Offset"), QVariant(-4)); // read-only, still loaded
    QCOMPARE(tree.getValue("Mode"), QVariant(0));
    QCOMPARE(tree.getValue("Gain"), QVariant(5)); // nothing stored: unchanged
    QCOMPARE(tree.getValue("Hold"), QVariant(1u));
    QCOMPARE(tree.getValue("Label"), QVariant("probe 1"));
}

void TestParamsTree::sectionStatesAndSpinBoxSignals()
{
    ParamsTree tree;
    tree.addSection("Top", true)
        .addSection("A", false)
        .addParam("x", QVariant(1), QVariant(0), QVariant(9), 0)
        .up()
        .addSection("B", true)
        .addParam("y", QVariant(2.5), QVariant(0.0), QVariant(9.0), 1)
        .up()
        .up();

    QList<ParamsTree::nodes> nodes;
    tree.writeNodes(nodes);
    QStringList names;
    for (const auto& node : nodes)
        names << node.name + (node.expanded ? "+" : "-");
    QCOMPARE(names, (QStringList{"Top+", "Top+", "A-", "B+", "Top.B+"}));

    // Restored in another tree of the same shape; dotted names match nothing.
    for (auto& node : nodes)
        node.expanded = !node.expanded;
    nodes.append({"Nowhere", true});
    tree.readNodes(nodes);
    QVERIFY(!item(tree, "Top")->isExpanded());
    QVERIFY(item(tree, "A")->isExpanded());
    QVERIFY(!item(tree, "B")->isExpanded());

    QSignalSpy changed(&tree, &ParamsTree::valueChanged);
    tree.changeValue("Top.A.x", QVariant(7));
    QCOMPARE(editor<QSpinBox>(tree, "Top.A.x")->value(), 7);
    tree.changeValue("Top.B.y", QVariant("4.5"));
    QCOMPARE(editor<QDoubleSpinBox>(tree, "Top.B.y")->value(), 4.5);
    tree.changeValue("Top.none", QVariant(1));
    QCOMPARE(changed.count(), 2);
    QCOMPARE(changed[0], (QList<QVariant>{"Top.A.x", 7}));
    QCOMPARE(changed[1], (QList<QVariant>{"Top.B.y", 4.5}));

    // A direct call (no sender) emits nothing.
    tree.spinBoxValueChanged(3);
    QCOMPARE(changed.count(), 2);

    // Two trees mirror each other through the signal and the slot.
    ParamsTree mirror;
    mirror.addSection("Top").addSection("A").addParam("x", QVariant(1), QVariant(0), QVariant(9),
                                                      0);
    connect(&tree, &ParamsTree::valueChanged, &mirror, &ParamsTree::changeValue);
    editor<QSpinBox>(tree, "Top.A.x")->setValue(8);
    QCOMPARE(mirror.getValue("x"), QVariant(8));
}

void TestParamsTree::sectionsNestNoDeeperThanTheLimit()
{
    auto number = [](int n) { return QVariant(n); };
    ParamsTree tree;
    for (int i = 1; i <= ParamsTree::maxDepth; ++i)
        tree.addSection(QString("s%1").arg(i), "s");
    const QString inner = QString("s.").repeated(ParamsTree::maxDepth);

    // A refused section takes what is added in it along, until its up().
    QTest::ignoreMessage(QtWarningMsg,
                         "ParamsTree: section \"deeper\" refused: sections nest no deeper than 64");
    tree.addParam("At", "at", number(1), number(0), number(9), 0)
        .addSection("deeper")
        .addParam("Lost", "lost", number(2), number(0), number(9), 0)
        .readOnly() // of nothing: At stays editable
        .addSection("still deeper")
        .addParam("Lost too", "lost", true, -1)
        .up()
        .up()
        .addParam("After", "after", number(3), number(0), number(9), 0);
    QVERIFY(editor<QSpinBox>(tree, inner + "at"));
    QVERIFY(editor<QSpinBox>(tree, inner + "at")->isEnabledTo(&tree));
    QVERIFY(editor<QSpinBox>(tree, inner + "after"));
    QCOMPARE(tree.findChildren<QSpinBox*>().size(), 2);
    QVERIFY(tree.findChildren<QCheckBox*>().isEmpty());

    // Turning the last parameter into a section is refused at the limit too.
    QTest::ignoreMessage(QtWarningMsg,
                         "ParamsTree: section \"After\" refused: sections nest no deeper than 64");
    tree.asSection()
        .addParam("Under", "under", number(4), number(0), number(9), 0)
        .up()
        .addParam("Last", "last", number(5), number(0), number(9), 0);
    QCOMPARE(item(tree, "After")->childCount(), 0);
    QVERIFY(editor<QSpinBox>(tree, inner + "last"));
    QCOMPARE(deepest(tree), ParamsTree::maxDepth);

    // As deep as a parameter file once asked for: one warning, no deeper
    // tree, and the root again after as many up() calls.
    for (int i = 0; i < ParamsTree::maxDepth; ++i)
        tree.up();
    QTest::ignoreMessage(QtWarningMsg,
                         "ParamsTree: section \"a\" refused: sections nest no deeper than 64");
    for (int i = 0; i < 100000; ++i)
        tree.addSection("a");
    tree.addParam("Deep", "deep", number(6), number(0), number(9), 0);
    for (int i = 0; i < 100000; ++i)
        tree.up();
    tree.addParam("Back", "back", number(7), number(0), number(9), 0);
    QVERIFY(editor<QSpinBox>(tree, ".back"));
    QCOMPARE(tree.findChildren<QSpinBox*>().size(), 4); // not Deep
    QCOMPARE(deepest(tree), ParamsTree::maxDepth);

    // clear() forgets the depth, refused sections too.
    QTest::ignoreMessage(QtWarningMsg,
                         "ParamsTree: section \"c\" refused: sections nest no deeper than 64");
    tree.addSection("b");
    for (int i = 0; i < ParamsTree::maxDepth; ++i)
        tree.addSection("c");
    tree.clear();
    tree.addSection("x").addParam("Y", "y", number(1), number(0), number(9), 0);
    QVERIFY(editor<QSpinBox>(tree, "x.y"));
    QCOMPARE(deepest(tree), 1);

    // Text editors hold the longest value whole.
    const QString longest(ParamsTree::maxValueLength, 'v');
    QRegularExpressionValidator any(QRegularExpression(".*"));
    tree.addParam("Plain", "plain", longest, QString())
        .addParam("Checked", "checked", longest, any);
    QCOMPARE(editor<QLineEdit>(tree, "x.plain")->text(), longest);
    QCOMPARE(editor<QLineEdit>(tree, "x.checked")->text(), longest);
}

void TestParamsTree::editorsFollowTheirRows()
{
    auto number = [](int n) { return QVariant(n); };
    ParamsTree tree;
    tree.addSection("Open", "open")
        .addParam("A", "a", number(1), number(0), number(9), 0)
        .addParam("B", "b", 1u, QStringList{"x", "y"})
        .up()
        .addSection("Shut", "shut", false)
        .addParam("C", "c", number(3), number(0), number(9), 0)
        .up()
        .addParam("D", "d", "text", QString());
    QList<QWidget*> editors;
    for (const char* name : {"open.a", "open.b", "shut.c", ".d"})
        editors << editor<QWidget>(tree, name);

    // Built without an event loop, the editors leave no polish request queued.
    PolishSpy spy;
    for (QWidget* editor : editors) {
        editor->installEventFilter(&spy);
        for (QWidget* part : editor->findChildren<QWidget*>())
            part->installEventFilter(&spy);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::PolishRequest);
    QCOMPARE(spy.requests, 0);

    tree.resize(400, 300);
    tree.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tree));
    auto placed = [&](QWidget* editor, const QString& label) {
        const QRect row = tree.visualItemRect(item(tree, label));
        return editor->isVisible() && editor->testAttribute(Qt::WA_WState_Polished) &&
               row.contains(QPoint(row.center().x(), editor->geometry().center().y())) &&
               editor->x() >= tree.columnViewportPosition(1);
    };
    QTRY_VERIFY(placed(editors[0], "A"));
    QVERIFY(placed(editors[1], "B"));
    QVERIFY(placed(editors[3], "D"));
    QVERIFY(!editors[2]->isVisible());                               // in a collapsed section
    QVERIFY(!tree.itemWidget(tree.topLevelItem(0), 0)->isVisible()); // the hidden height row

    item(tree, "Shut")->setExpanded(true);
    QTRY_VERIFY(placed(editors[2], "C"));
    QVERIFY(placed(editors[3], "D")); // moved down below C
    // The editor with the focus stays, as Qt keeps it; the others go.
    QCOMPARE(QApplication::focusWidget(), editors[0]);
    item(tree, "Open")->setExpanded(false);
    QTRY_VERIFY(!editors[1]->isVisible());
    QVERIFY(placed(editors[2], "C"));
}

QTEST_MAIN(TestParamsTree)
#include "test_params_tree.moc"
