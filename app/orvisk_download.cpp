// orvisk-download: the window's survey download without the window.
//
//   orvisk-download CONNECTION-STRING [--hours N | --days N] [--out FILE] [--no-archive]
//
// Connects, identifies the instrument, downloads its survey records newest
// first with the window's retries, and writes the points by FILE's suffix
// (CSV on standard output without --out). Progress and the command layer's
// trace lines go to standard error.
#include "archive_writer.h"
#include "instrument_cli.h"
#include "survey_download.h"
#include "survey_export.h"

#include <check_settings.h>

#include <instrument_live.h>
#include <live_family.h>
#include <mxx_comm.h>
#include <mxx_device.h>
#include <mxx_family_id.h>
#include <orvisk_identity.h>
#include <whole_file.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QStringList>

#include <atomic>
#include <cstdio>
#include <unistd.h>

namespace {

enum Exit {
    kDone = 0,
    kUsage = 1,
    kNoConnection = 2,
    kWrongFamily = 3,
    kListRefused = 4,
    kRecordsMissing = 5,
    kWriteFailed = 6,
    kNotArchived = 7,
    kInterrupted = 130, // as a shell reports a program ended by Ctrl+C
};

int pointsOut = 1; // standard output as it was at start
// Ctrl+C ends the download after the exchange under way; what arrived is written.
using instrument_cli::familyName;
using instrument_cli::interrupted;
using instrument_cli::printable;
using instrument_cli::say;

const char* const kUsageText =
    "usage: orvisk-download CONNECTION-STRING [--hours N | --days N] [--out FILE]\n"
    "                       [--no-archive]\n"
    "  Downloads the survey records of an M28, M30, M34 or M36, newest first, and writes\n"
    "  every point with a position: FILE's suffix picks the format (.gpkg, .geojson,\n"
    "  .gpx, .kml, .csv); without --out, CSV goes to standard output.\n"
    "  --hours N, --days N   only the records of the last N hours or days\n"
    "  --no-archive          do not keep the download in the archive (ORVISK_ARCHIVE,\n"
    "                        or archive.gpkg in Orvisk's data folder)\n"
    "  Exit status: 0 done, 1 usage, 2 no connection, 3 no survey store, 4 index list\n"
    "  refused, 5 records missing (the rest is written), 6 the file cannot be written,\n"
    "  7 the archive cannot be written (the file is), 130 interrupted before any\n"
    "  record arrived.\n";

int fail(int code, const QString& text)
{
    say(QStringLiteral("orvisk-download: ") + text);
    return code;
}

struct Options
{
    QString connection;
    QString out = QStringLiteral("-");
    QDateTime oldest; // invalid: every record
    bool archive = true;
};

bool parse(const QStringList& args, Options& o, QString& error)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        auto value = [&](int max) {
            bool ok = false;
            const int n = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || n < 1 || n > max)
                error = QStringLiteral("%1 takes a whole number from 1 to %2").arg(a).arg(max);
            return n;
        };
        if (a == QLatin1String("--hours") || a == QLatin1String("--days")) {
            if (o.oldest.isValid())
                error = QStringLiteral("give --hours or --days, not both");
            const bool hours = a == QLatin1String("--hours");
            const int n = value(hours ? 24 * 365 : 365 * 50);
            const QDateTime now = QDateTime::currentDateTime();
            o.oldest = hours ? now.addSecs(-3600LL * n) : now.addDays(-n);
        } else if (a == QLatin1String("--out")) {
            if (i + 1 < args.size())
                o.out = args[++i];
            else
                error = QStringLiteral("--out takes a file name");
        } else if (a == QLatin1String("--no-archive")) {
            o.archive = false;
        } else if (a.startsWith(QLatin1String("--")) || !o.connection.isEmpty()) {
            error = QStringLiteral("unknown argument: %1").arg(a);
        } else {
            o.connection = a;
        }
        if (!error.isEmpty())
            return false;
    }
    if (o.connection.isEmpty())
        error = QStringLiteral("no connection string");
    return error.isEmpty();
}

