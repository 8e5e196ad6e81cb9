// The command sets and events of the families beyond M17 and M30 that the
// simulator poses as: M24's items, M26's and M32's files of the data buffer,
// and the sets derived from M30's (M28, M34, M36), made from their tables.
#pragma once

#include "sim/data_buffer.h"
#include "sim/frame.h"
#include "sim/instrument.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// The M26's stabilisation log and the values its files report.
class M26State
{
public:
    explicit M26State(std::uint32_t seed);

    // A stabilisation finished: one more record in the log.
    void add_stab_entry();
    std::size_t stab_entries() const;
    // Records the log holds at most; the oldest goes when it is full.
    static constexpr std::size_t kLogCapacity = 32;

    void install(FileStore& files, std::shared_ptr<M26State> self);

private:
    Bytes status();
    Bytes stab_info() const;
    std::optional<Bytes> stab_entry(std::uint32_t index, std::uint32_t base) const;
    Bytes spectrum(std::size_t channels, bool stabilisation);

    mutable std::mutex mutex_;
    std::uint32_t seed_;
    std::uint32_t reads_ = 0;
    // A spectrum file holds the last whole second's spectrum, numbered by
    // the seconds since the instrument started: reading it twice within a
    // second gives the same spectrum again.
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::vector<Bytes> log_; // the oldest first
    std::uint32_t base_ = 0, first_id_ = 1, next_id_ = 1;
};

// What a family adds over the model's M17 and M30 answers. Null members
// where the family has none.
struct FamilySet
{
    std::shared_ptr<FileStore> files; // M26, M32: the data-buffer file store
    std::shared_ptr<ItemStore> items; // M24
    std::shared_ptr<M26State> m26;    // M26
    std::string family;

    // The event frames of one tick for a family without the M30 stream
    // (M24 spectrum 8601, the data buffer's status 9405); none for others.
    std::vector<Frame> tick(std::uint32_t n) const;
    // The M30 stream's frames as a derived family sends them: only the
    // events it has, the M28's accumulated spectrum, message and Cs
    // calibration in their own form.
    std::vector<Frame> adapt(std::vector<Frame> m30_frames) const;
    bool has_events() const;
};

// Installs the family's rules on an instrument whose model already answers
// the M17 set (and the M30 set, for M28, M34, M36, of which the rows the
// family lacks are taken away).
FamilySet install_family_set(const std::string& family, Instrument& instrument, std::uint32_t seed);

extern const char* const kFamilySetHelp;

} // namespace sim
