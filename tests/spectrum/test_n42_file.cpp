// N42 spectrum files: a series written valid against the published schema
// and read back as it was, another maker's file read with its calibration,
// each refusal with its reason, and failed writes that leave nothing behind.
#include "n42_file.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <random>

namespace {

const QString kData = QStringLiteral(ORVISK_SOURCE_DIR "/tests/spectrum/data/");

// xmllint's verdict, its complaints when it rejects the file.
QString schemaComplaints(const QString& path)
{
    QProcess xmllint;
    xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--schema"),
                                              kData + QStringLiteral("n42.xsd"), path});
    if (!xmllint.waitForFinished(60000) || xmllint.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("xmllint did not run");
    if (xmllint.exitCode() == 0)
        return {};
    return QString::fromLocal8Bit(xmllint.readAllStandardError()).left(2000);
}

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

std::vector<uint64_t> someCounts(std::size_t channels, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<uint64_t> counts(channels);
    for (std::size_t i = 0; i < channels; ++i) {
        // A falling continuum with empty channels at the top, as a detector gives.
        const double mean = 3000 * std::exp(-double(i) / (channels / 6.0));
        counts[i] = std::poisson_distribution<uint64_t>(mean)(random);
    }
    return counts;
}

QString optionalText(const std::optional<double>& v)
{
    return v ? QString::number(*v, 'g', 17) : QStringLiteral("none");
}

// The first way `read` differs from `written`, or empty.
QString difference(const SpectrumData& read, const SpectrumData& written)
{
    if (read.counts != written.counts) {
        if (read.counts.size() != written.counts.size())
            return QStringLiteral("%1 channels, not %2")
                .arg(read.counts.size())
                .arg(written.counts.size());
        for (std::size_t i = 0; i < read.counts.size(); ++i)
            if (read.counts[i] != written.counts[i])
                return QStringLiteral("channel %1 holds %2, not %3")
                    .arg(i)
                    .arg(read.counts[i])
                    .arg(written.counts[i]);
    }
    if (read.liveSeconds != written.liveSeconds || read.realSeconds != written.realSeconds)
        return QStringLiteral("live %1 s and real %2 s, not %3 s and %4 s")
            .arg(read.liveSeconds, 0, 'g', 17)
            .arg(read.realSeconds, 0, 'g', 17)
            .arg(written.liveSeconds, 0, 'g', 17)
            .arg(written.realSeconds, 0, 'g', 17);
    if (read.start != written.start || read.start.isValid() != written.start.isValid() ||
        (read.start.isValid() && read.start.timeSpec() != Qt::UTC))
        return QStringLiteral("start %1, not %2")
            .arg(read.start.toString(Qt::ISODateWithMs), written.start.toString(Qt::ISODateWithMs));
    if (read.calibration.coefficients != written.calibration.coefficients) {
        QStringList r, w;
        for (double c : read.calibration.coefficients)
            r << QString::number(c, 'g', 17);
        for (double c : written.calibration.coefficients)
            w << QString::number(c, 'g', 17);
        return QStringLiteral("calibration {%1}, not {%2}").arg(r.join(' '), w.join(' '));
    }
    if (read.doseRate != written.doseRate)
        return QStringLiteral("dose rate %1, not %2")
            .arg(optionalText(read.doseRate), optionalText(written.doseRate));
    if (read.latitude != written.latitude || read.longitude != written.longitude)
        return QStringLiteral("position %1 %2, not %3 %4")
            .arg(optionalText(read.latitude), optionalText(read.longitude),
                 optionalText(written.latitude), optionalText(written.longitude));
    return {};
}

QDateTime utc(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toUTC();
}

