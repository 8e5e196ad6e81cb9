#include "map_files.h"

#include <QFile>
#include <QImageReader>

#include <cmath>

namespace map_files {

namespace {

constexpr int calibrationLines = 6;
// A world file is six short lines and a projection one line of parameters;
// a longer line makes the file something else.
constexpr qint64 longestLine = 64 * 1024;

bool overLimit(const QSize& size)
{
    return static_cast<qint64>(size.width()) * size.height() * 4 > kImageByteLimit;
}

// One line with its line end, or nothing when it is longer than longestLine.
std::optional<QByteArray> readLine(QIODevice& device)
{
    QByteArray line = device.readLine(longestLine + 1);
    if (line.size() >= longestLine && !line.endsWith('\n') && !device.atEnd())
        return std::nullopt;
    return line;
}

} // namespace

std::optional<QImage> readImage(QIODevice* device)
{
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || overLimit(size))
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return std::nullopt;
    // A GIF frame reaching past its logical screen grows the image beyond
    // what the header said.
    if (overLimit(image.size()))
        return std::nullopt;
    return image;
}

std::optional<QImage> readImage(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return readImage(&file);
}

std::optional<WorldFile> readWorldFile(QIODevice& device)
{
    double values[calibrationLines] = {};
    int count = 0;
    while (!device.atEnd() && count < calibrationLines) {
        // "C" locale, blanks and the line end ignored, 0 when not a number.
        const std::optional<QByteArray> line = readLine(device);
        if (!line)
            return std::nullopt;
        values[count++] = line->toDouble();
    }
    if (count < calibrationLines)
        return std::nullopt;
    const WorldFile world{QPointF(values[0], values[3]), QPointF(values[4], values[5])};
    for (double v : {values[0], values[3], values[4], values[5]})
        if (!std::isfinite(v))
            return std::nullopt;
    if (world.pixelSize.x() == 0 || world.pixelSize.y() == 0)
        return std::nullopt;
    return world;
}

QByteArray readProjectionLine(QIODevice& device)
{
    return readLine(device).value_or(QByteArray());
}

} // namespace map_files
