#include "sim/model.h"

#include "sim/bytes.h"

#include "sim/events.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

namespace sim {

const char* const kCommandHelp =
    "  Every command of the M17 and M30 tables is answered with exactly its\n"
    "  listed answer size; a request of another size gets status 2. Set commands\n"
    "  are kept, so the matching get answers what was set (event filter,\n"
    "  inhibition, parameters, GPS power, LEDs, calibration methods and spectrum,\n"
    "  nuclide library, virtual components, model revision, serial, clock).\n"
    "  Clock: set keeps an offset to the host's clock. External flash: 4096 pages\n"
    "  of 64 bytes (erased: 0xFF; erase answers the page count in its parameter\n"
    "  word); a page outside 0..4095 gets status 3. Restart and power-off answer,\n"
    "  then close the link; TCP accepts again, a pty opens afresh.\n"
    "  Transmit buffer: info answers [chunk size, handle]; prepare kind 1 lists\n"
    "  the indices of at least `start`, at most `limit` of them, kind 3 one record\n"
    "  by index; its answer is [kind, item count, item bytes, records stored or\n"
    "  record time]. Chunk answers are [n, bytes left after it, n item bytes from\n"
    "  the requested offset], then n = 0. Refusals: 4 unknown kind, 5 unknown\n"
    "  index, 6 wrong handle, 7 wrong selector, 8 nothing prepared, 9 offset\n"
    "  beyond the item.\n";

namespace detail {

using Clock = std::chrono::system_clock;

// Set commands and the get that answers what they stored; sizes match.
struct Pair
{
    std::uint16_t set, get;
};

constexpr Pair kPairs[] = {{m30::set_event_filter, m30::get_event_filter},
                           {m30::set_inhibition, m30::get_inhibition},
                           {m30::set_params, m30::get_params},
                           {m30::set_gps_power, m30::get_gps_power},
                           {m30::set_leds, m30::get_leds},
                           {m30::save_calibration_methods, m30::get_calibration_methods},
                           {m30::upload_calibration_spectrum, m30::download_calibration_spectrum},
                           {m30::set_nuclide_library, m30::get_nuclide_library},
                           {m30::set_virtual_components, m30::get_virtual_components},
                           {m17::set_model_rev, m17::get_model_rev}};

std::int64_t now_seconds()
{
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::now().time_since_epoch())
        .count();
}

Answer refuse(std::uint8_t status)
{
    return Answer{{}, status, 0};
}

struct ModelState
{
    std::mutex mutex;
    std::weak_ptr<Instrument> instrument; // the instrument owns the rules that own this
    std::shared_ptr<const SurveyStore> store;
    ModelConfig config;
    std::int64_t clock_offset = 0;
    std::unordered_map<std::uint16_t, Bytes> stored; // by get code
    Bytes revision{1, 0, 2, 0};
    Bytes flash = Bytes(kFlashPages * kFlashPageSize, 0xff);
    std::uint32_t handle = 0, handles = 0;
    bool prepared = false;
    std::uint32_t selector = 0;
    Bytes item;

    const CommandSpec* spec(std::uint16_t code) const
    {
        const CommandSpec* c = config.m30 ? find_m30_command(code) : nullptr;
        return c ? c : find_m17_command(code);
    }

    std::string serial() const
    {
        auto inst = instrument.lock();
        return inst ? inst->serial() : std::string{};
    }

    static bool size_ok(const CommandSpec& c, std::size_t n)
    {
        if (c.code == m17::write_ext_flash) // page number and 1 to 64 bytes of the page
            return n > 2 && n <= c.request;
        return n == c.request;
    }

    Bytes clock_record() const
    {
        const std::time_t t = static_cast<std::time_t>(now_seconds() + clock_offset);
        std::tm tm{};
        gmtime_r(&t, &tm);
        Bytes out(24, 0);
        const int fields[6] = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                               tm.tm_hour,        tm.tm_min,     tm.tm_sec};
        for (int i = 0; i < 6; ++i)
            put32(out.data() + 4 * i, static_cast<std::uint32_t>(fields[i]));
        return out;
    }

    std::optional<Answer> set_clock(const Bytes& r)
    {
        int v[6];
        for (int i = 0; i < 6; ++i)
            v[i] = static_cast<std::int32_t>(get32(r, 4 * static_cast<std::size_t>(i)));
        if (v[0] < 1970 || v[0] > 2105 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 ||
            v[3] < 0 || v[3] > 23 || v[4] < 0 || v[4] > 59 || v[5] < 0 || v[5] > 59)
            return refuse(refusal::bad_argument);
        std::tm tm{};
        tm.tm_year = v[0] - 1900;
        tm.tm_mon = v[1] - 1;
        tm.tm_mday = v[2];
        tm.tm_hour = v[3];
        tm.tm_min = v[4];
        tm.tm_sec = v[5];
        const std::time_t t = timegm(&tm);
        if (tm.tm_mday != v[2]) // 31 April and the like roll over
            return refuse(refusal::bad_argument);
        clock_offset = static_cast<std::int64_t>(t) - now_seconds();
        return Answer{};
    }

