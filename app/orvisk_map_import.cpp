// orvisk-map-import: a map folder from any raster GDAL reads.
//
//   orvisk-map-import INPUT [FOLDER] [--epsg N | --projection DEFINITION] [--no-classic]
#include "map_import.h"

#include <orvisk_identity.h>

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>

namespace {

enum Exit {
    kDone = 0,
    kUsage = 1,
    kFailed = 2, // the input cannot be used or the folder cannot be written
};

const char* const kUsageText =
    "usage: orvisk-map-import INPUT [FOLDER] [--epsg N | --projection DEFINITION] [--no-classic]\n"
    "  Makes FOLDER (the input's name without its suffix, by default) a map folder for\n"
    "  Orvisk: map.tif, a north-up Cloud Optimized GeoTIFF with overviews, in the input's\n"
    "  projection or the one given, and in FOLDER/classic the three files of older\n"
    "  installations (map.png of at most 8000 pixels on the long side, map.pgw, map.ppr).\n"
    "  Exit status: 0 done, 1 usage, 2 the input cannot be used or the folder written.\n";

int fail(int code, const QString& text)
{
    std::fprintf(stderr, "orvisk-map-import: %s\n", text.toLocal8Bit().constData());
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setOrviskIdentity();
    QStringList positional;
    MapImportOptions options;
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::printf("%s", kUsageText);
            return kDone;
        }
        if (a == QLatin1String("--no-classic")) {
            options.classic = false;
        } else if ((a == QLatin1String("--epsg") || a == QLatin1String("--projection")) &&
                   i + 1 < args.size()) {
            const QString value = args[++i];
            bool number = false;
            const int code = value.toInt(&number);
            if (a == QLatin1String("--epsg") && (!number || code <= 0))
                return fail(kUsage,
                            QStringLiteral("--epsg takes a code, e.g. 32634\n") + kUsageText);
            options.projection =
                a == QLatin1String("--epsg") ? QStringLiteral("EPSG:%1").arg(code) : value;
        } else if (a.startsWith(QLatin1String("--"))) {
            return fail(kUsage, QStringLiteral("%1: unknown option or without its value\n%2")
                                    .arg(a, QLatin1String(kUsageText)));
        } else {
            positional << a;
        }
    }
    if (positional.isEmpty() || positional.size() > 2)
        return fail(kUsage, QStringLiteral("one input and at most one folder\n") + kUsageText);
    const QString input = positional[0];
    const QString folder = positional.value(1, QFileInfo(input).completeBaseName().isEmpty()
                                                   ? QStringLiteral("map")
                                                   : QFileInfo(input).completeBaseName());
    QString error;
    if (!importMap(input, folder, options, &error, [](const QString& stage) {
            std::fprintf(stderr, "orvisk-map-import: %s\n", stage.toLocal8Bit().constData());
        }))
        return fail(kFailed, error);
    std::fprintf(stderr,
                 "orvisk-map-import: %s is ready; choose it in Settings as the map "
                 "folder.\n",
                 folder.toLocal8Bit().constData());
    return kDone;
}
