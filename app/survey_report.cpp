#include "survey_report.h"

#include "survey_summary.h"

#include <dose_scale.h>
#include <geodesic_line.h>
#include <orvisk.h>
#include <orvisk_identity.h>
#include <track_item.h>

#include <QDateTime>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QSaveFile>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMillimetresPerInch = 25.4;
constexpr double kPointsPerInch = 72;

// Page sizes Orvisk offers, by their names.
const std::pair<QPageSize::PageSizeId, const char*> kPages[] = {
    {QPageSize::A4, "A4"},
    {QPageSize::Letter, "Letter"},
};

// Text that reads back as typed: no ligature turns "fl" into one glyph.
QFont reportFont(double points, bool bold = false)
{
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPointSizeF(points);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferNoShaping);
    return f;
}

QString utcText(const QDateTime& t)
{
    return t.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm")) + QStringLiteral(" UTC");
}

QString periodText(const ReportFacts& facts)
{
    const SurveyStats& s = facts.stats;
    if (s.good == 0)
        return QStringLiteral("no good point shown");
    const QDateTime start = QDateTime::fromSecsSinceEpoch(s.start, Qt::UTC);
    const QDateTime end = QDateTime::fromSecsSinceEpoch(s.end, Qt::UTC);
    const QString format = QStringLiteral("yyyy-MM-dd HH:mm:ss");
    const QString last = start.date() == end.date() ? end.toString(QStringLiteral("HH:mm:ss"))
                                                    : end.toString(format);
    return start.toString(format) + QStringLiteral(" to ") + last + QStringLiteral(" UTC");
}

// 1, 2 or 5 times a power of ten, at most `limit` (above 0).
double roundDown(double limit)
{
    const double power = std::pow(10.0, std::floor(std::log10(limit)));
    for (const double step : {5.0, 2.0, 1.0})
        if (step * power <= limit)
            return step * power;
    return power;
}

// The part of the scene the map shows: the points' extent with a margin,
// widened to the frame's shape. Without points, the whole scene.
QRectF sceneFrame(const TOrvisk& map, QSizeF frame, double minimumSide)
{
    QRectF area = map.sceneExtent();
    if (const std::optional<QRectF> extent = map.trackExtent()) {
        area = *extent;
        const double margin = 0.08 * std::max(area.width(), area.height());
        area.adjust(-margin, -margin, margin, margin);
    }
    const QPointF centre = area.center();
    double width = std::max(area.width(), minimumSide);
    double height = std::max(area.height(), minimumSide);
    const double shape = frame.width() / frame.height();
    if (width / height < shape)
        width = height * shape;
    else
        height = width / shape;
    return QRectF(centre.x() - width / 2, centre.y() - height / 2, width, height);
}

// Ground metres per scene unit across the centre of `scene`; none without
// projections.
std::optional<double> metresPerUnit(const TOrvisk& map, const QRectF& scene)
{
    const double half = scene.width() / 10;
    const std::optional<QPointF> west = map.sceneToGeo(scene.center() - QPointF(half, 0));
    const std::optional<QPointF> east = map.sceneToGeo(scene.center() + QPointF(half, 0));
    if (!west || !east)
        return std::nullopt;
    const double metres = geodesic::inverse(west->x(), west->y(), east->x(), east->y()).metres;
    if (!std::isfinite(metres) || metres <= 0)
        return std::nullopt;
    return metres / (2 * half);
}

// The direction of north at the scene's centre, as an angle on the page
// (radians, clockwise from straight up); none without projections.
std::optional<double> northAngle(const TOrvisk& map, const QRectF& scene)
{
    const std::optional<QPointF> centre = map.sceneToGeo(scene.center());
    if (!centre)
        return std::nullopt;
    const double step = std::min(0.01, 89.9 - std::abs(centre->x())); // degrees of latitude
    const std::optional<QPointF> here = map.geoToScene(centre->x(), centre->y());
    const std::optional<QPointF> north = map.geoToScene(centre->x() + step, centre->y());
    if (!here || !north || step <= 0)
        return std::nullopt;
    const QPointF d = *north - *here;
    if (!std::isfinite(d.x()) || !std::isfinite(d.y()) || (d.x() == 0 && d.y() == 0))
        return std::nullopt;
    return std::atan2(d.x(), -d.y());
}

