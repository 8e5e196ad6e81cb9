// Frames as the instrument sees them: encoding and a resynchronising parser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;

// Codes the simulator itself knows about.
namespace code {
constexpr std::uint16_t identity = 8007;
constexpr std::uint16_t identity_answer = 9007;
constexpr std::uint16_t busy = 12289;    // "write the command again"
constexpr std::uint16_t failure = 12290; // the command failed
constexpr std::uint16_t discovery_request = 8601;
constexpr std::uint16_t discovery_answer = 8600;
constexpr std::uint16_t answer_offset = 1000; // answer code = command code + 1000
} // namespace code

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kFrameOverhead = 13; // header plus payload check byte
constexpr std::size_t kMaxPayload = 65534; // length field is payload + 1 in 16 bits

struct Frame
{
    std::uint16_t code = 0;
    std::uint16_t param = 0; // time-out in a command, free value in an answer
    std::uint8_t status = 0;
    Bytes payload;
};

std::uint8_t xor_of(const std::uint8_t* data, std::size_t size);

// Appends the wire bytes of one frame to `out`; payloads above kMaxPayload are cut.
void encode_into(Bytes& out, std::uint16_t code, std::uint16_t param, std::uint8_t status,
                 const std::uint8_t* payload, std::size_t size);
Bytes encode(std::uint16_t code, const Bytes& payload = {}, std::uint16_t param = 0,
             std::uint8_t status = 0);
Bytes encode(const Frame& frame);

// Cuts a byte stream into checked frames. A bad header check or payload check
// drops only the start mark, so a frame hidden behind garbage is still found.
// A length field of 0 means a bare header without check byte.
class FrameParser
{
public:
    std::vector<Frame> feed(const std::uint8_t* data, std::size_t size);
    std::vector<Frame> feed(const Bytes& data) { return feed(data.data(), data.size()); }

    void reset() { pending_.clear(); }
    std::size_t pending() const { return pending_.size(); }
    std::size_t rejected() const { return rejected_; } // frames failing a check

private:
    Bytes pending_;
    std::size_t rejected_ = 0;
};

} // namespace sim