// Connects and identifies; false with the exit status in `status`.
bool connectInstrument(MXXDevice& device, const QString& connection, int& status)
{
    switch (instrument_cli::connectInstrument(device, connection)) {
    case instrument_cli::Connection::Identified:
        return true;
    case instrument_cli::Connection::CannotOpen:
        status = fail(kNoConnection,
                      QStringLiteral("%1: the connection cannot be opened").arg(connection));
        return false;
    case instrument_cli::Connection::Interrupted:
        status = fail(kInterrupted, QStringLiteral("interrupted"));
        return false;
    case instrument_cli::Connection::NoAnswer:
        break;
    }
    status = fail(kNoConnection, QStringLiteral("%1: no instrument answered").arg(connection));
    return false;
}

// Every record listed and not downloaded, by index.
QString missingText(const SurveyDownload& download, SurveyDownload::End end)
{
    QString why = end == SurveyDownload::End::LinkLost ? QStringLiteral("the connection was lost; ")
                  : end == SurveyDownload::End::InstrumentSilent
                      ? QStringLiteral("the instrument stopped answering; ")
                  : end == SurveyDownload::End::Cancelled ? QStringLiteral("interrupted; ")
                                                          : QString();
    QString indices;
    for (uint32_t index : download.missing())
        indices += QLatin1Char(' ') + QString::number(index);
    const int missing = static_cast<int>(download.missing().size());
    return QStringLiteral("%1%2 of %3 records could not be downloaded:%4")
        .arg(why)
        .arg(missing)
        .arg(download.inPeriod() + missing)
        .arg(indices);
}