// The document properties: who made it from what, in XMP.
QByteArray xmpOf(const ReportFacts& facts, const QDateTime& made)
{
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.writeProcessingInstruction(QStringLiteral("xpacket"),
                                   QStringLiteral("begin='' id='W5M0MpCehiHzreSzNTczkc9d'"));
    xml.writeStartElement(QStringLiteral("x:xmpmeta"));
    xml.writeAttribute(QStringLiteral("xmlns:x"), QStringLiteral("adobe:ns:meta/"));
    xml.writeStartElement(QStringLiteral("rdf:RDF"));
    xml.writeAttribute(QStringLiteral("xmlns:rdf"),
                       QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#"));
    xml.writeStartElement(QStringLiteral("rdf:Description"));
    xml.writeAttribute(QStringLiteral("rdf:about"), QString());
    xml.writeAttribute(QStringLiteral("xmlns:dc"),
                       QStringLiteral("http://purl.org/dc/elements/1.1/"));
    xml.writeAttribute(QStringLiteral("xmlns:xmp"), QStringLiteral("http://ns.adobe.com/xap/1.0/"));
    xml.writeAttribute(QStringLiteral("xmlns:pdf"), QStringLiteral("http://ns.adobe.com/pdf/1.3/"));
    xml.writeAttribute(QStringLiteral("xmlns:orvisk"),
                       QStringLiteral("https://korvenix.example/orvisk/1"));
    const auto alt = [&xml](const QString& element, const QString& text) {
        xml.writeStartElement(element);
        xml.writeStartElement(QStringLiteral("rdf:Alt"));
        xml.writeStartElement(QStringLiteral("rdf:li"));
        xml.writeAttribute(QStringLiteral("xml:lang"), QStringLiteral("x-default"));
        xml.writeCharacters(text);
        xml.writeEndElement();
        xml.writeEndElement();
        xml.writeEndElement();
    };
    alt(QStringLiteral("dc:title"), facts.title);
    alt(QStringLiteral("dc:description"),
        QStringLiteral("Dose-rate survey map report (dose rate in nSv/h), %1")
            .arg(periodText(facts)));
    const QString tool = QStringLiteral("Orvisk ") + QLatin1String(orviskVersion());
    xml.writeTextElement(QStringLiteral("xmp:CreatorTool"), tool);
    xml.writeTextElement(QStringLiteral("xmp:CreateDate"), made.toString(Qt::ISODate));
    xml.writeTextElement(QStringLiteral("pdf:Producer"), tool);
    for (const ProvenanceField& field : provenanceFields(facts.provenance))
        xml.writeTextElement(QStringLiteral("orvisk:") + field.key, field.value);
    xml.writeTextElement(QStringLiteral("orvisk:dose_rate_unit"), DoseScale::unit());
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeProcessingInstruction(QStringLiteral("xpacket"), QStringLiteral("end='r'"));
    return bytes;
}

// Lines of text down a column of the page, in device units.
class TextColumn
{
public:
    TextColumn(QPainter& painter, QRectF area, double mm)
        : p(&painter), box(area), y(area.top()), mm(mm)
    {
    }

    void heading(const QString& text)
    {
        line(text, reportFont(9.5, true));
        y += 0.6 * mm;
    }
    void line(const QString& text, const QFont& f)
    {
        p->setFont(f);
        const QFontMetricsF metrics(f, p->device());
        p->setPen(Qt::black);
        p->drawText(QPointF(box.left(), y + metrics.ascent()),
                    metrics.elidedText(text, Qt::ElideRight, box.width()));
        y += metrics.lineSpacing();
    }
    // A label with its value beside it, the value on as many lines as it has.
    void row(const QString& label, const QString& value, double labelShare = 0.27)
    {
        const QFont f = font(8);
        p->setFont(f);
        const QFontMetricsF metrics(f, p->device());
        const double valueLeft = box.left() + labelShare * box.width();
        p->setPen(QColor(70, 70, 70));
        p->drawText(QPointF(box.left(), y + metrics.ascent()), label);
        p->setPen(Qt::black);
        for (const QString& part : value.split(QLatin1Char('\n'))) {
            p->drawText(QPointF(valueLeft, y + metrics.ascent()),
                        metrics.elidedText(part, Qt::ElideRight, box.right() - valueLeft));
            y += metrics.lineSpacing();
        }
    }
    void gap(double millimetres) { y += millimetres * mm; }
    double top() const { return y; }
    QFont font(double points) const { return reportFont(points); }

private:
    QPainter* p;
    QRectF box;
    double y;
    double mm;
};

// The map drawn into an image of `pixels` at `dpi`, its markers as large on
// paper as on a screen.
QImage mapImage(TOrvisk& map, const QRectF& scene, QSize pixels, int dpi)
{
    QImage image(pixels, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    constexpr double kScreenDpi = 96;
    map.renderScene(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)), scene,
                    std::max(1.0, dpi / kScreenDpi));
    return image;
}

