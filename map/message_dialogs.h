// Every modal message of the program goes through one of these functions, so
// that tests can take the text instead of waiting for a person to close a box.
#pragma once

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

} // namespace ui
