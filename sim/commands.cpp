#include "sim/commands.h"

namespace sim {

namespace detail {

template <std::size_t N>
const CommandSpec* find_in(const CommandSpec (&table)[N], std::uint16_t code)
{
    for (const CommandSpec& c : table)
        if (c.code == code)
            return &c;
    return nullptr;
}

} // namespace detail

const CommandSpec* find_m17_command(std::uint16_t code)
{
    return detail::find_in(kM17Commands, code);
}

const CommandSpec* find_m30_command(std::uint16_t code)
{
    return detail::find_in(kM30Commands, code);
}

} // namespace sim
