// orvisk-download: the window's survey download without the window.
//
//   orvisk-download CONNECTION-STRING [--hours N | --days N] [--out FILE]
//
// Connects, identifies the instrument, downloads its survey records newest
// first with the window's retries, and writes the points by FILE's suffix
// (CSV on standard output without --out). Progress and the command layer's
// trace lines go to standard error.
#include "survey_download.h"
#include "survey_export.h"

#include <m30_protocol.h>
#include <mxx_comm.h>
#include <mxx_device.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>

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
};

constexpr int kM30 = 12;
int pointsOut = 1;                 // standard output as it was at start
constexpr int kIdentifyMs = 15000; // identification tries for a few seconds at most

const char* const kUsageText =
    "usage: orvisk-download CONNECTION-STRING [--hours N | --days N] [--out FILE]\n"
    "  Downloads the survey records of an M30 instrument, newest first, and writes\n"
    "  every point with a position: FILE's suffix picks the format (.gpkg, .geojson,\n"
    "  .gpx, .kml, .csv); without --out, CSV goes to standard output.\n"
    "  --hours N, --days N   only the records of the last N hours or days\n"
    "  Exit status: 0 done, 1 usage, 2 no connection, 3 not an M30, 4 index list\n"
    "  refused, 5 records missing (the rest is written), 6 the file cannot be written.\n";

int fail(int code, const QString& text)
{
    std::fprintf(stderr, "orvisk-download: %s\n", text.toLocal8Bit().constData());
    return code;
}

struct Options
{
    QString connection;
    QString out = QStringLiteral("-");
    QDateTime oldest; // invalid: every record
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

// Waits for the device to tell how the connection went; false on an error,
// a close or no word within kIdentifyMs.
bool waitIdentified(MXXDevice& device)
{
    QEventLoop loop;
    bool identified = false;
    QObject::connect(&device, &MXXDevice::connected, &loop, [&] {
        identified = true;
        loop.quit();
    });
    QObject::connect(&device, &MXXDevice::connectionError, &loop, &QEventLoop::quit);
    QObject::connect(&device, &MXXDevice::disconnected, &loop, &QEventLoop::quit);
    QTimer::singleShot(kIdentifyMs, &loop, &QEventLoop::quit);
    loop.exec();
    return identified;
}

QString familyName(int type)
{
    static const std::pair<int, const char*> names[] = {
        {1, "M15"},  {2, "M16"},  {3, "M17"},  {4, "M18"},  {5, "M20"},  {6, "M22"},
        {8, "M24"},  {9, "M26"},  {10, "M21"}, {11, "M28"}, {13, "M32"}, {14, "M34"},
        {15, "M36"}, {16, "M38"}, {72, "M48"}, {255, "MVD"}};
    for (const auto& [id, name] : names)
        if (id == type)
            return QString::fromLatin1(name);
    return QStringLiteral("an unknown family (type %1)").arg(type);
}

int run(const Options& o)
{
    MXXDevice device;
    if (!device.connect(o.connection))
        return fail(kNoConnection, QStringLiteral("%1: not a connection string the transport "
                                                  "takes")
                                       .arg(o.connection));
    if (!waitIdentified(device))
        return fail(kNoConnection, QStringLiteral("%1: no instrument answered").arg(o.connection));
    if (device.type() != kM30)
        return fail(kWrongFamily, QStringLiteral("%1: the instrument is an %2, not an M30 survey "
                                                 "instrument")
                                      .arg(o.connection, familyName(device.type())));
    auto m30 = std::make_shared<M30Protocol>();
    device.registerProtocol(m30);

    SurveyDownload download(*m30, device.connId(), o.oldest);
    if (!download.fetchIndices())
        return fail(
            kListRefused,
            QStringLiteral("%1: the instrument refused the record index list").arg(o.connection));
    const int count = static_cast<int>(download.indices().size());
    std::fprintf(stderr, "%d records listed%s\n", count,
                 download.listCut() ? " (the list was cut at 10000)" : "");
    std::vector<SurveyPoint> points;
    const SurveyDownload::End end = download.fetchRecords([&](int i, const SurveyRecord* r) {
        if (r)
            points.insert(points.end(), r->points.begin(), r->points.end());
        std::fprintf(stderr, "\rrecord %d of %d", i + 1, count);
        return true;
    });
    std::fprintf(stderr, "\n%d records, %zu points\n", download.inPeriod(), points.size());

    QString error;
    std::fflush(stdout);
    dup2(pointsOut, 1);
    const bool written = exportSurvey(o.out, points, &error);
    std::fflush(stdout);
    dup2(2, 1);
    if (!written)
        return fail(kWriteFailed, error);
    const bool broken =
        end == SurveyDownload::End::LinkLost || end == SurveyDownload::End::InstrumentSilent;
    const int lost = broken ? count - download.inPeriod() : int(download.missing().size());
    if (lost > 0) {
        QString indices;
        for (uint32_t index : download.missing())
            indices += QLatin1Char(' ') + QString::number(index);
        QString why = end == SurveyDownload::End::LinkLost
                          ? QStringLiteral("the connection was lost; ")
                      : end == SurveyDownload::End::InstrumentSilent
                          ? QStringLiteral("the instrument stopped answering; ")
                          : QString();
        return fail(kRecordsMissing,
                    QStringLiteral("%1%2 of %3 records could not be downloaded%4")
                        .arg(why)
                        .arg(lost)
                        .arg(broken ? count : download.inPeriod() + int(download.missing().size()))
                        .arg(indices.isEmpty() ? QString() : QStringLiteral(":") + indices));
    }
    return kDone;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    QString error;
    if (!parse(app.arguments(), options, error)) {
        std::fprintf(stderr, "orvisk-download: %s\n%s", error.toLocal8Bit().constData(),
                     kUsageText);
        return kUsage;
    }
    // The command layer's trace lines go to standard error, so that standard
    // output carries nothing but the points.
    std::fflush(stdout);
    pointsOut = dup(1);
    dup2(2, 1);
    int status = kNoConnection;
    if (MXX_init(nullptr, nullptr, nullptr) == 0) {
        status = run(options);
        MXX_shut();
    } else {
        fail(status, QStringLiteral("the transport cannot start"));
    }
    std::fflush(stdout);
    dup2(pointsOut, 1);
    close(pointsOut);
    return status;
}
