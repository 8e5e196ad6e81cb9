// The energy axis of a spectrum: a calibration checked to rise over every
// channel, so that an energy has exactly one channel and the axis can be
// drawn and read both ways.
#pragma once

#include "spectrum_data.h"

#include <QString>

#include <optional>
#include <vector>

class EnergyAxis
{
public:
    // Each refuses (nullopt, the reason in `refusal` when given) a calibration
    // that does not rise over the channel edges 0..channels.
    static std::optional<EnergyAxis> fromCalibration(const EnergyCalibration& calibration,
                                                     int channels, QString* refusal = nullptr);
    static std::optional<EnergyAxis> fromCoefficients(const std::vector<double>& coefficients,
                                                      int channels, QString* refusal = nullptr);
    // The line through two peaks, channels counted as EnergyCalibration counts them.
    static std::optional<EnergyAxis> fromPeaks(double channel1, double kev1, double channel2,
                                               double kev2, int channels,
                                               QString* refusal = nullptr);

    const EnergyCalibration& calibration() const { return m_calibration; }
    int channels() const { return m_channels; }
    double energyOf(double channel) const { return m_calibration.energyOf(channel); }
    // The channel of an energy between the axis's ends; nullopt outside them.
    std::optional<double> channelOf(double kev) const;

private:
    EnergyAxis(EnergyCalibration calibration, int channels);

    EnergyCalibration m_calibration;
    int m_channels = 0;
};
