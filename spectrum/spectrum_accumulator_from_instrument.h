// A Spectrum of the protocol layer as Orvisk keeps it. The families count
// live and real time in seconds, except M26, which counts milliseconds.
#pragma once

#include "spectrum_data.h"

class Spectrum;

SpectrumData fromInstrument(const Spectrum& spectrum);
// With the instrument's unit of time given, in seconds.
SpectrumData fromInstrument(const Spectrum& spectrum, double secondsPerTimeUnit);
