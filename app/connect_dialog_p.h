// Private to the connection dialog: included by connect_dialog.cpp only,
// which also includes its meta-object code.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace connect_dialog {
namespace detail {

// Lists a directory's entries as the serial-port path is typed.
class DirList : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

public slots:
    // Emits `suggestions` with every entry of `path` when it names a
    // directory, and with an empty list otherwise.
    void suggest(const QString& path);

signals:
    void suggestions(const QString& path, const QStringList& entries);
};

} // namespace detail
} // namespace connect_dialog
