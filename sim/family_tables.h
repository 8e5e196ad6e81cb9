// The families the simulator answers from their command tables alone (M15,
// M16, M18, M20, M21, M22, M38), the events they send, and MCH's messages.
#pragma once

#include "sim/commands.h"
#include "sim/frame.h"
#include "sim/instrument.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Sets a rule for every command of the family's table (nothing for another
// family), over the M17 set the model installed and after the pose, as M15's
// and M16's queries are commands of their sets: answers of exactly the table's size, a request of
// another size refused with status 2. What a set or write command takes, its get or read partner
// answers (at the start of its answer; by index where the partner reads by index); named files are
// kept by name.
void install_table_family(Instrument& instrument, const std::string& family);

// Event payload layouts of the host's headers (m15_comm.h, m22_comm.h,
// m38_comm.h); counts are cut to 16 bits where the layout holds 16.
struct SpectrumValues
{
    std::uint32_t live = 0, clock = 0, total = 0, sequence = 0;
    std::vector<std::uint32_t> counts;
};
Frame probe_spectrum_event(const SpectrumValues& v);                 // M15, M16: 2020
Frame m22_spectrum_event(const SpectrumValues& v, std::uint16_t adc, // M22: 8350
                         std::uint32_t total1, std::uint32_t total2, std::uint16_t fwhm);
Frame m38_spectrum_event(const SpectrumValues& v1024, const SpectrumValues& v256); // M38: 9000

// The event frames of tick `n` (from 1) of an instrument of one of these
// families (M15, M16, M20, M21, M22, M38 have events); none for others.
bool table_family_has_events(const std::string& family);
std::vector<Frame> table_family_events(const std::string& family, std::uint32_t seed,
                                       std::uint32_t n);

extern const char* const kTableFamilyHelp;

} // namespace sim
