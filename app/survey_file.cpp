#include "survey_file.h"

#include "gdal_rows.h"

#include <QDate>
#include <QDateTime>
#include <QFileInfo>
#include <QStringList>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace {

const float unknown = std::numeric_limits<float>::quiet_NaN();

// A field's name without case, spaces, underscores, hyphens or brackets, and
// without the "ogr_" GDAL gives GPX extensions: "DoseRate (nSv/h)" is
// "doseratensv/h".
QString normalized(QString name)
{
    if (name.startsWith(QLatin1String("ogr_"), Qt::CaseInsensitive))
        name.remove(0, 4);
    QString out;
    for (const QChar c : name.toLower())
        if (!QStringLiteral(" _-()[]").contains(c))
            out += c;
    return out;
}

// The factor to uSv/h of a field named for the dose rate, 0 for another field.
double doseRateFactor(const QString& name)
{
    QString unit = name;
    bool named = false;
    for (const char* prefix : {"doserate", "dose"})
        if (unit.startsWith(QLatin1String(prefix))) {
            unit.remove(0, int(std::strlen(prefix)));
            named = true;
            break;
        }
    if (unit.isEmpty())
        return named ? 1 : 0;
    if (unit.endsWith(QLatin1String("/h")))
        unit.chop(2);
    else if (unit.endsWith(QLatin1Char('h')))
        unit.chop(1);
    // The micro sign and the Greek mu both stand for micro.
    if (unit == QLatin1String("usv") || unit == QStringLiteral("\u00b5sv") ||
        unit == QStringLiteral("\u03bcsv"))
        return 1;
    if (unit == QLatin1String("nsv"))
        return 1e-3;
    if (unit == QLatin1String("msv"))
        return 1e3;
    return 0;
}

bool isNumeric(OGRFieldType type)
{
    return type == OFTInteger || type == OFTInteger64 || type == OFTReal || type == OFTString;
}

// Where a layer keeps what a survey point carries; -1 for what it has not.
struct Columns
{
    int time = -1, altitude = -1, doseRate = -1, cps = -1, satellites = -1, hdop = -1;
    double doseRateFactor = 1;
};

// The first of `names` the layer has, for a field of a type `takes`: "time"
// before "timestamp", which KML layers carry and mostly leave empty.
template <typename Takes>
int fieldNamed(const QStringList& fieldNames, OGRFeatureDefn* defn,
               std::initializer_list<const char*> names, Takes takes)
{
    for (const char* name : names)
        for (int i = 0; i < fieldNames.size(); ++i)
            if (fieldNames[i] == QLatin1String(name) && takes(defn->GetFieldDefn(i)->GetType()))
                return i;
    return -1;
}

Columns columnsOf(OGRFeatureDefn* defn)
{
    QStringList names;
    for (int i = 0; i < defn->GetFieldCount(); ++i)
        names << normalized(QString::fromUtf8(defn->GetFieldDefn(i)->GetNameRef()));
    auto isTime = [](OGRFieldType t) { return t == OFTDateTime || t == OFTDate || t == OFTString; };
    Columns c;
    c.time = fieldNamed(names, defn, {"time", "timestamp", "datetime", "date"}, isTime);
    c.altitude = fieldNamed(names, defn, {"altitude", "ele", "elevation", "alt"}, isNumeric);
    c.cps = fieldNamed(names, defn, {"cps"}, isNumeric);
    c.satellites = fieldNamed(names, defn, {"sat", "sats", "satellites"}, isNumeric);
    c.hdop = fieldNamed(names, defn, {"hdop"}, isNumeric);
    for (int i = 0; i < names.size() && c.doseRate < 0; ++i)
        if (const double factor = doseRateFactor(names[i]);
            factor > 0 && isNumeric(defn->GetFieldDefn(i)->GetType())) {
            c.doseRate = i;
            c.doseRateFactor = factor;
        }
    return c;
}

bool isOrviskExport(OGRFeatureDefn* defn)
{
    auto has = [defn](std::initializer_list<const char*> names) {
        for (const char* n : names)
            if (defn->GetFieldIndex(n) >= 0)
                return true;
        return false;
    };
    return has({"time"}) && has({"altitude", "ele"}) && has({"dose_rate", "ogr_dose_rate"}) &&
           has({"cps", "ogr_cps"});
}

