#include "sim/options.h"

#include "sim/data_buffer.h"
#include "sim/events.h"
#include "sim/families.h"
#include "sim/family_sets.h"
#include "sim/family_tables.h"
#include "sim/model.h"
#include "sim/survey_store.h"

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace sim {

namespace detail {

bool whole(const std::string& s, unsigned long long max, unsigned long long& out)
{
    if (s.empty() || s.size() > 20 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    errno = 0;
    out = std::strtoull(s.c_str(), nullptr, 10);
    return errno == 0 && out <= max;
}

bool real(const std::string& s, double& out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    out = std::strtod(s.c_str(), &end);
    return end && *end == '\0';
}

} // namespace detail

bool parse_host_port(const std::string& text, std::string& host, std::uint16_t& port)
{
    std::string h, p;
    if (!text.empty() && text[0] == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':')
            return false;
        h = text.substr(1, close - 1);
        p = text.substr(close + 2);
    } else {
        const std::size_t colon = text.rfind(':');
        if (colon == std::string::npos) {
            p = text;
        } else {
            h = text.substr(0, colon);
            p = text.substr(colon + 1);
            if (h.find(':') != std::string::npos) // IPv6 needs its brackets
                return false;
        }
    }
    unsigned long long v = 0;
    if (!detail::whole(p, 65535, v))
        return false;
    if (!h.empty())
        host = h;
    port = static_cast<std::uint16_t>(v);
    return true;
}

std::string help_text()
{
    std::string events;
    for (const EventSpec& e : kM30Events)
        events += "    " + std::to_string(e.code) + "  " + std::to_string(e.size) + " bytes  " +
                  e.name + "\n";
    return std::string(
               "Usage: orvisk-sim [OPTION]...\n"
               "A simulated M30 survey instrument for Orvisk, on loopback TCP, a\n"
               "pseudo-terminal and a UDP discovery port. It prints the connection\n"
               "string of every instrument, then serves until SIGINT or SIGTERM.\n"
               "\n"
               "Where it listens:\n"
               "  --listen HOST:PORT    TCP address (default 127.0.0.1:4444); port 0 lets\n"
               "                        the system choose; [::1]:PORT for IPv6\n"
               "  --pty                 also serve each instrument on a pseudo-terminal and\n"
               "                        print its serial connection string\n"
               "  --discovery HOST:PORT answer discovery requests (8601) on this UDP address\n"
               "                        (default 127.0.0.1:4455; port 0: system-chosen;\n"
               "                        'off': none). Answers go only to loopback senders.\n"
               "  --count K             K instruments (1-64) on consecutive ports (with port 0\n"
               "                        each its own), serials counting up, one discovery\n"
               "                        answer (8600) each\n"
               "\n"
               "What it is:\n"
               "  --serial TEXT         serial number, 1-8 characters (default C3000001, or\n"
               "                        the family's own); the identity answer (8007) carries\n"
               "                        it in 8 bytes, and its first character names the family\n"
               "  --family NAME         pose as another family, one of\n"
               "                        ") +
           family_names() +
           "\n"
           "                        (M15, M16 and MVD answer their own query, 1109, 1001\n"
           "                        or 47788, and ignore the identity query). The M30\n"
           "                        command set and events belong to M28, M30, M34 and\n"
           "                        M36 (the version command 8001 answers the 415-byte\n"
           "                        versions record there, the 8-byte firmware text of\n"
           "                        the M17 set elsewhere); the other families answer the\n"
           "                        M17 set, and their own set and events too (below).\n"
           "\n"
           "What it holds:\n"
           "  --records N           survey records (default 300, at most 100000) of up to\n"
           "                        60 points a second apart: a surveyor's walk along\n"
           "                        parallel transects over land at 57.4000-57.4180 N,\n"
           "                        24.6000-24.6335 E (the sample map), in sessions over\n"
           "                        the past days, with GPS noise and a few points without\n"
           "                        a fix; indices ascending with gaps\n"
           "  --seed N              makes the walk, the events and the faults reproducible\n"
           "                        (default 1)\n"
           "  --epoch SECONDS       'now' for the walk's time stamps (default: the clock)\n"
           "  --track FILE          points from a CSV file instead: lines of\n"
           "                        time,latitude,longitude with time in seconds since\n"
           "                        1970 or YYYY-MM-DDTHH:MM:SSZ; an empty or 'nan'\n"
           "                        coordinate is a point without a fix; a new record\n"
           "                        after 60 points or a time step outside 1-10 s\n"
           "  --chunk BYTES         item bytes per transmit-buffer chunk, 1-8170\n"
           "                        (default 8170)\n"
           "  --events HZ           event frames per second, 0 for none (default 1)\n"
           "  --hostile KINDS       the newest records made hostile, one kind each, in\n"
           "                        the order given (comma-separated): cut (100 bytes\n"
           "                        whose header claims 60 points), count (a header\n"
           "                        claiming 61 points), positions (points flagged with\n"
           "                        latitude 91 or -91, longitude 200, NaN or infinite\n"
           "                        coordinates, and one at longitude 180); or flawed\n"
           "                        survey data: clock (a point an hour back), jump (a\n"
           "                        point 2 km off its walk), poorfix (ten points with\n"
           "                        HDOP 9.9 and 3 satellites), zero (three fixes at 0,0)\n"
           "\n"
           "Faults:\n"
           "  --latency MS          wait before every answer\n"
           "  --drop P              leave out each answer frame with probability P\n"
           "  --corrupt P           break the payload check byte of each answer frame\n"
           "                        with probability P\n"
           "  --repeat N            answer every command with N frames 12289 (repeat)\n"
           "                        before the answer\n"
           "  --fail CODE           answer command CODE with frame 12290 (failure)\n"
           "  --disconnect-after N  close the link after N exchanges on it\n"
           "  --split               write every frame in pieces of 7 bytes\n"
           "  --garbage             write stray bytes ahead of every batch of frames\n"
           "\n"
           "Other:\n"
           "  --log FILE            append one line per frame: UTC time, serial, in, out or\n"
           "                        lost (dropped), the frame in hex\n"
           "  --help                this text\n"
           "\n"
           "Commands:\n" +
           kCommandHelp + "\n" + kDataBufferHelp + "\n" + kFamilySetHelp + "\n" + kTableFamilyHelp +
           "\n"
           "Events (a 20 Hz total every tick; spectra of kinds 1-6 in turn on every\n"
           "other tick; status, alarms and the rest between):\n" +
           events +
           "  Spectrum: 1024 channels of 3 keV, a falling continuum with the K-40\n"
           "  (1461 keV), Cs-137 (662 keV) and natural-series lines, Poisson counts.\n"
           "\n" +
           kRecordLayoutHelp +
           "\n"
           "Example:\n"
           "  orvisk-sim --records 500 --events 2\n"
           "  then in Orvisk's connection dialog, Net tab, type 127.0.0.1 (port 4444).\n";
}

ParsedOptions parse_options(const std::vector<std::string>& args)
{
    ParsedOptions r;
    SimOptions& o = r.options;
    using Setter = std::function<bool(const std::string&)>;
    auto count_of = [](std::size_t& out, unsigned long long max) {
        return [&out, max](const std::string& v) {
            unsigned long long n = 0;
            if (!detail::whole(v, max, n))
                return false;
            out = static_cast<std::size_t>(n);
            return true;
        };
    };
    auto probability = [](double& out) {
        return
            [&out](const std::string& v) { return detail::real(v, out) && out >= 0 && out <= 1; };
    };
    const std::map<std::string, Setter> valued = {
        {"--listen",
         [&](const std::string& v) { return parse_host_port(v, o.listen_host, o.listen_port); }},
        {"--discovery",
         [&](const std::string& v) {
             if (v == "off") {
                 o.discovery = false;
                 return true;
             }
             o.discovery = true;
             return parse_host_port(v, o.discovery_host, o.discovery_port);
         }},
        {"--count", count_of(o.count, 64)},
        {"--serial",
         [&](const std::string& v) {
             o.serial = v;
             return !v.empty();
         }},
        {"--family",
         [&](const std::string& v) {
             o.family = v;
             return !v.empty();
         }},
        {"--records", count_of(o.records, 100000)},
        {"--seed",
         [&](const std::string& v) {
             unsigned long long n = 0;
             if (!detail::whole(v, 0xffffffffULL, n))
                 return false;
             o.seed = static_cast<std::uint32_t>(n);
             return true;
         }},
        {"--epoch",
         [&](const std::string& v) {
             unsigned long long n = 0;
             if (!detail::whole(v, 0xffffffffULL, n) || n == 0)
                 return false;
             o.epoch = static_cast<std::int64_t>(n);
             return true;
         }},
        {"--track",
         [&](const std::string& v) {
             o.track = v;
             return !v.empty();
         }},
        {"--chunk", count_of(o.chunk, kMaxChunk)},
        {"--hostile",
         [&](const std::string& v) {
             o.hostile.clear();
             std::size_t at = 0;
             for (;;) {
                 const std::size_t comma = v.find(',', at);
                 const std::string kind = v.substr(at, comma - at);
                 if (!SurveyStore::is_hostile_kind(kind))
                     return false;
                 o.hostile.push_back(kind);
                 if (comma == std::string::npos)
                     return true;
                 at = comma + 1;
             }
         }},
        {"--events",
         [&](const std::string& v) {
             return detail::real(v, o.events_hz) && o.events_hz >= 0 && o.events_hz <= 1000;
         }},
        {"--latency",
         [&](const std::string& v) {
             unsigned long long n = 0;
             if (!detail::whole(v, 600000, n))
                 return false;
             o.faults.latency = std::chrono::milliseconds(n);
             return true;
         }},
        {"--drop", probability(o.faults.drop)},
        {"--corrupt", probability(o.faults.corrupt)},
        {"--repeat",
         [&](const std::string& v) {
             unsigned long long n = 0;
             if (!detail::whole(v, 1000, n))
                 return false;
             o.faults.repeat = static_cast<int>(n);
             return true;
         }},
        {"--fail",
         [&](const std::string& v) {
             unsigned long long n = 0;
             if (!detail::whole(v, 65535, n))
                 return false;
             o.faults.fail = static_cast<std::uint16_t>(n);
             return true;
         }},
        {"--disconnect-after", count_of(o.faults.disconnect_after, 1000000000)},
        {"--log",
         [&](const std::string& v) {
             o.log = v;
             return !v.empty();
         }},
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool has_value = false;
        if (const std::size_t eq = name.find('=');
            name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            has_value = true;
        }
        if (name == "--help" || name == "-h") {
            r.help = true;
            continue;
        }
        if (name == "--pty" || name == "--split" || name == "--garbage") {
            if (has_value) {
                r.error = name + " takes no value";
                return r;
            }
            if (name == "--pty")
                o.pty = true;
            else if (name == "--split")
                o.split = kSplitBytes;
            else
                o.garbage = true;
            continue;
        }
        auto it = valued.find(name);
        if (it == valued.end()) {
            r.error = "unknown option " + name;
            return r;
        }
        if (!has_value) {
            if (i + 1 >= args.size()) {
                r.error = name + " needs a value";
                return r;
            }
            value = args[++i];
        }
        if (!it->second(value)) {
            r.error = name + ": invalid value '" + value + "'";
            return r;
        }
    }
    return r;
}

} // namespace sim
