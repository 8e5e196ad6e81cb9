// The M17 and M30 command tables, expanded from the command layer's .def
// files, so that the simulator answers exactly what the host asks for.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

struct CommandSpec
{
    const char* name; // the command function is <FAMILY>_<name>
    std::uint16_t code;
    std::size_t request;  // bytes
    std::size_t response; // bytes; the largest answer where it varies
    int timeout_ms;
};

inline constexpr CommandSpec kM17Commands[] = {
#define M17_COMMAND(name, code, request, response, timeout, form)                                  \
    {#name, code, request, response, timeout},
#include "deps/mxx_comm/mxx_comm/m17_commands.def"
#undef M17_COMMAND
};

inline constexpr CommandSpec kM30Commands[] = {
#define M30_COMMAND(name, code, request, response, timeout, form)                                  \
    {#name, code, request, response, timeout},
#include "deps/mxx_comm/mxx_comm/m30_commands.def"
#undef M30_COMMAND
};

// Command codes by name: m17::set_serial, m30::tx_buff_get and so on.
namespace m17 {
#define M17_COMMAND(name, code, request, response, timeout, form)                                  \
    constexpr std::uint16_t name = code;
#include "deps/mxx_comm/mxx_comm/m17_commands.def"
#undef M17_COMMAND
} // namespace m17
namespace m30 {
#define M30_COMMAND(name, code, request, response, timeout, form)                                  \
    constexpr std::uint16_t name = code;
#include "deps/mxx_comm/mxx_comm/m30_commands.def"
#undef M30_COMMAND
} // namespace m30

inline constexpr std::size_t kM17CommandCount = sizeof kM17Commands / sizeof kM17Commands[0];
inline constexpr std::size_t kM30CommandCount = sizeof kM30Commands / sizeof kM30Commands[0];

// nullptr when the family's table has no such code.
const CommandSpec* find_m17_command(std::uint16_t code);
const CommandSpec* find_m30_command(std::uint16_t code);

} // namespace sim
