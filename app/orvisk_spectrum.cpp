// orvisk-spectrum: the spectrum window's acquisition without the window.
//
//   orvisk-spectrum CONNECTION-STRING [--seconds N] [--out FILE.n42]
//
// Connects, identifies the instrument, takes its spectra for N seconds (or
// until Ctrl+C) as the spectrum window would (summed, or the latest of an
// instrument that sends running totals) and writes them as an N42 file.
// Progress goes to standard error.
#include "instrument_cli.h"

#include <instrument_live.h>
#include <live_family.h>
#include <n42_file.h>
#include <orvisk_identity.h>
#include <spectrum_accumulator.h>

#include <mxx_comm.h>
#include <mxx_device.h>
#include <whole_file.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <unistd.h>
#include <vector>

namespace {

using instrument_cli::familyName;
using instrument_cli::interrupted;
using instrument_cli::printable;
using instrument_cli::say;

enum Exit {
    kDone = 0,
    kUsage = 1,
    kNoConnection = 2,
    kNoSpectra = 3,   // the family sends or serves no spectra
    kNothingCame = 4, // connected, but no spectrum arrived
    kWriteFailed = 6,
    kInterrupted = 130, // as a shell reports a program ended by Ctrl+C
};

constexpr int kMaxSeconds = 7 * 24 * 3600;

const char* const kUsageText =
    "usage: orvisk-spectrum CONNECTION-STRING [--seconds N] [--out FILE.n42]\n"
    "  Takes the connected instrument's spectra for N seconds, or until Ctrl+C,\n"
    "  and writes them as an ANSI N42.42 file: summed, or the latest one for an\n"
    "  instrument that sends running totals (M15, M16, M22, M24, M38); one spectrum\n"
    "  per stream (M38: 1024 and 256 channels).\n"
    "  --seconds N   stop after N seconds (1 to 604800); without it, Ctrl+C stops\n"
    "  --out FILE    where to write (default FAMILY-SERIAL-YYYYMMDD-HHMMSS.n42)\n"
    "  Exit status: 0 done, 1 usage, 2 no connection, 3 the instrument sends no\n"
    "  spectra, 4 no spectrum arrived, 6 the file cannot be written, 130\n"
    "  interrupted before any spectrum arrived.\n";

int fail(int code, const QString& text)
{
    say(QStringLiteral("orvisk-spectrum: ") + printable(text));
    return code;
}

struct Options
{
    QString connection;
    QString out;     // empty: named after the instrument
    int seconds = 0; // 0: until Ctrl+C
};

bool parse(const QStringList& args, Options& o, QString& error)
{
    for (int i = 1; i < args.size() && error.isEmpty(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--seconds")) {
            bool ok = false;
            o.seconds = i + 1 < args.size() ? args[++i].toInt(&ok) : 0;
            if (!ok || o.seconds < 1 || o.seconds > kMaxSeconds)
                error =
                    QStringLiteral("--seconds takes a whole number from 1 to %1").arg(kMaxSeconds);
        } else if (a == QLatin1String("--out")) {
            if (i + 1 < args.size() && !args[i + 1].isEmpty())
                o.out = args[++i];
            else
                error = QStringLiteral("--out takes a file name");
        } else if (a.startsWith(QLatin1String("--")) || !o.connection.isEmpty()) {
            error = QStringLiteral("unknown argument: %1").arg(a);
        } else {
            o.connection = a;
        }
    }
    if (error.isEmpty() && o.connection.isEmpty())
        error = QStringLiteral("no connection string");
    return error.isEmpty();
}

QString defaultName(const SpectrumSource& source, const QDateTime& start)
{
    QString name = source.family;
    if (!source.serial.isEmpty())
        name += QLatin1Char('-') + source.serial;
    // A serial is the instrument's text: nothing of it may leave the folder.
    name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_-]")), QStringLiteral("_"));
    return name + start.toString(QStringLiteral("-yyyyMMdd-HHmmss")) + QStringLiteral(".n42");
}

