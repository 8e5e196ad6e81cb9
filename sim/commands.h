// The command tables of the families the simulator serves, expanded from the
// command layer's .def files, so that it answers exactly what the host asks
// for.
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

// The data-buffer families: M23's transfer, M24's items, and the records
// M26 and M32 keep as files of the transfer.
struct FileSpec
{
    const char* name;
    const char* path;
    std::size_t size; // bytes; the largest where it varies
    bool write;       // the function writes the file
};

#define SIM_FILE_WRITE_READ false
#define SIM_FILE_WRITE_WRITE true
#define SIM_FILE_WRITE_INFO false
#define SIM_FILE_WRITE_READ_ARGS false
#define SIM_COMMAND_ROW(name, code, request, response, timeout, form)                              \
    {#name, code, request, response, timeout},
#define SIM_FILE_ROW(name, path, size, timeout, form) {#name, path, size, SIM_FILE_WRITE_##form},
#define SIM_CODE(name, code, request, response, timeout, form) constexpr std::uint16_t name = code;

inline constexpr CommandSpec kM23Commands[] = {
#define M23_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m23_commands.def"
#undef M23_COMMAND
};
inline constexpr CommandSpec kM24Commands[] = {
#define M24_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m24_commands.def"
#undef M24_COMMAND
};
inline constexpr FileSpec kM26Files[] = {
#define M26_FILE SIM_FILE_ROW
#include "deps/mxx_comm/mxx_comm/m26_commands.def"
#undef M26_FILE
};
inline constexpr CommandSpec kM32Commands[] = {
#define M32_COMMAND SIM_COMMAND_ROW
#define M32_FILE(...)
#include "deps/mxx_comm/mxx_comm/m32_commands.def"
#undef M32_COMMAND
#undef M32_FILE
};
inline constexpr FileSpec kM32Files[] = {
#define M32_COMMAND(...)
#define M32_FILE SIM_FILE_ROW
#include "deps/mxx_comm/mxx_comm/m32_commands.def"
#undef M32_COMMAND
#undef M32_FILE
};

// The sets derived from M30's: which M30 rows each shares (in the M30
// table's order), and the rows of its own.
struct SharedRow
{
    const char* name;
    bool m28, m34, m36;
};
inline constexpr SharedRow kM30Shared[] = {
#define M30_SHARED(row, method, m28, m34, m36) {#row, m28 != 0, m34 != 0, m36 != 0},
#define M30_SHARED_ROW(row, m28, m34, m36) {#row, m28 != 0, m34 != 0, m36 != 0},
#include "deps/mxx_comm/mxx_comm/m30_shared.def"
#undef M30_SHARED
#undef M30_SHARED_ROW
};
inline constexpr CommandSpec kM28Commands[] = {
#define M28_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m28_commands.def"
#undef M28_COMMAND
};
inline constexpr CommandSpec kM34Commands[] = {
#define M34_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m34_commands.def"
#undef M34_COMMAND
};
inline constexpr CommandSpec kM36Commands[] = {
#define M36_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m36_commands.def"
#undef M36_COMMAND
};

// The families answered from their tables alone (family_tables.h).
inline constexpr CommandSpec kM15Commands[] = {
#define M15_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m15_commands.def"
#undef M15_COMMAND
};
inline constexpr CommandSpec kM16Commands[] = {
#define M16_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m16_commands.def"
#undef M16_COMMAND
};
inline constexpr CommandSpec kM18Commands[] = {
#define M18_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m18_commands.def"
#undef M18_COMMAND
};
inline constexpr CommandSpec kM20Commands[] = {
#define M20_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m20_commands.def"
#undef M20_COMMAND
};
inline constexpr CommandSpec kM21Commands[] = {
#define M21_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m21_commands.def"
#undef M21_COMMAND
};
inline constexpr CommandSpec kM22Commands[] = {
#define M22_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m22_commands.def"
#undef M22_COMMAND
};
inline constexpr CommandSpec kM38Commands[] = {
#define M38_COMMAND SIM_COMMAND_ROW
#include "deps/mxx_comm/mxx_comm/m38_commands.def"
#undef M38_COMMAND
};

// Codes by name, as for M17 and M30 (file rows have none of their own).
namespace m23 {
#define M23_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m23_commands.def"
#undef M23_COMMAND
} // namespace m23
namespace m24 {
#define M24_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m24_commands.def"
#undef M24_COMMAND
} // namespace m24
namespace m28 {
#define M28_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m28_commands.def"
#undef M28_COMMAND
} // namespace m28
namespace m32 {
#define M32_COMMAND SIM_CODE
#define M32_FILE(...)
#include "deps/mxx_comm/mxx_comm/m32_commands.def"
#undef M32_COMMAND
#undef M32_FILE
} // namespace m32
namespace m34 {
#define M34_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m34_commands.def"
#undef M34_COMMAND
} // namespace m34
namespace m36 {
#define M36_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m36_commands.def"
#undef M36_COMMAND
} // namespace m36

namespace m15 {
#define M15_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m15_commands.def"
#undef M15_COMMAND
} // namespace m15
namespace m16 {
#define M16_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m16_commands.def"
#undef M16_COMMAND
} // namespace m16
namespace m18 {
#define M18_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m18_commands.def"
#undef M18_COMMAND
} // namespace m18
namespace m20 {
#define M20_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m20_commands.def"
#undef M20_COMMAND
} // namespace m20
namespace m21 {
#define M21_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m21_commands.def"
#undef M21_COMMAND
} // namespace m21
namespace m22 {
#define M22_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m22_commands.def"
#undef M22_COMMAND
} // namespace m22
namespace m38 {
#define M38_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/m38_commands.def"
#undef M38_COMMAND
} // namespace m38
namespace mch {
#define MCH_COMMAND SIM_CODE
#include "deps/mxx_comm/mxx_comm/mch_commands.def"
#undef MCH_COMMAND
} // namespace mch

#undef SIM_COMMAND_ROW
#undef SIM_FILE_ROW
#undef SIM_CODE
#undef SIM_FILE_WRITE_READ
#undef SIM_FILE_WRITE_WRITE
#undef SIM_FILE_WRITE_INFO
#undef SIM_FILE_WRITE_READ_ARGS

inline constexpr std::size_t kM17CommandCount = sizeof kM17Commands / sizeof kM17Commands[0];
inline constexpr std::size_t kM30CommandCount = sizeof kM30Commands / sizeof kM30Commands[0];

// nullptr when the family's table has no such code.
const CommandSpec* find_m17_command(std::uint16_t code);
const CommandSpec* find_m30_command(std::uint16_t code);

} // namespace sim