int run(const Options& o, SurveyArchive* archive)
{
    MXXDevice device;
    int status = kDone;
    if (!connectInstrument(device, o.connection, status))
        return status;
    if (!liveFamily(device.type()).surveyStore)
        return fail(kWrongFamily,
                    QStringLiteral("%1: the instrument is an %2, which keeps no surveys; they "
                                   "come from %3")
                        .arg(o.connection, familyName(device.type()), surveyFamilies()));

    SurveyDownload download(InstrumentLive::surveyBufferOf(device), device.connId(), o.oldest);
    download.stopWhen(interrupted);
    if (!download.fetchIndices())
        return interrupted ? fail(kInterrupted, QStringLiteral("interrupted"))
                           : fail(kListRefused, QStringLiteral("%1: the instrument refused the "
                                                               "record index list")
                                                    .arg(o.connection));
    if (interrupted)
        return fail(kInterrupted, QStringLiteral("interrupted; nothing was written"));
    const int count = static_cast<int>(download.indices().size());
    std::fprintf(stderr, "%d records listed%s\n", count,
                 download.listCut() ? " (the list was cut at 10000)" : "");
    DownloadInfo archived = startedDownload(download, o.connection, device.type());
    std::unique_ptr<ArchiveWriter> writer;
    if (archive)
        writer = std::make_unique<ArchiveWriter>(*archive, archived);
    std::vector<SurveyPoint> points;
    std::vector<RecordSpan> spans;
    // The records as they came, in the download's order: the export says
    // which bytes its points were read from.
    QCryptographicHash records(QCryptographicHash::Sha256);
    const SurveyDownload::End end = download.fetchRecords([&](int i, const SurveyRecord* r) {
        if (r) {
            spans.push_back({points.size(), r->points.size(), r->time});
            points.insert(points.end(), r->points.begin(), r->points.end());
            records.addData(r->bytes.data(), static_cast<int>(r->bytes.size()));
        }
        if (r && writer)
            writer->add(i, *r);
        std::fprintf(stderr, "\rrecord %d of %d", i + 1, count);
        return !interrupted;
    });
    std::fprintf(stderr, "\n%d records, %zu points\n", download.inPeriod(), points.size());
    if (download.impossiblePoints() > 0)
        say(QStringLiteral("%1 points were left out: their position is not a place on the earth "
                           "(latitude beyond 90, longitude beyond 180, or not a number)")
                .arg(download.impossiblePoints()));
    QString archiveProblem;
    if (writer) {
        endedDownload(archived, download);
        if (writer->finish(archived))
            say(QStringLiteral("archived as download %1 in %2")
                    .arg(writer->download())
                    .arg(archive->path()));
        else
            archiveProblem = writer->error();
        writer.reset();
    }
    if (!archiveProblem.isEmpty())
        say(QStringLiteral("orvisk-download: the download could not be archived: ") +
            printable(archiveProblem));
    if (interrupted && download.inPeriod() == 0)
        return fail(kInterrupted, QStringLiteral("interrupted; nothing was written"));

    QString error;
    std::fflush(stdout);
    dup2(pointsOut, 1);
    // Flagged points are written too, naming the checks they failed.
    const std::vector<uint16_t> flags = checkSurvey(points, spans, loadCheckLimits());
    SurveyExportOptions exported;
    exported.flags = &flags;
    exported.provenance = provenanceOf(archived);
    exported.provenance->recordsSha256 = QString::fromLatin1(records.result().toHex());
    const bool written = exportSurvey(o.out, points, exported, &error);
    std::fflush(stdout);
    dup2(2, 1);
    if (!written)
        return fail(kWriteFailed, printable(error));
    if (!download.missing().empty())
        return fail(kRecordsMissing, missingText(download, end));
    return archiveProblem.isEmpty() ? kDone : kNotArchived;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setOrviskIdentity();
    Options options;
    QString error;
    if (!parse(app.arguments(), options, error))
        return instrument_cli::usageError("orvisk-download", error, kUsageText);
    // Everything that can be known before connecting is checked first: a
    // download is never thrown away for want of a place to write it.
    if (!surveyExportKnows(options.out))
        return fail(kUsage, QStringLiteral("%1: not a known survey format (.gpkg, .geojson, "
                                           ".gpx, .kml, .csv)")
                                .arg(printable(options.out)));
    if (options.out != QLatin1String("-"))
        for (const QString& target : {options.out, surveyExportSideFile(options.out)})
            if (const QString problem = target.isEmpty() ? QString() : outputPathProblem(target);
                !problem.isEmpty())
                return fail(kWriteFailed, printable(problem));
    const QByteArray connection = options.connection.toLocal8Bit();
    if (comm_check_conn_string(connection.constData()) != 0)
        return fail(kUsage, QStringLiteral("%1: not a connection string (see the README for "
                                           "their forms)")
                                .arg(printable(options.connection)));
    options.connection = printable(options.connection);
    // An archive that cannot be opened is said now; the download still goes
    // to its file.
    std::unique_ptr<SurveyArchive> archive;
    bool archiveFailed = false;
    if (options.archive) {
        QString problem;
        archive = SurveyArchive::open(SurveyArchive::defaultPath(), &problem);
        if (!archive) {
            archiveFailed = true;
            say(QStringLiteral("orvisk-download: the download will not be archived: ") +
                printable(problem));
        }
    }
    instrument_cli::catchInterrupts();
    // The command layer's trace lines go to standard error, so that standard
    // output carries nothing but the points.
    std::fflush(stdout);
    pointsOut = dup(1);
    dup2(2, 1);
    int status = kNoConnection;
    if (MXX_init(nullptr, nullptr, nullptr) == 0) {
        status = run(options, archive.get());
        if (status == kDone && archiveFailed)
            status = kNotArchived;
        MXX_shut();
    } else {
        fail(status, QStringLiteral("the transport cannot start"));
    }
    std::fflush(stdout);
    dup2(pointsOut, 1);
    close(pointsOut);
    return status;
}
