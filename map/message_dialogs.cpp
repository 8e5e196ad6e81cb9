#include "message_dialogs.h"

#include <QErrorMessage>
#include <QMessageBox>

namespace ui {

namespace detail {
MessageSink& sink()
{
    static MessageSink instance;
    return instance;
}
} // namespace detail

void showErrorMessage(const QString& text)
{
    if (detail::sink()) {
        detail::sink()(text);
        return;
    }
    QErrorMessage dialog;
    dialog.showMessage(text);
    dialog.exec();
}

void showCriticalMessage(const QString& text)
{
    if (detail::sink()) {
        detail::sink()(text);
        return;
    }
    QMessageBox::critical(nullptr, QStringLiteral("Error"), text);
}

void showCriticalMessage(QWidget* parent, const QString& title, const QString& text)
{
    if (detail::sink()) {
        detail::sink()(text);
        return;
    }
    QMessageBox::critical(parent, title, text);
}

MessageSink setMessageSink(MessageSink sink)
{
    MessageSink previous = std::move(detail::sink());
    detail::sink() = std::move(sink);
    return previous;
}

} // namespace ui
