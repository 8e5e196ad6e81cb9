// The simulated instrument's command sets: rules for every M17 and M30
// command, expanded from the command tables, with the state that set
// commands, the external flash and the transmit buffer keep.
#pragma once

#include "sim/commands.h"
#include "sim/frame.h"
#include "sim/instrument.h"
#include "sim/survey_store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace sim {

// Status bytes of refused commands.
namespace refusal {
constexpr std::uint8_t bad_length = 2;    // the request is not the command's size
constexpr std::uint8_t bad_argument = 3;  // a value out of range (page, clock field, flag)
constexpr std::uint8_t unknown_kind = 4;  // transmit buffer: a kind other than 1 and 3
constexpr std::uint8_t unknown_index = 5; // transmit buffer: no record with that index
constexpr std::uint8_t bad_handle = 6;    // chunk request: not the handle of the last info
constexpr std::uint8_t bad_selector = 7;  // chunk request: not the selector of the prepare
constexpr std::uint8_t not_prepared = 8;  // chunk request before a successful prepare
constexpr std::uint8_t bad_offset = 9;    // chunk request beyond the item's end
} // namespace refusal

constexpr std::size_t kMaxChunk = 8170;
constexpr std::size_t kFlashPages = 4096;
constexpr std::size_t kFlashPageSize = 64;

struct ModelConfig
{
    bool m30 = true;               // the M30 command set; otherwise the M17 set alone
    std::size_t chunk = kMaxChunk; // item bytes per chunk, 1 to kMaxChunk
    std::string firmware = "2.14.3";
    std::uint32_t seed = 1; // of the transfer handles
};

namespace detail {
struct ModelState;
}

class Model
{
public:
    Model(std::shared_ptr<Instrument> instrument, std::shared_ptr<const SurveyStore> store,
          ModelConfig config);
    ~Model();
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;

    // Sets the rules of every command of the configured set on the instrument.
    void install();

    // Observation, safe from any thread.
    std::int64_t clock_offset() const;                 // seconds the instrument's clock is ahead
    std::uint32_t handle() const;                      // of the last info; 0 before the first
    Bytes stored(std::uint16_t get_code) const;        // what a get answers now
    std::size_t answer_size(std::uint16_t code) const; // largest answer, by the tables

private:
    std::shared_ptr<Instrument> instrument_;
    std::shared_ptr<detail::ModelState> state_;
};

extern const char* const kCommandHelp;

} // namespace sim
