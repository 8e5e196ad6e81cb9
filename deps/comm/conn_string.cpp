/* Connection strings and listed device ids: PREFIX:REST, at most 127 bytes,
 * fields separated by ':', numbers in decimal unless noted.  The medium that
 * answers to PREFIX reads, writes and shows the rest; each medium's file
 * describes its own forms:
 *
 *   tcp:HOST:PORT[:TIMEOUT_MS]                      tcp.cpp
 *   serial:PATH:BAUD:LINE[:FLOW]                    serial.cpp
 *   ftdi:ID:BAUD:LINE[:FLOW]                        ftdi.cpp
 *   USBU|USBF|USBS:VVVV:PPPP:LOCATION[:SERIAL]      usb.cpp
 *   bt:ADDRESS[:CHANNEL[:PIN[:TIMEOUT_MS[:NAME]]]]  bluetooth.cpp
 */
#include "comm_internal.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace comm {
namespace {

#define COMM_MEDIUM(name) &name##_medium,
const Medium* const media[] = {
#include "media.def"
};
#undef COMM_MEDIUM

} // namespace

const Medium* find_medium(const std::string& prefix)
{
    for (const Medium* m : media)
        for (const char* p : m->prefixes)
            if (p && prefix == p)
                return m;
    return nullptr;
}

int parse_conn_string(const char* text, ConnParams& c)
{
    if (!text)
        return COMM_ERR_ARG;
    std::size_t len = strnlen(text, COMM_STRING_SIZE);
    if (len == 0 || len >= COMM_STRING_SIZE)
        return COMM_ERR_ARG;
    std::string s(text, len);
    std::size_t colon = s.find(':');
    if (colon == std::string::npos)
        return COMM_ERR_ARG;
    c = ConnParams();
    const std::string prefix = s.substr(0, colon);
    const Medium* medium = find_medium(prefix);
    if (!medium || !medium->parse(prefix, s.substr(colon + 1), c)) {
        c = ConnParams();
        return COMM_ERR_ARG;
    }
    c.medium = medium;
    return 0;
}

int format_conn_string(const ConnParams& c, char* out)
{
    if (!c.medium || !c.params)
        return put_nothing(out);
    return put_conn_string(out, c.medium->format(c));
}

std::string display_text(const ConnParams& c)
{
    return c.medium && c.params ? c.medium->describe(c) : std::string();
}

int put_conn_string(char* out, const std::string& text)
{
    if (!out)
        return COMM_ERR_ARG;
    ConnParams check;
    if (text.size() >= COMM_STRING_SIZE || parse_conn_string(text.c_str(), check) != 0)
        return put_nothing(out);
    std::memcpy(out, text.c_str(), text.size() + 1);
    return 0;
}

int put_nothing(char* out)
{
    if (out)
        out[0] = '\0';
    return COMM_ERR_ARG;
}

std::vector<std::string> split_fields(const std::string& s, std::size_t max_parts)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        if (max_parts && parts.size() + 1 == max_parts) {
            parts.push_back(s.substr(start));
            return parts;
        }
        std::size_t colon = s.find(':', start);
        parts.push_back(s.substr(start, colon - start));
        if (colon == std::string::npos)
            return parts;
        start = colon + 1;
    }
}

bool read_number(const std::string& s, long lo, long hi, int& out, int base)
{
    if (s.empty() || s.size() > 9)
        return false;
    for (char ch : s)
        if (!(base == 16 ? std::isxdigit(static_cast<unsigned char>(ch))
                         : std::isdigit(static_cast<unsigned char>(ch))))
            return false;
    long v = std::strtol(s.c_str(), nullptr, base);
    if (v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

bool plain_field(const std::string& s)
{
    if (s.empty())
        return false;
    for (char ch : s)
        if (ch == ':' || static_cast<unsigned char>(ch) <= ' ')
            return false;
    return true;
}

} // namespace comm

extern "C" int comm_get_devid_string(const char* id, char* text)
{
    if (!text)
        return COMM_ERR_ARG;
    comm::ConnParams c;
    if (comm::parse_conn_string(id, c) != 0) {
        // Unknown text: show it as it is rather than nothing.
        std::snprintf(text, COMM_STRING_SIZE, "%s", id ? id : "");
        return COMM_ERR_ARG;
    }
    std::snprintf(text, COMM_STRING_SIZE, "%s", comm::display_text(c).c_str());
    return 0;
}
