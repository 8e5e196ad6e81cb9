// What Orvisk's N42 writer and reader agree on beyond the schema itself.
#pragma once

#include "spectrum_data.h"

#include <QString>

#include <cstddef>
#include <optional>

namespace n42 {

inline const QString kNamespace = QStringLiteral("http://physics.nist.gov/N42/2011/N42");

// What the spectrum view can show.
constexpr std::size_t kMinChannels = 2;
constexpr std::size_t kMaxChannels = 65536;

// The schema has no element for these; the remarks carry them so that Orvisk
// reads its own files back as it wrote them.
inline const QString kChannelAxisRemark =
    QStringLiteral("Not calibrated: the energies are the channel numbers.");
inline const QString kCoefficientsRemark = QStringLiteral("Energy coefficients:");
inline const QString kStartUnknownRemark = QStringLiteral("Start time not known.");
inline const QString kRealUnknownRemark = QStringLiteral("Real time not known.");

// RadInstrumentVersion component names for what the instrument reported about itself.
inline const QString kReportComponent = QStringLiteral("Instrument report");
inline const QString kReportHexComponent = QStringLiteral("Instrument report (hex)");

// "PT12.5S"; a non-negative number of milliseconds.
QString formatDuration(long long milliseconds);
// Seconds of an xs:duration in days, hours, minutes and seconds; nullopt for
// what is not one, is negative, or counts years or months, whose length varies.
std::optional<double> parseDuration(const QString& text);

// Why the calibration does not rise over every channel edge 0..channels, or
// empty when it does. An unknown calibration rises.
QString notRisingReason(const EnergyCalibration& calibration, std::size_t channels);

// The calibration's coefficients without the trailing zeros, which add nothing.
std::vector<double> withoutTrailingZeros(std::vector<double> coefficients);

} // namespace n42
