#include "sim/family_sets.h"

#include "sim/bytes.h"
#include "sim/commands.h"
#include "sim/events.h"
#include "sim/families.h"
#include "sim/model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <map>
#include <set>

namespace sim {

const char* const kFamilySetHelp =
    "  M28, M34 and M36 answer the rows of the M30 set they share and their\n"
    "  own commands (M34's pallets keep what was saved, M28's users and clock\n"
    "  what was set); M34 sends the M30 events without 10017, M36 its nine,\n"
    "  M28 its own forms of 10008, 10014 and 10015. M32 answers its commands\n"
    "  and files (a 64-sector raw card); M26 its status, parameters, spectra\n"
    "  (sec512, sec1024, stab512) and a stabilisation log that grows every ten\n"
    "  events; both send the data buffer's status (9405). M24 answers its test\n"
    "  and items and sends an MCA spectrum (8601).\n";

namespace detail {

std::int64_t epoch_seconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Bytes words(std::initializer_list<std::uint32_t> values, std::size_t size)
{
    Bytes out(size, 0);
    std::size_t at = 0;
    for (std::uint32_t v : values) {
        put32(out.data() + at, v);
        at += 4;
    }
    return out;
}

// The counts of the background, rebinned to `channels`, after `seconds`.
std::vector<std::uint32_t> background_counts(std::size_t channels, double seconds)
{
    const auto& shape = background_shape();
    std::vector<std::uint32_t> out(channels, 0);
    const std::size_t per = kSpectrumChannels / channels;
    for (std::size_t c = 0; c < kSpectrumChannels; ++c)
        out[std::min(c / per, channels - 1)] += static_cast<std::uint32_t>(shape[c] * seconds);
    return out;
}

// Set commands and the get that answers what they stored.
struct Pair
{
    std::uint16_t set, get;
};

// The answers of a family's plain commands: sizes checked, sets kept for
// their gets, zeros where nothing was set, and a few answers computed.
struct PlainSet
{
    std::mutex mutex;
    std::map<std::uint16_t, Bytes> stored; // by get code
    std::map<std::uint32_t, Bytes> users;  // M28's, by number
    std::uint32_t last_id = 0;             // M34's pallets
    std::vector<Pair> pairs;
    // Computes an answer where the default would not do; nullopt: the default.
    std::function<std::optional<Answer>(std::uint16_t code, const Bytes& request, PlainSet& set)>
        special;