    Bytes versions() const
    {
        Bytes out(415, 0);
        const std::string texts[] = {"M30",       config.firmware, "boot 1.07", "fpga 3.1.0",
                                     "gnss 2.01", "2026-11-02",    serial()};
        for (std::size_t i = 0; i < 7; ++i)
            put_text(out.data() + 32 * i, 32, texts[i]);
        return out;
    }

    Bytes status() const
    {
        StatusValues v;
        v.serial = serial();
        v.firmware = config.firmware;
        v.records = store ? static_cast<std::uint32_t>(store->records().size()) : 0;
        return status_record(v);
    }

    // What a get answers before anything was set: plausible values of ours.
    Bytes default_answer(std::uint16_t code, std::size_t size, const Bytes& request) const
    {
        Bytes out(size, 0);
        std::uint8_t* b = out.data();
        const std::uint32_t records =
            store ? static_cast<std::uint32_t>(store->records().size()) : 0;
        switch (code) {
        case m30::get_versions:
            return config.m30 ? versions() : [&] {
                put_text(b, size, config.firmware);
                return out;
            }();
        case m30::get_event_filter: // all events
            put32(b, 0xffffffffu);
            break;
        case m30::get_params: // version, dose-rate alarm uSv/h, dose alarm uSv, point interval s,
                              // points
            put32(b, 1);
            putf(b + 4, 0.5f);
            putf(b + 8, 100.0f);
            put32(b + 12, 1);
            put32(b + 16, 60);
            put32(b + 20, 50);
            break;
        case m30::get_status:
            return status();
        case m30::get_gps_power:
        case m30::get_leds:
        case m30::start_record_audio:
            put32(b, 1);
            break;
        case m30::get_memory_usage: // KiB total, KiB used, survey records, record capacity
            put32(b, 3900000);
            put32(b + 4, records * 4 + 1200);
            put32(b + 8, records);
            put32(b + 12, 100000);
            break;
        case m30::check_calib_date: // calibrated on, due on, days left
            put16(b, 2026);
            b[2] = 3;
            b[3] = 14;
            put16(b + 4, 2027);
            b[6] = 3;
            b[7] = 14;
            put16(b + 8, 96);
            break;
        case m30::prepare_note_db:
            put32(b, 3);
            break;
        case m30::get_calibration_method_names: { // count, 16-byte names
            const char* names[] = {"Gamma default", "Soil K-U-Th", "Rock assay"};
            put32(b, 3);
            for (int i = 0; i < 3; ++i)
                put_text(b + 4 + 16 * i, 16, names[i]);
            break;
        }
        case m30::get_calibration_methods: // the method asked for, 1024 channels
            std::copy_n(request.begin(), std::min<std::size_t>(16, request.size()), b);
            put32(b + 16, 1024);
            break;
        case m30::download_calibration_spectrum: { // as the upload: number, name, channel count,
                                                   // counts from 174
            std::copy_n(request.begin(), std::min<std::size_t>(2, request.size()), b);
            put_text(b + 2, 16, "background");
            put32(b + 50, kSpectrumChannels);
            const auto& shape = background_shape();
            for (std::size_t c = 0; c < kSpectrumChannels && 174 + 4 * c + 4 <= size; ++c)
                put32(b + 174 + 4 * c, static_cast<std::uint32_t>(shape[c] * 600));
            break;
        }
        case m30::get_motion_sensor_data: { // acceleration, rotation, magnetic field, temperature
            const float v[] = {0.02f, -0.05f, 9.81f, 0.0f, 0.0f, 0.001f, 17.2f, -3.1f, 48.9f, 6.5f};
            for (std::size_t i = 0; i < 10; ++i)
                putf(b + 4 * i, v[i]);
            put32(b + 40, 1);
            break;
        }
        case m30::get_usb_gadget_list:
            put32(b, 2);
            put_text(b + 4, 64, "rndis 127.0.0.1");
            put_text(b + 68, 64, "acm0");
            break;
        case m30::get_wifi_ipv4_list:
        case m30::get_wifi_ipv6_list: // count, network name, address
            put32(b, 1);
            put_text(b + 4, 64, "Korvenix-Field");
            put_text(b + 68, 40, code == m30::get_wifi_ipv4_list ? "127.0.0.1" : "::1");
            put32(b + 108, static_cast<std::uint32_t>(-52));
            break;
        case m30::get_nuclide_library: { // count, 40-byte entries: name, keV, yield, half-life in
                                         // days
            struct Nuclide
            {
                const char* name;
                float kev, yield, days;
            };
            const Nuclide lib[] = {
                {"K-40", 1460.8f, 0.107f, 4.56e11f},   {"Cs-137", 661.7f, 0.851f, 11020},
                {"Co-60", 1332.5f, 0.9998f, 1925},     {"Am-241", 59.5f, 0.359f, 157800},
                {"Ra-226", 186.2f, 0.036f, 584000},    {"Th-232", 2614.5f, 0.36f, 5.1e12f},
                {"U-238", 1001.0f, 0.0084f, 1.63e12f}, {"I-131", 364.5f, 0.815f, 8.02f}};
            put32(b, 8);
            for (std::size_t i = 0; i < 8; ++i) {
                std::uint8_t* e = b + 4 + 40 * i;
                put_text(e, 16, lib[i].name);
                putf(e + 16, lib[i].kev);
                putf(e + 20, lib[i].yield);
                putf(e + 24, lib[i].days);
            }
            break;
        }
        case m30::get_expanded_stab_spect: { // channel count, counts of the stabilisation spectrum
            const std::size_t n = (size - 4) / 4;
            const auto& shape = background_shape();
            put32(b, static_cast<std::uint32_t>(n));
            for (std::size_t c = 0; c < n; ++c)
                put32(b + 4 + 4 * c,
                      static_cast<std::uint32_t>(shape[c * kSpectrumChannels / n] * 300));
            break;
        }
        case m30::get_meas_state: // measuring, seconds since switched on
            put32(b, 1);
            put32(b + 4, static_cast<std::uint32_t>(now_seconds() % 86400));
            break;
        case m17::get_model_rev:
            return revision;
        default:
            break;
        }
        return out;
    }

