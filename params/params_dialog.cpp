#include "params_dialog.h"

#include "file_dialogs.h"
#include "item_model_utils.h"
#include "ui_params_dialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>

#include <cstdio>

namespace {

void trace(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

} // namespace

// --------------------------------------------------------------- ParamsDialog

ParamsDialog::ParamsDialog(const QString& title, const QString& settingsName, int buttons,
                           QWidget* parent)
    : QDialog(parent), form(new Ui_ParamsDialog),
      settingsName(settingsName.isEmpty() ? title : settingsName)
{
    form->setupUi(this);
    setWindowTitle(title);
    form->group_box->setTitle(title);
    exporters.insert(QStringLiteral("txt"), {&SimpleParamsSerializer::createSerializer,
                                             QStringLiteral("Korvenix parameters"), 3});

    if (buttons & NoCancelButton)
        form->button_box->setStandardButtons(form->button_box->standardButtons() &
                                             ~QDialogButtonBox::Cancel);
    if (buttons & SaveButton) {
        QPushButton* save =
            form->button_box->addButton(QStringLiteral("Save"), QDialogButtonBox::ApplyRole);
        connect(save, &QPushButton::clicked, this, &ParamsDialog::saveValues);
    }
    if (buttons & LoadButton) {
        QPushButton* load =
            form->button_box->addButton(QStringLiteral("Load"), QDialogButtonBox::ApplyRole);
        connect(load, &QPushButton::clicked, this, &ParamsDialog::loadValues);
    }
    connect(form->tree, &ParamsTree::valueChanged, this, &ParamsDialog::valueChanged);
}

ParamsDialog::~ParamsDialog()
{
    delete form;
}

void ParamsDialog::setCaption(const QString& caption)
{
    setWindowTitle(caption);
}

ParamsTree* ParamsDialog::tree() const
{
    return form->tree;
}

void ParamsDialog::setExporter(const QString& suffix, const Exporter& exporter)
{
    exporters.insert(suffix, exporter);
}

void ParamsDialog::changeValue(QString what, QVariant value)
{
    form->tree->changeValue(what, value);
}

ParamsDialog& ParamsDialog::up()
{
    form->tree->up();
    return *this;
}

ParamsDialog& ParamsDialog::asSection(bool expanded)
{
    form->tree->asSection(expanded);
    return *this;
}

ParamsDialog& ParamsDialog::addSection(const QString& label, bool expanded)
{
    form->tree->addSection(label, expanded);
    return *this;
}

ParamsDialog& ParamsDialog::addSection(const QString& label, const QString& name, bool expanded)
{
    form->tree->addSection(label, name, expanded);
    return *this;
}

ParamsDialog& ParamsDialog::readOnly()
{
    form->tree->readOnly();
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, unsigned int index,
                                     const QStringList& items)
{
    form->tree->addParam(label, index, items);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& name, unsigned int index,
                                     const QStringList& items)
{
    form->tree->addParam(label, name, index, items);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& value,
                                     const QString& mask)
{
    form->tree->addParam(label, value, mask);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& name,
                                     const QString& value, const QString& mask)
{
    form->tree->addParam(label, name, value, mask);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& value, const char* mask)
{
    form->tree->addParam(label, value, mask);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& value,
                                     const QValidator& validator)
{
    form->tree->addParam(label, value, validator);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& name,
                                     const QString& value, const QValidator& validator)
{
    form->tree->addParam(label, name, value, validator);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, bool checked, ExclusiveGroup group)
{
    form->tree->addParam(label, checked, group);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& name, bool checked,
                                     ExclusiveGroup group)
{
    form->tree->addParam(label, name, checked, group);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QVariant& value,
                                     const QVariant& min, const QVariant& max, int decimals)
{
    form->tree->addParam(label, value, min, max, decimals);
    return *this;
}

ParamsDialog& ParamsDialog::addParam(const QString& label, const QString& name,
                                     const QVariant& value, const QVariant& min,
                                     const QVariant& max, int decimals)
{
    form->tree->addParam(label, name, value, min, max, decimals);
    return *this;
}

QVariant ParamsDialog::value(const QString& label, const QString& section,
                             long long defaultValue) const
{
    return form->tree->value(label, section, QVariant(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section, int defaultValue) const
{
    return form->tree->value(label, section, QVariant(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section,
                             unsigned int defaultValue) const
{
    return form->tree->value(label, section, QVariant(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section,
                             unsigned short defaultValue) const
{
    return form->tree->value(label, section, QVariant::fromValue(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section,
                             unsigned char defaultValue) const
{
    return form->tree->value(label, section, QVariant::fromValue(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section, float defaultValue) const
{
    return form->tree->value(label, section, QVariant(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section,
                             const QString& defaultValue) const
{
    return form->tree->value(label, section, QVariant(defaultValue));
}

QVariant ParamsDialog::value(const QString& label, const QString& section, bool defaultValue) const
{
    return form->tree->value(label, section, QVariant(defaultValue));
}

QString ParamsDialog::fileFilter(int capability) const
{
    QString filter;
    for (auto it = exporters.cbegin(); it != exporters.cend(); ++it)
        if (it->mask & capability)
            filter += it->description + QLatin1String(" (*.") + it.key() + QLatin1String(");;");
    return filter;
}

QString ParamsDialog::startPath() const
{
    QSettings settings;
    return settings.value(QStringLiteral("LastSaveLoadDir"), QDir::currentPath()).toString() +
           QLatin1Char('/') + settingsName;
}

void ParamsDialog::rememberDirectory(const QString& fileName) const
{
    int slash = fileName.lastIndexOf(QLatin1Char('/'));
    QString directory = slash >= 0 ? fileName.left(slash) : QFileInfo(fileName).absolutePath();
    QSettings().setValue(QStringLiteral("LastSaveLoadDir"), directory);
}

bool ParamsDialog::saveValues()
{
    const QString fileName = ui::chooseFileToSave(
        this, QStringLiteral("Choose a file to store the parameters"), startPath(), fileFilter(1));
    if (fileName.isEmpty())
        return false;
    const QString suffix = fileName.mid(fileName.lastIndexOf(QLatin1Char('.')) + 1);
    auto exporter = exporters.constFind(suffix);
    std::shared_ptr<ParamsSerializer> serializer = exporter != exporters.cend() && exporter->factory
                                                       ? exporter->factory(QString())
                                                       : std::make_shared<SimpleParamsSerializer>();
    rememberDirectory(fileName);
    form->tree->saveValues(*serializer);
    if (!serializer->saveAll(fileName)) {
        const QString problem = serializer->error();
        trace(QStringLiteral("Parameters not saved: %1")
                  .arg(!problem.isEmpty() ? problem : QStringLiteral("cannot write ") + fileName));
        return false;
    }
    return true;
}

bool ParamsDialog::loadValues()
{
    const QString fileName = ui::chooseFileToOpen(
        this, QStringLiteral("Choose a file to load the parameters"), startPath(), fileFilter(2));
    if (fileName.isEmpty())
        return false;
    const QString suffix = fileName.mid(fileName.lastIndexOf(QLatin1Char('.')) + 1);
    auto exporter = exporters.constFind(suffix);
    std::shared_ptr<ParamsSerializer> serializer =
        exporter != exporters.cend() && exporter->factory
            ? exporter->factory(fileName)
            : SimpleParamsSerializer::createSerializer(fileName);
    rememberDirectory(fileName);
    // A refused file changes no editor.
    const QFileInfo file(fileName);
    if (const QString problem = serializer->error(); !problem.isEmpty()) {
        trace(QStringLiteral("Parameters not loaded: %1").arg(problem));
        return false;
    }
    if (!file.isFile() || !file.isReadable()) {
        trace(QStringLiteral("Parameters not loaded: cannot read %1").arg(fileName));
        return false;
    }
    form->tree->loadValues(*serializer);
    return true;
}

QString ParamsDialog::windowGroup() const
{
    return form->group_box->title();
}

void ParamsDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    ParamsTree* tree = form->tree;
    QSize preferred = size();
    const int tooWide = tree->columnWidth(0) + tree->columnWidth(1) - tree->viewport()->width();
    if (tooWide > 0)
        preferred.rwidth() += tooWide;
    const int tooHigh =
        tree->rowHeight() * itemutils::countItems(*tree, 20) - tree->viewport()->height();
    if (tooHigh > 0)
        preferred.rheight() += tooHigh;

    QSettings settings;
    settings.beginGroup(windowGroup());
    resize(settings.value(QStringLiteral("size"), preferred).toSize());
    move(settings.value(QStringLiteral("pos"), pos()).toPoint());
    keepOnScreen();
    QList<ParamsTree::nodes> nodes;
    const int count = settings.beginReadArray(QStringLiteral("nodes"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        nodes.append({settings.value(QStringLiteral("node name")).toString(),
                      settings.value(QStringLiteral("node expand")).toInt() != 0});
    }
    settings.endArray();
    tree->readNodes(nodes);
    // Lay the rows out now, so the scroll bar has its range before it is set.
    tree->doItemsLayout();
    tree->verticalScrollBar()->setValue(
        settings.value(QStringLiteral("scrollbar position"), tree->verticalScrollBar()->value())
            .toInt());
}

// A long tree or a size and place remembered on another screen must not put
// the buttons out of reach.
void ParamsDialog::keepOnScreen()
{
    const QScreen* screen = QGuiApplication::screenAt(frameGeometry().center());
    if (!screen)
        screen = this->screen();
    if (!screen)
        return;
    const QRect available = screen->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    const QSize fitting = size().boundedTo(available.size() - frame);
    if (fitting != size())
        resize(fitting);
    const QSize outer = fitting + frame;
    const int x = qBound(available.left(), pos().x(), available.right() + 1 - outer.width());
    const int y = qBound(available.top(), pos().y(), available.bottom() + 1 - outer.height());
    if (QPoint(x, y) != pos())
        move(x, y);
}

void ParamsDialog::hideEvent(QHideEvent* event)
{
    QList<ParamsTree::nodes> nodes;
    form->tree->writeNodes(nodes);
    QSettings settings;
    settings.beginGroup(windowGroup());
    settings.setValue(QStringLiteral("pos"), pos());
    settings.setValue(QStringLiteral("size"), size());
    settings.setValue(QStringLiteral("scrollbar position"),
                      form->tree->verticalScrollBar()->value());
    settings.remove(QStringLiteral("nodes"));
    settings.beginWriteArray(QStringLiteral("nodes"), nodes.size());
    for (int i = 0; i < nodes.size(); ++i) {
        settings.setArrayIndex(i);
        settings.setValue(QStringLiteral("node name"), nodes[i].name);
        settings.setValue(QStringLiteral("node expand"), nodes[i].expanded ? 1 : 0);
    }
    settings.endArray();
    QDialog::hideEvent(event);
}

void ParamsDialog::closeEvent(QCloseEvent* event)
{
    QSettings settings;
    settings.beginGroup(windowGroup());
    settings.setValue(QStringLiteral("pos"), pos());
    settings.setValue(QStringLiteral("size"), size());
    QDialog::closeEvent(event);
}