    Answer answer(const CommandSpec& c, const Bytes& request)
    {
        if (request.size() != c.request)
            return Answer{{}, refusal::bad_length, 0};
        std::lock_guard<std::mutex> lock(mutex);
        if (special)
            if (std::optional<Answer> a = special(c.code, request, *this))
                return *a;
        for (const Pair& p : pairs)
            if (p.set == c.code) {
                stored[p.get] = request;
                return Answer{};
            }
        auto it = stored.find(c.code);
        return Answer{it != stored.end() ? it->second : Bytes(c.response, 0)};
    }
};

template <std::size_t N>
void install_plain(Instrument& instrument, const CommandSpec (&rows)[N],
                   std::shared_ptr<PlainSet> set)
{
    for (const CommandSpec& c : rows)
        instrument.set_rule(c.code, Rule::compute([set, spec = &c](const Frame& f) {
                                return std::optional<Answer>(set->answer(*spec, f.payload));
                            }));
}

Bytes clock_fields(bool date)
{
    const std::time_t t = static_cast<std::time_t>(epoch_seconds());
    std::tm tm{};
    gmtime_r(&t, &tm);
    return date ? words({static_cast<std::uint32_t>(tm.tm_year + 1900),
                         static_cast<std::uint32_t>(tm.tm_mon + 1),
                         static_cast<std::uint32_t>(tm.tm_mday)},
                        12)
                : words({static_cast<std::uint32_t>(tm.tm_hour),
                         static_cast<std::uint32_t>(tm.tm_min),
                         static_cast<std::uint32_t>(tm.tm_sec)},
                        12);
}

std::optional<Answer> m28_answer(std::uint16_t code, const Bytes& r, PlainSet& set)
{
    switch (code) {
    case m28::get_date:
    case m28::get_time:
        if (!set.stored.count(code))
            return Answer{clock_fields(code == m28::get_date)};
        return std::nullopt;
    case m28::modify_user: // remembered by number, for set_logged_user
        set.users[get32(r, 0)] = r;
        return Answer{};
    case m28::set_logged_user: {
        const std::uint32_t user = get32(r, 0);
        auto it = set.users.find(user);
        if (user != 1 && it == set.users.end())
            return Answer{{}, refusal::bad_argument, 0};
        Bytes logged(36, 0);
        put32(logged.data(), user);
        if (it != set.users.end())
            std::copy_n(it->second.begin() + 4, 32, logged.begin() + 4);
        else
            put_text(logged.data() + 4, 32, "operator");
        set.stored[m28::get_logged_user] = logged;
        return Answer{};
    }
    case m28::get_logged_user:
        if (!set.stored.count(code)) {
            Bytes logged(36, 0);
            put32(logged.data(), 1);
            put_text(logged.data() + 4, 32, "operator");
            return Answer{logged};
        }
        return std::nullopt;
    case m28::check_mass_storage: // ready, KiB total, KiB free
        return Answer{words({0, 3900000, 3100000}, 12)};
    case m28::list_files: {
        const char* names[] = {"survey", "spectra", "params.txt"};
        Bytes out(2052, 0);
        put32(out.data(), 3);
        for (std::size_t i = 0; i < 3; ++i) {
            std::uint8_t* e = out.data() + 4 + 64 * i;
            put_text(e, 56, names[i]);
            put32(e + 56, i == 2 ? 1398 : 0);
            put32(e + 60, i == 2 ? 0 : 1);
        }
        return Answer{out};
    }
    case m28::get_ident_results: {
        struct Found
        {
            const char* nuclide;
            const char* category;
            float confidence, share;
        };
        const Found found[] = {{"Cs-137", "Industrial", 92.5f, 0.31f},
                               {"K-40", "NORM", 71.0f, 0.52f}};
        Bytes out(1383, 0);
        put32(out.data(), 2);
        for (std::size_t i = 0; i < 2; ++i) {
            std::uint8_t* e = out.data() + 4 + 64 * i;
            put_text(e, 16, found[i].nuclide);
            put_text(e + 16, 16, found[i].category);
            putf(e + 32, found[i].confidence);
            putf(e + 36, found[i].share);
        }
        return Answer{out};
    }
    default:
        return std::nullopt;
    }
}

std::optional<Answer> m34_answer(std::uint16_t code, const Bytes& r, PlainSet& set)
{
    switch (code) {
    case m34::save_pallet: { // a new pallet (id 0) gets the next id
        Bytes pallet = r;
        std::uint32_t id = get32(r, 0);
        if (id == 0) {
            id = ++set.last_id;
            put32(pallet.data(), id);
        }
        set.stored[m34::get_last_unfinished_pallet] = pallet;
        set.stored[m34::get_current_pallet_id] = words({id}, 4);
        return Answer{words({id}, 4)};
    }
    case m34::set_current_hole: {
        Bytes state(1000, 0);
        std::copy(r.begin(), r.end(), state.begin());
        set.stored[m34::get_hole_state] = state;
        return Answer{};
    }
    default:
        return std::nullopt;
    }
}

std::optional<Answer> m36_answer(std::uint16_t code, const Bytes& r, PlainSet&)
{
    if (code == m36::upload_efficiency_lut && get32(r, 0) > 512)
        return Answer{{}, refusal::bad_argument, 0};
    if (code != m36::get_ethernet_list)
        return std::nullopt;
    Bytes out(1060, 0);
    put32(out.data(), 1);
    put_text(out.data() + 4, 32, "eth0");
    put_text(out.data() + 36, 40, "127.0.0.1");
    put_text(out.data() + 76, 40, "::1");
    put_text(out.data() + 116, 20, "02:00:00:00:00:01");
    return Answer{out};
}

std::optional<Answer> m32_answer(std::uint16_t code, const Bytes& r, PlainSet&)
{
    if (code == m32::delete_records && get32(r, 0) > get32(r, 4))
        return Answer{{}, refusal::bad_argument, 0};
    if (code == m32::get_status) {
        Bytes s(56, 0);
        put32(s.data(), 1); // measuring
        putf(s.data() + 4, 0.12f);
        return Answer{s};
    }
    return std::nullopt;
}

// Takes away the M30 rows that `family` does not share.
void trim_m30_set(Instrument& instrument, bool SharedRow::*column)
{
    for (const SharedRow& row : kM30Shared)
        if (!(row.*column))
            for (const CommandSpec& c : kM30Commands)
                if (std::string(c.name) == row.name)
                    instrument.clear_rule(c.code);
}

void install_m32_files(FileStore& files)
{
    constexpr std::uint32_t kSectors = 64;
    for (const FileSpec& f : kM32Files)
        if (!f.write && std::string(f.path) != "log/sd_raw" && std::string(f.path) != "log/info") {
            Bytes content(f.size, 0);
            for (std::size_t i = 0; i < content.size(); ++i)
                content[i] = static_cast<std::uint8_t>(i * 3 + f.size);
            files.put(f.path, content);
        }
    files.serve(
        "log/sd_raw",
        [](std::uint32_t sector, std::uint32_t) -> std::optional<Bytes> {
            if (sector >= kSectors)
                return std::nullopt;
            Bytes s(512, 0);
            for (std::size_t i = 0; i < s.size(); ++i)
                s[i] = static_cast<std::uint8_t>(sector * 31 + i);
            put32(s.data(), sector);
            return s;
        },
        [] { return kSectors * 512; });
    files.serve("log/info", [](std::uint32_t, std::uint32_t) -> std::optional<Bytes> {
        return words({120, 1, 120, 48}, 32); // records, first id, last id, sectors used
    });
}

} // namespace detail

M26State::M26State(std::uint32_t seed) : seed_(seed)
{
    for (int i = 0; i < 3; ++i)
        add_stab_entry();
}

void M26State::add_stab_entry()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Bytes e(2136, 0);
    const std::uint32_t id = next_id_++;
    detail::put32(e.data(), id);
    detail::put32(e.data() + 4, static_cast<std::uint32_t>(1796000000 + 600 * id));
    detail::putf(e.data() + 8, 220.5f + static_cast<float>(id % 5) * 0.25f); // 662 keV at 3 keV/ch
    detail::putf(e.data() + 12, 1.0f + static_cast<float>(id % 7) * 0.001f);
    detail::putf(e.data() + 16, 6.5f);
    const auto counts = detail::background_counts(512, 60);
    for (std::size_t c = 0; c < counts.size(); ++c)
        detail::put32(e.data() + 88 + 4 * c, counts[c]);
    log_.push_back(std::move(e));
    if (log_.size() > kLogCapacity) { // the ring moves on
        log_.erase(log_.begin());
        base_ = (base_ + 1) % kLogCapacity;
        ++first_id_;
    }
}

