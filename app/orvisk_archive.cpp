// orvisk-archive: the archive of survey downloads without the window.
//
//   orvisk-archive [--archive FILE] COMMAND ...
//
// Lists, shows, exports, imports and deletes archived downloads, and copies
// them to and from the team database.
#include "archive_team.h"
#include "survey_archive.h"
#include "survey_export.h"
#include "survey_file.h"
#include "survey_raster.h"
#include "survey_report.h"

#include <check_settings.h>
#include <dose_scale.h>
#include <map_settings.h>
#include <message_dialogs.h>
#include <orvisk.h>
#include <orvisk_identity.h>

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

enum Exit {
    kDone = 0,
    kUsage = 1,
    kNoArchive = 2,   // the archive cannot be opened
    kNoDownload = 3,  // no download of that id
    kFileFailed = 4,  // a file cannot be read or written
    kTeamFailed = 5,  // the team database
    kWriteFailed = 6, // the archive cannot be written
};

const char* const kUsageText =
    "usage: orvisk-archive [--archive FILE] COMMAND\n"
    "  list                 the archived downloads, oldest first\n"
    "  show ID              one download: the instrument, the period, the counts\n"
    "  export ID FILE       its points, in FILE's format (.gpkg, .geojson, .gpx,\n"
    "                       .kml, .csv; - for CSV on standard output)\n"
    "  interpolate ID FILE.tif [--epsg N] [--cell M] [--power P] [--radius M]\n"
    "                       [--mask M]\n"
    "                       a dose-rate raster of its good points (nSv/h, Cloud\n"
    "                       Optimized GeoTIFF): in each cell the points within the\n"
    "                       radius (30 m) weighted by distance to the power P (2),\n"
    "                       nothing farther than the mask (20 m) from a point;\n"
    "                       cells of M metres (about 1000 on the long side), in\n"
    "                       EPSG:N (the UTM zone of the points)\n"
    "  report ID FILE.pdf [--title TEXT] [--page A4|Letter] [--portrait]\n"
    "                       a one-page map report: the survey on the map set in\n"
    "                       Orvisk's settings, its legend, statistics and checks\n"
    "                       (landscape A4 unless asked otherwise)\n"
    "  import FILE          a GeoPackage, GeoJSON, GPX, KML or CSV file's points\n"
    "                       as a download of its own\n"
    "  delete ID            removes a download (records another download shares stay)\n"
    "  push CONNECTION      copies the downloads the team database lacks\n"
    "  pull CONNECTION      copies the team database's downloads this archive lacks\n"
    "  The archive is FILE, else ORVISK_ARCHIVE, else archive.gpkg in Orvisk's data\n"
    "  folder. CONNECTION is GDAL's, e.g. \"PG:host=127.0.0.1 dbname=survey user=me\".\n"
    "  Exit status: 0 done, 1 usage, 2 the archive cannot be opened, 3 no such\n"
    "  download, 4 a file cannot be read or written, 5 the team database failed,\n"
    "  6 the archive cannot be written.\n";

void out(const QString& text)
{
    std::printf("%s\n", text.toLocal8Bit().constData());
}

int fail(int code, const QString& text)
{
    std::fprintf(stderr, "orvisk-archive: %s\n", text.toLocal8Bit().constData());
    return code;
}

QString when(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + 'Z'
                       : QStringLiteral("-");
}

QString instrument(const DownloadInfo& info)
{
    return info.serial.isEmpty() ? info.family : info.family + QLatin1Char(' ') + info.serial;
}

QString doseRate(double microSievertPerHour)
{
    return std::isnan(microSievertPerHour)
               ? QStringLiteral("-")
               : QString::number(microSievertPerHour * 1000, 'f', 0) + QStringLiteral(" nSv/h");
}

void list(SurveyArchive& archive)
{
    out(QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
            .arg(QStringLiteral("ID"), 4)
            .arg(QStringLiteral("downloaded"), -20)
            .arg(QStringLiteral("instrument"), -12)
            .arg(QStringLiteral("period"), -41)
            .arg(QStringLiteral("records"), 9)
            .arg(QStringLiteral("points"), 8)
            .arg(QStringLiteral("highest")));
    for (const ArchivedDownload& d : archive.downloads())
        out(QStringLiteral("%1  %2  %3  %4  %5  %6  %7")
                .arg(d.id, 4)
                .arg(when(d.info.downloaded), -20)
                .arg(instrument(d.info), -12)
                .arg(when(d.firstTime) + QStringLiteral(" - ") + when(d.lastTime), -41)
                .arg(QStringLiteral("%1/%2").arg(d.info.fetched).arg(d.info.listed), 9)
                .arg(d.points, 8)
                .arg(doseRate(d.maxDoseRate)));
}

