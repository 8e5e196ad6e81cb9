// What the spectrum view shows of the spectra an instrument streams: their
// sum, or only the latest, with the checks of their sequence numbers; and
// the regions of interest and background subtraction on what it holds.
#pragma once

#include "spectrum_data.h"

#include <QString>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

class SpectrumAccumulator
{
public:
    enum class Mode { Accumulate, Latest };
    enum class Outcome {
        Added,     // summed in, or now the latest
        Duplicate, // its number repeats the last one: not taken again
        Restarted, // another channel count: it starts a new accumulation
    };
    // The number of a spectrum that carries none (Spectrum::clear() and its
    // sums leave this); such a spectrum is never a duplicate or after a gap.
    static constexpr uint64_t kNoSequence = std::numeric_limits<uint64_t>::max();

    explicit SpectrumAccumulator(Mode mode = Mode::Accumulate) : m_mode(mode) {}

    Mode mode() const { return m_mode; }
    // Changing the mode clears: a sum and a latest spectrum do not mix.
    void setMode(Mode mode);
    void clear();

    // Sequence numbers may be 16- or 32-bit and wrap: numbers that both fit
    // in 16 bits are compared modulo 2^16, others modulo 2^32. A step back of
    // more than half that range is a renumbering (the instrument restarted):
    // counted, not a gap.
    Outcome add(const SpectrumData& spectrum, uint64_t sequence = kNoSequence);
    // How far the number moves from one spectrum to the next (1 unless the
    // instrument numbers other things with the same counter); a move of
    // more is a gap. Numbers then count in steps of this.
    void setSequenceStep(uint64_t step) { m_step = step ? step : 1; }
    uint64_t sequenceStep() const { return m_step; }

    // The sum (start of the first, calibration, dose rate and place of the
    // latest that had them) or the latest spectrum; no channels before the first.
    const SpectrumData& spectrum() const { return m_spectrum; }
    int channels() const { return static_cast<int>(m_spectrum.counts.size()); }
    uint64_t totalCounts() const { return m_total; }
    double countsPerSecond() const; // over live time; 0 without live time
    double deadTimePercent() const; // (real - live) / real; 0 without real time

    uint64_t spectraAdded() const { return m_added; }
    uint64_t duplicates() const { return m_duplicates; }
    uint64_t gaps() const { return m_gaps; }     // jumps of the number by more than one
    uint64_t missed() const { return m_missed; } // spectra those jumps left out
    uint64_t renumberings() const { return m_renumberings; }
    // Why the accumulation last started anew, for the window; empty if it did not.
    const QString& message() const { return m_message; }

    // The region of interest [from, to], channels inclusive, cut to the
    // channels held; empty (0) when from > to.
    uint64_t roiSum(int from, int to) const;
    double roiRate(int from, int to) const; // per live second; 0 without live time

private:
    void take(const SpectrumData& spectrum);
    void checkSequence(uint64_t sequence);

    Mode m_mode;
    SpectrumData m_spectrum;
    uint64_t m_total = 0;
    uint64_t m_lastSequence = kNoSequence;
    uint64_t m_step = 1;
    uint64_t m_added = 0, m_duplicates = 0, m_gaps = 0, m_missed = 0, m_renumberings = 0;
    QString m_message;
};

// Sums and rates of [from, to] on any spectrum, cut to its channels.
uint64_t roiSum(const SpectrumData& spectrum, int from, int to);
double roiRate(const SpectrumData& spectrum, int from, int to);

// A spectrum less a background scaled to its live time.
struct NetSpectrum
{
    std::vector<double> counts; // gross - scale * background, per channel; may be negative
    double scale = 0;           // gross live / background live
    double liveSeconds = 0;     // the gross spectrum's

    double roiSum(int from, int to) const;
};

// Refuses (nullopt, the reason in `refusal` when given) a background with
// another channel count or without live time.
std::optional<NetSpectrum> subtractBackground(const SpectrumData& gross,
                                              const SpectrumData& background,
                                              QString* refusal = nullptr);
