// Spectra as ANSI N42.42 files: Orvisk's own series written and read back
// whole, and other programs' spectra read with their calibration.
#pragma once

#include "spectrum_data.h"

#include <QString>

#include <optional>
#include <vector>

struct N42Contents
{
    SpectrumSource source;
    std::vector<SpectrumData> spectra;
};

// Writes the spectra, one measurement each, in the order given. The file is
// written whole or not at all; false with the reason in `error` when a
// spectrum cannot be written as it is or the file cannot be.
bool writeN42(const QString& path, const SpectrumSource& source,
              const std::vector<SpectrumData>& spectra, QString* error);

// Reads every spectrum of the file's measurements, or nullopt with the
// reason in `error`.
std::optional<N42Contents> readN42(const QString& path, QString* error);