QString gridNumber(double value, double step)
{
    const int decimals = step >= 1 ? 0 : std::min(6, int(std::ceil(-std::log10(step))));
    return QString::number(value, 'f', decimals);
}

struct Page
{
    QPainter& p;
    double mm; // device units a millimetre
};

// Tick marks and labels of round map coordinates around the frame.
void drawGrid(Page page, const QRectF& frame, const QRectF& scene, const TOrvisk& map)
{
    QPainter& p = page.p;
    const QPointF origin = map.getMapOrigin(), pixel = map.getPixelSize();
    if (pixel.x() == 0 || pixel.y() == 0)
        return;
    const QFont f = reportFont(6);
    p.setFont(f);
    const QFontMetricsF metrics(f, p.device());
    p.setPen(QPen(Qt::black, 0.2 * page.mm));
    const double tick = 1.5 * page.mm;
    // Along one axis: x (eastings, top and bottom) or y (northings, sides).
    for (const bool eastings : {true, false}) {
        const double a = eastings ? origin.x() + scene.left() * pixel.x()
                                  : origin.y() + scene.bottom() * pixel.y();
        const double b = eastings ? origin.x() + scene.right() * pixel.x()
                                  : origin.y() + scene.top() * pixel.y();
        const double low = std::min(a, b), high = std::max(a, b);
        if (!(high > low))
            continue;
        const double step = roundDown((high - low) / 3);
        for (double v = std::ceil(low / step) * step; v <= high; v += step) {
            const double share = (v - a) / (b - a); // 0 at the left or bottom
            const QString text = gridNumber(v, step);
            const double w = metrics.horizontalAdvance(text);
            if (eastings) {
                const double x = frame.left() + share * frame.width();
                p.drawLine(QPointF(x, frame.top()), QPointF(x, frame.top() - tick));
                p.drawLine(QPointF(x, frame.bottom()), QPointF(x, frame.bottom() + tick));
                p.drawText(QPointF(x - w / 2, frame.top() - tick - metrics.descent()), text);
                p.drawText(QPointF(x - w / 2, frame.bottom() + tick + metrics.ascent()), text);
            } else {
                const double y = frame.bottom() - share * frame.height();
                p.drawLine(QPointF(frame.left(), y), QPointF(frame.left() - tick, y));
                p.drawLine(QPointF(frame.right(), y), QPointF(frame.right() + tick, y));
                for (const bool left : {true, false}) {
                    p.save();
                    p.translate(left ? frame.left() - tick - metrics.descent()
                                     : frame.right() + tick + metrics.ascent(),
                                y);
                    p.rotate(-90);
                    p.drawText(QPointF(-w / 2, 0), text);
                    p.restore();
                }
            }
        }
    }
}

// A scale bar of a round length in the frame's lower left corner, with the
// scale as a ratio.
void drawScaleBar(Page page, const QRectF& frame, double metresPerDevice, int dpi)
{
    QPainter& p = page.p;
    const double mm = page.mm;
    const double metres = roundDown(metresPerDevice * frame.width() / 4);
    const double length = metres / metresPerDevice;
    const bool km = metres >= 1000;
    const QString unit = km ? QStringLiteral(" km") : QStringLiteral(" m");
    const auto label = [km](double m) { return QString::number(km ? m / 1000 : m, 'g', 6); };
    const double ratio = metresPerDevice * dpi / (kMillimetresPerInch / 1000);
    const double rounded =
        roundDown(ratio) >= 1000 ? std::round(ratio / 100) * 100 : std::round(ratio);

    const QFont f = reportFont(7);
    p.setFont(f);
    const QFontMetricsF metrics(f, p.device());
    const QString scaleText = QStringLiteral("1:%L1 at the centre").arg(rounded, 0, 'f', 0);
    const QString end = label(metres) + unit;
    const double boxWidth = std::max(6 * mm + length + metrics.horizontalAdvance(end) / 2,
                                     metrics.horizontalAdvance(scaleText) + 6 * mm);
    const QRectF box(frame.left() + 2 * mm, frame.bottom() - 2 * mm - 13 * mm, boxWidth, 13 * mm);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawRect(box);
    const double left = box.left() + 3 * mm, barTop = box.top() + 5 * mm, barHeight = 1.4 * mm;
    p.setPen(QPen(Qt::black, 0.2 * mm));
    for (int part = 0; part < 4; ++part) {
        p.setBrush(part % 2 ? Qt::white : Qt::black);
        p.drawRect(QRectF(left + part * length / 4, barTop, length / 4, barHeight));
    }
    p.setPen(Qt::black);
    for (const double share : {0.0, 0.5, 1.0}) {
        const QString text = share == 1.0 ? end : label(metres * share);
        const double w = metrics.horizontalAdvance(label(metres * share));
        p.drawText(QPointF(left + share * length - w / 2, barTop - 0.8 * mm), text);
    }
    p.drawText(QPointF(left, barTop + barHeight + 1 * mm + metrics.ascent()), scaleText);
}

