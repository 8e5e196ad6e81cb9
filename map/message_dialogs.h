// Every modal message of the program goes through one of these functions, so
// that tests can take the text instead of waiting for a person to close a box.
#pragma once

#include <QColor>
#include <QString>

#include <functional>

class QWidget;

namespace ui {

using MessageSink = std::function<void(const QString& text)>;

// A new, parentless QErrorMessage showing `text`, run modally.
void showErrorMessage(const QString& text);
// A modal critical message box titled "Error".
void showCriticalMessage(const QString& text);
// A modal critical message box with its own title, over `parent`.
void showCriticalMessage(QWidget* parent, const QString& title, const QString& text);

// Replaces the dialogs by `sink` (an empty sink restores them); returns the
// previous sink.
MessageSink setMessageSink(MessageSink sink);

// The toolkit's directory chooser (directories only, links not resolved,
// starting in the current directory); empty when cancelled.
QString chooseDirectory(QWidget* parent, const QString& title);
// The toolkit's colour chooser starting at `initial`; invalid when cancelled.
QColor chooseColor(const QColor& initial, QWidget* parent, const QString& title);

// The toolkit's chooser of a file to write, with name filters such as
// "GeoPackage (*.gpkg);;CSV (*.csv)"; empty when cancelled.
QString chooseSaveFile(QWidget* parent, const QString& title, const QString& filter);

// The toolkit's chooser of a file to read; empty when cancelled.
QString chooseOpenFile(QWidget* parent, const QString& title, const QString& filter);
// A question answered Yes or No (No is the default).
bool confirm(QWidget* parent, const QString& title, const QString& text);

// Stand-ins for the choosers (empty functions restore them); each setter
// returns the previous stand-in.
using DirectoryChooser = std::function<QString(const QString& title)>;
using ColorChooser = std::function<QColor(const QColor& initial, const QString& title)>;
using SaveFileChooser = std::function<QString(const QString& title, const QString& filter)>;
DirectoryChooser setDirectoryChooser(DirectoryChooser chooser);
ColorChooser setColorChooser(ColorChooser chooser);
SaveFileChooser setSaveFileChooser(SaveFileChooser chooser);
using OpenFileChooser = std::function<QString(const QString& title, const QString& filter)>;
OpenFileChooser setOpenFileChooser(OpenFileChooser chooser);
using Confirmer = std::function<bool(const QString& text)>;
Confirmer setConfirmer(Confirmer confirmer);

} // namespace ui
