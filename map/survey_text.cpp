#include "survey_text.h"

#include "dose_scale.h"

#include <QDateTime>

#include <cmath>

namespace {

const QString unknown = QStringLiteral("unknown");

QString degrees(double value, char positive, char negative)
{
    if (!std::isfinite(value))
        return unknown;
    return QString::number(std::abs(value), 'f', 5) + QChar(0x00B0) + QLatin1Char(' ') +
           QLatin1Char(value < 0 ? negative : positive);
}

} // namespace

namespace survey_text {

QString latitude(double value)
{
    return degrees(value, 'N', 'S');
}

QString longitude(double value)
{
    return degrees(value, 'E', 'W');
}

QString altitude(const SurveyPoint& point)
{
    if (!point.hasAltitude())
        return unknown;
    return QString::number(double(point.altitude), 'f', 1) + QStringLiteral(" m");
}

QString doseRate(const SurveyPoint& point)
{
    if (!point.hasDoseRate())
        return unknown;
    // The point carries uSv/h; the thresholds and the legend speak nSv/h.
    return QString::number(double(point.doseRate) * 1000.0, 'f', 1) + QLatin1Char(' ') +
           DoseScale::unit();
}

QString time(const SurveyPoint& point)
{
    if (point.time == 0)
        return unknown;
    return QDateTime::fromSecsSinceEpoch(point.time, Qt::UTC)
               .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(" UTC");
}

QString details(const SurveyPoint& point)
{
    QString text = time(point);
    text += QStringLiteral("\n%1 counts/s").arg(point.cps);
    if (point.satellites > 0)
        text += QStringLiteral(", %1 satellites, HDOP %2")
                    .arg(point.satellites)
                    .arg(QString::number(point.hdop10 / 10.0, 'f', 1));
    return text;
}

} // namespace survey_text