// An arrow to true north in the frame's upper right corner.
void drawNorthArrow(Page page, const QRectF& frame, double angle)
{
    QPainter& p = page.p;
    const double mm = page.mm;
    const QPointF centre(frame.right() - 9 * mm, frame.top() + 10 * mm);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 220));
    p.drawEllipse(centre, 7 * mm, 7 * mm);
    p.save();
    p.translate(centre);
    p.rotate(angle * 180 / M_PI);
    QPainterPath west, east;
    west.moveTo(0, -5 * mm);
    west.lineTo(-2 * mm, 3 * mm);
    west.lineTo(0, 1.8 * mm);
    west.closeSubpath();
    east.moveTo(0, -5 * mm);
    east.lineTo(2 * mm, 3 * mm);
    east.lineTo(0, 1.8 * mm);
    east.closeSubpath();
    p.setPen(QPen(Qt::black, 0.2 * mm));
    p.setBrush(Qt::black);
    p.drawPath(west);
    p.setBrush(Qt::white);
    p.drawPath(east);
    const QFont f = reportFont(8, true);
    p.setFont(f);
    const QFontMetricsF metrics(f, p.device());
    p.setPen(Qt::black);
    p.drawText(QPointF(-metrics.horizontalAdvance(QStringLiteral("N")) / 2, -5.4 * mm),
               QStringLiteral("N"));
    p.restore();
}

void drawLegend(Page page, TextColumn& column, const QRectF& area, const TOrvisk& map)
{
    QPainter& p = page.p;
    const double mm = page.mm;
    column.heading(QStringLiteral("Dose rate, ") + DoseScale::unit());
    const QFont f = column.font(8);
    const QFontMetricsF metrics(f, p.device());
    const double swatch = 3 * mm;
    const auto swatchRow = [&](const QString& text, const QColor& fill, bool ring) {
        const double y = column.top();
        const QRectF r(area.left() + 0.3 * mm, y + (metrics.lineSpacing() - swatch) / 2 + 0.3 * mm,
                       swatch - 0.6 * mm, swatch - 0.6 * mm);
        p.setPen(QPen(QColor(40, 40, 40), (ring ? 0.6 : 0.25) * mm));
        p.setBrush(ring ? QBrush(Qt::NoBrush) : QBrush(fill));
        p.drawEllipse(r);
        p.setFont(f);
        p.setPen(Qt::black);
        p.drawText(QPointF(area.left() + swatch + 1.5 * mm, y + metrics.ascent()), text);
        column.gap((metrics.lineSpacing() + 0.6 * mm) / mm);
    };
    for (const DoseScale::LegendRow& row : map.doseScale().legend())
        swatchRow(row.range, row.colour, false);
    swatchRow(QStringLiteral("failed a check"), Qt::transparent, true);
    if (map.hasUnderlay() && map.underlayIsShown())
        column.line(QStringLiteral("Under the track: the interpolated dose rate"), f);
}

} // namespace

ReportFacts reportFacts(const std::vector<SurveyPoint>& points, const std::vector<uint16_t>& flags,
                        const std::vector<char>& shown, const std::vector<int>& recordOf,
                        const CheckLimits& limits)
{
    ReportFacts facts;
    facts.survey = &points;
    facts.limits = limits;
    facts.recordsKnown = !recordOf.empty();
    facts.stats =
        surveyStats(points, flags, recordingOrder(points), shown, recordOf, limits.offGapSeconds);
    facts.flagCounts = shownFlagCounts(flags, shown);
    return facts;
}

