// Every file chooser of the parameter editor goes through one of these
// functions, so that tests can choose the file instead of a person.
#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace ui {

// Gets the caption, the starting path and the file-type filter; returns the
// chosen file, or an empty text for none.
using FileChooser =
    std::function<QString(const QString& caption, const QString& start, const QString& filter)>;

// The modal save-file chooser.
QString chooseFileToSave(QWidget* parent, const QString& caption, const QString& start,
                         const QString& filter);
// The modal open-file chooser.
QString chooseFileToOpen(QWidget* parent, const QString& caption, const QString& start,
                         const QString& filter);

// Replace the choosers by `chooser` (an empty one restores them); each returns
// the previous one.
FileChooser setSaveFileChooser(FileChooser chooser);
FileChooser setOpenFileChooser(FileChooser chooser);

} // namespace ui