std::size_t M26State::stab_entries() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return log_.size();
}

Bytes M26State::status()
{
    std::lock_guard<std::mutex> lock(mutex_);
    const std::uint32_t n = ++reads_;
    Bytes s(88, 0);
    detail::put32(s.data(), 1); // measuring
    detail::putf(s.data() + 4, 0.09f + 0.001f * static_cast<float>((n + seed_) % 9));
    detail::put32(s.data() + 8, 320 + (n * 7 + seed_) % 40);
    detail::putf(s.data() + 12, 6.5f);
    detail::put32(s.data() + 16, 710);
    detail::put32(s.data() + 20, 1);
    detail::putf(s.data() + 24, 220.6f);
    detail::put32(s.data() + 28, n);
    return s;
}

Bytes M26State::stab_info() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return detail::words({0, static_cast<std::uint32_t>(log_.size()), base_, first_id_}, 16);
}

std::optional<Bytes> M26State::stab_entry(std::uint32_t index, std::uint32_t base) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= log_.size())
        return std::nullopt;
    if (base != base_) // the ring has moved on: that slot holds no such record
        return Bytes(2136, 0);
    return log_[index];
}

Bytes M26State::spectrum(std::size_t channels, bool stabilisation)
{
    const auto n = static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                                  std::chrono::steady_clock::now() - started_)
                                                  .count());
    const double seconds = stabilisation ? 60 : 1;
    const auto counts = detail::background_counts(channels, seconds);
    Bytes s(24 + 4 * channels, 0);
    std::uint32_t total = 0;
    for (std::size_t c = 0; c < channels; ++c) {
        detail::put32(s.data() + 24 + 4 * c, counts[c]);
        total += counts[c];
    }
    const auto ms = static_cast<std::uint32_t>(seconds * 1000);
    detail::put32(s.data(), static_cast<std::uint32_t>(channels));
    detail::put32(s.data() + 4, ms - ms / 50); // 2 % dead time
    detail::put32(s.data() + 8, ms);
    detail::put32(s.data() + 12, total);
    detail::put32(s.data() + 16, total / 50 + 1); // pile-up
    detail::put32(s.data() + 20, n);
    return s;
}

void M26State::install(FileStore& files, std::shared_ptr<M26State> self)
{
    files.serve("run/status", [self](std::uint32_t, std::uint32_t) {
        return std::optional<Bytes>(self->status());
    });
    Bytes params(192, 0), mca(18, 0);
    for (std::size_t i = 0; i < params.size(); ++i)
        params[i] = static_cast<std::uint8_t>(i ^ 0x5a);
    detail::put16(mca.data(), 1024);
    files.put("etc/params", params);
    files.put("etc/mca_params", mca);
    files.put("run/stab", detail::words({1}, 4));
    files.on_write("log/stab/clear", [self](const Bytes& b) {
        if (b.size() != 4 || detail::get32(b, 0) != 1)
            return false;
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->first_id_ = self->next_id_;
        self->base_ = 0;
        self->log_.clear();
        return true;
    });
    files.on_write("run/ecal", [](const Bytes& b) { return b.size() == 8; });
    files.serve("log/stab/info", [self](std::uint32_t, std::uint32_t) {
        return std::optional<Bytes>(self->stab_info());
    });
    files.serve("log/stab/rec", [self](std::uint32_t index, std::uint32_t base) {
        return self->stab_entry(index, base);
    });
    const std::pair<const char*, std::size_t> spectra[] = {
        {"run/spec/sec512", 512}, {"run/spec/sec1024", 1024}, {"run/spec/stab512", 512}};
    for (auto [path, channels] : spectra) {
        const bool stab = std::string(path).find("stab") != std::string::npos;
        files.serve(path, [self, channels = channels, stab](std::uint32_t, std::uint32_t) {
            return std::optional<Bytes>(self->spectrum(channels, stab));
        });
    }
}