// A survey's series: the edges of what a spectrum carries spread over three.
std::vector<SpectrumData> series()
{
    SpectrumData calibrated;
    calibrated.counts = someCounts(1024, 1);
    calibrated.counts[3] = UINT64_MAX; // beyond what a double holds exactly
    calibrated.liveSeconds = 12.5;
    calibrated.realSeconds = 13.001;
    calibrated.start = utc("2024-05-01T10:00:00.250Z");
    calibrated.calibration.coefficients = {-3.25, 2.93, 1.7e-4};
    calibrated.doseRate = 0.123456789;
    calibrated.latitude = 57.409035123456;
    calibrated.longitude = 24.617063;

    // Nothing known but the counts and a millisecond of live time.
    SpectrumData bare;
    bare.counts = someCounts(1024, 2);
    bare.liveSeconds = 0.001;

    // More coefficients than the file's three, a position that needs many
    // decimals, and a dose rate of zero that is still a value.
    SpectrumData quartic;
    quartic.counts = someCounts(4096, 3);
    quartic.liveSeconds = 3599.999;
    quartic.realSeconds = 3600;
    quartic.start = utc("2024-05-01T10:00:13.251+03:00");
    quartic.calibration.coefficients = {-8.5, 0.73, 2.1e-5, -1.3e-9, 4e-14};
    quartic.doseRate = 0.0;
    quartic.latitude = 1e-7;
    quartic.longitude = -179.99999999;
    return {calibrated, bare, quartic};
}

QString fileLine(const QByteArray& file, const char* text)
{
    return QString::number(file.left(file.indexOf(text)).count('\n') + 1);
}

} // namespace

class TestN42File : public QObject
{
    Q_OBJECT

private slots:
    void seriesWrittenValidAndReadBack();
    void foreignSpectrumReadWithItsCalibration();
    void refusalsNameTheReason_data();
    void refusalsNameTheReason();
    void failedWritesLeaveNothing();
};

void TestN42File::seriesWrittenValidAndReadBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("series.n42"));
    SpectrumSource source;
    source.family = QStringLiteral("M30");
    source.serial = QStringLiteral("C3000001");
    source.report = QByteArray("M30\0\x01\xff fw", 9); // not text: written as hex
    source.detector = QStringLiteral("NaI(Tl) 40x40 mm");
    const std::vector<SpectrumData> written = series();
    QString error;
    QVERIFY2(writeN42(path, source, written, &error), qPrintable(error));
    const QString complaints = schemaComplaints(path);
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints));
    const QByteArray file = contentsOf(path);
    QVERIFY(file.contains("<RadDetectorKindCode>NaI</RadDetectorKindCode>"));
    QCOMPARE(file.count("<RadMeasurement "), 3);

    std::optional<N42Contents> read = readN42(path, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->source.family, source.family);
    QCOMPARE(read->source.serial, source.serial);
    QCOMPARE(read->source.report, source.report);
    QCOMPARE(read->source.detector, source.detector);
    QCOMPARE(read->spectra.size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        const QString d = difference(read->spectra[i], written[i]);
        QVERIFY2(d.isEmpty(), qPrintable(QStringLiteral("spectrum %1: %2").arg(i + 1).arg(d)));
    }

    // A report that is text stays text: as the version where the schema's
    // pattern for versions takes it, whole in a remark where it does not.
    source.serial = QStringLiteral("C3000001 (rev. 2)"); // not a pattern the schema takes
    source.detector.clear();
    for (const QByteArray& report :
         {QByteArray("M30 C3000001 fw 2.14"), QByteArray("M30 <fw 2.14>, & \"β\"\n\tbuild 7 ")}) {
        source.report = report;
        QVERIFY2(writeN42(path, source, {written[1]}, &error), qPrintable(error));
        QVERIFY2(schemaComplaints(path).isEmpty(), qPrintable(schemaComplaints(path)));
        QVERIFY(contentsOf(path).contains("Instrument report<"));
        QVERIFY(contentsOf(path).contains("M30 C3000001 fw 2.14</") ||
                contentsOf(path).contains("<Remark>M30 &lt;fw 2.14&gt;, &amp; "));
        read = readN42(path, &error);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(read->source.report, source.report);
        QCOMPARE(read->source.serial, source.serial);
        QCOMPARE(read->source.detector, QString());
        QCOMPARE(read->spectra.size(), std::size_t(1));
        QVERIFY2(difference(read->spectra[0], written[1]).isEmpty(),
                 qPrintable(difference(read->spectra[0], written[1])));
    }
}