    std::optional<Answer> flash_command(std::uint16_t code, const Bytes& r)
    {
        if (code == m17::erase_ext_flash) {
            std::fill(flash.begin(), flash.end(), 0xff);
            return Answer{{}, 0, static_cast<std::uint16_t>(kFlashPages)};
        }
        const auto page = static_cast<std::int16_t>(r[0] | (r[1] << 8));
        if (page < 0 || static_cast<std::size_t>(page) >= kFlashPages)
            return refuse(refusal::bad_argument);
        const auto at = flash.begin() + static_cast<std::ptrdiff_t>(page * kFlashPageSize);
        if (code == m17::read_ext_flash)
            return Answer{Bytes(at, at + kFlashPageSize)};
        std::copy(r.begin() + 2, r.end(), at);
        return Answer{};
    }

    std::optional<Answer> tx_info()
    {
        // Distinct, never 0, not simply counting.
        handle = (config.seed * 2654435761u) ^ (++handles * 40503u + 0x5a17u);
        handle = handle ? handle : 1;
        Answer a{Bytes(8, 0)};
        put32(a.payload.data(), static_cast<std::uint32_t>(config.chunk));
        put32(a.payload.data() + 4, handle);
        return a;
    }

    std::optional<Answer> tx_prepare(const Bytes& r)
    {
        prepared = false;
        const std::uint32_t kind = get32(r, 0), sel = get32(r, 4), start = get32(r, 8),
                            limit = get32(r, 12);
        Answer a{Bytes(68, 0)};
        std::uint8_t* b = a.payload.data();
        if (kind == 1) {
            const std::vector<std::uint32_t> list =
                store ? store->indices(start, limit) : std::vector<std::uint32_t>{};
            item.assign(4 * list.size(), 0);
            for (std::size_t i = 0; i < list.size(); ++i)
                put32(item.data() + 4 * i, list[i]);
            put32(b + 4, static_cast<std::uint32_t>(list.size()));
            put32(b + 12, store ? static_cast<std::uint32_t>(store->records().size()) : 0);
        } else if (kind == 3) {
            const SurveyRecord* rec = store ? store->find(start) : nullptr;
            if (!rec)
                return refuse(refusal::unknown_index);
            item = SurveyStore::encode(*rec);
            put32(b + 4, 1);
            put32(b + 12, rec->time);
        } else {
            return refuse(refusal::unknown_kind);
        }
        put32(b, kind);
        put32(b + 8, static_cast<std::uint32_t>(item.size()));
        prepared = true;
        selector = sel;
        return a;
    }