// A number, from a numeric field or from text (CSV and KML keep text);
// none for an empty or unreadable value.
std::optional<double> numberOf(OGRFeature& f, int field)
{
    if (field < 0 || !f.IsFieldSetAndNotNull(field))
        return std::nullopt;
    if (f.GetFieldDefnRef(field)->GetType() != OFTString)
        return f.GetFieldAsDouble(field);
    const QString text = QString::fromUtf8(f.GetFieldAsString(field)).trimmed();
    bool ok = false;
    const double value = text.toDouble(&ok); // C locale: a point, never a comma
    return ok ? std::optional<double>(value) : std::nullopt;
}

float floatOf(std::optional<double> value)
{
    return value && std::isfinite(*value) && std::fabs(*value) <= FLT_MAX ? float(*value) : unknown;
}

template <typename T> T countOf(std::optional<double> value)
{
    if (!value || !std::isfinite(*value) || *value <= 0)
        return 0;
    return T(std::min(std::round(*value), double(std::numeric_limits<T>::max())));
}

std::optional<qint64> secondsOf(OGRFeature& f, int field)
{
    if (field < 0 || !f.IsFieldSetAndNotNull(field))
        return std::nullopt;
    if (f.GetFieldDefnRef(field)->GetType() == OFTString) {
        QString text = QString::fromUtf8(f.GetFieldAsString(field)).trimmed();
        if (text.size() > 10 && text[10] == QLatin1Char(' '))
            text[10] = QLatin1Char('T');
        QDateTime t = QDateTime::fromString(text, Qt::ISODate);
        if (!t.isValid())
            return std::nullopt;
        if (t.timeSpec() == Qt::LocalTime) // no zone given: a survey's times are UTC
            t.setTimeSpec(Qt::UTC);
        return t.toSecsSinceEpoch();
    }
    return gdal::utcSeconds(f, field);
}

// What a feature carries besides its position.
SurveyPoint valuesOf(OGRFeature& f, const Columns& c)
{
    SurveyPoint p;
    p.altitude = floatOf(numberOf(f, c.altitude));
    if (const auto rate = numberOf(f, c.doseRate)) {
        const float uSvPerHour = floatOf(*rate * c.doseRateFactor);
        if (SurveyPoint::isDoseRate(uSvPerHour))
            p.doseRate = uSvPerHour;
    }
    if (const auto t = secondsOf(f, c.time); t && *t >= 0 && *t <= 0xffffffffLL)
        p.time = uint32_t(*t);
    p.cps = countOf<uint16_t>(numberOf(f, c.cps));
    p.satellites = countOf<uint8_t>(numberOf(f, c.satellites));
    if (const auto hdop = numberOf(f, c.hdop))
        p.hdop10 = countOf<uint8_t>(*hdop * 10);
    return p;
}

class Reader
{
public:
    Reader(OGRLayer* layer, OGRCoordinateTransformation* toWgs84)
        : m_layer(layer), m_toWgs84(toWgs84), m_columns(columnsOf(layer->GetLayerDefn()))
    {
    }

    SurveyFile read()
    {
        OGRFeatureDefn* defn = m_layer->GetLayerDefn();
        m_file.orviskExport = isOrviskExport(defn);
        if (m_columns.doseRate >= 0)
            m_file.doseRateField =
                QString::fromUtf8(defn->GetFieldDefn(m_columns.doseRate)->GetNameRef());
        m_layer->ResetReading();
        for (auto& feature : *m_layer) {
            const SurveyPoint values = valuesOf(*feature, m_columns);
            const OGRGeometry* g = feature->GetGeometryRef();
            const OGRwkbGeometryType type = g ? wkbFlatten(g->getGeometryType()) : wkbNone;
            if (type == wkbPoint) {
                add(*g->toPoint(), values);
            } else if (type == wkbMultiPoint && !g->IsEmpty()) {
                for (const OGRPoint* point : *g->toMultiPoint())
                    add(*point, values);
            } else {
                ++m_file.skipped;
            }
        }
        return std::move(m_file);
    }

private:
    void add(const OGRPoint& point, SurveyPoint p)
    {
        double x = point.getX(), y = point.getY();
        if (point.IsEmpty() || (m_toWgs84 && !m_toWgs84->Transform(1, &x, &y))) {
            ++m_file.skipped;
            return;
        }
        if (!SurveyPoint::isPosition(y, x)) {
            ++m_file.skipped;
            return;
        }
        p.longitude = x;
        p.latitude = y;
        if (m_columns.altitude < 0 && point.Is3D())
            p.altitude = floatOf(point.getZ());
        m_file.points.push_back(p);
    }