void TestN42File::foreignSpectrumReadWithItsCalibration()
{
    const QString original = kData + QStringLiteral("foreign_counted_zeroes.n42");
    QVERIFY2(schemaComplaints(original).isEmpty(), qPrintable(schemaComplaints(original)));
    QString error;
    std::optional<N42Contents> read = readN42(original, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->source.family, QStringLiteral("HX-2"));
    QCOMPARE(read->source.serial, QStringLiteral("HX-20417"));
    QCOMPARE(read->source.report, QByteArray());
    QCOMPARE(read->source.detector,
             QStringLiteral("CsI(Tl) 25 mm")); // the spectrum's, not the first
    QCOMPARE(read->spectra.size(), std::size_t(1));
    SpectrumData expected;
    expected.counts = {0,  0,  0,  5,  17, 42, 96, 0, 130, 211, 0, 0, 0, 0, 0, 0,
                       88, 54, 31, 12, 0,  3,  1,  0, 0,   0,   0, 0, 0, 0, 0, 2};
    expected.liveSeconds = 299.25;
    expected.realSeconds = 300;
    expected.start = utc("2024-03-07T12:05:09.500Z");
    expected.calibration.coefficients = {-4.5, 2.9, 0.00041};
    expected.doseRate = 0.42;
    expected.latitude = -33.8688;
    expected.longitude = 151.2093;
    QVERIFY2(difference(read->spectra[0], expected).isEmpty(),
             qPrintable(difference(read->spectra[0], expected)));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("changed.n42"));
    const QByteArray base = contentsOf(original);

    // The calibration as the energies of the 33 channel edges of a quadratic.
    QStringList edges;
    for (int k = 0; k <= 32; ++k)
        edges << QString::number(10 + 3 * k + 0.01 * k * k, 'g', 17);
    QByteArray changed = base;
    changed.replace("<n42:CoefficientValues>-4.5 2.9 0.00041</n42:CoefficientValues>",
                    "<n42:EnergyBoundaryValues>" + edges.join(' ').toLatin1() +
                        "</n42:EnergyBoundaryValues>");
    QVERIFY(writeFile(path, changed));
    QVERIFY2(schemaComplaints(path).isEmpty(), qPrintable(schemaComplaints(path)));
    read = readN42(path, &error);
    QVERIFY2(read, qPrintable(error));
    const EnergyCalibration& fitted = read->spectra[0].calibration;
    for (int k = 0; k <= 32; ++k)
        QVERIFY2(std::abs(fitted.energyOf(k) - (10 + 3 * k + 0.01 * k * k)) < 1e-9,
                 qPrintable(QStringLiteral("edge %1").arg(k)));

    // The most channels the view takes; uncompressed, with counts written as doubles.
    changed = base;
    changed.replace("0 3 5 17 42 96 0 1 1.3E2 211 0 6\n        88 54 31 12 0 1 3 1 0 8 2",
                    "7 0 65535");
    QVERIFY(writeFile(path, changed));
    read = readN42(path, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->spectra[0].counts.size(), std::size_t(65536));
    QCOMPARE(read->spectra[0].counts[0], uint64_t(7));
    QCOMPARE(read->spectra[0].counts[65535], uint64_t(0));
    changed = base;
    changed.replace(" compressionCode=\"CountedZeroes\"", "");
    changed.replace("0 3 5 17 42 96 0 1 1.3E2 211 0 6\n        88 54 31 12 0 1 3 1 0 8 2",
                    "0 1.0 +2 3E0 4.000e0");
    QVERIFY(writeFile(path, changed));
    read = readN42(path, &error);
    QVERIFY2(read, qPrintable(error));
    QCOMPARE(read->spectra[0].counts, (std::vector<uint64_t>{0, 1, 2, 3, 4}));
}

