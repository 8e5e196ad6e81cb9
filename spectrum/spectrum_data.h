// A gamma spectrum as Orvisk keeps, shows and saves it, apart from the
// protocol's objects: channel counts with their times, the energy
// calibration, and where known the dose rate and the place.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Energy in keV of a channel: c0 + c1 * ch + c2 * ch^2 + ..., ch counted
// from 0 at the lower edge of the first channel.
struct EnergyCalibration
{
    std::vector<double> coefficients; // empty: no calibration (a channel axis)

    bool known() const { return !coefficients.empty(); }
    double energyOf(double channel) const
    {
        double e = 0, power = 1;
        for (double c : coefficients) {
            e += c * power;
            power *= channel;
        }
        return e;
    }
};

struct SpectrumData
{
    std::vector<uint64_t> counts; // one per channel
    double liveSeconds = 0;
    double realSeconds = 0;
    QDateTime start;              // UTC; invalid: unknown
    EnergyCalibration calibration;
    std::optional<double> doseRate; // microsievert per hour, as the survey points carry it
    std::optional<double> latitude, longitude; // degrees, WGS 84
};

// The instrument a spectrum came from.
struct SpectrumSource
{
    QString family;    // "M22"
    QString serial;
    QByteArray report; // what it reported about itself, as sent
    QString detector;  // "NaI(Tl) 40x40 mm", or empty
};
