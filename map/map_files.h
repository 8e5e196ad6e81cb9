// Readers of the three files of a map folder: the raster image, the world
// file and the projection definition. They only read; the map widget decides
// what to keep. Damaged or hostile files are refused here, so a map never
// takes half of a folder.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QPointF>
#include <QString>

#include <optional>

class QIODevice;

namespace map_files {

// The largest image a map takes, in bytes of decoded 32-bit pixels. The
// size is read from the image's header before anything is decoded, so a
// header claiming an enormous image costs nothing.
constexpr qint64 kImageByteLimit = 512LL * 1024 * 1024;

// The image in `device`, its format decided by content; nothing for a file
// that is empty, truncated, not an image, or too large.
std::optional<QImage> readImage(QIODevice* device);
std::optional<QImage> readImage(const QString& path);

struct WorldFile
{
    QPointF pixelSize; // map units per pixel along x and y (lines 1 and 4)
    QPointF origin;    // map x and y of the upper-left pixel's centre (lines 5 and 6)
};

// Six lines, one number each (a line that is not a number reads as 0). Refused
// with fewer lines, with a line too long to be a number, with a pixel size of zero, or with any
// value used that is not finite.
std::optional<WorldFile> readWorldFile(QIODevice& device);

// The first line of a projection file, as raw bytes with its line end; empty
// when it is too long to be a definition.
QByteArray readProjectionLine(QIODevice& device);

} // namespace map_files
