#include "spectrum_accumulator.h"

#include <algorithm>

namespace {

constexpr uint64_t k16 = uint64_t(1) << 16;
constexpr uint64_t k32 = uint64_t(1) << 32;

// [from, to] cut to n channels; false when nothing is left.
bool cut(int& from, int& to, std::size_t n)
{
    if (n == 0)
        return false;
    from = std::max(from, 0);
    to = static_cast<int>(std::min<int64_t>(to, static_cast<int64_t>(n) - 1));
    return from <= to;
}

} // namespace

void SpectrumAccumulator::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    clear();
}

void SpectrumAccumulator::clear()
{
    m_spectrum = SpectrumData{};
    m_total = 0;
    m_lastSequence = kNoSequence;
    m_added = m_duplicates = m_gaps = m_missed = m_renumberings = 0;
    m_message.clear();
}

SpectrumAccumulator::Outcome SpectrumAccumulator::add(const SpectrumData& spectrum,
                                                      uint64_t sequence)
{
    if (m_added > 0 && spectrum.counts.size() != m_spectrum.counts.size()) {
        const QString message =
            QStringLiteral("The spectra now have %1 channels instead of %2; counting starts again.")
                .arg(spectrum.counts.size())
                .arg(m_spectrum.counts.size());
        clear();
        m_message = message;
        take(spectrum);
        m_lastSequence = sequence;
        return Outcome::Restarted;
    }
    if (m_added > 0 && sequence != kNoSequence && sequence == m_lastSequence) {
        ++m_duplicates;
        return Outcome::Duplicate;
    }
    if (m_added > 0)
        checkSequence(sequence);
    m_lastSequence = sequence;
    take(spectrum);
    return Outcome::Added;
}

void SpectrumAccumulator::checkSequence(uint64_t sequence)
{
    if (sequence == kNoSequence || m_lastSequence == kNoSequence)
        return;
    uint64_t step = sequence - m_lastSequence; // modulo 2^64
    uint64_t range = 0;                        // 0: the whole 2^64
    if (sequence < k16 && m_lastSequence < k16)
        range = k16;
    else if (sequence < k32 && m_lastSequence < k32)
        range = k32;
    if (range)
        step &= range - 1;
    const uint64_t half = range ? range / 2 : k32 * (k32 / 2);
    if (step > half) {
        ++m_renumberings;
    } else if (step > m_step) {
        ++m_gaps;
        m_missed += (step - 1) / m_step;
    }
}

void SpectrumAccumulator::take(const SpectrumData& s)
{
    ++m_added;
    if (m_mode == Mode::Latest || m_added == 1) {
        m_spectrum = s;
        m_total = 0;
        for (uint64_t n : s.counts)
            m_total += n;
        return;
    }
    uint64_t* to = m_spectrum.counts.data();
    const uint64_t* from = s.counts.data();
    const std::size_t n = s.counts.size();
    uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        to[i] += from[i];
        sum += from[i];
    }
    m_total += sum;
    m_spectrum.liveSeconds += s.liveSeconds;
    m_spectrum.realSeconds += s.realSeconds;
    if (!m_spectrum.start.isValid())
        m_spectrum.start = s.start;
    if (s.calibration.known())
        m_spectrum.calibration = s.calibration;
    if (s.doseRate)
        m_spectrum.doseRate = s.doseRate;
    if (s.latitude && s.longitude) {
        m_spectrum.latitude = s.latitude;
        m_spectrum.longitude = s.longitude;
    }
}

double SpectrumAccumulator::countsPerSecond() const
{
    return m_spectrum.liveSeconds > 0 ? static_cast<double>(m_total) / m_spectrum.liveSeconds : 0;
}

double SpectrumAccumulator::deadTimePercent() const
{
    const double real = m_spectrum.realSeconds;
    return real > 0 ? 100 * (real - m_spectrum.liveSeconds) / real : 0;
}

uint64_t SpectrumAccumulator::roiSum(int from, int to) const
{
    return ::roiSum(m_spectrum, from, to);
}

double SpectrumAccumulator::roiRate(int from, int to) const
{
    return ::roiRate(m_spectrum, from, to);
}

uint64_t roiSum(const SpectrumData& spectrum, int from, int to)
{
    if (!cut(from, to, spectrum.counts.size()))
        return 0;
    uint64_t sum = 0;
    for (int i = from; i <= to; ++i)
        sum += spectrum.counts[static_cast<std::size_t>(i)];
    return sum;
}

double roiRate(const SpectrumData& spectrum, int from, int to)
{
    if (!(spectrum.liveSeconds > 0))
        return 0;
    return static_cast<double>(roiSum(spectrum, from, to)) / spectrum.liveSeconds;
}

double NetSpectrum::roiSum(int from, int to) const
{
    if (!cut(from, to, counts.size()))
        return 0;
    double sum = 0;
    for (int i = from; i <= to; ++i)
        sum += counts[static_cast<std::size_t>(i)];
    return sum;
}

std::optional<NetSpectrum> subtractBackground(const SpectrumData& gross,
                                              const SpectrumData& background, QString* refusal)
{
    QString why;
    if (background.counts.size() != gross.counts.size())
        why = QStringLiteral("The background has %1 channels, the spectrum %2.")
                  .arg(background.counts.size())
                  .arg(gross.counts.size());
    else if (!(background.liveSeconds > 0))
        why = QStringLiteral("The background has no live time to scale it by.");
    if (!why.isEmpty()) {
        if (refusal)
            *refusal = why;
        return std::nullopt;
    }
    NetSpectrum net;
    net.liveSeconds = gross.liveSeconds;
    net.scale = gross.liveSeconds / background.liveSeconds;
    net.counts.resize(gross.counts.size());
    for (std::size_t i = 0; i < gross.counts.size(); ++i)
        net.counts[i] = static_cast<double>(gross.counts[i]) -
                        net.scale * static_cast<double>(background.counts[i]);
    return net;
}
