#include "sim/family_tables.h"

#include "sim/bytes.h"
#include "sim/events.h"
#include "sim/families.h"
#include "sim/model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <random>

namespace sim {

const char* const kTableFamilyHelp =
    "  M15, M16, M18, M20, M21, M22 and M38 also answer their own command set,\n"
    "  each command with exactly its listed answer size; a request of another size\n"
    "  gets status 2. What a set or write command takes, the matching get or read\n"
    "  answers (by index for log entries, flash pages and nuclides). M16's USB test\n"
    "  echoes, its table upload answers the table's checksum; M20 and M21 keep\n"
    "  named files (status 10: no such file, 3: bad offset or length). MCH\n"
    "  messages (48878) are taken without an answer.\n"
    "  Events of those families: a spectrum (2020) every tick for M15, spectra and\n"
    "  Geiger and neutron totals (2031) in turn for M16, the live measurement\n"
    "  (9302) for M20 and M21, a spectrum (8350) for M22, and for M38 the double\n"
    "  spectrum (9000: 1024 and 256 channels of 16-bit counts) with a pulse record\n"
    "  (9001) every fourth tick.\n";

namespace {

using detail::get32;
using detail::put16;
using detail::put32;
using detail::put_text;
using detail::putf;

constexpr std::uint8_t kNoSuchFile = 10;
constexpr std::size_t kFileHeader = 40, kFileName = 32, kFileChunk = 4000;

struct TableFamily
{
    int family; // MXX_TYPE_<family>
    const CommandSpec* commands;
    std::size_t count;
};

template <std::size_t N> constexpr TableFamily set_of(int family, const CommandSpec (&t)[N])
{
    return {family, t, N};
}

constexpr TableFamily kSets[] = {
    set_of(MXX_TYPE_M15, kM15Commands), set_of(MXX_TYPE_M16, kM16Commands),
    set_of(MXX_TYPE_M18, kM18Commands), set_of(MXX_TYPE_M20, kM20Commands),
    set_of(MXX_TYPE_M21, kM21Commands), set_of(MXX_TYPE_M22, kM22Commands),
    set_of(MXX_TYPE_M38, kM38Commands),
};

bool starts_with(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool ends_with(const std::string& s, const std::string& suffix)
{
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// "set_params" -> "get_params", "Set_HV" -> "Get_HV", "write_coefficients"
// -> "read_coefficients", "nuclide_library_write" -> "nuclide_library_read".
std::string partner_name(const std::string& name)
{
    static const std::pair<const char*, const char*> prefixes[] = {
        {"set_", "get_"}, {"Set_", "Get_"}, {"write_", "read_"}};
    for (auto [set, get] : prefixes)
        if (starts_with(name, set))
            return get + name.substr(std::strlen(set));
    if (ends_with(name, "_write"))
        return name.substr(0, name.size() - 6) + "_read";
    return {};
}

Answer refuse(std::uint8_t status)
{
    return Answer{{}, status, 0};
}

std::string text_of(const Bytes& b, std::size_t at, std::size_t field)
{
    const auto begin = b.begin() + static_cast<std::ptrdiff_t>(at);
    return std::string(begin, std::find(begin, begin + static_cast<std::ptrdiff_t>(field), 0));
}

std::uint32_t now_seconds()
{
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

void put_f64(std::uint8_t* p, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, 8);
    put32(p, static_cast<std::uint32_t>(bits));
    put32(p + 4, static_cast<std::uint32_t>(bits >> 32));
}

struct File
{
    Bytes data;
    std::uint32_t changed = 0;
};

struct FamilyState
{
    std::mutex mutex;
    const TableFamily* set = nullptr;
    const Instrument* instrument = nullptr; // owns the rules that own this
    std::map<std::uint16_t, Bytes> stored;  // by get code
    std::map<std::pair<std::uint16_t, std::uint32_t>, Bytes> by_index; // by read code, index
    std::map<std::string, File> files;
    std::uint16_t lut_checksum = 0;

    const CommandSpec* find(const std::string& name) const
    {
        for (std::size_t i = 0; i < set->count; ++i)
            if (name == set->commands[i].name)
                return &set->commands[i];
        return nullptr;
    }

    void forget_indexed(const char* read_name)
    {
        const CommandSpec* read = find(read_name);
        for (auto it = by_index.begin(); it != by_index.end();)
            it = read && it->first.first == read->code ? by_index.erase(it) : std::next(it);
    }

    std::optional<Answer> write_file(const Bytes& r)
    {
        if (r.size() < kFileHeader || r.size() - kFileHeader != get32(r, 36))
            return refuse(refusal::bad_length);
        File& f = files[text_of(r, 0, kFileName)];
        const std::uint32_t offset = get32(r, 32);
        if (offset > f.data.size())
            return refuse(refusal::bad_argument);
        if (offset == 0) // a file is written from its start
            f.data.clear();
        f.data.resize(std::max<std::size_t>(f.data.size(), offset + r.size() - kFileHeader));
        std::copy(r.begin() + kFileHeader, r.end(), f.data.begin() + offset);
        f.changed = now_seconds();
        return Answer{};
    }

    std::optional<Answer> read_file(const Bytes& r)
    {
        auto it = files.find(text_of(r, 0, kFileName));
        if (it == files.end())
            return refuse(kNoSuchFile);
        const Bytes& data = it->second.data;
        const std::uint32_t offset = get32(r, 32), length = get32(r, 36);
        if (offset > data.size() || length > kFileChunk)
            return refuse(refusal::bad_argument);
        const std::size_t n = std::min<std::size_t>(length, data.size() - offset);
        return Answer{Bytes(data.begin() + offset, data.begin() + offset + n)};
    }

    std::optional<Answer> file_info(const Bytes& r, std::size_t size)
    {
        auto it = files.find(text_of(r, 0, kFileName));
        if (it == files.end())
            return refuse(kNoSuchFile);
        Bytes out(size, 0);
        std::copy_n(r.begin(), kFileName, out.begin());
        put32(out.data() + 32, static_cast<std::uint32_t>(it->second.data.size()));
        put32(out.data() + 36, it->second.changed);
        return Answer{out};
    }

    // What a get answers before anything was set: plausible values of ours.
    void default_answer(const std::string& name, const Bytes& r, Bytes& out) const
    {
        std::uint8_t* b = out.data();
        const std::size_t size = out.size();
        const std::uint32_t index = get32(r, 0);
        if (name == "Get_SW_Version") {
            put_text(b, size, "1.4.2");
        } else if (name == "Get_Temperature") {
            put16(b, 215); // 21.5 degrees
        } else if (name == "Get_Voltages") {
            const std::uint16_t mv[] = {3300, 5000, 12000, 1800};
            for (std::size_t i = 0; 2 * i + 2 <= size && i < 4; ++i)
                put16(b + 2 * i, mv[i]);
        } else if (name == "get_status") {
            put_text(b, std::min<std::size_t>(size, Instrument::kSerialSize), instrument->serial());
        } else if (ends_with(name, "log_count")) { // entries, the oldest's index
            put32(b, 3);
            if (size >= 8)
                put32(b + 4, 1);
        } else if (name == "get_log_list" && set->family == MXX_TYPE_M18) {
            const std::uint32_t sizes[] = {64, 512, 512, 256, 4160, 4160};
            for (std::size_t i = 0; i < 6; ++i) { // entries, capacity, entry size, oldest
                put32(b + 16 * i, 3);
                put32(b + 16 * i + 4, 1000);
                put32(b + 16 * i + 8, sizes[i]);
                put32(b + 16 * i + 12, 1);
            }
        } else if (name == "get_log_list") { // three entries, ids 101 to 103
            put32(b, 3);
            for (std::uint32_t i = 0; i < 3; ++i)
                put32(b + 4 + 4 * i, 101 + i);
        } else if (ends_with(name, "_entry") || name == "nuclide_library_read") {
            put32(b, index);
        } else if (name == "get_note_info") {
            put32(b, 2);
        } else if (name == "get_note") {
            put_text(b, size, "Note " + std::to_string(index));
        } else if (name == "read_flash_page") {
            std::fill(out.begin(), out.end(), 0xff); // erased
        } else if (name == "get_flash_info") {       // page size, pages, id
            put32(b, 256);
            put32(b + 4, 4096);
            put32(b + 8, 0x38);
        } else if (name == "get_gps") {
            put_f64(b, 57.409);
            put_f64(b + 8, 24.6167);
        } else if (name == "get_model_rev") {
            const std::uint8_t rev[] = {1, 0, 2, 0};
            std::copy_n(rev, 4, b);
        } else if (name == "get_hv" || name == "Get_HV") {
            put32(b, 700);
        } else if (name == "Get_Energy_Calib") { // the factory's: keV = 0 + 3 per channel
            putf(b + 4, static_cast<float>(kKeVPerChannel));
        }
    }

    std::optional<Answer> answer(const CommandSpec& c, const Frame& f)
    {
        const Bytes& r = f.payload;
        const std::string name = c.name;
        std::lock_guard<std::mutex> lock(mutex);
        if (name == "write_file")
            return write_file(r);
        if (r.size() != c.request)
            return refuse(refusal::bad_length);
        if (name == "read_file")
            return read_file(r);
        if (name == "get_file_info")
            return file_info(r, c.response);
        if (name == "USB_Test")
            return Answer{r};
        if (name == "Write_LUT") { // the sum of the 256 entries it took
            std::uint16_t sum = 0;
            for (std::size_t i = 2; i + 1 < r.size(); i += 2)
                sum = static_cast<std::uint16_t>(sum + (r[i] | (r[i + 1] << 8)));
            lut_checksum = sum;
            Bytes out(2);
            put16(out.data(), sum);
            return Answer{out};
        }
        if (name == "Get_LUT_Checksum") {
            Bytes out(2);
            put16(out.data(), lut_checksum);
            return Answer{out};
        }
        if (name == "erase_flash")
            forget_indexed("read_flash_page");
        if (name == "nuclide_library_clear")
            forget_indexed("nuclide_library_read");
        if (c.response == 0) {
            if (const CommandSpec* p = find(partner_name(name))) {
                if (p->request == 4 && r.size() == 4 + p->response)
                    by_index[{p->code, get32(r, 0)}] = Bytes(r.begin() + 4, r.end());
                else
                    stored[p->code] = r;
            }
            return Answer{};
        }
        Bytes out(c.response, 0);
        auto indexed = by_index.find({c.code, get32(r, 0)});
        if (auto it = stored.find(c.code); it != stored.end())
            std::copy_n(it->second.begin(), std::min(it->second.size(), out.size()), out.begin());
        else if (c.request == 4 && indexed != by_index.end())
            std::copy_n(indexed->second.begin(), std::min(indexed->second.size(), out.size()),
                        out.begin());
        else
            default_answer(name, r, out);
        return Answer{out};
    }
};

// Poisson counts of the background over `seconds`, in `channels` channels.
std::vector<std::uint32_t> background_counts(std::mt19937& rng, double seconds,
                                             std::size_t channels)
{
    const auto& shape = background_shape();
    std::vector<std::uint32_t> counts(channels, 0);
    const std::size_t per = kSpectrumChannels / channels;
    for (std::size_t c = 0; c < kSpectrumChannels; ++c) {
        std::poisson_distribution<std::uint32_t> draw(shape[c] * seconds);
        counts[c / per] += draw(rng);
    }
    return counts;
}

SpectrumValues spectrum_values(std::mt19937& rng, std::uint32_t live, std::uint32_t sequence,
                               std::size_t channels)
{
    SpectrumValues v;
    v.live = live;
    v.clock = static_cast<std::uint32_t>(std::lround(live * 1.02));
    v.sequence = sequence;
    v.counts = background_counts(rng, live, channels);
    for (std::uint32_t n : v.counts)
        v.total += n;
    return v;
}

std::vector<Frame> events_of(int family, std::uint32_t seed, std::uint32_t n)
{
    std::mt19937 rng(seed * 7919u + n);
    const std::uint32_t live = 5 * (n % 60 + 1); // the spectra accumulate, then start afresh
    if (family == MXX_TYPE_M15 || (family == MXX_TYPE_M16 && n % 2))
        return {probe_spectrum_event(spectrum_values(rng, live, n, 1024))};
    if (family == MXX_TYPE_M16) { // Geiger total, neutron total, seconds
        Frame f{2031, 0, 0, Bytes(12, 0)};
        put32(f.payload.data(), 2 * n + rng() % 3);
        put32(f.payload.data() + 8, n);
        return {f};
    }
    if (family == MXX_TYPE_M22)
        return {m22_spectrum_event(spectrum_values(rng, live, n, 1024), 1, 0, 0, 700)};
    if (family == MXX_TYPE_M38) {
        std::vector<Frame> frames{m38_spectrum_event(spectrum_values(rng, live, n, 1024),
                                                     spectrum_values(rng, live, n, 256))};
        if (n % 4 == 0) // sample count, then 16-bit samples of a pulse
            frames.push_back(Frame{9001, 0, 0, Bytes(4 + 2 * 64, 0)});
        return frames;
    }
    // M20, M21: seconds, dose rate uSv/h, dose uSv, counts per second
    Frame f{9302, 0, 0, Bytes(64, 0)};
    std::normal_distribution<double> noise(0.0, 0.004);
    put32(f.payload.data(), n);
    putf(f.payload.data() + 4, static_cast<float>(0.09 + noise(rng)));
    putf(f.payload.data() + 8, static_cast<float>(0.09 * n / 3600.0));
    put32(f.payload.data() + 12, 300 + rng() % 40);
    return {f};
}

} // namespace

void install_table_family(Instrument& instrument, const std::string& family)
{
    const int type = family_type(family);
    const TableFamily* set = nullptr;
    for (const TableFamily& t : kSets)
        set = type == t.family ? &t : set;
    if (!set)
        return;
    auto state = std::make_shared<FamilyState>();
    state->set = set;
    state->instrument = &instrument;
    for (std::size_t i = 0; i < set->count; ++i) {
        const CommandSpec* c = &set->commands[i];
        instrument.set_rule(
            c->code, Rule::compute([state, c](const Frame& f) { return state->answer(*c, f); }));
    }
}

Frame probe_spectrum_event(const SpectrumValues& v)
{
    Frame f{2020, 0, 0, Bytes(16 + 4 * v.counts.size(), 0)};
    std::uint8_t* b = f.payload.data();
    put32(b, v.live);
    put32(b + 4, v.clock);
    put32(b + 8, v.total);
    put16(b + 12, static_cast<std::uint16_t>(v.counts.size()));
    put16(b + 14, static_cast<std::uint16_t>(v.sequence));
    for (std::size_t c = 0; c < v.counts.size(); ++c)
        put32(b + 16 + 4 * c, v.counts[c]);
    return f;
}

Frame m22_spectrum_event(const SpectrumValues& v, std::uint16_t adc, std::uint32_t total1,
                         std::uint32_t total2, std::uint16_t fwhm)
{
    Frame f{8350, 0, 0, Bytes(32 + 4 * v.counts.size(), 0)};
    std::uint8_t* b = f.payload.data();
    put16(b, adc);
    put16(b + 2, static_cast<std::uint16_t>(v.counts.size()));
    put32(b + 4, v.live);
    put32(b + 8, v.clock);
    put32(b + 12, v.total);
    put32(b + 16, total1);
    put32(b + 20, total2);
    put16(b + 24, static_cast<std::uint16_t>(v.sequence));
    put16(b + 26, fwhm);
    for (std::size_t c = 0; c < v.counts.size(); ++c)
        put32(b + 32 + 4 * c, v.counts[c]);
    return f;
}

Frame m38_spectrum_event(const SpectrumValues& v1024, const SpectrumValues& v256)
{
    Frame f{9000, 0, 0, Bytes(3512, 0)};
    std::uint8_t* b = f.payload.data();
    for (std::size_t c = 0; c < 1024 && c < v1024.counts.size(); ++c)
        put16(b + 2 * c, static_cast<std::uint16_t>(std::min(v1024.counts[c], 65535u)));
    put32(b + 2048, v1024.live);
    put32(b + 2052, v1024.clock);
    put32(b + 2056, v1024.sequence);
    put32(b + 2060, v1024.total);
    put32(b + 2064, v256.total);
    for (std::size_t c = 0; c < 256 && c < v256.counts.size(); ++c)
        put16(b + 3000 + 2 * c, static_cast<std::uint16_t>(std::min(v256.counts[c], 65535u)));
    return f;
}

bool table_family_has_events(const std::string& family)
{
    switch (family_type(family)) {
    case MXX_TYPE_M15:
    case MXX_TYPE_M16:
    case MXX_TYPE_M20:
    case MXX_TYPE_M21:
    case MXX_TYPE_M22:
    case MXX_TYPE_M38:
        return true;
    default:
        return false;
    }
}

std::vector<Frame> table_family_events(const std::string& family, std::uint32_t seed,
                                       std::uint32_t n)
{
    return table_family_has_events(family) ? events_of(family_type(family), seed, n)
                                           : std::vector<Frame>{};
}

} // namespace sim
