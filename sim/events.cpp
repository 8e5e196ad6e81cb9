#include "sim/events.h"

#include "sim/bytes.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sim {

namespace detail {

// The cycle of ticks; 10002 alternates with everything else.
constexpr std::uint16_t kCycle[] = {
    10002, 10007, 10002, 10011, 10002, 10005, 10002, 10003, 10002, 10006, 10002, 10010, 10002,
    10012, 10002, 10013, 10002, 10014, 10002, 10017, 10002, 10009, 10002, 10015, 10002, 10016,
};

// Live time a spectrum of each kind has gathered when it is sent: the
// current spectrum a few seconds, the accumulating ones grow.
constexpr std::uint32_t kLiveStep[7] = {0, 5, 30, 20, 10, 60, 15};

} // namespace detail

const std::array<double, kSpectrumChannels>& background_shape()
{
    static const std::array<double, kSpectrumChannels> shape = [] {
        struct Line
        {
            double kev, cps;
        };
        // Rates of the full-energy peaks, counts per second.
        constexpr Line lines[] = {{662, 2.2},  {1461, 4.0}, {609, 1.6}, {1120, 0.5}, {1764, 0.7},
                                  {2614, 0.9}, {911, 0.8},  {239, 1.2}, {352, 0.9},  {583, 0.7}};
        std::array<double, kSpectrumChannels> s{};
        for (std::size_t c = 0; c < kSpectrumChannels; ++c) {
            const double e = (static_cast<double>(c) + 0.5) * kKeVPerChannel;
            // Continuum: scattered radiation falling with energy, cut below 30 keV.
            const double rise = 1 / (1 + std::exp(-(e - 40) / 8));
            double v = rise * (2.2 * std::exp(-e / 120) + 0.35 * std::exp(-e / 600) +
                               0.02 * std::exp(-e / 2000));
            for (const Line& l : lines) {
                const double fwhm = 0.07 * 662 * std::sqrt(l.kev / 662);
                const double sigma = fwhm / 2.3548;
                const double z = (e - l.kev) / sigma;
                v += l.cps * kKeVPerChannel / (sigma * 2.5066) * std::exp(-0.5 * z * z);
            }
            s[c] = v;
        }
        return s;
    }();
    return shape;
}

Bytes status_record(const StatusValues& v)
{
    Bytes out(kStatusSize, 0);
    std::uint8_t* b = out.data();
    detail::put32(b + 0, 1); // record version
    detail::put32(b + 4, v.battery_percent);
    detail::putf(b + 8, 3.6f + 0.006f * static_cast<float>(v.battery_percent));
    detail::putf(b + 12, v.temperature);
    detail::putf(b + 16, v.dose_rate);
    detail::putf(b + 20, v.dose);
    detail::put32(b + 24, v.cps);
    detail::put32(b + 28, 0); // neutrons
    detail::put32(b + 32, 3); // 3D fix
    detail::putf(b + 36, v.latitude);
    detail::putf(b + 40, v.longitude);
    detail::putf(b + 44, v.altitude);
    detail::put32(b + 48, 9); // satellites
    detail::put32(b + 52, v.uptime);
    detail::put32(b + 56, v.alarms);
    detail::put32(b + 60, v.records);
    detail::put_text(b + 64, 32, v.serial);
    detail::put_text(b + 96, 32, v.firmware);
    return out;
}

EventStream::EventStream(std::uint32_t seed, StatusValues status)
    : rng_(seed), status_(std::move(status)), base_dose_rate_(status_.dose_rate)
{
}

std::size_t EventStream::cycle_length()
{
    return sizeof detail::kCycle / sizeof detail::kCycle[0];
}

Bytes EventStream::spectrum(std::uint16_t kind)
{
    Bytes out(kSpectrumHead + 4 * kSpectrumChannels, 0);
    std::uint8_t* b = out.data();
    const std::size_t k = kind < live_.size() ? kind : 0;
    // The current spectrum (kind 1) starts afresh; the others accumulate.
    live_[k] = k == 1 ? detail::kLiveStep[1] : live_[k] + (k ? detail::kLiveStep[k] : 1);
    const std::uint32_t live = live_[k];
    const auto clock = static_cast<std::uint32_t>(std::lround(live * 1.02));
    std::uint64_t total = 0;
    const auto& shape = background_shape();
    for (std::size_t c = 0; c < kSpectrumChannels; ++c) {
        std::poisson_distribution<std::uint32_t> counts(shape[c] * live);
        const std::uint32_t n = counts(rng_);
        total += n;
        detail::put32(b + kSpectrumHead + 4 * c, n);
    }
    detail::put16(b + 0, kind);
    detail::put32(b + 2, kSpectrumChannels);
    detail::put16(b + 6, 700); // 7.00 % at 662 keV
    detail::put16(b + 8, ++sequence_);
    detail::putf(b + 14, status_.dose_rate * static_cast<float>(live) / 3600.0f);
    detail::put32(b + 20, live * 2 + rng_() % 5); // Geiger
    detail::put32(b + 24, 0);                     // neutrons
    detail::putf(b + 28, status_.dose);
    detail::put32(b + 44, 1); // Cs calibration done
    detail::put32(b + 48, 0);
    detail::put32(b + 52, live);
    detail::put32(b + 56, std::max<std::uint32_t>(live, 60));
    detail::put32(b + 104, kind == 3 || kind == 6 ? (live >= 60 ? 1 : 0) : 0);
    detail::put32(b + 108, clock);
    detail::put32(b + 116, live);
    detail::put16(b + 124, static_cast<std::uint16_t>(std::min<std::uint64_t>(total, 65535)));
    return out;
}

