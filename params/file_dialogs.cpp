#include "file_dialogs.h"

#include <QFileDialog>

namespace ui {

namespace {

FileChooser& saveChooser()
{
    static FileChooser instance;
    return instance;
}

FileChooser& openChooser()
{
    static FileChooser instance;
    return instance;
}

} // namespace

QString chooseFileToSave(QWidget* parent, const QString& caption, const QString& start,
                         const QString& filter)
{
    if (saveChooser())
        return saveChooser()(caption, start, filter);
    return QFileDialog::getSaveFileName(parent, caption, start, filter);
}

QString chooseFileToOpen(QWidget* parent, const QString& caption, const QString& start,
                         const QString& filter)
{
    if (openChooser())
        return openChooser()(caption, start, filter);
    return QFileDialog::getOpenFileName(parent, caption, start, filter);
}

FileChooser setSaveFileChooser(FileChooser chooser)
{
    return std::exchange(saveChooser(), std::move(chooser));
}

FileChooser setOpenFileChooser(FileChooser chooser)
{
    return std::exchange(openChooser(), std::move(chooser));
}

} // namespace ui