    OGRLayer* m_layer;
    OGRCoordinateTransformation* m_toWgs84;
    Columns m_columns;
    SurveyFile m_file;
};

bool mayHoldPoints(OGRLayer* layer)
{
    switch (wkbFlatten(layer->GetGeomType())) {
    case wkbPoint:
    case wkbMultiPoint:
    case wkbUnknown: // KML and GeoJSON may mix geometries in a layer
    case wkbGeometryCollection:
        return true;
    default:
        return false;
    }
}

bool declaresPoints(OGRLayer* layer)
{
    const OGRwkbGeometryType type = wkbFlatten(layer->GetGeomType());
    return type == wkbPoint || type == wkbMultiPoint;
}

} // namespace

std::optional<SurveyFile> readSurveyFile(const QString& path, QString* error)
{
    auto fail = [error, &path](const QString& why) {
        if (error)
            *error = path + QStringLiteral(": ") + why;
        return std::nullopt;
    };
    if (!QFileInfo::exists(path))
        return fail(QStringLiteral("does not exist"));
    GDALAllRegister();
    const gdal::Quiet quiet;
    // CSV has no geometry of its own: the position is in two columns.
    const char* const csvOptions[] = {"X_POSSIBLE_NAMES=X,lon,long,lng,longitude",
                                      "Y_POSSIBLE_NAMES=Y,lat,latitude", nullptr};
    const bool csv =
        QFileInfo(path).suffix().compare(QLatin1String("csv"), Qt::CaseInsensitive) == 0;
    gdal::Dataset dataset(GDALDataset::Open(
        path.toUtf8().constData(), GDAL_OF_VECTOR | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR,
        nullptr, csv ? csvOptions : nullptr));
    if (!dataset) {
        const char* why = CPLGetLastErrorMsg();
        return fail(why && *why ? QStringLiteral("not a file GDAL reads: ") + QString::fromUtf8(why)
                                : QStringLiteral("not a file GDAL reads"));
    }

    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    const char* const sameOptions[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES",
                                       "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS", nullptr};
    bool pointLayer = false;
    int skipped = 0;
    for (OGRLayer* layer : dataset->GetLayers()) {
        if (!mayHoldPoints(layer))
            continue;
        pointLayer = pointLayer || declaresPoints(layer);
        // WGS 84, with either axis order, needs no conversion.
        std::unique_ptr<OGRCoordinateTransformation> toWgs84;
        if (const OGRSpatialReference* srs = layer->GetSpatialRef();
            srs && !srs->IsSame(&wgs84, sameOptions)) {
            OGRSpatialReference from(*srs);
            from.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
            toWgs84.reset(OGRCreateCoordinateTransformation(&from, &wgs84));
            if (!toWgs84)
                return fail(QStringLiteral("the layer %1 cannot be converted to WGS 84")
                                .arg(QString::fromUtf8(layer->GetName())));
        }
        SurveyFile file = Reader(layer, toWgs84.get()).read();
        if (!file.points.empty())
            return file;
        if (declaresPoints(layer))
            skipped += file.skipped;
    }
    if (!pointLayer)
        return fail(QStringLiteral("has no point layer"));
    if (skipped > 0)
        return fail(QStringLiteral("has no point on the earth (%1 left out)").arg(skipped));
    return fail(QStringLiteral("has no points"));
}

QString surveyOpenFilter()
{
    return QStringLiteral("Survey files (*.gpkg *.geojson *.json *.gpx *.kml *.csv);;"
                          "GeoPackage (*.gpkg);;GeoJSON (*.geojson *.json);;GPX (*.gpx);;"
                          "KML (*.kml);;CSV (*.csv);;All files (*)");
}
