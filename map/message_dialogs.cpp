#include "message_dialogs.h"

#include <QColorDialog>
#include <QErrorMessage>
#include <QFileDialog>
#include <QFileInfo>
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

SaveFileChooser& saveFileChooser()
{
    static SaveFileChooser instance;
    return instance;
}

OpenFileChooser& openFileChooser()
{
    static OpenFileChooser instance;
    return instance;
}

Confirmer& confirmer()
{
    static Confirmer instance;
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

QString chooseSaveFile(QWidget* parent, const QString& title, const QString& filter)
{
    if (saveFileChooser())
        return saveFileChooser()(title, filter);
    QString selected;
    QString path = QFileDialog::getSaveFileName(parent, title, QString(), filter, &selected);
    // A name typed without a suffix takes the chosen filter's first one.
    const int star = selected.indexOf(QLatin1String("*."));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty() && star >= 0)
        path += selected.mid(star + 1).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(')'));
    return path;
}

SaveFileChooser setSaveFileChooser(SaveFileChooser chooser)
{
    return std::exchange(saveFileChooser(), std::move(chooser));
}

QString chooseOpenFile(QWidget* parent, const QString& title, const QString& filter)
{
    if (openFileChooser())
        return openFileChooser()(title, filter);
    return QFileDialog::getOpenFileName(parent, title, QString(), filter);
}

OpenFileChooser setOpenFileChooser(OpenFileChooser chooser)
{
    return std::exchange(openFileChooser(), std::move(chooser));
}

bool confirm(QWidget* parent, const QString& title, const QString& text)
{
    if (confirmer())
        return confirmer()(text);
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

Confirmer setConfirmer(Confirmer replacement)
{
    return std::exchange(confirmer(), std::move(replacement));
}

} // namespace ui