void TestN42File::refusalsNameTheReason_data()
{
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("reason");

    const QByteArray base = contentsOf(kData + QStringLiteral("foreign_counted_zeroes.n42"));
    const QByteArray data = "0 3 5 17 42 96 0 1 1.3E2 211 0 6\n        88 54 31 12 0 1 3 1 0 8 2";
    const QByteArray calibration = "-4.5 2.9 0.00041";
    QTest::newRow("tags that do not match")
        << QByteArray("</n42:StateVector>") << QByteArray("</n42:StateVectr>")
        << QStringLiteral("not valid XML at line ") + fileLine(base, "</n42:StateVector>");
    QTest::newRow("cut short") << QByteArray("</n42:RadInstrumentData>") << QByteArray()
                               << QStringLiteral("not valid XML at line");
    QTest::newRow("a second root")
        << QByteArray("</n42:RadInstrumentData>") << QByteArray("</n42:RadInstrumentData><x/>")
        << QStringLiteral("not valid XML at line");
    QTest::newRow("not N42") << QByteArray("n42:RadInstrumentData") << QByteArray("gpx")
                             << QStringLiteral("no N42 file: its root element is <gpx>");
    QTest::newRow("another namespace")
        << QByteArray("http://physics.nist.gov/N42/2011/N42")
        << QByteArray("http://physics.nist.gov/N42/2006/N42") << QStringLiteral("no N42 file");
    QTest::newRow("no spectrum") << QByteArray("n42:Spectrum") << QByteArray("n42:Spectre")
                                 << QStringLiteral("there is no spectrum in it");
    QTest::newRow("one channel") << data << QByteArray("7") << QStringLiteral("has 1 channel;");
    QTest::newRow("65537 channels")
        << data << QByteArray("7 0 65536") << QStringLiteral("more than 65536 channels");
    QTest::newRow("65537 channels uncompressed")
        << data << QByteArray("1 ").repeated(65537) << QStringLiteral("more than 65536 channels");
    QTest::newRow("a run beyond 64 bits")
        << data << QByteArray("7 0 18446744073709551615") << QStringLiteral("more than 65536");
    QTest::newRow("negative") << data << QByteArray("5 -17 42")
                              << QStringLiteral("value 2 of the channel data, \"-17\", is not");
    QTest::newRow("fraction") << data << QByteArray("5 17 42.5")
                              << QStringLiteral("\"42.5\", is not a number of counts");
    QTest::newRow("not a number") << data << QByteArray("5 17 x42")
                                  << QStringLiteral("\"x42\", is not a number of counts");
    QTest::newRow("NaN") << data << QByteArray("5 NaN 3") << QStringLiteral("\"NaN\", is not");
    QTest::newRow("beyond 64 bits") << data << QByteArray("5 18446744073709551616 3")
                                    << QStringLiteral("\"18446744073709551616\", is not");
    QTest::newRow("a zero without its run")
        << data << QByteArray("5 17 0") << QStringLiteral("zero without the length of its run");
    QTest::newRow("a run of no zeroes")
        << data << QByteArray("5 0 0 17") << QStringLiteral("value 3 of the channel data counts");
    QTest::newRow("unknown compression") << QByteArray("CountedZeroes") << QByteArray("Zip")
                                         << QStringLiteral("compressed as \"Zip\"");
    QTest::newRow("calibration falling")
        << calibration << QByteArray("100 -2 0")
        << QStringLiteral("line %1: the energy calibration does not rise")
               .arg(fileLine(base, "<n42:Spectrum "));
    // Rising over every channel start, falling only at the end of the last.
    QTest::newRow("calibration falling at the last edge")
        << calibration << QByteArray("0 62 -1")
        << QStringLiteral("at the end of channel 31, after");
    QTest::newRow("calibration missing")
        << QByteArray("energyCalibrationReference=\"field\"")
        << QByteArray("energyCalibrationReference=\"lab\"")
        << QStringLiteral("energy calibration \"lab\" is not in the file");
    QTest::newRow("calibration no number") << calibration << QByteArray("-4.5 2.9 a")
                                           << QStringLiteral("\"a\", which is not a number");
    QTest::newRow("edges of no quadratic")
        << QByteArray("<n42:CoefficientValues>-4.5 2.9 0.00041</n42:CoefficientValues>")
        << QByteArray("<n42:EnergyBoundaryValues>0 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 50 51 52"
                      " 53 54 55 56 57 58 59 60 61 62 63 64 65</n42:EnergyBoundaryValues>")
        << QStringLiteral("follow no quadratic");
    QTest::newRow("edges too few")
        << QByteArray("<n42:CoefficientValues>-4.5 2.9 0.00041</n42:CoefficientValues>")
        << QByteArray("<n42:EnergyBoundaryValues>0 1 2 3</n42:EnergyBoundaryValues>")
        << QStringLiteral("4 channel edges for 32 channels");
    QTest::newRow("duration in months")
        << QByteArray("<n42:RealTimeDuration>PT5M") << QByteArray("<n42:RealTimeDuration>P1M")
        << QStringLiteral("\"P1M\" is not a duration");
    QTest::newRow("negative duration") << QByteArray("PT4M59.25S") << QByteArray("-PT1S")
                                       << QStringLiteral("\"-PT1S\" is not a duration");
    QTest::newRow("no date") << QByteArray("2024-03-07T14:05:09.5+02:00") << QByteArray("yesterday")
                             << QStringLiteral("\"yesterday\" is not a date and time");
    QTest::newRow("latitude beyond a pole") << QByteArray("-33.8688") << QByteArray("-90.5")
                                            << QStringLiteral("LatitudeValue \"-90.5\"");
    QTest::newRow("negative dose rate") << QByteArray(">0.42<") << QByteArray(">-0.42<")
                                        << QStringLiteral("DoseRateValue \"-0.42\"");
}

