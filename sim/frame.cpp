#include "sim/frame.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace detail {

constexpr std::uint8_t kStart[4] = {'B', 'R', 'N', 'O'};

void put16(Bytes& out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v & 0xff));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::uint16_t get16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace detail

// Eight bytes at a time: large answers are checked on every exchange.
std::uint8_t xor_of(const std::uint8_t* data, std::size_t size)
{
    std::uint64_t wide = 0;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        std::uint64_t w;
        std::memcpy(&w, data + i, 8);
        wide ^= w;
    }
    wide ^= wide >> 32;
    wide ^= wide >> 16;
    wide ^= wide >> 8;
    auto x = static_cast<std::uint8_t>(wide);
    for (; i < size; ++i)
        x ^= data[i];
    return x;
}

void encode_into(Bytes& out, std::uint16_t code, std::uint16_t param, std::uint8_t status,
                 const std::uint8_t* payload, std::size_t size)
{
    size = std::min(size, kMaxPayload);
    const std::size_t head = out.size();
    out.reserve(head + size + kFrameOverhead);
    out.insert(out.end(), std::begin(detail::kStart), std::end(detail::kStart));
    detail::put16(out, code);
    detail::put16(out, static_cast<std::uint16_t>(size + 1));
    detail::put16(out, param);
    out.push_back(status);
    out.push_back(xor_of(out.data() + head, kHeaderSize - 1));
    out.insert(out.end(), payload, payload + size);
    out.push_back(xor_of(payload, size));
}

Bytes encode(std::uint16_t code, const Bytes& payload, std::uint16_t param, std::uint8_t status)
{
    Bytes out;
    encode_into(out, code, param, status, payload.data(), payload.size());
    return out;
}

Bytes encode(const Frame& frame)
{
    return encode(frame.code, frame.payload, frame.param, frame.status);
}

std::vector<Frame> FrameParser::feed(const std::uint8_t* data, std::size_t size)
{
    pending_.insert(pending_.end(), data, data + size);
    std::vector<Frame> frames;
    std::size_t pos = 0;
    while (true) {
        auto start = std::search(pending_.begin() + pos, pending_.end(), std::begin(detail::kStart),
                                 std::end(detail::kStart));
        if (start == pending_.end()) {
            pos = std::max(pos, pending_.size() >= 3 ? pending_.size() - 3 : std::size_t{0});
            break;
        }
        pos = static_cast<std::size_t>(start - pending_.begin());
        if (pending_.size() - pos < kHeaderSize)
            break;
        const std::uint8_t* p = pending_.data() + pos;
        if (xor_of(p, kHeaderSize) != 0) {
            ++rejected_;
            ++pos;
            continue;
        }
        const std::size_t length = detail::get16(p + 6);
        if (pending_.size() - pos < kHeaderSize + length)
            break;
        if (length > 0 && xor_of(p + kHeaderSize, length) != 0) {
            ++rejected_;
            ++pos;
            continue;
        }
        Frame f;
        f.code = detail::get16(p + 4);
        f.param = detail::get16(p + 8);
        f.status = p[10];
        if (length > 1)
            f.payload.assign(p + kHeaderSize, p + kHeaderSize + length - 1);
        frames.push_back(std::move(f));
        pos += kHeaderSize + length;
    }
    // Keep only what may still begin a frame: a partial frame, or the tail
    // that could be the first bytes of a start mark.
    if (pos >= pending_.size()) {
        pending_.clear();
    } else if (pending_.size() - pos < 4) {
        std::size_t keep = pending_.size() - pos;
        while (keep > 0 && !std::equal(pending_.end() - static_cast<std::ptrdiff_t>(keep),
                                       pending_.end(), std::begin(detail::kStart)))
            --keep;
        pending_.erase(pending_.begin(), pending_.end() - static_cast<std::ptrdiff_t>(keep));
    } else {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pos));
    }
    return frames;
}

} // namespace sim
