#include "spectrum_accumulator_from_instrument.h"

#include <m26_spectrum.h>
#include <spectrum.h>

SpectrumData fromInstrument(const Spectrum& spectrum)
{
    const bool milliseconds = qobject_cast<const M26Spectrum*>(&spectrum) != nullptr;
    return fromInstrument(spectrum, milliseconds ? 0.001 : 1.0);
}

SpectrumData fromInstrument(const Spectrum& spectrum, double secondsPerTimeUnit)
{
    SpectrumData data;
    const Spectrum::DataType& counts = spectrum.data();
    data.counts.resize(static_cast<std::size_t>(counts.size()));
    // The counts are the instrument's u32 values kept in ints.
    for (int i = 0; i < counts.size(); ++i)
        data.counts[static_cast<std::size_t>(i)] = static_cast<uint32_t>(counts[i]);
    data.liveSeconds = static_cast<double>(spectrum.liveTime()) * secondsPerTimeUnit;
    data.realSeconds = static_cast<double>(spectrum.clockTime()) * secondsPerTimeUnit;
    return data;
}
