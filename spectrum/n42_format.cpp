#include "n42_format.h"

#include <QRegularExpression>

#include <cmath>

namespace n42 {

QString formatDuration(long long milliseconds)
{
    const long long seconds = milliseconds / 1000;
    int fraction = int(milliseconds % 1000);
    QString text = QStringLiteral("PT") + QString::number(seconds);
    if (fraction) {
        int digits = 3;
        while (fraction % 10 == 0) {
            fraction /= 10;
            --digits;
        }
        text += QLatin1Char('.') + QStringLiteral("%1").arg(fraction, digits, 10, QLatin1Char('0'));
    }
    return text + QLatin1Char('S');
}

std::optional<double> parseDuration(const QString& text)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(-)?P(?:(\d+)Y)?(?:(\d+)M)?(?:(\d+)D)?(T(?:(\d+)H)?(?:(\d+)M)?(?:(\d+(?:\.\d*)?|\.\d+)S)?)?$)"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    bool any = false, anyTime = false;
    double parts[7] = {};
    for (int i = 2; i <= 8; ++i) {
        if (i == 5 || m.capturedRef(i).isEmpty())
            continue;
        bool ok = false;
        parts[i - 2] = m.capturedRef(i).toDouble(&ok);
        if (!ok || !std::isfinite(parts[i - 2]))
            return std::nullopt;
        any = true;
        anyTime = anyTime || i > 5;
    }
    // "P", "PT" and "PT1H" written as "P1H" are no durations.
    if (!any || (!m.capturedRef(5).isEmpty() && !anyTime))
        return std::nullopt;
    const double years = parts[0], months = parts[1], days = parts[2], hours = parts[4],
                 minutes = parts[5], seconds = parts[6];
    if (years != 0 || months != 0)
        return std::nullopt;
    const double total = ((days * 24 + hours) * 60 + minutes) * 60 + seconds;
    if (m.capturedRef(1).isEmpty() || total == 0)
        return total;
    return std::nullopt;
}

QString notRisingReason(const EnergyCalibration& calibration, std::size_t channels)
{
    if (!calibration.known())
        return {};
    double previous = calibration.energyOf(0);
    if (!std::isfinite(previous))
        return QStringLiteral("the energy calibration gives no energy at channel 0");
    for (std::size_t edge = 1; edge <= channels; ++edge) {
        const double e = calibration.energyOf(double(edge));
        if (!std::isfinite(e) || !(e > previous))
            return QStringLiteral("the energy calibration does not rise over the channels: "
                                  "%1 keV at the end of channel %2, after %3 keV at its start")
                .arg(e, 0, 'g', 10)
                .arg(edge - 1)
                .arg(previous, 0, 'g', 10);
        previous = e;
    }
    return {};
}

std::vector<double> withoutTrailingZeros(std::vector<double> coefficients)
{
    while (!coefficients.empty() && coefficients.back() == 0)
        coefficients.pop_back();
    return coefficients;
}

} // namespace n42
