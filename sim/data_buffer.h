// The instruments' data buffers: the M23 file transfer (files by path, loaded
// for reading and written in chunks), on which the M26 and M32 instruments
// keep their records, and the M24 numbered items.
#pragma once

#include "sim/frame.h"
#include "sim/instrument.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace sim {

// Status bytes of refused buffer commands (beside refusal:: of model.h).
namespace refusal {
constexpr std::uint8_t no_file = 10;       // no file at that path, or no such item
constexpr std::uint8_t write_refused = 11; // the file or item does not take what was written
constexpr std::uint8_t beyond = 12;        // a chunk beyond the buffer's capacity or the file's end
constexpr std::uint8_t not_loaded = 13;    // a read chunk before anything was loaded
constexpr std::uint8_t unknown_operation = 14;
} // namespace refusal

constexpr std::size_t kBufferChunk = 1024;         // bytes a chunk answer carries at most
constexpr std::size_t kBufferCapacity = 64 * 1024; // bytes the write buffer holds

// The buffer both kinds share: what was loaded for reading, and what the
// host has written since the buffer was emptied.
struct ChunkBuffer
{
    std::size_t chunk = kBufferChunk;
    std::size_t capacity = kBufferCapacity;
    std::optional<Bytes> loaded;
    Bytes written;
    std::size_t held = 0; // bytes written so far (the highest end of a chunk)

    Answer read_chunk(const Bytes& request) const;
    Answer write_chunk(const Bytes& request);
    Bytes take_written(); // and empty the buffer
    Bytes status_info() const;
};

// An M23 file store. Plain files answer what was stored; a served path
// computes the file from the load's two arguments, and a write handler takes
// what the host stores (false refuses it). Thread-safe.
class FileStore
{
public:
    using Reader = std::function<std::optional<Bytes>(std::uint32_t arg1, std::uint32_t arg2)>;
    using Writer = std::function<bool(const Bytes& content)>;

    explicit FileStore(std::size_t chunk = kBufferChunk, std::size_t capacity = kBufferCapacity);

    void put(const std::string& path, Bytes content);
    std::optional<Bytes> get(const std::string& path, std::uint32_t arg1 = 0,
                             std::uint32_t arg2 = 0) const;
    // `size` answers the file information (operation 2) where the file
    // loaded depends on the arguments; without it the file at (0, 0) does.
    void serve(const std::string& path, Reader reader,
               std::function<std::uint32_t()> size = nullptr);
    void on_write(const std::string& path, Writer writer);
    // The last store's arguments and the bytes it stored, for tests.
    std::uint32_t stores() const;

    // Rules for the buffer operation, the two chunk commands and the status
    // information on the instrument; the store must outlive them.
    void install(Instrument& instrument, std::shared_ptr<FileStore> self);
    Bytes status_info() const;

private:
    Answer operation(const Bytes& request);

    mutable std::mutex mutex_;
    ChunkBuffer buffer_;
    std::map<std::string, Bytes> files_;
    std::map<std::string, Reader> readers_;
    std::map<std::string, std::function<std::uint32_t()>> sizes_;
    std::map<std::string, Writer> writers_;
    std::uint32_t stores_ = 0;
};

// M24's numbered items: 1 status, 2 and 3 parameters, 4 and 5 MCA
// parameters, 6 and 7 the memory (argument 1 the address, 2 the length).
class ItemStore
{
public:
    ItemStore();

    Bytes params() const;
    Bytes mca_params() const;
    Bytes memory(std::size_t address, std::size_t length) const;

    void install(Instrument& instrument, std::shared_ptr<ItemStore> self);

private:
    Answer operation(const Bytes& request);

    mutable std::mutex mutex_;
    ChunkBuffer buffer_;
    Bytes status_, params_, mca_params_, memory_;
};

extern const char* const kDataBufferHelp;

} // namespace sim