void show(const ArchivedDownload& d)
{
    const DownloadInfo& i = d.info;
    QStringList missing;
    for (uint32_t index : i.missingIndices)
        missing << QString::number(index);
    const std::pair<const char*, QString> lines[] = {
        {"download", QString::number(d.id)},
        {"uuid", i.uuid},
        {"instrument", instrument(i)},
        {"versions record", i.versions.isEmpty()
                                ? QStringLiteral("-")
                                : QStringLiteral("%1 bytes").arg(i.versions.size())},
        {"connection", i.connection},
        {"downloaded", when(i.downloaded)},
        {"period asked", i.periodFrom.isValid() ? QStringLiteral("from ") + when(i.periodFrom)
                                                : QStringLiteral("every record")},
        {"records", QStringLiteral("%1 listed, %2 fetched, %3 missing")
                        .arg(i.listed)
                        .arg(i.fetched)
                        .arg(i.missing)},
        {"missing records", missing.isEmpty() ? QStringLiteral("-") : missing.join(' ')},
        {"points", QString::number(d.points)},
        {"first point", when(d.firstTime)},
        {"last point", when(d.lastTime)},
        {"highest dose rate", doseRate(d.maxDoseRate)},
        {"written by", QStringLiteral("Orvisk ") + i.orviskVersion},
    };
    for (const auto& [name, value] : lines)
        out(QStringLiteral("%1 %2").arg(QLatin1String(name) + ':', -19).arg(value));
}

int teamResult(const char* verb, const TeamResult& r)
{
    out(QStringLiteral("%1 %2 %3 (%4 records, %5 points); %6 %7 there already")
            .arg(QLatin1String(verb))
            .arg(r.downloads)
            .arg(r.downloads == 1 ? "download" : "downloads")
            .arg(r.records)
            .arg(r.points)
            .arg(r.alreadyThere)
            .arg(r.alreadyThere == 1 ? "was" : "were"));
    return kDone;
}

// The interpolation's options after "interpolate ID FILE"; false with the
// reason for a flag that is unknown, without its value, or out of range.
bool rasterArguments(const QStringList& flags, RasterOptions& options, QString* error)
{
    for (int i = 0; i < flags.size(); i += 2) {
        const QString& flag = flags[i];
        double* value = flag == QLatin1String("--cell")     ? &options.cellSize
                        : flag == QLatin1String("--power")  ? &options.power
                        : flag == QLatin1String("--radius") ? &options.radius
                        : flag == QLatin1String("--mask")   ? &options.mask
                                                            : nullptr;
        if (!value && flag != QLatin1String("--epsg")) {
            *error = QStringLiteral("interpolate: unknown option %1\n%2").arg(flag, kUsageText);
            return false;
        }
        bool ok = false;
        const double number = flags.value(i + 1).toDouble(&ok);
        const int code = flags.value(i + 1).toInt();
        if (!ok || (!value && (code <= 0 || code != number))) {
            *error = QStringLiteral("interpolate: %1 takes %2\n%3")
                         .arg(flag, value ? "a number" : "an EPSG code, e.g. 32635",
                              QLatin1String(kUsageText));
            return false;
        }
        if (value)
            *value = number;
        else
            options.projection = QStringLiteral("EPSG:%1").arg(code);
    }
    *error = rasterOptionsProblem(options);
    if (!error->isEmpty())
        *error = QStringLiteral("interpolate: ") + *error;
    return error->isEmpty();
}

int interpolate(SurveyArchive& archive, qint64 id, const QString& file, RasterOptions options)
{
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> spans;
    QString error;
    options.provenance = archivedProvenance(archive, id, &error);
    if (!options.provenance || !archive.points(id, points) || !archive.recordSpans(id, 0, spans))
        return fail(kNoArchive, options.provenance ? archive.lastError() : error);
    // Only the good points: a flagged one would colour the cells around it.
    const std::vector<uint16_t> flags =
        checkSurvey(points, spans, limitsForData(points, loadCheckLimits()));
    DoseRaster raster;
    if (!interpolateSurvey(points, flags, options, file, &error, &raster))
        return fail(kFileFailed, error);
    std::fprintf(
        stderr, "interpolated %zu points onto %d x %d cells of %s m (%s) in %s\n", raster.points,
        raster.frame.columns, raster.frame.rows,
        QString::number(raster.frame.cell * raster.metresPerUnit, 'g', 6).toUtf8().constData(),
        (raster.authority.isEmpty() ? raster.projectionName : raster.authority)
            .toLocal8Bit()
            .constData(),
        file.toLocal8Bit().constData());
    return kDone;
}