int run(const Options& o)
{
    MXXDevice device;
    switch (instrument_cli::connectInstrument(device, o.connection)) {
    case instrument_cli::Connection::Identified:
        break;
    case instrument_cli::Connection::CannotOpen:
        return fail(kNoConnection,
                    QStringLiteral("%1: the connection cannot be opened").arg(o.connection));
    case instrument_cli::Connection::Interrupted:
        return fail(kInterrupted, QStringLiteral("interrupted"));
    case instrument_cli::Connection::NoAnswer:
        return fail(kNoConnection, QStringLiteral("%1: no instrument answered").arg(o.connection));
    }
    const LiveFamily& family = liveFamily(device.type());
    if (!family.hasSpectra())
        return fail(kNoSpectra, QStringLiteral("%1: the instrument is an %2, which sends no "
                                               "spectra")
                                    .arg(o.connection, familyName(device.type())));

    InstrumentLive live(&device);
    std::vector<SpectrumAccumulator> streams(std::size_t(family.streams.size()),
                                             SpectrumAccumulator(family.mode));
    streams.front().setSequenceStep(uint64_t(family.sequenceStep));
    QObject::connect(&live, &InstrumentLive::spectrum, &live,
                     [&](int stream, const SpectrumData& data, quint64 sequence) {
                         if (stream < 0 || std::size_t(stream) >= streams.size())
                             return;
                         SpectrumAccumulator& accumulator = streams[std::size_t(stream)];
                         if (accumulator.add(data, sequence) ==
                             SpectrumAccumulator::Outcome::Restarted)
                             say(QStringLiteral("\n") + family.streams[stream] +
                                 QStringLiteral(": ") + accumulator.message());
                     });
    bool closed = false;
    QObject::connect(&device, &MXXDevice::disconnected, &live, [&] { closed = true; });
    QObject::connect(&device, &MXXDevice::connectionError, &live, [&] { closed = true; });
    live.start();
    const QDateTime started = QDateTime::currentDateTime();
    std::fprintf(stderr, "%s %s: %s, for %s\n", qPrintable(familyName(device.type())),
                 qPrintable(printable(o.connection)),
                 family.mode == SpectrumAccumulator::Mode::Latest ? "the latest running total"
                                                                  : "summing",
                 o.seconds ? qPrintable(QStringLiteral("%1 s").arg(o.seconds))
                           : "as long as Ctrl+C is not pressed");

    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer tick;
    qint64 shown = -1; // the second last shown
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const SpectrumAccumulator& first = streams.front();
        const qint64 second = elapsed.elapsed() / 1000;
        if (second != shown && first.spectraAdded() > 0) {
            shown = second;
            std::fprintf(stderr, "\r%lld s: %llu spectra, %llu counts, %llu missed   ",
                         static_cast<long long>(second),
                         static_cast<unsigned long long>(first.spectraAdded()),
                         static_cast<unsigned long long>(first.totalCounts()),
                         static_cast<unsigned long long>(first.missed()));
        }
        if (interrupted || closed || (o.seconds && elapsed.elapsed() >= o.seconds * 1000LL))
            loop.quit();
    });
    tick.start(100);
    loop.exec();
    std::fprintf(stderr, "\n");
    const SpectrumSource source = live.source();
    live.stop();
    device.disconnect();

    std::vector<SpectrumData> spectra;
    for (const SpectrumAccumulator& accumulator : streams)
        if (accumulator.spectraAdded() > 0)
            spectra.push_back(accumulator.spectrum());
    if (spectra.empty())
        return interrupted ? fail(kInterrupted, QStringLiteral("interrupted; nothing was written"))
                           : fail(kNothingCame,
                                  QStringLiteral("%1: no spectrum arrived%2")
                                      .arg(o.connection, closed ? QStringLiteral(" before the "
                                                                                 "connection "
                                                                                 "closed")
                                                                : QString()));
    if (closed)
        say(QStringLiteral("the connection closed; what arrived is written"));
    const QString path = o.out.isEmpty() ? defaultName(source, started) : o.out;
    QString error;
    if (!writeN42(path, source, spectra, &error))
        return fail(kWriteFailed, error);
    const SpectrumAccumulator& first = streams.front();
    say(QStringLiteral("%1: %2 spectra, %3 counts, %4 s live%5")
            .arg(printable(QFileInfo(path).filePath()))
            .arg(first.spectraAdded())
            .arg(first.totalCounts())
            .arg(first.spectrum().liveSeconds, 0, 'f', 1)
            .arg(first.gaps() ? QStringLiteral("; %1 spectra missed in %2 gaps")
                                    .arg(first.missed())
                                    .arg(first.gaps())
                              : QString()));
    return kDone;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    setOrviskIdentity();
    Options options;
    QString error;
    if (!parse(app.arguments(), options, error))
        return instrument_cli::usageError("orvisk-spectrum", error, kUsageText);
    // Everything that can be known before connecting is checked first.
    if (!options.out.isEmpty())
        if (const QString problem = outputPathProblem(options.out); !problem.isEmpty())
            return fail(kWriteFailed, problem);
    const QByteArray connection = options.connection.toLocal8Bit();
    if (comm_check_conn_string(connection.constData()) != 0)
        return fail(kUsage, QStringLiteral("%1: not a connection string (see the README for "
                                           "their forms)")
                                .arg(options.connection));
    instrument_cli::catchInterrupts();
    // The command layer's trace lines go with the progress, to standard error.
    std::fflush(stdout);
    dup2(2, 1);
    if (MXX_init(nullptr, nullptr, nullptr) != 0)
        return fail(kNoConnection, QStringLiteral("the transport cannot start"));
    const int status = run(options);
    MXX_shut();
    return status;
}
