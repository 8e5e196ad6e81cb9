// N42 files read into spectra: Orvisk's own back as they were written,
// others' measurements with their calibration, and what the spectrum view
// cannot show refused with the reason.
#include "n42_file.h"
#include "n42_format.h"

#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <charconv>
#include <cmath>
#include <map>

namespace {

using namespace n42;

// An EnergyCalibration as the file gives it; which spectrum it fits is known
// only once the spectra that refer to it are read.
struct Calibration
{
    std::vector<double> coefficients; // CoefficientValues
    std::vector<double> edges;        // EnergyBoundaryValues
    std::vector<double> exact;        // Orvisk's remark, when it has one
    bool hasExact = false;
    bool channelAxis = false; // Orvisk's remark: none
};

struct PendingSpectrum
{
    SpectrumData data;
    QString calibrationId, detectorId;
    qint64 line = 0;
};

bool isXmlSpace(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\n') || c == QLatin1Char('\t') ||
           c == QLatin1Char('\r');
}

// A count as a list of doubles holds it: plain digits, or any other form of
// a double whose value is a whole number, such as "12.0" or "1.2E1".
std::optional<uint64_t> countOf(const QChar* text, int size)
{
    uint64_t value = 0;
    int i = 0;
    for (; i < size; ++i) {
        const unsigned digit = unsigned(text[i].unicode()) - '0';
        if (digit > 9)
            break;
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    if (i == size)
        return value;
    char latin[64];
    if (size >= int(sizeof latin))
        return std::nullopt;
    for (int k = 0; k < size; ++k) {
        if (text[k].unicode() > 0x7f)
            return std::nullopt;
        latin[k] = char(text[k].unicode());
    }
    const char* from = latin[0] == '+' ? latin + 1 : latin; // a sign from_chars does not take
    double d = 0;
    const auto [end, status] = std::from_chars(from, latin + size, d);
    if (status != std::errc() || end != latin + size || !(d >= 0) || d != std::floor(d) ||
        d >= 18446744073709551616.0)
        return std::nullopt;
    return uint64_t(d);
}

QString channelCountReason(std::size_t channels)
{
    if (channels > kMaxChannels)
        return QStringLiteral("the spectrum has more than %1 channels, the most Orvisk shows")
            .arg(kMaxChannels);
    return QStringLiteral("the spectrum has %1 channel%2; Orvisk shows %3 to %4")
        .arg(channels)
        .arg(channels == 1 ? "" : "s")
        .arg(kMinChannels)
        .arg(kMaxChannels);
}

// The channel counts of ChannelData, or the reason they are none. Counted
// zeroes: a zero is followed by the number of zeroes it stands for.
QString decodeChannels(const QString& text, bool countedZeroes, std::vector<uint64_t>& counts)
{
    counts.clear();
    const QChar* p = text.constData();
    const int n = text.size();
    int index = 0;
    bool runFollows = false;
    for (int i = 0;;) {
        while (i < n && isXmlSpace(p[i]))
            ++i;
        if (i == n)
            break;
        const int start = i;
        while (i < n && !isXmlSpace(p[i]))
            ++i;
        ++index;
        const std::optional<uint64_t> c = countOf(p + start, i - start);
        if (!c)
            return QStringLiteral("value %1 of the channel data, \"%2\", is not a number of counts")
                .arg(index)
                .arg(QString(p + start, std::min(i - start, 40)));
        if (runFollows) {
            if (*c == 0)
                return QStringLiteral("value %1 of the channel data counts a run of no zeroes")
                    .arg(index);
            if (*c > kMaxChannels - counts.size())
                return channelCountReason(kMaxChannels + 1);
            counts.resize(counts.size() + std::size_t(*c), 0);
            runFollows = false;
        } else if (countedZeroes && *c == 0) {
            runFollows = true;
        } else {
            if (counts.size() == kMaxChannels)
                return channelCountReason(kMaxChannels + 1);
            counts.push_back(*c);
        }
    }
    if (runFollows)
        return QStringLiteral("the channel data end in a zero without the length of its run");
    if (counts.size() < kMinChannels)
        return channelCountReason(counts.size());
    return {};
}

// The quadratic through the energies of the channel edges, when every edge
// lies on it to a thousandth of a channel's width.
std::optional<std::vector<double>> quadraticThrough(const std::vector<double>& edges,
                                                    std::size_t channels, QString* why)
{
    const std::size_t m = edges.size();
    if (m != channels + 1 && m != channels) {
        *why = QStringLiteral("the energy calibration gives %1 channel edges for %2 channels")
                   .arg(m)
                   .arg(channels);
        return std::nullopt;
    }
    const double x1 = double(m / 2), x2 = double(m - 1);
    const double y0 = edges[0], y1 = edges[m / 2], y2 = edges[m - 1];
    const double a = (y1 - y0) / x1;
    const double b = m < 3 ? 0 : ((y2 - y1) / (x2 - x1) - a) / x2;
    const EnergyCalibration fitted{{y0, a - b * x1, b}};
    const double tolerance = 1e-3 * std::abs(y2 - y0) / x2;
    for (std::size_t k = 0; k < m; ++k)
        if (!(std::abs(fitted.energyOf(double(k)) - edges[k]) <= tolerance)) {
            *why = QStringLiteral("the energy calibration's channel edges follow no quadratic "
                                  "(edge %1 at %2 keV)")
                       .arg(k)
                       .arg(edges[k], 0, 'g', 10);
            return std::nullopt;
        }
    return withoutTrailingZeros(fitted.coefficients);
}

class Reader
{
public:
    explicit Reader(QIODevice* device) : m_xml(device) {}

    // The reason the file is refused, or empty.
    QString read(N42Contents& contents);

private:
    template <class F> void children(F each);
    void fail(const QString& why)
    {
        if (!m_xml.hasError())
            m_xml.raiseError(why);
    }
    QString text() { return m_xml.readElementText(); }
    QString attribute(const char* name) const
    {
        return m_xml.attributes().value(QLatin1String(name)).toString().trimmed();
    }
    std::optional<double> value(double low, double high);
    std::optional<std::vector<double>> values(const QString& list, const QString& what);
    std::optional<double> duration();
    QDateTime dateTime();

    void instrument();
    void version();
    void detector();
    void calibration();
    void measurement();
    void spectrum(std::vector<PendingSpectrum>& spectra);
    void channelData(std::vector<uint64_t>& counts);
    void position(std::optional<double>& latitude, std::optional<double>& longitude);
    QString calibrate(PendingSpectrum& spectrum) const;

    QXmlStreamReader m_xml;
    QString m_namespace;
    SpectrumSource m_source;
    std::map<QString, Calibration> m_calibrations;
    std::map<QString, QString> m_detectors; // id: description
    QString m_firstDetector;
    std::vector<PendingSpectrum> m_spectra;
};

// Hands each child element of the N42 namespace to `each`, which reads it
// whole and returns true, or returns false to have it skipped.
template <class F> void Reader::children(F each)
{
    while (m_xml.readNextStartElement())
        if (m_xml.namespaceUri() != m_namespace || !each(m_xml.name()))
            m_xml.skipCurrentElement();
}

std::optional<double> Reader::value(double low, double high)
{
    const QString name = m_xml.name().toString();
    const QString t = text().trimmed();
    bool ok = false;
    const double v = t.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < low || v > high) {
        fail(
            std::isfinite(high)
                ? QStringLiteral("%1 \"%2\" is not a number from %3 to %4")
                      .arg(name, t)
                      .arg(low)
                      .arg(high)
                : QStringLiteral("%1 \"%2\" is not a number of at least %3").arg(name, t).arg(low));
        return std::nullopt;
    }
    return v;
}

std::optional<std::vector<double>> Reader::values(const QString& list, const QString& what)
{
    std::vector<double> out;
    for (const QString& part : list.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        bool ok = false;
        out.push_back(part.toDouble(&ok));
        if (!ok || !std::isfinite(out.back())) {
            fail(QStringLiteral("%1 holds \"%2\", which is not a number").arg(what, part));
            return std::nullopt;
        }
    }
    return out;
}

std::optional<double> Reader::duration()
{
    const QString name = m_xml.name().toString();
    const QString t = text();
    const std::optional<double> seconds = parseDuration(t);
    if (!seconds)
        fail(QStringLiteral("%1 \"%2\" is not a duration in days, hours, minutes and seconds")
                 .arg(name, t.trimmed()));
    return seconds;
}

QDateTime Reader::dateTime()
{
    const QString t = text().trimmed();
    QDateTime time = QDateTime::fromString(t, Qt::ISODateWithMs);
    if (!time.isValid()) {
        fail(QStringLiteral("\"%1\" is not a date and time").arg(t));
        return {};
    }
    if (time.timeSpec() == Qt::LocalTime) // no zone given: taken as UTC, as instruments keep it
        time.setTimeSpec(Qt::UTC);
    return time.toUTC();
}

QString Reader::read(N42Contents& contents)
{
    if (m_xml.readNextStartElement()) {
        m_namespace = m_xml.namespaceUri().toString();
        if (m_xml.name() != QLatin1String("RadInstrumentData") ||
            (!m_namespace.isEmpty() && m_namespace != kNamespace))
            fail(QStringLiteral("this is no N42 file: its root element is <%1>")
                     .arg(m_xml.qualifiedName().toString()));
        else
            children([this](const QStringRef& name) {
                if (name == QLatin1String("RadInstrumentInformation"))
                    instrument();
                else if (name == QLatin1String("RadDetectorInformation"))
                    detector();
                else if (name == QLatin1String("EnergyCalibration"))
                    calibration();
                else if (name == QLatin1String("RadMeasurement"))
                    measurement();
                else
                    return false;
                return true;
            });
    }
    // Whatever follows the root must be XML as well.
    while (!m_xml.atEnd())
        m_xml.readNext();
    if (m_xml.hasError()) {
        if (m_xml.error() == QXmlStreamReader::CustomError)
            return QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(m_xml.errorString());
        return QStringLiteral("not valid XML at line %1: %2")
            .arg(m_xml.lineNumber())
            .arg(m_xml.errorString());
    }
    if (m_spectra.empty())
        return QStringLiteral("there is no spectrum in it");

    for (PendingSpectrum& s : m_spectra) {
        const QString why = calibrate(s);
        if (!why.isEmpty())
            return QStringLiteral("line %1: %2").arg(s.line).arg(why);
    }
    const auto detector = m_detectors.find(m_spectra.front().detectorId);
    m_source.detector =
        detector != m_detectors.end() ? detector->second : m_detectors[m_firstDetector];
    contents.source = m_source;
    contents.spectra.reserve(m_spectra.size());
    for (PendingSpectrum& s : m_spectra)
        contents.spectra.push_back(std::move(s.data));
    return {};
}

void Reader::instrument()
{
    children([this](const QStringRef& name) {
        // Orvisk writes spaces as no-break spaces where the schema's pattern
        // for names would not take them.
        if (name == QLatin1String("RadInstrumentModelName"))
            m_source.family = text().replace(QChar(QChar::Nbsp), QLatin1Char(' '));
        else if (name == QLatin1String("RadInstrumentIdentifier"))
            m_source.serial = text().replace(QChar(QChar::Nbsp), QLatin1Char(' '));
        else if (name == QLatin1String("RadInstrumentVersion"))
            version();
        else
            return false;
        return true;
    });
}

void Reader::version()
{
    QString component, version, remark;
    bool remarked = false;
    children([&](const QStringRef& name) {
        if (name == QLatin1String("Remark"))
            remark = text(), remarked = true;
        else if (name == QLatin1String("RadInstrumentComponentName"))
            component = text().trimmed();
        else if (name == QLatin1String("RadInstrumentComponentVersion"))
            version = text();
        else
            return false;
        return true;
    });
    if (component == kReportComponent) {
        // A report the version's pattern does not take is whole in the remark.
        m_source.report = (remarked ? remark : version).toUtf8();
    } else if (component == kReportHexComponent) {
        static const QRegularExpression hex(QStringLiteral("^([0-9a-fA-F]{2})*$"));
        if (!hex.match(version).hasMatch())
            fail(QStringLiteral("the instrument's report \"%1\" is not hexadecimal").arg(version));
        m_source.report = QByteArray::fromHex(version.toLatin1());
    }
}

void Reader::detector()
{
    const QString id = attribute("id");
    QString description;
    children([&](const QStringRef& name) {
        if (name != QLatin1String("RadDetectorDescription"))
            return false;
        description = text();
        return true;
    });
    if (m_detectors.empty())
        m_firstDetector = id;
    m_detectors.emplace(id, description);
}

void Reader::calibration()
{
    const QString id = attribute("id");
    Calibration c;
    children([&](const QStringRef& name) {
        if (name == QLatin1String("Remark")) {
            const QString remark = text();
            if (remark == kChannelAxisRemark)
                c.channelAxis = true;
            else if (remark.startsWith(kCoefficientsRemark)) {
                c.exact = values(remark.mid(kCoefficientsRemark.size()), QStringLiteral("Remark"))
                              .value_or(std::vector<double>());
                c.hasExact = true;
            }
        } else if (name == QLatin1String("CoefficientValues")) {
            c.coefficients =
                values(text(), QStringLiteral("CoefficientValues")).value_or(std::vector<double>());
        } else if (name == QLatin1String("EnergyBoundaryValues")) {
            c.edges = values(text(), QStringLiteral("EnergyBoundaryValues"))
                          .value_or(std::vector<double>());
        } else {
            return false;
        }
        return true;
    });
    m_calibrations.emplace(id, std::move(c));
}

void Reader::measurement()
{
    QDateTime start;
    double real = 0;
    bool startUnknown = false, realUnknown = false;
    std::optional<double> doseRate, latitude, longitude;
    std::vector<PendingSpectrum> spectra;
    children([&](const QStringRef& name) {
        if (name == QLatin1String("Remark")) {
            const QString remark = text();
            startUnknown = startUnknown || remark == kStartUnknownRemark;
            realUnknown = realUnknown || remark == kRealUnknownRemark;
        } else if (name == QLatin1String("StartDateTime")) {
            start = dateTime();
        } else if (name == QLatin1String("RealTimeDuration")) {
            real = duration().value_or(0);
        } else if (name == QLatin1String("Spectrum")) {
            spectrum(spectra);
        } else if (name == QLatin1String("DoseRate")) {
            children([&](const QStringRef& inner) {
                if (inner != QLatin1String("DoseRateValue"))
                    return false;
                const std::optional<double> v = value(0, HUGE_VAL);
                if (!doseRate)
                    doseRate = v;
                return true;
            });
        } else if (name == QLatin1String("RadInstrumentState") ||
                   name == QLatin1String("RadDetectorState")) {
            position(latitude, longitude);
        } else {
            return false;
        }
        return true;
    });
    for (PendingSpectrum& s : spectra) {
        s.data.start = startUnknown ? QDateTime() : start;
        s.data.realSeconds = realUnknown ? 0 : real;
        s.data.doseRate = doseRate;
        if (latitude && longitude) {
            s.data.latitude = latitude;
            s.data.longitude = longitude;
        }
        m_spectra.push_back(std::move(s));
    }
}

// The geographic point of an instrument's or detector's state; the first one
// found counts.
void Reader::position(std::optional<double>& latitude, std::optional<double>& longitude)
{
    const bool known = latitude && longitude;
    std::optional<double> lat, lon;
    children([&](const QStringRef& name) {
        if (name != QLatin1String("StateVector"))
            return false;
        children([&](const QStringRef& point) {
            if (point != QLatin1String("GeographicPoint"))
                return false;
            children([&](const QStringRef& axis) {
                if (axis == QLatin1String("LatitudeValue"))
                    lat = value(-90, 90);
                else if (axis == QLatin1String("LongitudeValue"))
                    lon = value(-180, 180);
                else
                    return false;
                return true;
            });
            return true;
        });
        return true;
    });
    if (!known && lat && lon) {
        latitude = lat;
        longitude = lon;
    }
}

void Reader::spectrum(std::vector<PendingSpectrum>& spectra)
{
    PendingSpectrum s;
    s.line = m_xml.lineNumber();
    s.calibrationId = attribute("energyCalibrationReference");
    s.detectorId = attribute("radDetectorInformationReference");
    bool channels = false;
    children([&](const QStringRef& name) {
        if (name == QLatin1String("LiveTimeDuration"))
            s.data.liveSeconds = duration().value_or(0);
        else if (name == QLatin1String("ChannelData"))
            channels = true, channelData(s.data.counts);
        else
            return false;
        return true;
    });
    if (!channels)
        fail(QStringLiteral("the spectrum has no channel data"));
    spectra.push_back(std::move(s));
}

void Reader::channelData(std::vector<uint64_t>& counts)
{
    const QString compression = attribute("compressionCode");
    const bool countedZeroes = compression == QLatin1String("CountedZeroes");
    if (!countedZeroes && !compression.isEmpty() && compression != QLatin1String("None")) {
        fail(QStringLiteral("the channel data are compressed as \"%1\", which Orvisk does not know")
                 .arg(compression));
        return;
    }
    const QString t = text();
    if (m_xml.hasError())
        return;
    const QString why = decodeChannels(t, countedZeroes, counts);
    if (!why.isEmpty())
        fail(why);
}

QString Reader::calibrate(PendingSpectrum& s) const
{
    std::vector<double> coefficients;
    if (!s.calibrationId.isEmpty()) {
        const auto it = m_calibrations.find(s.calibrationId);
        if (it == m_calibrations.end())
            return QStringLiteral("the spectrum's energy calibration \"%1\" is not in the file")
                .arg(s.calibrationId);
        const Calibration& c = it->second;
        if (c.hasExact) {
            coefficients = c.exact;
        } else if (!c.channelAxis && !c.edges.empty()) {
            QString why;
            const auto fitted = quadraticThrough(c.edges, s.data.counts.size(), &why);
            if (!fitted)
                return why;
            coefficients = *fitted;
        } else if (!c.channelAxis) {
            coefficients = withoutTrailingZeros(c.coefficients);
        }
    }
    s.data.calibration.coefficients = std::move(coefficients);
    return notRisingReason(s.data.calibration, s.data.counts.size());
}

} // namespace

std::optional<N42Contents> readN42(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    N42Contents contents;
    Reader reader(&file);
    const QString why = reader.read(contents);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1 cannot be read: %2.").arg(path, why);
        return std::nullopt;
    }
    return contents;
}
