#include "survey_export.h"

#include "gdal_rows.h"
#include "survey_archive.h"

#include <orvisk_identity.h>
#include <whole_file.h>

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>

namespace {

enum class Kind { Gpkg, GeoJson, Gpx, Kml, Csv };

struct Format
{
    Kind kind;
    const char* suffix;
    const char* driver;
    const char* label;
    const char* altitudeField; // GPX has its own name for it
    bool textTime;             // CSV: ISO 8601 text, which every reader takes
    bool longitudeBelow180;    // GPX: longitude 180 must be written as -180
    const char* const* datasetOptions;
    const char* const* layerOptions;
};

const char* const gpxOptions[] = {"GPX_USE_EXTENSIONS=YES", nullptr};
// No R-tree: SQLite builds one at four times the cost of the rest of the
// export, and a GIS reads a survey's points well without it.
const char* const gpkgOptions[] = {"SPATIAL_INDEX=NO", nullptr};
// Coordinates as every other number, to 17 figures: the default 15 decimals
// lose digits of a position near 0 degrees.
const char* const geojsonOptions[] = {"SIGNIFICANT_FIGURES=17", nullptr};
const char* const csvOptions[] = {"GEOMETRY=AS_XY", "STRING_QUOTING=IF_NEEDED", nullptr};

const Format formats[] = {
    {Kind::Gpkg, "gpkg", "GPKG", "GeoPackage", "altitude", false, false, nullptr, gpkgOptions},
    {Kind::GeoJson, "geojson", "GeoJSON", "GeoJSON", "altitude", false, false, nullptr,
     geojsonOptions},
    {Kind::GeoJson, "json", "GeoJSON", "GeoJSON", "altitude", false, false, nullptr,
     geojsonOptions},
    {Kind::Gpx, "gpx", "GPX", "GPX", "ele", false, true, gpxOptions, nullptr},
    {Kind::Kml, "kml", "KML", "KML", "altitude", true, false, nullptr, nullptr},
    {Kind::Csv, "csv", "CSV", "CSV", "altitude", true, false, nullptr, csvOptions},
};

const Format* formatOf(const QString& suffix)
{
    for (const Format& f : formats)
        if (suffix.compare(QLatin1String(f.suffix), Qt::CaseInsensitive) == 0)
            return &f;
    return nullptr;
}

QString lastGdalError(const QString& what)
{
    const char* text = CPLGetLastErrorMsg();
    return text && *text ? what + QStringLiteral(": ") + QString::fromUtf8(text) : what;
}

// Where the layer keeps each value. GPX and KML layers come with fields of
// their own, so the indices are looked up by name after the fields are made.
struct Fields
{
    int time = -1, altitude = -1, doseRate = -1, cps = -1;
    int name = -1;                  // GPX's and KML's name: the time (KML: the dose rate first)
    int description = -1;           // KML's: every value with its unit, for Google Earth
    int satellites = -1, hdop = -1; // GPX's own
    int flags = -1;                 // the names of the checks a point failed, when asked for
};

bool createFields(OGRLayer* layer, const Format& format, Fields& fields, bool withFlags)
{
    OGRFieldDefn time("time", format.textTime ? OFTString : OFTDateTime);
    OGRFieldDefn altitude(format.altitudeField, OFTReal);
    OGRFieldDefn doseRate("dose_rate", OFTReal);
    OGRFieldDefn cps("cps", OFTInteger);
    for (OGRFieldDefn* f : {&time, &altitude, &doseRate, &cps})
        if (layer->CreateField(f) != OGRERR_NONE)
            return false;
    OGRFeatureDefn* defn = layer->GetLayerDefn();
    fields.time = defn->GetFieldIndex("time");
    fields.altitude = defn->GetFieldIndex(format.altitudeField);
    fields.doseRate = defn->GetFieldIndex("dose_rate");
    fields.cps = defn->GetFieldIndex("cps");
    fields.name = defn->GetFieldIndex("Name");
    if (format.kind == Kind::Kml)
        fields.description = defn->GetFieldIndex("Description");
    if (format.kind == Kind::Gpx) {
        fields.satellites = defn->GetFieldIndex("sat");
        fields.hdop = defn->GetFieldIndex("hdop");
        if (fields.satellites < 0 || fields.hdop < 0)
            return false;
    }
    if (withFlags) {
        OGRFieldDefn flags("flags", OFTString);
        if (layer->CreateField(&flags) != OGRERR_NONE)
            return false;
        fields.flags = defn->GetFieldIndex("flags");
        if (fields.flags < 0)
            return false;
    }
    return fields.time >= 0 && fields.altitude >= 0 && fields.doseRate >= 0 && fields.cps >= 0;
}

// The map's colour scale. A rate reaches a step when it is the step's
// threshold or above, compared as the map compares them: in floats of uSv/h.
class DoseSteps
{
public:
    explicit DoseSteps(std::vector<DoseStep> steps) : m_steps(std::move(steps))
    {
        m_steps.erase(std::remove_if(m_steps.begin(), m_steps.end(),
                                     [](const DoseStep& s) { return !std::isfinite(s.threshold); }),
                      m_steps.end());
        std::stable_sort(m_steps.begin(), m_steps.end(), [](const DoseStep& a, const DoseStep& b) {
            return a.threshold < b.threshold;
        });
        for (const DoseStep& step : m_steps)
            m_limits.push_back(step.threshold / 1000.0f);
    }

    static constexpr uint32_t kBackground = 0xff808080; // below the first threshold
    static constexpr uint32_t kUnknown = 0xffff0000;    // no dose rate
    static constexpr uint32_t kDark = 0xff181818;       // outlines and flagged rings