// The report's options after "report ID FILE"; false with the reason for a
// flag that is unknown or without its value.
bool reportArguments(const QStringList& flags, ReportOptions& options, QString& title,
                     QString* error)
{
    for (int i = 0; i < flags.size(); ++i) {
        const QString& flag = flags[i];
        if (flag == QLatin1String("--portrait") || flag == QLatin1String("--landscape")) {
            options.orientation = flag == QLatin1String("--portrait") ? QPageLayout::Portrait
                                                                      : QPageLayout::Landscape;
            continue;
        }
        const bool hasValue = i + 1 < flags.size();
        if (flag == QLatin1String("--title") && hasValue) {
            title = flags[++i];
            continue;
        }
        if (flag == QLatin1String("--page") && hasValue) {
            const std::optional<QPageSize::PageSizeId> page = pageNamed(flags[++i]);
            if (!page) {
                *error = QStringLiteral("report: --page takes A4 or Letter, not %1").arg(flags[i]);
                return false;
            }
            options.page = *page;
            continue;
        }
        *error = QStringLiteral("report: %1 %2\n%3")
                     .arg(flag,
                          hasValue || !flag.startsWith(QLatin1String("--"))
                              ? QStringLiteral("is not an option")
                              : QStringLiteral("takes a value"),
                          QLatin1String(kUsageText));
        return false;
    }
    return true;
}

// The survey drawn on the map of Orvisk's settings, as the window draws it,
// and written as a report.
int report(SurveyArchive& archive, qint64 id, const QString& file, const ReportOptions& options,
           QString title)
{
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> spans;
    QString error;
    std::optional<SurveyProvenance> provenance = archivedProvenance(archive, id, &error);
    if (!provenance || !archive.points(id, points) || !archive.recordSpans(id, 0, spans))
        return fail(kNoArchive, provenance ? archive.lastError() : error);
    const MapSettings settings = MapSettings::load();
    // The map's own complaints go to standard error; the report goes on
    // without what could not be loaded.
    ui::setMessageSink([](const QString& text) {
        std::fprintf(stderr, "orvisk-archive: the map: %s\n", text.toLocal8Bit().constData());
    });
    TOrvisk map;
    map.setDoseScale(DoseScale(settings.thresholds, settings.colors));
    map.loadMapFolder(settings.folder);
    map.clearTrack();
    map.addTrackPoints(points);
    const CheckLimits limits = limitsForData(points, settings.checks);
    std::vector<uint16_t> flags = checkSurvey(points, spans, limits);
    map.setTrackFlags(flags);
    map.createScene(QSettings().value(QStringLiteral("trackR")).toInt());
    ReportFacts facts =
        reportFacts(points, flags, {}, recordOfPoints(spans, points.size()), limits);
    facts.provenance = std::move(provenance);
    facts.title = title.isEmpty() ? defaultReportTitle(facts) : title;
    if (!writeSurveyReport(file, map, facts, options, &error))
        return fail(kFileFailed, error);
    std::fprintf(stderr, "wrote the report of %zu points (%d placed on the map) to %s\n",
                 points.size(), map.getTrackLen(), file.toLocal8Bit().constData());
    return kDone;
}

