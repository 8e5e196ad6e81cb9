#include "message_dialogs.h"

#include <QColorDialog>
#include <QErrorMessage>
#include <QFileDialog>
#include <QMessageBox>

namespace ui {

namespace {

MessageSink& messageSink()
{
    static MessageSink instance;
    return instance;
}

DirectoryChooser& directoryChooser()
{
    static DirectoryChooser instance;
    return instance;
}

ColorChooser& colorChooser()
{
    static ColorChooser instance;
    return instance;
}

} // namespace

void showErrorMessage(const QString& text)
{
    if (messageSink()) {
        messageSink()(text);
        return;
    }
    QErrorMessage dialog;
    dialog.showMessage(text);
    dialog.exec();
}

void showCriticalMessage(const QString& text)
{
    if (messageSink()) {
        messageSink()(text);
        return;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Error"), text);
}

void showCriticalMessage(QWidget* parent, const QString& title, const QString& text)
{
    if (messageSink()) {
        messageSink()(text);
        return;
    }
    QMessageBox::critical(parent, title, text);
}

MessageSink setMessageSink(MessageSink sink)
{
    MessageSink previous = std::move(messageSink());
    messageSink() = std::move(sink);
    return previous;
}

QString chooseDirectory(QWidget* parent, const QString& title)
{
    if (directoryChooser())
        return directoryChooser()(title);
    return QFileDialog::getExistingDirectory(
        parent, title, QString(), QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
}

QColor chooseColor(const QColor& initial, QWidget* parent, const QString& title)
{
    if (colorChooser())
        return colorChooser()(initial, title);
    return QColorDialog::getColor(initial, parent, title);
}

DirectoryChooser setDirectoryChooser(DirectoryChooser chooser)
{
    return std::exchange(directoryChooser(), std::move(chooser));
}

ColorChooser setColorChooser(ColorChooser chooser)
{
    return std::exchange(colorChooser(), std::move(chooser));
}

} // namespace ui
