// Writing an hour's series of spectra, 3600 of 1024 channels, as an N42
// file against writing the same numbers as CSV, one line per spectrum, the
// same way: formatted into a buffer and written through QSaveFile.
//
// Prints "n42 write: ratio <x>", the N42 time over the CSV time, the median
// of five pairs of runs taken in turn.
#include <n42_file.h>

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

const std::size_t kSpectra = 3600;
const std::size_t kChannels = 1024;
const int kPairs = 5;

std::vector<SpectrumData> makeSeries()
{
    std::mt19937 random(11);
    const QDateTime start =
        QDateTime::fromString(QStringLiteral("2024-05-01T10:00:00Z"), Qt::ISODate);
    std::vector<SpectrumData> series(kSpectra);
    for (std::size_t i = 0; i < kSpectra; ++i) {
        SpectrumData& s = series[i];
        s.counts.resize(kChannels);
        for (std::size_t c = 0; c < kChannels; ++c) {
            const double mean = 40 * std::exp(-double(c) / 200) + 0.5;
            s.counts[c] = std::poisson_distribution<uint64_t>(mean)(random);
        }
        s.liveSeconds = 0.987;
        s.realSeconds = 1;
        s.start = start.addMSecs(qint64(i) * 1000);
        s.calibration.coefficients = {-3.25, 2.93, 1.7e-4};
        s.doseRate = 0.1 + 0.001 * double(i % 50);
        s.latitude = 57.40 + 0.00001 * double(i);
        s.longitude = 24.60 + 0.00002 * double(i);
    }
    return series;
}

char* put(char* p, double v)
{
    return std::to_chars(p, p + 32, v).ptr;
}

bool writeCsv(const QString& path, const std::vector<SpectrumData>& series)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("start,real_s,live_s,dose_rate_usv_h,latitude,longitude,c0,c1,c2,counts...\n");
    QByteArray line;
    for (const SpectrumData& s : series) {
        line.resize(int(256 + s.counts.size() * 21));
        char* p = line.data();
        const QByteArray start = s.start.toString(Qt::ISODateWithMs).toLatin1();
        p = std::copy(start.begin(), start.end(), p);
        for (double v : {s.realSeconds, s.liveSeconds, s.doseRate.value_or(NAN),
                         s.latitude.value_or(NAN), s.longitude.value_or(NAN)}) {
            *p++ = ',';
            p = put(p, v);
        }
        for (double c : s.calibration.coefficients) {
            *p++ = ',';
            p = put(p, c);
        }
        for (uint64_t c : s.counts) {
            *p++ = ',';
            p = std::to_chars(p, p + 20, c).ptr;
        }
        *p++ = '\n';
        if (file.write(line.constData(), p - line.constData()) < 0)
            return false;
    }
    return file.commit();
}

double seconds(Clock::time_point from)
{
    return std::chrono::duration<double>(Clock::now() - from).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    const std::vector<SpectrumData> series = makeSeries();
    SpectrumSource source;
    source.family = QStringLiteral("M30");
    source.serial = QStringLiteral("C3000001");
    source.report = "M30 C3000001 fw 2.14";
    source.detector = QStringLiteral("NaI(Tl) 40x40 mm");
    QTemporaryDir dir;
    const QString n42 = dir.filePath(QStringLiteral("series.n42"));
    const QString csv = dir.filePath(QStringLiteral("series.csv"));

    std::vector<double> ratios, n42Times, csvTimes;
    for (int pair = 0; pair < kPairs; ++pair) {
        QString error;
        Clock::time_point t0 = Clock::now();
        if (!writeN42(n42, source, series, &error)) {
            std::fprintf(stderr, "n42 write: %s\n", qPrintable(error));
            return 1;
        }
        const double n = seconds(t0);
        t0 = Clock::now();
        if (!writeCsv(csv, series)) {
            std::fprintf(stderr, "n42 write: the CSV baseline cannot be written\n");
            return 1;
        }
        const double c = seconds(t0);
        ratios.push_back(n / c);
        n42Times.push_back(n);
        csvTimes.push_back(c);
    }
    std::printf("n42 write: ratio %.2f\n", median(ratios));
    std::printf("# n42 write: %zu spectra of %zu channels; N42 %.3f s, %.1f MB; CSV %.3f s, "
                "%.1f MB (medians of %d)\n",
                kSpectra, kChannels, median(n42Times), QFileInfo(n42).size() / 1e6,
                median(csvTimes), QFileInfo(csv).size() / 1e6, kPairs);
    return 0;
}