Frame EventStream::make(std::uint16_t code)
{
    Frame f;
    f.code = code;
    std::size_t size = 0;
    for (const EventSpec& e : kM30Events)
        size = e.code == code ? e.size : size;
    if (code == 10002) {
        f.payload = spectrum(next_kind_);
        next_kind_ = static_cast<std::uint16_t>(next_kind_ % 6 + 1);
        return f;
    }
    f.payload.assign(size, 0);
    std::uint8_t* b = f.payload.data();
    std::normal_distribution<double> unit(0.0, 1.0);
    switch (code) {
    case 10003: // key code, pressed
        detail::put32(b, 1 + rng_() % 5);
        detail::put32(b + 4, 1);
        break;
    case 10005:
        detail::put32(b, status_.cps + rng_() % 40);
        detail::put32(b + 4, 0);
        detail::putf(b + 8, status_.dose_rate);
        detail::putf(b + 12, status_.dose);
        detail::put32(b + 16, ticks_ * 2);
        break;
    case 10004: {
        std::poisson_distribution<std::uint32_t> counts(status_.cps / 20.0);
        detail::put32(b, counts(rng_));
        break;
    }
    case 10006: { // sample count, sample period in ns, 16-bit samples of two pulses
        const std::size_t samples = (size - 8) / 2;
        detail::put32(b, static_cast<std::uint32_t>(samples));
        detail::put32(b + 4, 25);
        for (std::size_t i = 0; i < samples; ++i) {
            const double t1 = static_cast<double>(i) - 400, t2 = static_cast<double>(i) - 2300;
            double v = 200 + 3 * unit(rng_);
            if (t1 > 0)
                v += 1800 * std::exp(-t1 / 90) * (1 - std::exp(-t1 / 4));
            if (t2 > 0)
                v += 950 * std::exp(-t2 / 90) * (1 - std::exp(-t2 / 4));
            detail::put16(b + 8 + 2 * i, static_cast<std::uint16_t>(std::clamp(v, 0.0, 65535.0)));
        }
        break;
    }
    case 10007:
        status_.uptime = ticks_;
        f.payload = status_record(status_);
        break;
    case 10010:
        detail::put32(b, 300 + rng_() % 60);
        break;
    case 10011: // every fourth alarm event reports the dose-rate alarm
        detail::put32(b, ++alarms_sent_ % 4 == 0 ? 1 : 0);
        break;
    case 10012: // operation, percent, elapsed s, expected s
        detail::put32(b, 1);
        detail::put32(b + 4, ticks_ % 101);
        detail::put32(b + 8, ticks_ % 101);
        detail::put32(b + 12, 100);
        break;
    case 10013: // state, technology, network name, address
        detail::put32(b, 2);
        detail::put_text(b + 4, 32, "wifi");
        detail::put_text(b + 36, 64, "Korvenix-Field");
        detail::put_text(b + 100, 16, "127.0.0.1");
        break;
    case 10014:
    case 10017: // assay number, method, K %, U ppm, Th ppm, dose rate
        detail::put16(b, static_cast<std::uint16_t>(1 + ticks_ % 900));
        detail::put16(b + 2, 1);
        detail::putf(b + 4, static_cast<float>(1.8 + 0.1 * unit(rng_)));
        detail::putf(b + 8, static_cast<float>(2.4 + 0.2 * unit(rng_)));
        detail::putf(b + 12, static_cast<float>(7.9 + 0.4 * unit(rng_)));
        detail::putf(b + 16, status_.dose_rate);
        break;
    case 10009: // count, then 36-byte entries: name, confidence
        detail::put32(b, 2);
        detail::put_text(b + 4, 32, "K-40");
        detail::putf(b + 36, 0.97f);
        detail::put_text(b + 40, 32, "Cs-137");
        detail::putf(b + 72, 0.64f);
        break;
    case 10015:
        detail::put32(b, 0);
        break;
    case 10016: // message type, text
        detail::put16(b, 1);
        detail::put_text(b + 2, 257, "Battery " + std::to_string(status_.battery_percent) + " %");
        break;
    default:
        break;
    }
    return f;
}

std::vector<Frame> EventStream::tick()
{
    ++ticks_;
    // A reading's counting noise: a few per cent.
    std::normal_distribution<float> noise(0.0f, 0.04f);
    status_.dose_rate = base_dose_rate_ * std::max(0.5f, 1.0f + noise(rng_));
    status_.dose += status_.dose_rate / 3600.0f;
    std::vector<Frame> frames;
    frames.push_back(make(10004));
    frames.push_back(make(detail::kCycle[step_]));
    step_ = (step_ + 1) % cycle_length();
    return frames;
}

} // namespace sim