FamilySet install_family_set(const std::string& family, Instrument& instrument, std::uint32_t seed)
{
    FamilySet set;
    set.family = family;
    const int type = family_type(family);
    auto plain = std::make_shared<detail::PlainSet>();
    if (type == MXX_TYPE_M24) {
        set.items = std::make_shared<ItemStore>();
        set.items->install(instrument, set.items);
    } else if (type == MXX_TYPE_M26 || type == MXX_TYPE_M32) {
        set.files = std::make_shared<FileStore>();
        set.files->install(instrument, set.files);
        if (type == MXX_TYPE_M26) {
            set.m26 = std::make_shared<M26State>(seed);
            set.m26->install(*set.files, set.m26);
        } else {
            detail::install_m32_files(*set.files);
            plain->pairs = {{m32::set_params, m32::get_params},
                            {m32::set_head_info, m32::get_head_info}};
            plain->special = detail::m32_answer;
            detail::install_plain(instrument, kM32Commands, plain);
        }
    } else if (type == MXX_TYPE_M28) {
        detail::trim_m30_set(instrument, &SharedRow::m28);
        plain->pairs = {{m28::set_date, m28::get_date}, {m28::set_time, m28::get_time}};
        plain->special = detail::m28_answer;
        detail::install_plain(instrument, kM28Commands, plain);
    } else if (type == MXX_TYPE_M34) {
        detail::trim_m30_set(instrument, &SharedRow::m34);
        plain->pairs = {{m34::set_assay_depth, m34::get_current_pallet_depth}};
        plain->special = detail::m34_answer;
        detail::install_plain(instrument, kM34Commands, plain);
    } else if (type == MXX_TYPE_M36) {
        detail::trim_m30_set(instrument, &SharedRow::m36);
        plain->special = detail::m36_answer;
        detail::install_plain(instrument, kM36Commands, plain);
    }
    return set;
}

bool FamilySet::has_events() const
{
    return items || files;
}

std::vector<Frame> FamilySet::tick(std::uint32_t n) const
{
    std::vector<Frame> out;
    if (items) {
        Bytes s(16 + 4 * 1024, 0);
        const auto counts = detail::background_counts(1024, n % 60 + 1);
        detail::put32(s.data(), 1024);
        detail::put32(s.data() + 4, (n % 60 + 1) * 980);
        detail::put32(s.data() + 8, (n % 60 + 1) * 1000);
        detail::put32(s.data() + 12, n);
        for (std::size_t c = 0; c < counts.size(); ++c)
            detail::put32(s.data() + 16 + 4 * c, counts[c]);
        out.push_back(Frame{8601, 0, 0, std::move(s)});
    }
    if (m26 && n % 10 == 9)
        m26->add_stab_entry();
    if (files)
        out.push_back(Frame{9405, 0, 0, files->status_info()});
    return out;
}

std::vector<Frame> FamilySet::adapt(std::vector<Frame> frames) const
{
    static const std::set<std::uint16_t> m36 = {10002, 10005, 10006, 10007, 10012,
                                                10013, 10014, 10009, 10015};
    static const std::set<std::uint16_t> m28 = {10002, 10003, 10005, 10004, 10006, 10007,
                                                10010, 10011, 10012, 10013, 10014, 10015};
    const int type = family_type(family);
    std::vector<Frame> out;
    for (Frame& f : frames) {
        if (type == MXX_TYPE_M34 && f.code == 10017)
            continue;
        if (type == MXX_TYPE_M36 && !m36.count(f.code))
            continue;
        if (type == MXX_TYPE_M28) {
            if (!m28.count(f.code))
                continue;
            if (f.code == 10002 && f.payload.size() >= 2 && f.payload[0] == 4)
                f.code = 10008; // the accumulated spectrum has an event of its own
            else if (f.code == 10014)
                f.payload = detail::words({2}, 4); // a message of type 2
            else if (f.code == 10015) {
                f.payload = detail::words({1, 0}, 16); // done, result 0, peak, FWHM
                detail::putf(f.payload.data() + 8, 220.6f);
                detail::putf(f.payload.data() + 12, 15.4f);
            }
        }
        out.push_back(std::move(f));
    }
    return out;
}

} // namespace sim
