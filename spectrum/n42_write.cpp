// Spectra written as ANSI N42.42 XML: the instrument and its detector once,
// each distinct calibration once, then one measurement per spectrum.
#include "n42_file.h"
#include "n42_format.h"
#include "orvisk_identity.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QUuid>
#include <QXmlStreamWriter>

#include <charconv>
#include <cmath>
#include <map>
#include <tuple>

namespace {

using namespace n42;

constexpr double kMaxSeconds = 1e9; // some 30 years: anything longer is a broken clock
const QString kClassCode = QStringLiteral("Spectroscopic Personal Radiation Detector");
const QString kInstrumentId = QStringLiteral("instrument");
const QString kDetectorId = QStringLiteral("detector");

// The detector kinds the schema names, found at the start of a description
// such as "NaI(Tl) 40x40 mm"; longer names first so that "GMTW" is not "GMT".
const char* const kDetectorKinds[] = {
    "LiFiber", "LiGlass", "CdWO4", "LaBr3", "LaCl3", "LiCAF", "LiZnS", "CeBr4", "HPGe",
    "HPXe",    "CdTe",    "CLYC",  "GMTW",  "HgI2",  "SrI2",  "BGO",   "BF3",   "CsI",
    "CZT",     "GMT",     "He3",   "He4",   "LiI",   "NaI",   "PVT",   "PS"};

QString detectorKind(const QString& description)
{
    for (const char* kind : kDetectorKinds) {
        const QLatin1String k(kind);
        if (description.startsWith(k) &&
            (description.size() == k.size() || !description.at(k.size()).isLetterOrNumber()))
            return k;
    }
    return QStringLiteral("Other");
}

// Text as XML 1.0 carries it back: other control characters than tabs and
// line breaks become spaces, and a carriage return would come back a line break.
QString xmlText(const QString& text)
{
    QString out = text;
    for (int i = 0; i < out.size(); ++i) {
        const ushort c = out.at(i).unicode();
        if (c < 0x20 && c != '\t' && c != '\n')
            out[i] = QLatin1Char(' ');
        else if (c == 0xfffe || c == 0xffff)
            out[i] = QChar(QChar::ReplacementCharacter);
        else if (QChar::isHighSurrogate(c) && i + 1 < out.size() &&
                 QChar::isLowSurrogate(out.at(i + 1).unicode()))
            ++i;
        else if (QChar::isSurrogate(c))
            out[i] = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

bool isXmlSpace(uint c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// A word character of the schema's regular expressions: neither punctuation,
// a separator nor "other".
bool isWordCharacter(uint c)
{
    switch (QChar::category(c)) {
    case QChar::Punctuation_Connector:
    case QChar::Punctuation_Dash:
    case QChar::Punctuation_Open:
    case QChar::Punctuation_Close:
    case QChar::Punctuation_InitialQuote:
    case QChar::Punctuation_FinalQuote:
    case QChar::Punctuation_Other:
    case QChar::Separator_Space:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
        return false;
    default:
        return true;
    }
}

// Whether the schema's pattern for names and versions, [\w\d ]*[\w\d\S]+[\w\d ]*,
// takes the text: something besides spaces, and what is neither a word
// character nor a space all in one run without white space. "fw 2.14" is
// taken, "fw 2.14, hw 1.0" is not.
bool fitsNonBlank(const QString& text)
{
    const QVector<uint> codes = text.toUcs4();
    int first = -1, last = -1;
    bool nonSpace = false;
    for (int i = 0; i < codes.size(); ++i) {
        nonSpace = nonSpace || codes[i] != ' ';
        if (codes[i] != ' ' && !isWordCharacter(codes[i])) {
            first = first < 0 ? i : first;
            last = i;
        }
    }
    for (int i = first; first >= 0 && i <= last; ++i)
        if (isXmlSpace(codes[i]))
            return false;
    return nonSpace;
}

// The text as the pattern takes it: white space made no-break spaces where
// needed; empty when there is nothing but white space.
QString nonBlank(const QString& text)
{
    if (fitsNonBlank(text))
        return text;
    QString out = text;
    bool any = false;
    for (QChar& c : out) {
        if (isXmlSpace(c.unicode()))
            c = QChar(QChar::Nbsp);
        else
            any = true;
    }
    return any ? out : QString();
}

// Whether the report is text that XML carries unchanged.
bool isPlainText(const QByteArray& report)
{
    const QString text = QString::fromUtf8(report);
    return text.toUtf8() == report && xmlText(text) == text && !nonBlank(text).isEmpty() &&
           !text.contains(QChar(0x7f));
}

QString number(double value)
{
    char buffer[32];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return QString::fromLatin1(buffer, int(end - buffer));
}

// xs:decimal has no exponent: the shortest digits that give the double back.
QString decimal(double value)
{
    char buffer[400];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed).ptr;
    return QString::fromLatin1(buffer, int(end - buffer));
}

QString numbers(const std::vector<double>& values)
{
    QStringList parts;
    for (double v : values)
        parts << number(v);
    return parts.join(QLatin1Char(' '));
}

QString dateTime(const QDateTime& time)
{
    return time.toUTC().toString(Qt::ISODateWithMs);
}

long long milliseconds(double seconds)
{
    return std::llround(seconds * 1000);
}

bool inRange(double value, double low, double high)
{
    return std::isfinite(value) && value >= low && value <= high;
}

// Why the spectrum cannot be written as it is, or empty.
QString refusalOf(const SpectrumData& s, bool calibrationChecked)
{
    const std::size_t channels = s.counts.size();
    if (channels < kMinChannels || channels > kMaxChannels)
        return QStringLiteral("it has %1 channel%2, not %3 to %4")
            .arg(channels)
            .arg(channels == 1 ? "" : "s")
            .arg(kMinChannels)
            .arg(kMaxChannels);
    if (!inRange(s.liveSeconds, 0, kMaxSeconds))
        return QStringLiteral("its live time of %1 s is no duration").arg(s.liveSeconds);
    if (!inRange(s.realSeconds, 0, kMaxSeconds))
        return QStringLiteral("its real time of %1 s is no duration").arg(s.realSeconds);
    if (s.start.isValid()) {
        const int year = s.start.toUTC().date().year();
        if (year < 1 || year > 9999)
            return QStringLiteral("it starts in the year %1").arg(year);
    }
    if (s.doseRate && !inRange(*s.doseRate, 0, HUGE_VAL))
        return QStringLiteral("its dose rate of %1 µSv/h is no dose rate").arg(*s.doseRate);
    if (s.latitude && !inRange(*s.latitude, -90, 90))
        return QStringLiteral("its latitude %1 is not between -90 and 90").arg(*s.latitude);
    if (s.longitude && !inRange(*s.longitude, -180, 180))
        return QStringLiteral("its longitude %1 is not between -180 and 180").arg(*s.longitude);
    if (!calibrationChecked) {
        for (double c : s.calibration.coefficients)
            if (!std::isfinite(c))
                return QStringLiteral("its energy calibration has a coefficient of %1").arg(c);
        return notRisingReason(s.calibration, channels);
    }
    return {};
}

// One EnergyCalibration element. The schema's coefficients are three; a
// longer polynomial goes as the energies of the channel edges, its
// coefficients in a remark.
struct CalibrationKey
{
    std::vector<double> coefficients; // without trailing zeros; empty: none
    std::size_t channels = 0;         // for edges only

    bool operator<(const CalibrationKey& o) const
    {
        return std::tie(coefficients, channels) < std::tie(o.coefficients, o.channels);
    }
};

class DocumentWriter
{
public:
    explicit DocumentWriter(QIODevice* device) : m_device(device), m_xml(device)
    {
        m_xml.setAutoFormatting(true);
        m_xml.setAutoFormattingIndent(1);
    }

    bool write(const SpectrumSource& source, const std::vector<SpectrumData>& spectra);

private:
    void start(const QString& name) { m_xml.writeStartElement(kNamespace, name); }
    void end() { m_xml.writeEndElement(); }
    void text(const QString& name, const QString& value)
    {
        m_xml.writeTextElement(kNamespace, name, value);
    }
    void attribute(const QString& name, const QString& value) { m_xml.writeAttribute(name, value); }

    void instrument(const SpectrumSource& source);
    void detector(const SpectrumSource& source);
    void calibration(const QString& id, const CalibrationKey& key);
    void measurement(int index, const SpectrumData& s, const QString& calibrationId);
    void channelData(const std::vector<uint64_t>& counts);

    QIODevice* m_device;
    QXmlStreamWriter m_xml;
    QByteArray m_counts;
    bool m_failed = false;
};

bool DocumentWriter::write(const SpectrumSource& source, const std::vector<SpectrumData>& spectra)
{
    m_xml.writeStartDocument();
    m_xml.writeDefaultNamespace(kNamespace);
    start(QStringLiteral("RadInstrumentData"));
    attribute(QStringLiteral("n42DocUUID"), QUuid::createUuid().toString(QUuid::WithoutBraces));
    attribute(QStringLiteral("n42DocDateTime"), dateTime(QDateTime::currentDateTimeUtc()));
    text(QStringLiteral("RadInstrumentDataCreatorName"),
         QStringLiteral("Orvisk ") + QLatin1String(orviskVersion()));
    instrument(source);
    detector(source);

    std::map<CalibrationKey, QString> ids;
    std::vector<const QString*> calibrationOf;
    calibrationOf.reserve(spectra.size());
    for (const SpectrumData& s : spectra) {
        CalibrationKey key{withoutTrailingZeros(s.calibration.coefficients), 0};
        if (key.coefficients.size() > 3)
            key.channels = s.counts.size();
        auto it = ids.find(key);
        if (it == ids.end()) {
            it =
                ids.emplace(key, QStringLiteral("energy-calibration-%1").arg(ids.size() + 1)).first;
            calibration(it->second, key);
        }
        calibrationOf.push_back(&it->second);
    }
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        measurement(int(i) + 1, spectra[i], *calibrationOf[i]);
        if (m_failed || m_xml.hasError())
            return false;
    }
    end();
    m_xml.writeEndDocument();
    return !m_xml.hasError();
}

void DocumentWriter::instrument(const SpectrumSource& source)
{
    start(QStringLiteral("RadInstrumentInformation"));
    attribute(QStringLiteral("id"), kInstrumentId);
    text(QStringLiteral("RadInstrumentManufacturerName"), QStringLiteral("Korvenix"));
    const QString serial = nonBlank(xmlText(source.serial));
    if (!serial.isEmpty())
        text(QStringLiteral("RadInstrumentIdentifier"), serial);
    const QString family = nonBlank(xmlText(source.family));
    text(QStringLiteral("RadInstrumentModelName"),
         family.isEmpty() ? QStringLiteral("Unknown") : family);
    text(QStringLiteral("RadInstrumentClassCode"), kClassCode);

    // A report the version's pattern does not take goes whole in a remark.
    const auto version = [this](const QString& component, const QString& value) {
        start(QStringLiteral("RadInstrumentVersion"));
        const QString fitting = nonBlank(value);
        if (fitting != value)
            text(QStringLiteral("Remark"), value);
        text(QStringLiteral("RadInstrumentComponentName"), component);
        text(QStringLiteral("RadInstrumentComponentVersion"), fitting);
        end();
    };
    version(QStringLiteral("Orvisk"), QLatin1String(orviskVersion()));
    if (isPlainText(source.report))
        version(kReportComponent, QString::fromUtf8(source.report));
    else if (!source.report.isEmpty())
        version(kReportHexComponent, QString::fromLatin1(source.report.toHex()));
    end();
}

void DocumentWriter::detector(const SpectrumSource& source)
{
    start(QStringLiteral("RadDetectorInformation"));
    attribute(QStringLiteral("id"), kDetectorId);
    text(QStringLiteral("RadDetectorCategoryCode"), QStringLiteral("Gamma"));
    const QString description = xmlText(source.detector);
    text(QStringLiteral("RadDetectorKindCode"), detectorKind(description));
    if (!description.isEmpty())
        text(QStringLiteral("RadDetectorDescription"), description);
    end();
}

void DocumentWriter::calibration(const QString& id, const CalibrationKey& key)
{
    start(QStringLiteral("EnergyCalibration"));
    attribute(QStringLiteral("id"), id);
    if (key.coefficients.empty()) {
        // A calibration is required for every spectrum: the channel axis, so marked.
        text(QStringLiteral("Remark"), kChannelAxisRemark);
        text(QStringLiteral("CoefficientValues"), QStringLiteral("0 1 0"));
    } else if (key.coefficients.size() <= 3) {
        std::vector<double> three = key.coefficients;
        three.resize(3, 0.0);
        text(QStringLiteral("CoefficientValues"), numbers(three));
    } else {
        text(QStringLiteral("Remark"),
             kCoefficientsRemark + QLatin1Char(' ') + numbers(key.coefficients));
        // The schema's energies are not negative: the edges below 0 keV show as 0.
        const EnergyCalibration c{key.coefficients};
        std::vector<double> edges(key.channels + 1);
        for (std::size_t k = 0; k < edges.size(); ++k)
            edges[k] = std::max(0.0, c.energyOf(double(k)));
        text(QStringLiteral("EnergyBoundaryValues"), numbers(edges));
    }
    end();
}

void DocumentWriter::measurement(int index, const SpectrumData& s, const QString& calibrationId)
{
    const QString n = QString::number(index);
    start(QStringLiteral("RadMeasurement"));
    attribute(QStringLiteral("id"), QStringLiteral("measurement-") + n);
    // The schema wants a start and a real time above zero; unknown ones are
    // written as placeholders and so marked.
    const long long live = milliseconds(s.liveSeconds), real = milliseconds(s.realSeconds);
    if (!s.start.isValid())
        text(QStringLiteral("Remark"), kStartUnknownRemark);
    if (real == 0)
        text(QStringLiteral("Remark"), kRealUnknownRemark);
    text(QStringLiteral("MeasurementClassCode"), QStringLiteral("Foreground"));
    text(QStringLiteral("StartDateTime"),
         s.start.isValid() ? dateTime(s.start) : QStringLiteral("1970-01-01T00:00:00Z"));
    text(QStringLiteral("RealTimeDuration"), formatDuration(real > 0 ? real : std::max(live, 1LL)));

    start(QStringLiteral("Spectrum"));
    attribute(QStringLiteral("id"), QStringLiteral("spectrum-") + n);
    attribute(QStringLiteral("radDetectorInformationReference"), kDetectorId);
    attribute(QStringLiteral("energyCalibrationReference"), calibrationId);
    text(QStringLiteral("LiveTimeDuration"), formatDuration(live));
    start(QStringLiteral("ChannelData"));
    channelData(s.counts);
    end();
    end();

    if (s.doseRate) {
        start(QStringLiteral("DoseRate"));
        attribute(QStringLiteral("id"), QStringLiteral("dose-rate-") + n);
        attribute(QStringLiteral("radDetectorInformationReference"), kDetectorId);
        start(QStringLiteral("DoseRateValue"));
        attribute(QStringLiteral("units"), QStringLiteral("µSv/h"));
        m_xml.writeCharacters(number(*s.doseRate));
        end();
        end();
    }
    // A geographic point needs both.
    if (s.latitude && s.longitude) {
        start(QStringLiteral("RadInstrumentState"));
        attribute(QStringLiteral("radInstrumentInformationReference"), kInstrumentId);
        start(QStringLiteral("StateVector"));
        start(QStringLiteral("GeographicPoint"));
        text(QStringLiteral("LatitudeValue"), decimal(*s.latitude));
        text(QStringLiteral("LongitudeValue"), decimal(*s.longitude));
        end();
        end();
        end();
    }
    end();
}

void DocumentWriter::channelData(const std::vector<uint64_t>& counts)
{
    m_counts.resize(int(counts.size() * 21));
    char* const begin = m_counts.data();
    char* p = begin;
    for (uint64_t c : counts) {
        p = std::to_chars(p, p + 20, c).ptr;
        *p++ = ' ';
    }
    // Digits and spaces need no escaping, and the writer keeps nothing
    // buffered: closing the start tag with empty text lets them go straight
    // to the file, by far the bulk of it, without the detour through UTF-16.
    m_xml.writeCharacters(QString());
    const qint64 size = p - begin - 1;
    if (m_device->write(begin, size) != size)
        m_failed = true;
}

} // namespace

bool writeN42(const QString& path, const SpectrumSource& source,
              const std::vector<SpectrumData>& spectra, QString* error)
{
    if (spectra.empty()) {
        *error = QStringLiteral("There is no spectrum to write to %1.").arg(path);
        return false;
    }
    const SpectrumData* previous = nullptr;
    for (std::size_t i = 0; i < spectra.size(); ++i) {
        const SpectrumData& s = spectra[i];
        // A series keeps its calibration: check it once per change.
        const bool checked = previous &&
                             previous->calibration.coefficients == s.calibration.coefficients &&
                             previous->counts.size() == s.counts.size();
        const QString why = refusalOf(s, checked);
        if (!why.isEmpty()) {
            *error = QStringLiteral("Spectrum %1 of %2 cannot be written to %3: %4.")
                         .arg(i + 1)
                         .arg(spectra.size())
                         .arg(path, why);
            return false;
        }
        previous = &s;
    }
    if (QFileInfo(path).isDir()) {
        *error = QStringLiteral("%1 is a folder.").arg(path);
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    DocumentWriter writer(&file);
    if (!writer.write(source, spectra))
        file.cancelWriting();
    if (!file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