int run(const QString& path, const QStringList& args)
{
    const QString command = args.value(0);
    const int needed = command == QLatin1String("list")     ? 1
                       : command == QLatin1String("export") ? 3
                       : QStringList{"show", "import", "delete", "push", "pull"}.contains(command)
                           ? 2
                           : 0;
    const bool interpolating = command == QLatin1String("interpolate");
    const bool reporting = command == QLatin1String("report");
    if (interpolating ? args.size() < 3 || args.size() % 2 == 0
        : reporting   ? args.size() < 3
                      : needed == 0 || args.size() != needed)
        return fail(kUsage, command.isEmpty() ? QStringLiteral("no command\n") + kUsageText
                                              : QStringLiteral("%1: wrong command or arguments\n%2")
                                                    .arg(command, QLatin1String(kUsageText)));

    // The team database is asked before the archive is opened, so that a
    // database that cannot be used leaves the archive as it was.
    TeamResult team;
    QString error;
    if (command == QLatin1String("push"))
        return pushArchive(path, args[1], &team, &error) ? teamResult("pushed", team)
                                                         : fail(kTeamFailed, error);
    if (command == QLatin1String("pull"))
        return pullArchive(path, args[1], &team, &error) ? teamResult("pulled", team)
                                                         : fail(kTeamFailed, error);

    RasterOptions raster;
    if (interpolating && !rasterArguments(args.mid(3), raster, &error))
        return fail(kUsage, error);
    ReportOptions reportOptions;
    QString title;
    if (reporting && !reportArguments(args.mid(3), reportOptions, title, &error))
        return fail(kUsage, error);

    std::optional<SurveyFile> file;
    QByteArray fileBytes;
    if (command == QLatin1String("import")) {
        file = readSurveyFile(args[1], &error);
        if (!file)
            return fail(kFileFailed, error);
        QFile f(args[1]);
        if (!f.open(QIODevice::ReadOnly))
            return fail(kFileFailed, QStringLiteral("%1: %2").arg(args[1], f.errorString()));
        fileBytes = f.readAll();
    }
    std::unique_ptr<SurveyArchive> archive = SurveyArchive::open(path, &error);
    if (!archive)
        return fail(kNoArchive, error);
    if (command == QLatin1String("list")) {
        list(*archive);
        return kDone;
    }
    if (command == QLatin1String("import")) {
        const qint64 id = archive->importPoints(args[1], fileBytes, file->points);
        if (id <= 0)
            return fail(id < 0 ? kDone : kWriteFailed, archive->lastError());
        out(QStringLiteral("imported %1 points as download %2%3")
                .arg(file->points.size())
                .arg(id)
                .arg(file->doseRateField.isEmpty() && !file->orviskExport
                         ? QStringLiteral(" (no dose-rate field found)")
                         : QString()));
        return kDone;
    }

    bool ok = false;
    const qint64 id = args[1].toLongLong(&ok);
    const std::optional<ArchivedDownload> download = ok ? archive->download(id) : std::nullopt;
    if (!download)
        return fail(kNoDownload, QStringLiteral("%1: no download %2").arg(path, args[1]));
    if (command == QLatin1String("show")) {
        show(*download);
        return kDone;
    }
    if (command == QLatin1String("delete")) {
        if (!archive->remove(id))
            return fail(kWriteFailed, archive->lastError());
        out(QStringLiteral("deleted download %1").arg(id));
        return kDone;
    }
    if (interpolating)
        return interpolate(*archive, id, args[2], raster);
    if (reporting)
        return report(*archive, id, args[2], reportOptions, title);
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> spans;
    if (!archive->points(id, points) || !archive->recordSpans(id, 0, spans))
        return fail(kNoArchive, archive->lastError());
    // Flagged points are written too, naming the checks they failed.
    const std::vector<uint16_t> flags =
        checkSurvey(points, spans, limitsForData(points, loadCheckLimits()));
    SurveyExportOptions exported;
    exported.flags = &flags;
    exported.provenance = archivedProvenance(*archive, id, &error);
    if (!exported.provenance)
        return fail(kNoArchive, error);
    if (!exportSurvey(args[2], points, exported, &error))
        return fail(kFileFailed, error);
    if (args[2] != QLatin1String("-"))
        std::fprintf(stderr, "exported %zu points to %s\n", points.size(),
                     args[2].toLocal8Bit().constData());
    return kDone;
}

} // namespace

int main(int argc, char** argv)
{
    // A report draws the map: widgets, off any screen.
    const bool drawing =
        std::any_of(argv + 1, argv + argc, [](const char* a) { return !std::strcmp(a, "report"); });
    if (drawing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app = drawing
                                                ? std::make_unique<QApplication>(argc, argv)
                                                : std::make_unique<QCoreApplication>(argc, argv);
    setOrviskIdentity();
    QStringList args = app->arguments().mid(1);
    QString path;
    if (args.value(0) == QLatin1String("--archive")) {
        if (args.size() < 2)
            return fail(kUsage, QStringLiteral("--archive takes a file name\n") + kUsageText);
        path = args[1];
        args = args.mid(2);
    }
    if (args.value(0) == QLatin1String("--help") || args.value(0) == QLatin1String("-h")) {
        std::printf("%s", kUsageText);
        return kDone;
    }
    return run(path.isEmpty() ? SurveyArchive::defaultPath() : path, args);
}
