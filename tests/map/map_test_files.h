// Writes map description files into a temporary folder for one test.
#pragma once

#include "message_dialogs.h"
#include "proj_adapter.h"

#include <QFile>
#include <QPair>
#include <QStringList>
#include <QTemporaryDir>

class MapFiles
{
public:
    QString write(const QString& name, const QByteArray& content)
    {
        QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(content);
        return path;
    }
    QString missing() const { return dir.filePath(QStringLiteral("missing")); }
    QString folder() const { return dir.path(); }

private:
    QTemporaryDir dir;
};

// Collects the texts of the error dialogs instead of showing them.
class MessageLog
{
public:
    MessageLog()
    {
        previous = ui::setMessageSink([this](const QString& text) { messages << text; });
    }
    ~MessageLog() { ui::setMessageSink(previous); }
    QStringList take() { return std::exchange(messages, {}); }

private:
    QStringList messages;
    ui::MessageSink previous;
};

inline const QByteArray mercator = "+proj=merc +ellps=WGS84 +datum=WGS84 +units=m +no_defs\n";

// The geographic position (latitude, longitude) of a map point of `mercator`.
inline QPair<double, double> latLongOfMercator(double x, double y)
{
    auto merc = proj::initPlus(mercator.constData());
    auto latLong = proj::initPlus("+proj=latlong +ellps=WGS84 +datum=WGS84 +no_defs");
    proj::transform(*merc, *latLong, &x, &y);
    constexpr double degreesPerRadian = 57.29577951308232;
    return {y * degreesPerRadian, x * degreesPerRadian};
}