    // -1 without a dose rate, 0 below the first threshold, else the step n
    // (1 up) whose threshold the rate reaches and whose next one it does not.
    int stepOf(float microSievertPerHour) const
    {
        if (!SurveyPoint::isDoseRate(microSievertPerHour))
            return -1;
        return int(std::upper_bound(m_limits.begin(), m_limits.end(), microSievertPerHour) -
                   m_limits.begin());
    }
    uint32_t argbOf(int step) const
    {
        return step < 0 ? kUnknown : step == 0 ? kBackground : m_steps[std::size_t(step) - 1].argb;
    }
    int count() const { return int(m_steps.size()); }
    float threshold(int n) const { return m_steps[std::size_t(n)].threshold; }
    // Step n's threshold as a dose_rate field compares with it: the float
    // the map compares, to every digit, so that 0.2505 uSv/h reaches 250.5.
    QString limitText(int n) const
    {
        return QString::number(double(m_limits[std::size_t(n)]), 'g', 17);
    }

private:
    std::vector<DoseStep> m_steps;
    std::vector<float> m_limits; // uSv/h
};

QString nanoText(double nanoSievertPerHour)
{
    return QString::number(nanoSievertPerHour, 'g', 6);
}

// A point's rate in nSv/h to a tenth, in floats as the map compares: 0.2505
// uSv/h is 250.5 nSv/h, not 250.49999.
QString nanoName(float microSievertPerHour)
{
    return QString::number(double(microSievertPerHour * 1000.0f), 'f', 1);
}

// A placemark's name: its dose rate and time, as Google Earth lists them.
QString placemarkName(const SurveyPoint& p, const QString& time)
{
    const QString rate = p.hasDoseRate() ? nanoName(p.doseRate) + QStringLiteral(" nSv/h")
                                         : QStringLiteral("no dose rate");
    return rate + QStringLiteral(", ") + time;
}

// A placemark's description, which Google Earth shows as HTML.
QString placemarkDescription(const SurveyPoint& p, const uint16_t* flags)
{
    QStringList lines;
    lines << (p.hasDoseRate()
                  ? QStringLiteral("Dose rate: %1 uSv/h (%2 nSv/h)")
                        .arg(QString::number(double(p.doseRate), 'g', 6), nanoName(p.doseRate))
                  : QStringLiteral("Dose rate: none"));
    lines << QStringLiteral("Counts: %1 cps").arg(p.cps);
    lines
        << (p.hasAltitude()
                ? QStringLiteral("Altitude: %1 m").arg(QString::number(double(p.altitude), 'f', 1))
                : QStringLiteral("Altitude: unknown"));
    lines << QStringLiteral("Satellites: %1").arg(p.satellites);
    lines << QStringLiteral("HDOP: %1").arg(QString::number(p.hdop10 / 10.0, 'f', 1));
    if (flags)
        lines << QStringLiteral("Flags: %1")
                     .arg(*flags ? QString::fromStdString(flagNames(*flags))
                                 : QStringLiteral("none"));
    return lines.join(QStringLiteral("<br>"));
}

void setReal(OGRFeature& feature, int field, float value, bool known)
{
    if (known)
        feature.SetField(field, double(value));
    else
        feature.SetFieldNull(field);
}

void fillFeature(OGRFeature& feature, OGRPoint& point, const Fields& fields, const SurveyPoint& p,
                 const Format& format, const uint16_t* flags)
{
    point.setX(format.longitudeBelow180 && p.longitude == 180 ? -180.0 : p.longitude);
    point.setY(p.latitude);
    feature.SetGeometry(&point);
    const time_t t = static_cast<time_t>(p.time);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    if (format.textTime)
        feature.SetField(fields.time, text);
    else
        feature.SetField(fields.time, tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                         tm.tm_min, static_cast<float>(tm.tm_sec), 100);
    if (fields.name >= 0)
        feature.SetField(fields.name,
                         format.kind == Kind::Kml
                             ? placemarkName(p, QLatin1String(text)).toUtf8().constData()
                             : text);
    if (fields.description >= 0)
        feature.SetField(fields.description, placemarkDescription(p, flags).toUtf8().constData());
    setReal(feature, fields.altitude, p.altitude, p.hasAltitude());
    setReal(feature, fields.doseRate, p.doseRate, p.hasDoseRate());
    feature.SetField(fields.cps, int(p.cps));
    if (fields.satellites >= 0)
        feature.SetField(fields.satellites, int(p.satellites));
    if (fields.hdop >= 0)
        feature.SetField(fields.hdop, p.hdop10 / 10.0);
    if (flags)
        feature.SetField(fields.flags, flagNames(*flags).c_str());
}

// Provenance and units as names and values, in the order every format
// writes them.

using Item = ProvenanceField;

QString isoUtc(const QDateTime& t)
{
    return t.isValid() ? t.toUTC().toString(Qt::ISODate) : QString();
}

// What an instrument or a connection string says may hold control
// characters, which XML cannot carry and a line of text should not.
QString visible(QString text)
{
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control)
            c = QChar(0xfffd);
    return text;
}

// What the instrument reported about itself as text, when it is text: its
// fields of printable characters, padded with NULs, joined by " | ". Empty
// for anything else.
QString reportText(const QByteArray& report)
{
    if (!std::all_of(report.begin(), report.end(),
                     [](char c) { return c == 0 || (c >= 0x20 && c < 0x7f); }))
        return QString();
    QStringList fields;
    for (const QByteArray& field : report.split('\0'))
        if (!field.isEmpty())
            fields << QString::fromLatin1(field);
    return fields.join(QStringLiteral(" | "));
}

} // namespace

std::vector<ProvenanceField> provenanceFields(const std::optional<SurveyProvenance>& p)
{
    std::vector<ProvenanceField> items;
    if (p) {
        items = {{QStringLiteral("instrument_family"), visible(p->family)},
                 {QStringLiteral("instrument_serial"), visible(p->serial)}};
        // The text to read, and every byte as it came.
        if (const QString text = reportText(p->report); !text.isEmpty())
            items.push_back({QStringLiteral("instrument_report"), text});
        items.push_back(
            {QStringLiteral("instrument_report_hex"), QString::fromLatin1(p->report.toHex())});
        items.push_back({QStringLiteral("downloaded"), isoUtc(p->downloaded)});
        // Without a start the download asked for every record.
        if (p->periodFrom.isValid())
            items.push_back({QStringLiteral("period_from"), isoUtc(p->periodFrom)});
        items.insert(items.end(), {{QStringLiteral("period_to"), isoUtc(p->periodTo)},
                                   {QStringLiteral("records_sha256"), p->recordsSha256},
                                   {QStringLiteral("source"), visible(p->source)}});
    }
    items.push_back({QStringLiteral("orvisk_version"), QString::fromLatin1(orviskVersion())});
    return items;
}

