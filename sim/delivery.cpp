#include "sim/delivery.h"

#include <algorithm>

namespace sim {

namespace detail {

void append_split(std::vector<Bytes>& writes, const Bytes& bytes, std::size_t split)
{
    if (split == 0) {
        writes.push_back(bytes);
        return;
    }
    for (std::size_t at = 0; at < bytes.size(); at += split) {
        const std::size_t n = std::min(split, bytes.size() - at);
        writes.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
}

} // namespace detail

std::vector<Bytes> shape(std::vector<Bytes> frames, const Delivery& delivery)
{
    std::vector<Bytes> writes;
    if (frames.empty())
        return writes;
    if (frames.size() == 1 && delivery.stray.empty() && delivery.split == 0)
        return frames; // the common case: one answer, one write, no copy
    if (delivery.separate) {
        Bytes first = delivery.stray;
        first.insert(first.end(), frames.front().begin(), frames.front().end());
        detail::append_split(writes, first, delivery.split);
        for (std::size_t i = 1; i < frames.size(); ++i)
            detail::append_split(writes, frames[i], delivery.split);
        return writes;
    }
    Bytes all = delivery.stray;
    for (const Bytes& f : frames)
        all.insert(all.end(), f.begin(), f.end());
    detail::append_split(writes, all, delivery.split);
    return writes;
}

} // namespace sim
