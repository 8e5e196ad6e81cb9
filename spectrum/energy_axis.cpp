#include "energy_axis.h"

#include <cmath>
#include <utility>

namespace {

double slopeAt(const std::vector<double>& c, double channel)
{
    double slope = 0, power = 1;
    for (std::size_t k = 1; k < c.size(); ++k) {
        slope += static_cast<double>(k) * c[k] * power;
        power *= channel;
    }
    return slope;
}

// Empty when the calibration rises over the edges 0..channels. The slope is
// looked at every half channel: exact for a line or a parabola (whose slope
// is at its lowest at an end), and close enough for the rare higher orders.
QString whyNotRising(const EnergyCalibration& calibration, int channels)
{
    if (channels < 1)
        return QStringLiteral("A spectrum without channels has no energy axis.");
    if (!calibration.known())
        return QStringLiteral("The calibration has no coefficients.");
    for (double c : calibration.coefficients)
        if (!std::isfinite(c))
            return QStringLiteral("A calibration coefficient is not a number.");
    double previous = calibration.energyOf(0);
    if (!std::isfinite(previous))
        return QStringLiteral("The calibration gives no energy at channel 0.");
    for (int half = 0; half <= 2 * channels; ++half) {
        const double channel = half / 2.0;
        if (!(slopeAt(calibration.coefficients, channel) > 0))
            return QStringLiteral("The energy does not rise with the channel at channel %1.")
                .arg(channel);
        if (half % 2 || half == 0)
            continue;
        const double energy = calibration.energyOf(channel);
        if (!(energy > previous) || !std::isfinite(energy))
            return QStringLiteral("The energy does not rise with the channel at channel %1.")
                .arg(channel);
        previous = energy;
    }
    return {};
}

} // namespace

EnergyAxis::EnergyAxis(EnergyCalibration calibration, int channels)
    : m_calibration(std::move(calibration)), m_channels(channels)
{
}

std::optional<EnergyAxis> EnergyAxis::fromCalibration(const EnergyCalibration& calibration,
                                                      int channels, QString* refusal)
{
    const QString why = whyNotRising(calibration, channels);
    if (!why.isEmpty()) {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    }
    return EnergyAxis(calibration, channels);
}

std::optional<EnergyAxis> EnergyAxis::fromCoefficients(const std::vector<double>& coefficients,
                                                       int channels, QString* refusal)
{
    return fromCalibration(EnergyCalibration{coefficients}, channels, refusal);
}

std::optional<EnergyAxis> EnergyAxis::fromPeaks(double channel1, double kev1, double channel2,
                                                double kev2, int channels, QString* refusal)
{
    if (!(std::isfinite(channel1) && std::isfinite(channel2) && std::isfinite(kev1) &&
          std::isfinite(kev2))) {
        if (refusal)
            *refusal = QStringLiteral("A peak's channel or energy is not a number.");
        return std::nullopt;
    }
    if (channel1 == channel2) {
        if (refusal)
            *refusal = QStringLiteral("The two peaks are at the same channel.");
        return std::nullopt;
    }
    const double slope = (kev2 - kev1) / (channel2 - channel1);
    return fromCoefficients({kev1 - slope * channel1, slope}, channels, refusal);
}

std::optional<double> EnergyAxis::channelOf(double kev) const
{
    double low = 0, high = m_channels;
    if (!(kev >= energyOf(low) && kev <= energyOf(high)))
        return std::nullopt;
    // The energy rises over [0, channels], so halving keeps the root inside;
    // 64 halvings take any interval below a double's resolution.
    for (int i = 0; i < 64 && high - low > 0; ++i) {
        const double middle = low + (high - low) / 2;
        if (middle <= low || middle >= high)
            break;
        if (energyOf(middle) < kev)
            low = middle;
        else
            high = middle;
    }
    return low + (high - low) / 2;
}