namespace {

std::vector<Item> provenanceItems(const std::optional<SurveyProvenance>& p)
{
    return provenanceFields(p);
}

// Each field of the layer, as the format names it, with its unit.
std::vector<Item> unitItems(const Format& format, bool withFlags)
{
    std::vector<Item> units;
    if (format.kind == Kind::Csv)
        units = {{QStringLiteral("X"), QStringLiteral("degrees of longitude, WGS 84")},
                 {QStringLiteral("Y"), QStringLiteral("degrees of latitude, WGS 84")}};
    units.insert(units.end(), {{QStringLiteral("time"), QStringLiteral("UTC")},
                               {QLatin1String(format.altitudeField), QStringLiteral("m")},
                               {QStringLiteral("dose_rate"), QStringLiteral("uSv/h")},
                               {QStringLiteral("cps"), QStringLiteral("counts per second")}});
    if (format.kind == Kind::Gpx)
        units.insert(units.end(), {{QStringLiteral("sat"), QStringLiteral("satellites in the fix")},
                                   {QStringLiteral("hdop"),
                                    QStringLiteral("horizontal dilution of precision")}});
    if (withFlags)
        units.push_back({QStringLiteral("flags"),
                         QStringLiteral("names of the checks the point failed, space separated")});
    return units;
}

QString summaryOf(const std::optional<SurveyProvenance>& p)
{
    const QString by = QStringLiteral("written by Orvisk ") + QLatin1String(orviskVersion());
    if (!p)
        return QStringLiteral("Survey points, ") + by;
    const QString instrument = p->serial.isEmpty() ? p->family : p->family + ' ' + p->serial;
    return QStringLiteral("Survey points of %1, downloaded %2, %3")
        .arg(visible(instrument), isoUtc(p->downloaded), by);
}

// One rule of the layer's style: the points it takes and their marker.
struct StyleRule
{
    QString label;
    QString low, high;     // uSv/h as the field compares: low <= dose_rate < high; empty: open
    bool unknown = false;  // no dose rate
    bool flagged = false;  // a check failed
    bool goodOnly = false; // no check failed (with flags, those have a rule of their own)
    uint32_t argb = 0;
    bool ring = false; // a hollow dark ring, as the map draws a flagged point
};

// The legend's rows, highest step first, as the map's legend has them.
std::vector<StyleRule> styleRules(const DoseSteps& scale, bool withFlags)
{
    std::vector<StyleRule> rules;
    const QString unit = QStringLiteral(" nSv/h");
    for (int n = scale.count() - 1; n >= 0; --n) {
        StyleRule r;
        r.low = scale.limitText(n);
        r.label = nanoText(double(scale.threshold(n)));
        if (n + 1 < scale.count()) {
            r.high = scale.limitText(n + 1);
            r.label += QStringLiteral(" \u2013 ") + nanoText(double(scale.threshold(n + 1))) + unit;
        } else {
            r.label = QStringLiteral("\u2265 ") + r.label + unit;
        }
        r.argb = scale.argbOf(n + 1);
        rules.push_back(r);
    }
    StyleRule background;
    background.argb = DoseSteps::kBackground;
    if (scale.count() > 0) {
        background.high = scale.limitText(0);
        background.label = QStringLiteral("< ") + nanoText(double(scale.threshold(0))) + unit;
    } else {
        background.label = QStringLiteral("any dose rate");
    }
    rules.push_back(background);
    StyleRule unknown;
    unknown.label = QStringLiteral("no dose rate");
    unknown.unknown = true;
    unknown.argb = DoseSteps::kUnknown;
    rules.push_back(unknown);
    if (withFlags) {
        for (StyleRule& r : rules)
            r.goodOnly = true;
        StyleRule flagged;
        flagged.label = QStringLiteral("flagged by a check");
        flagged.flagged = true;
        flagged.ring = true;
        flagged.argb = DoseSteps::kDark;
        rules.push_back(flagged);
    }
    return rules;
}

QString qmlFilter(const StyleRule& r)
{
    QStringList terms;
    if (!r.low.isEmpty())
        terms << QStringLiteral("\"dose_rate\" >= ") + r.low;
    if (!r.high.isEmpty())
        terms << QStringLiteral("\"dose_rate\" < ") + r.high;
    if (r.unknown)
        terms << QStringLiteral("\"dose_rate\" IS NULL");
    else if (r.low.isEmpty() && r.high.isEmpty() && !r.flagged)
        terms << QStringLiteral("\"dose_rate\" IS NOT NULL");
    if (r.flagged)
        terms << QStringLiteral("coalesce(\"flags\", '') <> ''");
    if (r.goodOnly)
        terms << QStringLiteral("coalesce(\"flags\", '') = ''");
    return terms.join(QStringLiteral(" AND "));
}

QString rgbaText(uint32_t argb)
{
    return QStringLiteral("%1,%2,%3,%4")
        .arg(argb >> 16 & 0xff)
        .arg(argb >> 8 & 0xff)
        .arg(argb & 0xff)
        .arg(argb >> 24);
}

// The style as QGIS keeps it: a rule-based renderer on dose_rate. Symbol
// layers carry their properties twice, as QGIS 3.26 and later and as older
// versions read them.
QString styleQml(const std::vector<StyleRule>& rules)
{
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeDTD(QStringLiteral("<!DOCTYPE qgis PUBLIC 'http://mrcc.com/qgis.dtd' 'SYSTEM'>"));
    xml.writeStartElement(QStringLiteral("qgis"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("3.22.0"));
    xml.writeAttribute(QStringLiteral("styleCategories"), QStringLiteral("Symbology"));
    xml.writeStartElement(QStringLiteral("renderer-v2"));
    xml.writeAttribute(QStringLiteral("type"), QStringLiteral("RuleRenderer"));
    xml.writeAttribute(QStringLiteral("symbollevels"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("forceraster"), QStringLiteral("0"));
    xml.writeAttribute(QStringLiteral("enableorderby"), QStringLiteral("0"));
    xml.writeStartElement(QStringLiteral("rules"));
    xml.writeAttribute(QStringLiteral("key"), QStringLiteral("{dose-rate}"));
    for (std::size_t i = 0; i < rules.size(); ++i) {
        xml.writeEmptyElement(QStringLiteral("rule"));
        xml.writeAttribute(QStringLiteral("key"), QStringLiteral("{dose-rate-%1}").arg(i));
        xml.writeAttribute(QStringLiteral("symbol"), QString::number(i));
        xml.writeAttribute(QStringLiteral("label"), rules[i].label);
        xml.writeAttribute(QStringLiteral("filter"), qmlFilter(rules[i]));
    }
    xml.writeEndElement(); // rules
    xml.writeStartElement(QStringLiteral("symbols"));
    for (std::size_t i = 0; i < rules.size(); ++i) {
        const StyleRule& r = rules[i];
        xml.writeStartElement(QStringLiteral("symbol"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("marker"));
        xml.writeAttribute(QStringLiteral("name"), QString::number(i));
        xml.writeAttribute(QStringLiteral("alpha"), QStringLiteral("1"));
        xml.writeAttribute(QStringLiteral("clip_to_extent"), QStringLiteral("1"));
        xml.writeAttribute(QStringLiteral("force_rhr"), QStringLiteral("0"));
        xml.writeStartElement(QStringLiteral("layer"));
        xml.writeAttribute(QStringLiteral("class"), QStringLiteral("SimpleMarker"));
        xml.writeAttribute(QStringLiteral("enabled"), QStringLiteral("1"));
        xml.writeAttribute(QStringLiteral("pass"), QStringLiteral("0"));
        xml.writeAttribute(QStringLiteral("locked"), QStringLiteral("0"));
        const std::pair<const char*, QString> properties[] = {
            {"angle", QStringLiteral("0")},
            {"color", r.ring ? QStringLiteral("0,0,0,0") : rgbaText(r.argb)},
            {"joinstyle", QStringLiteral("bevel")},
            {"name", QStringLiteral("circle")},
            {"offset", QStringLiteral("0,0")},
            {"offset_unit", QStringLiteral("MM")},
            {"outline_color", rgbaText(DoseSteps::kDark)},
            {"outline_style", QStringLiteral("solid")},
            {"outline_width", r.ring ? QStringLiteral("0.6") : QStringLiteral("0.3")},
            {"outline_width_unit", QStringLiteral("MM")},
            {"scale_method", QStringLiteral("diameter")},
            {"size", r.ring ? QStringLiteral("2.6") : QStringLiteral("2")},
            {"size_unit", QStringLiteral("MM")},
        };
        xml.writeStartElement(QStringLiteral("Option"));
        xml.writeAttribute(QStringLiteral("type"), QStringLiteral("Map"));
        for (const auto& [key, value] : properties) {
            xml.writeEmptyElement(QStringLiteral("Option"));
            xml.writeAttribute(QStringLiteral("type"), QStringLiteral("QString"));
            xml.writeAttribute(QStringLiteral("name"), QLatin1String(key));
            xml.writeAttribute(QStringLiteral("value"), value);
        }
        xml.writeEndElement(); // Option
        for (const auto& [key, value] : properties) {
            xml.writeEmptyElement(QStringLiteral("prop"));
            xml.writeAttribute(QStringLiteral("k"), QLatin1String(key));
            xml.writeAttribute(QStringLiteral("v"), value);
        }
        xml.writeEndElement(); // layer
        xml.writeEndElement(); // symbol
    }
    xml.writeEndElement(); // symbols
    xml.writeEndElement(); // renderer-v2
    xml.writeTextElement(QStringLiteral("layerGeometryType"), QStringLiteral("0"));
    xml.writeEndElement(); // qgis
    return text;
}

QString hexColour(uint32_t argb)
{
    return QStringLiteral("#%1").arg(argb & 0xffffff, 6, 16, QLatin1Char('0'));
}

void sldComparison(QXmlStreamWriter& xml, const char* op, const char* field, const QString& value)
{
    xml.writeStartElement(QLatin1String("ogc:") + QLatin1String(op));
    xml.writeTextElement(QStringLiteral("ogc:PropertyName"), QLatin1String(field));
    xml.writeTextElement(QStringLiteral("ogc:Literal"), value);
    xml.writeEndElement();
}

void sldIsNull(QXmlStreamWriter& xml, const char* field)
{
    xml.writeStartElement(QStringLiteral("ogc:PropertyIsNull"));
    xml.writeTextElement(QStringLiteral("ogc:PropertyName"), QLatin1String(field));
    xml.writeEndElement();
}

void sldFilter(QXmlStreamWriter& xml, const StyleRule& r)
{
    std::vector<std::function<void()>> terms;
    if (!r.low.isEmpty())
        terms.push_back(
            [&] { sldComparison(xml, "PropertyIsGreaterThanOrEqualTo", "dose_rate", r.low); });
    if (!r.high.isEmpty())
        terms.push_back([&] { sldComparison(xml, "PropertyIsLessThan", "dose_rate", r.high); });
    if (r.unknown) {
        terms.push_back([&] { sldIsNull(xml, "dose_rate"); });
    } else if (r.low.isEmpty() && r.high.isEmpty() && !r.flagged) {
        terms.push_back([&] {
            xml.writeStartElement(QStringLiteral("ogc:Not"));
            sldIsNull(xml, "dose_rate");
            xml.writeEndElement();
        });
    }
    if (r.flagged)
        terms.push_back([&] { sldComparison(xml, "PropertyIsNotEqualTo", "flags", QString()); });
    if (r.goodOnly)
        terms.push_back([&] {
            xml.writeStartElement(QStringLiteral("ogc:Or"));
            sldComparison(xml, "PropertyIsEqualTo", "flags", QString());
            sldIsNull(xml, "flags");
            xml.writeEndElement();
        });
    xml.writeStartElement(QStringLiteral("ogc:Filter"));
    if (terms.size() > 1)
        xml.writeStartElement(QStringLiteral("ogc:And"));
    for (const auto& term : terms)
        term();
    if (terms.size() > 1)
        xml.writeEndElement();
    xml.writeEndElement();
}

void sldParameter(QXmlStreamWriter& xml, const char* name, const QString& value)
{
    xml.writeStartElement(QStringLiteral("se:SvgParameter"));
    xml.writeAttribute(QStringLiteral("name"), QLatin1String(name));
    xml.writeCharacters(value);
    xml.writeEndElement();
}

// The same rules as Styled Layer Descriptor 1.1, for GIS other than QGIS.
QString styleSld(const std::vector<StyleRule>& rules, const QString& layer)
{
    QString text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(1);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("StyledLayerDescriptor"));
    xml.writeAttribute(QStringLiteral("xmlns"), QStringLiteral("http://www.opengis.net/sld"));
    xml.writeAttribute(QStringLiteral("xmlns:ogc"), QStringLiteral("http://www.opengis.net/ogc"));
    xml.writeAttribute(QStringLiteral("xmlns:se"), QStringLiteral("http://www.opengis.net/se"));
    xml.writeAttribute(QStringLiteral("xmlns:xsi"),
                       QStringLiteral("http://www.w3.org/2001/XMLSchema-instance"));
    xml.writeAttribute(QStringLiteral("version"), QStringLiteral("1.1.0"));
    xml.writeAttribute(QStringLiteral("xsi:schemaLocation"),
                       QStringLiteral("http://www.opengis.net/sld "
                                      "http://schemas.opengis.net/sld/1.1.0/"
                                      "StyledLayerDescriptor.xsd"));
    xml.writeStartElement(QStringLiteral("NamedLayer"));
    xml.writeTextElement(QStringLiteral("se:Name"), layer);
    xml.writeStartElement(QStringLiteral("UserStyle"));
    xml.writeTextElement(QStringLiteral("se:Name"), layer);
    xml.writeStartElement(QStringLiteral("se:FeatureTypeStyle"));
    for (const StyleRule& r : rules) {
        xml.writeStartElement(QStringLiteral("se:Rule"));
        xml.writeTextElement(QStringLiteral("se:Name"), r.label);
        xml.writeStartElement(QStringLiteral("se:Description"));
        xml.writeTextElement(QStringLiteral("se:Title"), r.label);
        xml.writeEndElement();
        sldFilter(xml, r);
        xml.writeStartElement(QStringLiteral("se:PointSymbolizer"));
        xml.writeStartElement(QStringLiteral("se:Graphic"));
        xml.writeStartElement(QStringLiteral("se:Mark"));
        xml.writeTextElement(QStringLiteral("se:WellKnownName"), QStringLiteral("circle"));
        if (!r.ring) {
            xml.writeStartElement(QStringLiteral("se:Fill"));
            sldParameter(xml, "fill", hexColour(r.argb));
            if ((r.argb >> 24) != 0xff)
                sldParameter(xml, "fill-opacity", QString::number((r.argb >> 24) / 255.0, 'g', 3));
            xml.writeEndElement();
        }
        xml.writeStartElement(QStringLiteral("se:Stroke"));
        sldParameter(xml, "stroke", hexColour(DoseSteps::kDark));
        sldParameter(xml, "stroke-width", r.ring ? QStringLiteral("2") : QStringLiteral("1"));
        xml.writeEndElement(); // Stroke
        xml.writeEndElement(); // Mark
        xml.writeTextElement(QStringLiteral("se:Size"),
                             r.ring ? QStringLiteral("10") : QStringLiteral("8"));
        xml.writeEndElement(); // Graphic
        xml.writeEndElement(); // PointSymbolizer
        xml.writeEndElement(); // Rule
    }
    xml.writeEndDocument();
    return text;
}

// The style as QGIS saves one into a GeoPackage: a row of layer_styles,
// the layer's default.
bool addLayerStyle(GDALDataset& dataset, OGRLayer& layer, const std::vector<StyleRule>& rules)
{
    const char* const options[] = {"FID=id", nullptr};
    OGRLayer* styles =
        dataset.CreateLayer("layer_styles", nullptr, wkbNone, const_cast<char**>(options));
    if (!styles)
        return false;
    struct Column
    {
        const char* name;
        OGRFieldType type;
        int width;
    };
    const Column columns[] = {
        {"f_table_catalog", OFTString, 256},
        {"f_table_schema", OFTString, 256},
        {"f_table_name", OFTString, 256},
        {"f_geometry_column", OFTString, 256},
        {"styleName", OFTString, 30},
        {"styleQML", OFTString, 0},
        {"styleSLD", OFTString, 0},
        {"useAsDefault", OFTInteger, 0},
        {"description", OFTString, 0},
        {"owner", OFTString, 30},
        {"ui", OFTString, 30},
        {"update_time", OFTDateTime, 0},
    };
    for (const Column& c : columns) {
        OGRFieldDefn field(c.name, c.type);
        field.SetWidth(c.width);
        if (c.type == OFTInteger)
            field.SetSubType(OFSTBoolean);
        if (c.type == OFTDateTime)
            field.SetDefault("CURRENT_TIMESTAMP");
        if (styles->CreateField(&field) != OGRERR_NONE)
            return false;
    }
    const QString layerName = QString::fromUtf8(layer.GetName());
    OGRFeature row(styles->GetLayerDefn());
    row.SetField("f_table_catalog", "");
    row.SetField("f_table_schema", "");
    row.SetField("f_table_name", layer.GetName());
    row.SetField("f_geometry_column", layer.GetGeometryColumn());
    row.SetField("styleName", "dose rate steps");
    row.SetField("styleQML", styleQml(rules).toUtf8().constData());
    row.SetField("styleSLD", styleSld(rules, layerName).toUtf8().constData());
    row.SetField("useAsDefault", 1);
    row.SetField("description", "The dose-rate steps and colours of Orvisk's map");
    row.SetField("owner", "");
    row.SetField("ui", "");
    const QDateTime now = QDateTime::currentDateTimeUtc();
    row.SetField("update_time", now.date().year(), now.date().month(), now.date().day(),
                 now.time().hour(), now.time().minute(), float(now.time().second()), 100);
    return styles->CreateFeature(&row) == OGRERR_NONE;
}

// GeoJSON's foreign members, which GDAL writes at the top level from the
// layer's "native data".
QByteArray geojsonMembers(const std::vector<Item>& items, const std::vector<Item>& units)
{
    QJsonObject members;
    members.insert(QStringLiteral("type"), QStringLiteral("FeatureCollection"));
    // As GDAL writes it without other members; a GIS takes WGS 84 either way.
    members.insert(QStringLiteral("crs"),
                   QJsonObject{{QStringLiteral("type"), QStringLiteral("name")},
                               {QStringLiteral("properties"),
                                QJsonObject{{QStringLiteral("name"),
                                             QStringLiteral("urn:ogc:def:crs:OGC:1.3:CRS84")}}}});
    for (const Item& item : items)
        members.insert(item.key, item.value);
    QJsonObject unitObject;
    for (const Item& unit : units)
        unitObject.insert(unit.key, unit.value);
    members.insert(QStringLiteral("units"), unitObject);
    return QJsonDocument(members).toJson(QJsonDocument::Compact);
}

const QString orviskNamespace = QStringLiteral("https://korvenix.example/orvisk/1");

// What Orvisk adds to GDAL's XML goes on lines of its own; what GDAL wrote
// keeps its own layout.
class Indented
{
public:
    explicit Indented(QXmlStreamWriter& xml) : m_xml(xml) { m_xml.setAutoFormatting(true); }
    ~Indented() { m_xml.setAutoFormatting(false); }
    Indented(const Indented&) = delete;
    Indented& operator=(const Indented&) = delete;

private:
    QXmlStreamWriter& m_xml;
};

// Copies the token the reader stands on, names and attributes as they are.
void copyToken(QXmlStreamReader& in, QXmlStreamWriter& out)
{
    switch (in.tokenType()) {
    case QXmlStreamReader::StartDocument:
        out.writeStartDocument(in.documentVersion().toString());
        out.writeCharacters(QStringLiteral("\n"));
        break;
    case QXmlStreamReader::StartElement:
        out.writeStartElement(in.qualifiedName().toString());
        for (const QXmlStreamAttribute& a : in.attributes())
            out.writeAttribute(a.qualifiedName().toString(), a.value().toString());
        break;
    case QXmlStreamReader::EndElement:
        out.writeEndElement();
        break;
    case QXmlStreamReader::Characters:
        if (in.isCDATA())
            out.writeCDATA(in.text().toString());
        else
            out.writeCharacters(in.text().toString());
        break;
    case QXmlStreamReader::Comment:
        out.writeComment(in.text().toString());
        break;
    case QXmlStreamReader::DTD:
        out.writeDTD(in.text().toString());
        break;
    case QXmlStreamReader::EntityReference:
        out.writeEntityReference(in.name().toString());
        break;
    case QXmlStreamReader::ProcessingInstruction:
        out.writeProcessingInstruction(in.processingInstructionTarget().toString(),
                                       in.processingInstructionData().toString());
        break;
    case QXmlStreamReader::EndDocument:
        out.writeEndDocument();
        break;
    default:
        break;
    }
}

// GDAL's GPX with a description and, in the extensions of its metadata, the
// provenance and units (an element each, in Orvisk's namespace).
bool rewriteGpx(const QByteArray& gdal, QByteArray& out, const QString& summary,
                const std::vector<Item>& items, const std::vector<Item>& units)
{
    QXmlStreamReader in(gdal);
    in.setNamespaceProcessing(false);
    QXmlStreamWriter xml(&out);
    auto extensions = [&] {
        const Indented indented(xml);
        xml.writeStartElement(QStringLiteral("extensions"));
        for (const Item& item : items)
            xml.writeTextElement(QStringLiteral("orvisk:") + item.key, item.value);
        for (const Item& unit : units) {
            xml.writeStartElement(QStringLiteral("orvisk:unit"));
            xml.writeAttribute(QStringLiteral("field"), unit.key);
            xml.writeCharacters(unit.value);
            xml.writeEndElement();
        }
        xml.writeEndElement();
    };
    // The metadata comes first in the file, its bounds (when GDAL writes
    // them) after the description and before the extensions.
    const bool gdalMetadata = gdal.contains("<metadata");
    int depth = 0;
    while (!in.atEnd()) {
        in.readNext();
        if (in.hasError())
            return false;
        const bool start = in.isStartElement(), end = in.isEndElement();
        if (end && depth == 2 && in.qualifiedName() == QLatin1String("metadata"))
            extensions();
        copyToken(in, xml);
        if (start && ++depth == 1) {
            xml.writeAttribute(QStringLiteral("xmlns:orvisk"), orviskNamespace);
            if (!gdalMetadata) {
                const Indented indented(xml);
                xml.writeStartElement(QStringLiteral("metadata"));
                xml.writeTextElement(QStringLiteral("desc"), summary);
                extensions();
                xml.writeEndElement();
            }
        } else if (start && depth == 2 && in.qualifiedName() == QLatin1String("metadata")) {
            const Indented indented(xml);
            xml.writeTextElement(QStringLiteral("desc"), summary);
        }
        if (end)
            --depth;
    }
    return !in.hasError();
}

QString kmlColour(uint32_t argb) // aabbggrr
{
    const uint32_t abgr = (argb & 0xff00ff00) | (argb >> 16 & 0xff) | (argb & 0xff) << 16;
    return QStringLiteral("%1").arg(abgr, 8, 16, QLatin1Char('0'));
}

QString kmlStyleId(int step)
{
    return step < 0    ? QStringLiteral("no_dose_rate")
           : step == 0 ? QStringLiteral("background")
                       : QStringLiteral("step%1").arg(step);
}

// GDAL's KML with a style per dose-rate step on the document, each placemark
// in its step's style, and the provenance and units in the document's
// ExtendedData.
bool rewriteKml(const QByteArray& gdal, QByteArray& out, const DoseSteps& scale,
                const std::vector<SurveyPoint>& points, const QString& summary,
                const std::vector<Item>& items, const std::vector<Item>& units)
{
    QXmlStreamReader in(gdal);
    in.setNamespaceProcessing(false);
    QXmlStreamWriter xml(&out);
    auto document = [&] {
        const Indented indented(xml);
        xml.writeTextElement(QStringLiteral("description"), summary);
        for (int step = -1; step <= scale.count(); ++step) {
            xml.writeStartElement(QStringLiteral("Style"));
            xml.writeAttribute(QStringLiteral("id"), kmlStyleId(step));
            xml.writeStartElement(QStringLiteral("IconStyle"));
            xml.writeTextElement(QStringLiteral("color"), kmlColour(scale.argbOf(step)));
            xml.writeTextElement(QStringLiteral("scale"), QStringLiteral("0.6"));
            xml.writeStartElement(QStringLiteral("Icon"));
            xml.writeTextElement(QStringLiteral("href"),
                                 QStringLiteral("http://maps.google.com/mapfiles/kml/shapes/"
                                                "shaded_dot.png"));
            xml.writeEndElement(); // Icon
            xml.writeEndElement(); // IconStyle
            // Thousands of names would hide the points; each shows on a click.
            xml.writeStartElement(QStringLiteral("LabelStyle"));
            xml.writeTextElement(QStringLiteral("scale"), QStringLiteral("0"));
            xml.writeEndElement();
            xml.writeEndElement(); // Style
        }
        xml.writeStartElement(QStringLiteral("ExtendedData"));
        auto data = [&](const QString& name, const QString& value) {
            xml.writeStartElement(QStringLiteral("Data"));
            xml.writeAttribute(QStringLiteral("name"), name);
            xml.writeTextElement(QStringLiteral("value"), value);
            xml.writeEndElement();
        };
        for (const Item& item : items)
            data(item.key, item.value);
        for (const Item& unit : units)
            data(QStringLiteral("unit_") + unit.key, unit.value);
        xml.writeEndElement();
    };
    // A placemark's styleUrl follows its name and description and comes
    // before its data and geometry.
    const QStringList beforeStyle = {QStringLiteral("name"),      QStringLiteral("description"),
                                     QStringLiteral("Snippet"),   QStringLiteral("visibility"),
                                     QStringLiteral("TimeStamp"), QStringLiteral("TimeSpan")};
    std::size_t placemarks = 0;
    bool inPlacemark = false, styled = false;
    int depth = 0, placemarkDepth = 0;
    auto styleUrl = [&] {
        if (placemarks > points.size())
            return;
        const int step = scale.stepOf(points[placemarks - 1].doseRate);
        xml.writeTextElement(QStringLiteral("styleUrl"), QLatin1Char('#') + kmlStyleId(step));
        styled = true;
    };
    while (!in.atEnd()) {
        in.readNext();
        if (in.hasError())
            return false;
        const QString name = in.qualifiedName().toString();
        if (in.isStartElement()) {
            ++depth;
            if (inPlacemark && !styled && depth == placemarkDepth + 1 &&
                !beforeStyle.contains(name))
                styleUrl();
        } else if (in.isEndElement()) {
            if (inPlacemark && depth == placemarkDepth) {
                if (!styled)
                    styleUrl();
                inPlacemark = false;
            }
            --depth;
        }
        copyToken(in, xml);
        if (in.isStartElement() && name == QLatin1String("Document"))
            document();
        else if (in.isStartElement() && name == QLatin1String("Placemark")) {
            ++placemarks;
            inPlacemark = true;
            styled = false;
            placemarkDepth = depth;
        }
    }
    return !in.hasError() && placemarks == points.size();
}

// CSV keeps no metadata: its provenance goes into a text file beside it.
QByteArray sideText(const QString& path, const std::vector<Item>& items,
                    const std::vector<Item>& units)
{
    QString text = QStringLiteral("# Where %1 came from, and the units of its columns.\n")
                       .arg(QFileInfo(path).fileName());
    for (const Item& item : items)
        text += item.key + QStringLiteral(": ") + item.value + QLatin1Char('\n');
    for (const Item& unit : units)
        text += QStringLiteral("unit_") + unit.key + QStringLiteral(": ") + unit.value +
                QLatin1Char('\n');
    return text.toUtf8();
}

} // namespace

SurveyProvenance provenanceOf(const DownloadInfo& info)
{
    SurveyProvenance p;
    p.family = info.family;
    p.serial = info.serial;
    p.report = info.versions;
    p.downloaded = info.downloaded.toUTC();
    p.periodFrom = info.periodFrom.isValid() ? info.periodFrom.toUTC() : QDateTime();
    p.periodTo = p.downloaded;
    p.source = info.connection;
    return p;
}

std::optional<SurveyProvenance> archivedProvenance(SurveyArchive& archive, qint64 id,
                                                   QString* error)
{
    const std::optional<ArchivedDownload> download = archive.download(id);
    std::vector<SurveyArchive::StoredRecord> records;
    if (!download || !archive.records(id, records)) {
        *error = download ? archive.lastError() : QStringLiteral("no download %1").arg(id);
        return std::nullopt;
    }
    SurveyProvenance p = provenanceOf(download->info);
    QCryptographicHash hash(QCryptographicHash::Sha256); // newest first, as downloaded
    for (const SurveyArchive::StoredRecord& r : records)
        hash.addData(r.bytes);
    p.recordsSha256 = QString::fromLatin1(hash.result().toHex());
    p.source = QStringLiteral("download %1 (%2) of the archive %3, from %4")
                   .arg(id)
                   .arg(download->info.uuid, archive.path(), download->info.connection);
    return p;
}

QString surveyExportFilter()
{
    return QStringLiteral("GeoPackage (*.gpkg);;GeoJSON (*.geojson *.json);;GPX (*.gpx);;"
                          "KML (*.kml);;CSV (*.csv)");
}

QStringList surveyExportSuffixes()
{
    return {QStringLiteral("gpkg"), QStringLiteral("geojson"), QStringLiteral("gpx"),
            QStringLiteral("kml"), QStringLiteral("csv")};
}

QString surveyExportSideFile(const QString& path)
{
    const Format* format = formatOf(QFileInfo(path).suffix());
    return path != QLatin1String("-") && format && format->kind == Kind::Csv
               ? path + QStringLiteral(".txt")
               : QString();
}

namespace {

bool writeStdout(const QByteArray& bytes, QString* error)
{
    if (std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout) ==
            static_cast<size_t>(bytes.size()) &&
        std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    if (error)
        *error = QStringLiteral("standard output: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    return false;
}

} // namespace

bool surveyExportKnows(const QString& path)
{
    return path == QLatin1String("-") || formatOf(QFileInfo(path).suffix()) != nullptr;
}

bool exportSurvey(const QString& path, const std::vector<SurveyPoint>& points,
                  const SurveyExportOptions& options, QString* error)
{
    const std::vector<uint16_t>* flags = options.flags;
    Q_ASSERT(!flags || flags->size() == points.size());
    auto fail = [error](const QString& text) {
        if (error)
            *error = text;
        return false;
    };
    const bool toStdout = path == QLatin1String("-");
    const Format* format = formatOf(toStdout ? QStringLiteral("csv") : QFileInfo(path).suffix());
    if (!format)
        return fail(QStringLiteral("%1: not a known survey format (.gpkg, .geojson, .gpx, .kml, "
                                   ".csv)")
                        .arg(path));
    const QString side = toStdout ? QString() : surveyExportSideFile(path);
    if (!toStdout)
        for (const QString& target : {path, side})
            if (const QString problem = target.isEmpty() ? QString() : outputPathProblem(target);
                !problem.isEmpty())
                return fail(problem);
    GDALAllRegister();
    CPLErrorReset();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(format->driver);
    if (!driver)
        return fail(QStringLiteral("GDAL has no %1 driver").arg(QLatin1String(format->driver)));
    const DoseSteps scale(options.doseSteps.empty() ? loadDoseSteps() : options.doseSteps);
    const std::vector<Item> items = provenanceItems(options.provenance);
    const std::vector<Item> units = unitItems(*format, flags != nullptr);
    const QString summary = summaryOf(options.provenance);

    gdal::MemoryFile file(format->suffix);
    gdal::Dataset dataset(driver->Create(file.name(), 0, 0, 0, GDT_Unknown,
                                         const_cast<char**>(format->datasetOptions)));
    if (!dataset)
        return fail(lastGdalError(QStringLiteral("%1: cannot be created").arg(path)));

    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER); // longitude first
    CPLStringList layerOptions(format->layerOptions);
    if (format->kind == Kind::GeoJson) {
        layerOptions.SetNameValue("NATIVE_MEDIA_TYPE", "application/vnd.geo+json");
        layerOptions.SetNameValue("NATIVE_DATA", geojsonMembers(items, units).constData());
    }
    OGRLayer* layer = dataset->CreateLayer("survey", &wgs84, wkbPoint, layerOptions.List());
    Fields fields;
    if (!layer || !createFields(layer, *format, fields, flags != nullptr))
        return fail(lastGdalError(QStringLiteral("%1: the point layer cannot be made").arg(path)));

    // One transaction: GeoPackage writes a row at a time otherwise.
    const bool transaction = dataset->StartTransaction() == OGRERR_NONE;
    OGRFeature feature(layer->GetLayerDefn());
    OGRPoint point;
    for (std::size_t i = 0; i < points.size(); ++i) {
        fillFeature(feature, point, fields, points[i], *format, flags ? &(*flags)[i] : nullptr);
        feature.SetFID(OGRNullFID);
        if (layer->CreateFeature(&feature) != OGRERR_NONE) {
            if (transaction)
                dataset->RollbackTransaction();
            return fail(lastGdalError(QStringLiteral("%1: a point cannot be written").arg(path)));
        }
    }
    if (transaction && dataset->CommitTransaction() != OGRERR_NONE)
        return fail(lastGdalError(QStringLiteral("%1: cannot be written").arg(path)));
    if (format->kind == Kind::Gpkg) {
        // GDAL keeps metadata in gpkg_metadata, the description in gpkg_contents.
        for (const Item& item : items)
            dataset->SetMetadataItem(item.key.toUtf8().constData(),
                                     item.value.toUtf8().constData());
        for (const Item& unit : units)
            layer->SetMetadataItem(("unit_" + unit.key).toUtf8().constData(),
                                   unit.value.toUtf8().constData());
        layer->SetMetadataItem("DESCRIPTION", summary.toUtf8().constData());
        if (!addLayerStyle(*dataset, *layer, styleRules(scale, flags != nullptr)))
            return fail(lastGdalError(QStringLiteral("%1: the style cannot be written").arg(path)));
    }
    CPLErrorReset();
    dataset.reset(); // closing writes what the drivers hold back
    if (CPLGetLastErrorType() >= CE_Failure)
        return fail(lastGdalError(QStringLiteral("%1: cannot be written").arg(path)));
    QByteArray bytes = file.take();
    if (format->kind == Kind::Gpx || format->kind == Kind::Kml) {
        QByteArray styled;
        const bool rewritten =
            format->kind == Kind::Gpx
                ? rewriteGpx(bytes, styled, summary, items, units)
                : rewriteKml(bytes, styled, scale, points, summary, items, units);
        if (!rewritten)
            return fail(QStringLiteral("%1: GDAL's %2 cannot be read back to add the provenance")
                            .arg(path, QLatin1String(format->label)));
        bytes = styled;
    }
    if (toStdout)
        return writeStdout(bytes, error);
    if (!writeFileWhole(path, bytes, error))
        return false;
    if (side.isEmpty())
        return true;
    QString sideError;
    if (writeFileWhole(side, sideText(path, items, units), &sideError))
        return true;
    // An earlier side file would tell of another export.
    QFile::remove(side);
    return fail(QStringLiteral("%1 is written, but not its provenance: %2").arg(path, sideError));
}
