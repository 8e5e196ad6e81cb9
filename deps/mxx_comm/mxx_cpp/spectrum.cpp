#include "spectrum.h"

#include <limits>

namespace {
// The "size" property is a size_t, which the meta-type system knows only by its name.
const int sizeType = qRegisterMetaType<size_t>("size_t");
} // namespace

float deadTime(unsigned int live, unsigned int clock)
{
    const float c = std::max(static_cast<float>(clock), std::numeric_limits<float>::epsilon());
    return (1.0f - static_cast<float>(live) / c) * 100.0f;
}

Spectrum::Spectrum(unsigned long size) : m_data(static_cast<int>(size), 0) {}

Spectrum::Spectrum(const QVector<int>& data, unsigned int live, unsigned int clock,
                   unsigned int total, unsigned int sequence, float fwhm)
    : m_live(live), m_clock(clock), m_total(total), m_sequence(sequence), m_fwhm(fwhm),
      m_sum(kSumNotComputed), m_data(data), m_channels(data.size())
{
}

Spectrum::Spectrum(const Spectrum& other) : QObject()
{
    copyFrom(other);
}

Spectrum& Spectrum::operator=(const Spectrum& other)
{
    if (this != &other)
        copyFrom(other);
    return *this;
}

Spectrum::~Spectrum() = default;

void Spectrum::copyFrom(const Spectrum& o)
{
    m_live = o.m_live;
    m_clock = o.m_clock;
    m_total = o.m_total;
    m_sequence = o.m_sequence;
    m_fwhm = o.m_fwhm;
    m_sum = kSumNotComputed;
    m_data = o.m_data;
    m_type = o.m_type;
    m_accTotal = o.m_accTotal;
    m_neutrons = o.m_neutrons;
    m_geiger = o.m_geiger;
    m_dose = o.m_dose;
    m_doseRateSum = o.m_doseRateSum;
    m_channels = o.m_channels;
    m_csStatus = o.m_csStatus;
    m_csResult = o.m_csResult;
    m_actSample = o.m_actSample;
    m_totalSample = o.m_totalSample;
    m_finished = o.m_finished;
}

void Spectrum::setData(const QVector<int>& data)
{
    m_data = data;
    m_sum = kSumNotComputed;
}

float Spectrum::deadTime() const
{
    return ::deadTime(static_cast<unsigned int>(m_live), static_cast<unsigned int>(m_clock));
}

int Spectrum::sum()
{
    if (m_sum == kSumNotComputed) {
        // Channel counts wrap as the instrument's int counters do.
        unsigned int s = 0;
        for (int v : m_data)
            s += static_cast<unsigned int>(v);
        m_sum = static_cast<int>(s);
    }
    return m_sum;
}

void Spectrum::clear()
{
    m_live = m_clock = m_total = 0;
    m_sequence = std::numeric_limits<uint64_t>::max();
    m_fwhm = 0;
    m_sum = 0;
    m_data.fill(0);
    m_type = kNoType;
    m_dose = m_doseRateSum = 0;
    m_neutrons = m_geiger = 0;
    m_csStatus = m_csResult = 0;
    m_finished = 0;
}

Spectrum& Spectrum::operator+=(const Spectrum& other)
{
    m_live += other.m_live;
    m_clock += other.m_clock;
    m_total += other.m_total;
    m_sequence = std::numeric_limits<uint64_t>::max();
    m_sum = kSumNotComputed;
    const int n = m_data.size(), m = other.m_data.size();
    if (n == 0 || m == 0)
        return *this;
    int* dst = m_data.data();
    const int* src = other.m_data.constData();
    // Counts wrap rather than overflow into undefined behaviour.
    auto add = [](int a, int b) {
        return static_cast<int>(static_cast<unsigned int>(a) + static_cast<unsigned int>(b));
    };
    if (n == m) {
        for (int i = 0; i < n; ++i)
            dst[i] = add(dst[i], src[i]);
        return *this;
    }
    const float ratio = static_cast<float>(m) / static_cast<float>(n);
    for (int i = 0; i < n; ++i) {
        // The float product can round up to m for the last channel.
        int j = std::min(static_cast<int>(static_cast<float>(i) * ratio), m - 1);
        dst[i] = add(dst[i], src[j]);
    }
    return *this;
}