void TestN42File::refusalsNameTheReason()
{
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, to);
    QFETCH(QString, reason);
    QByteArray bytes = contentsOf(kData + QStringLiteral("foreign_counted_zeroes.n42"));
    QVERIFY(bytes.contains(from));
    if (to.isEmpty())
        bytes.truncate(bytes.indexOf(from)); // cut short where `from` begins
    else
        bytes.replace(from, to);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("refused.n42"));
    QVERIFY(writeFile(path, bytes));
    QString error;
    const std::optional<N42Contents> read = readN42(path, &error);
    QVERIFY2(!read, "read although it should be refused");
    QVERIFY2(error.startsWith(path) && error.contains(reason), qPrintable(error));
}

void TestN42File::failedWritesLeaveNothing()
{
    QTemporaryDir dir;
    const std::vector<SpectrumData> spectra = series();
    QString error;

    // A folder that is not there, and a folder where the file should be.
    const QString missing = dir.filePath(QStringLiteral("nowhere/series.n42"));
    QVERIFY(!writeN42(missing, {}, spectra, &error));
    QVERIFY2(error.contains(missing), qPrintable(error));
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("nowhere"))));
    QVERIFY(QDir().mkdir(dir.filePath(QStringLiteral("folder"))));
    error.clear();
    QVERIFY(!writeN42(dir.filePath(QStringLiteral("folder")), {}, spectra, &error));
    QVERIFY2(error.contains(QStringLiteral("is a folder")), qPrintable(error));

    // Spectra the file cannot carry as they are leave the file as it was.
    const QString path = dir.filePath(QStringLiteral("series.n42"));
    QVERIFY(writeFile(path, "as it was"));
    const auto refused = [&](const char* what, auto change, const char* reason) {
        std::vector<SpectrumData> broken = spectra;
        change(broken[2]);
        error.clear();
        const bool wrote = writeN42(path, {}, broken, &error);
        QVERIFY2(!wrote, what);
        QVERIFY2(error.contains(QStringLiteral("Spectrum 3 of 3")) && error.contains(reason),
                 qPrintable(error));
        QCOMPARE(contentsOf(path), QByteArray("as it was"));
    };
    refused(
        "one channel", [](SpectrumData& s) { s.counts.resize(1); }, "1 channel,");
    refused(
        "65537 channels", [](SpectrumData& s) { s.counts.resize(65537); }, "65537 channels");
    refused(
        "latitude", [](SpectrumData& s) { s.latitude = 90.5; }, "latitude 90.5");
    refused(
        "longitude", [](SpectrumData& s) { s.longitude = std::nan(""); }, "longitude");
    refused(
        "live time", [](SpectrumData& s) { s.liveSeconds = -1; }, "live time");
    refused(
        "calibration",
        [](SpectrumData& s) {
            s.calibration.coefficients = {0, 1, -2e-4};
        },
        "does not rise");
    error.clear();
    QVERIFY(!writeN42(path, {}, {}, &error));
    QVERIFY2(error.contains(QStringLiteral("no spectrum")), qPrintable(error));

    // A disk that fills while writing: the old file stays, no scrap beside it.
    rlimit before{};
    QVERIFY(getrlimit(RLIMIT_FSIZE, &before) == 0);
    rlimit small = before;
    small.rlim_cur = 16 * 1024;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    error.clear();
    const bool wrote = writeN42(path, {}, spectra, &error);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, oldHandler);
    QVERIFY(!wrote);
    QVERIFY2(error.contains(path), qPrintable(error));
    QCOMPARE(contentsOf(path), QByteArray("as it was"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("series.n42")});
}

QTEST_GUILESS_MAIN(TestN42File)
#include "test_n42_file.moc"