std::vector<std::size_t> shownFlagCounts(const std::vector<uint16_t>& flags,
                                         const std::vector<char>& shown)
{
    std::vector<std::size_t> counts;
    if (flags.empty())
        return counts;
    counts.assign(kSurveyFlagCount, 0);
    for (std::size_t i = 0; i < flags.size(); ++i)
        if (shown.empty() || shown[i])
            for (int bit = 0; bit < kSurveyFlagCount; ++bit)
                counts[std::size_t(bit)] += (flags[i] >> bit) & 1u;
    return counts;
}

QString instrumentText(const std::optional<SurveyProvenance>& provenance)
{
    if (!provenance || provenance->family.isEmpty())
        return {};
    return provenance->serial.isEmpty()
               ? provenance->family
               : provenance->family + QStringLiteral(" serial ") + provenance->serial;
}

QString defaultReportTitle(const ReportFacts& facts)
{
    QStringList parts{QStringLiteral("Dose-rate survey")};
    if (const QString instrument = instrumentText(facts.provenance); !instrument.isEmpty())
        parts << instrument;
    if (facts.stats.good > 0)
        parts << QDateTime::fromSecsSinceEpoch(facts.stats.start, Qt::UTC)
                     .toString(QStringLiteral("yyyy-MM-dd"));
    return parts.join(QStringLiteral(", "));
}

QString pageName(QPageSize::PageSizeId page)
{
    for (const auto& [id, name] : kPages)
        if (id == page)
            return QLatin1String(name);
    return QPageSize::name(page);
}

std::optional<QPageSize::PageSizeId> pageNamed(const QString& name)
{
    for (const auto& [id, known] : kPages)
        if (name.compare(QLatin1String(known), Qt::CaseInsensitive) == 0)
            return id;
    return std::nullopt;
}

