// The orvisk-sim command line.
#pragma once

#include "sim/simulator.h"

#include <string>
#include <vector>

namespace sim {

struct ParsedOptions
{
    SimOptions options;
    bool help = false;
    std::string error; // non-empty: the line is not usable
};

ParsedOptions parse_options(const std::vector<std::string>& args); // without the program name
std::string help_text();

// "HOST:PORT", "[IPV6]:PORT" or "PORT"; false when it is none of them.
bool parse_host_port(const std::string& text, std::string& host, std::uint16_t& port);

} // namespace sim