    std::optional<Answer> tx_get(const Bytes& r)
    {
        const std::uint32_t offset = get32(r, 0), h = get32(r, 4), sel = get32(r, 8);
        if (!prepared)
            return refuse(refusal::not_prepared);
        if (handle == 0 || h != handle)
            return refuse(refusal::bad_handle);
        if (sel != selector)
            return refuse(refusal::bad_selector);
        if (offset > item.size())
            return refuse(refusal::bad_offset);
        const std::size_t n = std::min(config.chunk, item.size() - offset);
        Answer a{Bytes(8 + n, 0)};
        put32(a.payload.data(), static_cast<std::uint32_t>(n));
        put32(a.payload.data() + 4, static_cast<std::uint32_t>(item.size() - offset - n));
        std::copy_n(item.begin() + offset, n, a.payload.begin() + 8);
        return a;
    }

    std::optional<Answer> answer(const CommandSpec& c, const Frame& f)
    {
        const Bytes& r = f.payload;
        if (!size_ok(c, r.size()))
            return refuse(refusal::bad_length);
        std::lock_guard<std::mutex> lock(mutex);
        switch (c.code) {
        case m17::get_time:
            return Answer{clock_record()};
        case m17::set_time:
            return set_clock(r);
        case m17::set_serial: {
            const std::string text(r.begin(), std::find(r.begin(), r.end(), 0));
            auto inst = instrument.lock();
            if (text.empty() || !inst)
                return refuse(refusal::bad_argument);
            inst->set_serial(text);
            return Answer{};
        }
        case m17::erase_ext_flash:
        case m17::read_ext_flash:
        case m17::write_ext_flash:
            return flash_command(c.code, r);
        case m17::flash_FW: // flag 0 or 1, then a value passed through
            return get32(r, 0) > 1 ? refuse(refusal::bad_argument) : Answer{};
        case m17::set_model_rev:
            revision = r;
            return Answer{};
        case m17::restart: // restart and power off: answered, then the link goes
        case m30::power_off:
            return Answer{{}, 0, 0, true};
        case m30::set_default_params:
        case m30::load_default_params:
            stored.erase(m30::get_params);
            return Answer{};
        case m30::tx_buff_info:
            return tx_info();
        case m30::tx_buff_prepare:
            return tx_prepare(r);
        case m30::tx_buff_get:
            return tx_get(r);
        default:
            break;
        }
        for (const Pair& p : kPairs)
            if (p.set == c.code) {
                stored[p.get] = r;
                return Answer{};
            }
        if (c.response == 0)
            return Answer{};
        auto it = stored.find(c.code);
        return Answer{it != stored.end() ? it->second : default_answer(c.code, c.response, r)};
    }
};

} // namespace detail

Model::Model(std::shared_ptr<Instrument> instrument, std::shared_ptr<const SurveyStore> store,
             ModelConfig config)
    : instrument_(std::move(instrument)), state_(std::make_shared<detail::ModelState>())
{
    config.chunk = std::clamp<std::size_t>(config.chunk, 1, kMaxChunk);
    state_->instrument = instrument_;
    state_->store = std::move(store);
    state_->config = std::move(config);
}

Model::~Model() = default;

void Model::install()
{
    std::vector<const CommandSpec*> set;
    if (state_->config.m30)
        for (const CommandSpec& c : kM30Commands)
            set.push_back(&c);
    for (const CommandSpec& c : kM17Commands)
        if (!state_->config.m30 || !find_m30_command(c.code))
            set.push_back(&c);
    for (const CommandSpec* c : set) {
        if (c->code == code::identity) // the instrument's own identity answer
            continue;
        Rule rule =
            Rule::compute([state = state_, c](const Frame& f) { return state->answer(*c, f); });
        instrument_->set_rule(c->code, std::move(rule));
    }
}

std::int64_t Model::clock_offset() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->clock_offset;
}

std::uint32_t Model::handle() const
{
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->handle;
}

Bytes Model::stored(std::uint16_t get_code) const
{
    const CommandSpec* c = state_->spec(get_code);
    if (!c || c->response == 0 || (get_code >= m30::tx_buff_info && get_code <= m30::tx_buff_get))
        return {}; // the transmit buffer has no stored answer, and asking would move it
    Frame f{get_code, 1000, 0, Bytes(c->request, 0)};
    std::optional<Answer> a = state_->answer(*c, f);
    return a ? a->payload : Bytes{};
}

std::size_t Model::answer_size(std::uint16_t code) const
{
    const CommandSpec* c = state_->spec(code);
    return c ? c->response : 0;
}

} // namespace sim