bool writeSurveyReport(const QString& path, TOrvisk& map, const ReportFacts& facts,
                       const ReportOptions& options, QString* error, ReportPlacement* placement)
{
    if (options.dpi < 72 || options.dpi > 1200) {
        *error =
            QStringLiteral("The map's resolution must be 72 to 1200 dpi, not %1.").arg(options.dpi);
        return false;
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
    const QDateTime made = QDateTime::currentDateTimeUtc();
    QPdfWriter writer(&file);
    writer.setResolution(options.dpi);
    writer.setPageLayout(QPageLayout(QPageSize(options.page), options.orientation, QMarginsF()));
    writer.setTitle(facts.title);
    writer.setCreator(QStringLiteral("Orvisk ") + QLatin1String(orviskVersion()));
    writer.setDocumentXmpMetadata(xmpOf(facts, made));

    QPainter p(&writer);
    if (!p.isActive()) {
        *error = QStringLiteral("%1: the PDF cannot be started.").arg(path);
        return false;
    }
    const double mm = options.dpi / kMillimetresPerInch;
    const Page page{p, mm};
    const QRectF sheet(0, 0, writer.width(), writer.height());
    const QRectF inner = sheet.adjusted(12 * mm, 10 * mm, -12 * mm, -10 * mm);
    const bool landscape = options.orientation == QPageLayout::Landscape;

    // Above: the title, the instrument and the period.
    TextColumn header(p, inner, mm);
    header.line(facts.title, reportFont(15, true));
    QStringList about;
    if (const QString instrument = instrumentText(facts.provenance); !instrument.isEmpty())
        about << instrument;
    about << periodText(facts);
    header.line(about.join(QStringLiteral("  ·  ")), header.font(10));
    if (!facts.filter.isEmpty())
        header.line(QStringLiteral("Shown: ") + facts.filter, header.font(8.5));
    const double bodyTop = header.top() + 4 * mm;
    const double footHeight = 6 * mm;
    const QRectF body(inner.left(), bodyTop, inner.width(), inner.bottom() - footHeight - bodyTop);

    // The map, with room around its frame for the coordinates; the panel
    // beside it on a landscape page, under it on a portrait one.
    const double labels = 5 * mm;
    QRectF frame, panel;
    if (landscape) {
        const double panelWidth = 78 * mm;
        frame = QRectF(body.left() + labels, body.top() + labels,
                       body.width() - panelWidth - 2 * labels - 4 * mm, body.height() - 2 * labels);
        panel = QRectF(frame.right() + labels + 4 * mm, body.top(), panelWidth, body.height());
    } else {
        const double panelHeight = 78 * mm;
        frame = QRectF(body.left() + labels, body.top() + labels, body.width() - 2 * labels,
                       body.height() - panelHeight - 2 * labels - 3 * mm);
        panel = QRectF(body.left(), frame.bottom() + labels + 3 * mm, body.width(), panelHeight);
    }
    const QSize pixels(int(std::lround(frame.width())), int(std::lround(frame.height())));
    frame.setSize(QSizeF(pixels));

    const std::optional<double> perUnitGuess = [&] {
        return metresPerUnit(map, map.sceneExtent());
    }();
    // A single point still shows some ground around it: 200 m, or 50 units.
    const double minimumSide = perUnitGuess ? 200 / *perUnitGuess : 50;
    const QRectF scene = sceneFrame(map, frame.size(), minimumSide);
    p.setRenderHint(QPainter::LosslessImageRendering);
    p.drawImage(frame, mapImage(map, scene, pixels, options.dpi));
    p.setPen(QPen(Qt::black, 0.3 * mm));
    p.setBrush(Qt::NoBrush);
    p.drawRect(frame);
    drawGrid(page, frame, scene, map);
    const std::optional<double> perUnit = metresPerUnit(map, scene);
    if (perUnit)
        drawScaleBar(page, frame, *perUnit * scene.width() / frame.width(), options.dpi);
    if (const std::optional<double> angle = northAngle(map, scene))
        drawNorthArrow(page, frame, *angle);

    // The legend, the statistics and the checks: down one column beside a
    // landscape map, in two under a portrait one.
    const QRectF first = landscape ? panel : panel.adjusted(0, 0, -panel.width() / 2 - 3 * mm, 0);
    const QRectF second = landscape ? panel : panel.adjusted(panel.width() / 2 + 3 * mm, 0, 0, 0);
    TextColumn statistics(p, first, mm);
    TextColumn legend(p, second, mm);
    drawLegend(page, legend, second, map);
    legend.gap(3);
    if (landscape)
        statistics = legend;
    statistics.heading(QStringLiteral("Statistics of the good points shown"));
    const std::vector<SurveyPoint> none;
    const std::vector<QString> values = survey_summary::statisticsValues(
        facts.stats, facts.survey ? *facts.survey : none, facts.recordsKnown);
    for (int row = 0; row < survey_summary::kStatRowCount; ++row)
        if (!values[std::size_t(row)].isEmpty())
            statistics.row(QLatin1String(survey_summary::kStatRows[row].label),
                           values[std::size_t(row)]);
    TextColumn& checks = landscape ? statistics : legend;
    checks.gap(3);
    checks.heading(QStringLiteral("Checks (points flagged)"));
    if (facts.flagCounts.empty())
        checks.row(QStringLiteral("not checked"), QString());
    for (std::size_t bit = 0; bit < facts.flagCounts.size(); ++bit)
        checks.row(survey_summary::checkLabel(int(bit), facts.limits) + QLatin1Char(':'),
                   QString::number(facts.flagCounts[bit]), 0.8);

    // Below: who made it, when, and the grid's projection.
    TextColumn foot(p, QRectF(inner.left(), inner.bottom() - footHeight, inner.width(), footHeight),
                    mm);
    foot.line(QStringLiteral("Orvisk %1  ·  report of %2  ·  grid: map coordinates, %3")
                  .arg(QLatin1String(orviskVersion()), utcText(made),
                       map.projectionDefinition().isEmpty()
                           ? QStringLiteral("projection unknown")
                           : QString::fromUtf8(map.projectionDefinition()).simplified()),
              foot.font(7));
    if (!p.end()) {
        *error = QStringLiteral("%1: the PDF could not be finished.").arg(path);
        return false;
    }
    if (!file.commit()) {
        *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    if (placement) {
        const double toPoints = kPointsPerInch / options.dpi;
        placement->page = QSizeF(sheet.width() * toPoints, sheet.height() * toPoints);
        placement->map = QRectF(frame.topLeft() * toPoints, frame.size() * toPoints);
        placement->scene = scene;
        placement->mapPixels = pixels;
    }
    return true;
}
