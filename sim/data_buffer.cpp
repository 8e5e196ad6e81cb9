#include "sim/data_buffer.h"

#include "sim/bytes.h"
#include "sim/commands.h"
#include "sim/model.h"

#include <algorithm>
#include <cstring>

namespace sim {

const char* const kDataBufferHelp =
    "  M26 and M32 keep their records as files of a data buffer (the M23\n"
    "  transfer): the buffer operation (8402) with a path gives the buffer's\n"
    "  chunk size (1024) and capacity (65536) and empties it (1), a file's size\n"
    "  (2), loads a file for reading (3) or stores what was written as a file (4,\n"
    "  answering the bytes stored in bytes 8-11); chunks are read at 8404 and\n"
    "  written at 8403, and 8405 answers the buffer's state and bytes held.\n"
    "  Refusals: 10 no such file, 11 the file does not take it, 12 beyond the\n"
    "  buffer or the file, 13 nothing loaded, 14 unknown operation. M24 keeps\n"
    "  numbered items in the same kind of buffer (8402 loads or stores an item).\n";

namespace detail {

Answer refused(std::uint8_t status)
{
    return Answer{{}, status, 0};
}

Bytes sized(std::size_t size)
{
    return Bytes(size, 0);
}

} // namespace detail

Answer ChunkBuffer::read_chunk(const Bytes& request) const
{
    if (request.size() != 8)
        return detail::refused(refusal::bad_length);
    if (!loaded)
        return detail::refused(refusal::not_loaded);
    const std::size_t offset = detail::get32(request, 0), length = detail::get32(request, 4);
    if (offset > loaded->size())
        return detail::refused(refusal::beyond);
    const std::size_t n = std::min({length, chunk, loaded->size() - offset});
    const auto from = loaded->begin() + static_cast<std::ptrdiff_t>(offset);
    return Answer{Bytes(from, from + static_cast<std::ptrdiff_t>(n))};
}

Answer ChunkBuffer::write_chunk(const Bytes& request)
{
    if (request.size() < 8 || request.size() != 8 + std::size_t{detail::get32(request, 4)})
        return detail::refused(refusal::bad_length);
    const std::size_t offset = detail::get32(request, 0), n = request.size() - 8;
    if (offset > capacity || n > capacity - offset)
        return detail::refused(refusal::beyond);
    if (written.size() < offset + n)
        written.resize(offset + n, 0);
    std::copy(request.begin() + 8, request.end(),
              written.begin() + static_cast<std::ptrdiff_t>(offset));
    held = std::max(held, offset + n);
    return Answer{};
}

Bytes ChunkBuffer::take_written()
{
    Bytes out(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(held));
    written.clear();
    held = 0;
    return out;
}

Bytes ChunkBuffer::status_info() const
{
    Bytes out(8, 0);
    detail::put32(out.data(), held ? 2 : loaded ? 1 : 0);
    detail::put32(out.data() + 4, static_cast<std::uint32_t>(held));
    return out;
}

FileStore::FileStore(std::size_t chunk, std::size_t capacity)
{
    buffer_.chunk = chunk;
    buffer_.capacity = capacity;
}

void FileStore::put(const std::string& path, Bytes content)
{
    std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = std::move(content);
}

std::optional<Bytes> FileStore::get(const std::string& path, std::uint32_t arg1,
                                    std::uint32_t arg2) const
{
    Reader reader;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = readers_.find(path);
        if (it == readers_.end()) {
            auto f = files_.find(path);
            return f == files_.end() ? std::nullopt : std::optional<Bytes>(f->second);
        }
        reader = it->second;
    }
    return reader(arg1, arg2); // readers keep state of their own
}

void FileStore::serve(const std::string& path, Reader reader, std::function<std::uint32_t()> size)
{
    std::lock_guard<std::mutex> lock(mutex_);
    readers_[path] = std::move(reader);
    if (size)
        sizes_[path] = std::move(size);
}

void FileStore::on_write(const std::string& path, Writer writer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    writers_[path] = std::move(writer);
}

std::uint32_t FileStore::stores() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stores_;
}

Bytes FileStore::status_info() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return buffer_.status_info();
}

Answer FileStore::operation(const Bytes& r)
{
    if (r.size() != 44)
        return detail::refused(refusal::bad_length);
    const std::uint32_t op = detail::get32(r, 0), arg1 = detail::get32(r, 28),
                        arg2 = detail::get32(r, 32);
    const auto field = r.begin() + 4;
    const std::string path(field, std::find(field, field + 21, 0));
    Answer a{detail::sized(28)};
    std::uint8_t* b = a.payload.data();
    switch (op) {
    case 1: {
        std::lock_guard<std::mutex> lock(mutex_);
        detail::put32(b + 12, static_cast<std::uint32_t>(buffer_.chunk));
        detail::put32(b + 20, static_cast<std::uint32_t>(buffer_.capacity));
        detail::put32(b + 24, static_cast<std::uint32_t>(buffer_.take_written().size()));
        return a;
    }
    case 2:
    case 3: {
        std::function<std::uint32_t()> size;
        if (op == 2) {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = sizes_.find(path);
            if (it != sizes_.end())
                size = it->second;
        }
        if (size) {
            detail::put32(b, size());
            return a;
        }
        std::optional<Bytes> file = get(path, arg1, arg2);
        if (!file)
            return detail::refused(refusal::no_file);
        detail::put32(b + (op == 2 ? 0 : 4), static_cast<std::uint32_t>(file->size()));
        std::lock_guard<std::mutex> lock(mutex_);
        if (op == 3) {
            detail::put32(b + 16, static_cast<std::uint32_t>(buffer_.chunk));
            buffer_.loaded = std::move(file);
        }
        return a;
    }
    case 4: {
        Bytes content;
        Writer writer;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            content = buffer_.take_written();
            auto it = writers_.find(path);
            if (it != writers_.end())
                writer = it->second;
        }
        if (writer ? !writer(content) : path.empty())
            return detail::refused(refusal::write_refused);
        std::lock_guard<std::mutex> lock(mutex_);
        if (!writer)
            files_[path] = content;
        ++stores_;
        detail::put32(b + 8, static_cast<std::uint32_t>(content.size()));
        return a;
    }
    default:
        return detail::refused(refusal::unknown_operation);
    }
}

void FileStore::install(Instrument& instrument, std::shared_ptr<FileStore> self)
{
    instrument.set_rule(m23::data_buff_op, Rule::compute([self](const Frame& f) {
                            return std::optional<Answer>(self->operation(f.payload));
                        }));
    instrument.set_rule(m23::file_write, Rule::compute([self](const Frame& f) {
                            std::lock_guard<std::mutex> lock(self->mutex_);
                            return std::optional<Answer>(self->buffer_.write_chunk(f.payload));
                        }));
    instrument.set_rule(m23::file_read, Rule::compute([self](const Frame& f) {
                            std::lock_guard<std::mutex> lock(self->mutex_);
                            return std::optional<Answer>(self->buffer_.read_chunk(f.payload));
                        }));
    instrument.set_rule(m23::get_status_info, Rule::compute([self](const Frame&) {
                            return std::optional<Answer>(Answer{self->status_info()});
                        }));
}

ItemStore::ItemStore() : status_(64, 0), params_(128, 0), mca_params_(32, 0), memory_(64 * 1024, 0)
{
    detail::put32(status_.data(), 2);     // model number
    detail::put32(status_.data() + 4, 1); // measuring
    detail::putf(status_.data() + 8, 0.11f);
    detail::put32(status_.data() + 12, 240);
    for (std::size_t i = 0; i < params_.size(); ++i)
        params_[i] = static_cast<std::uint8_t>(i);
    detail::put32(mca_params_.data(), 1024); // channels
    for (std::size_t i = 0; i < memory_.size(); ++i)
        memory_[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
}

Bytes ItemStore::params() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return params_;
}

Bytes ItemStore::mca_params() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return mca_params_;
}

Bytes ItemStore::memory(std::size_t address, std::size_t length) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (address > memory_.size() || length > memory_.size() - address)
        return {};
    const auto from = memory_.begin() + static_cast<std::ptrdiff_t>(address);
    return Bytes(from, from + static_cast<std::ptrdiff_t>(length));
}

Answer ItemStore::operation(const Bytes& r)
{
    if (r.size() != 16)
        return detail::refused(refusal::bad_length);
    const std::uint32_t item = detail::get32(r, 0), address = detail::get32(r, 4),
                        length = detail::get32(r, 8), written = detail::get32(r, 12);
    std::lock_guard<std::mutex> lock(mutex_);
    const bool inMemory = address <= memory_.size() && length <= memory_.size() - address;
    const auto at = memory_.begin() + static_cast<std::ptrdiff_t>(inMemory ? address : 0);
    Bytes* record = item <= 3 ? &params_ : &mca_params_;
    switch (item) {
    case 1:
    case 2:
    case 4:
    case 6: {
        if (item == 6 && !inMemory)
            return detail::refused(refusal::beyond);
        buffer_.loaded = item == 1   ? status_
                         : item == 6 ? Bytes(at, at + static_cast<std::ptrdiff_t>(length))
                                     : *record;
        Answer a{detail::sized(8)};
        detail::put32(a.payload.data(), static_cast<std::uint32_t>(buffer_.loaded->size()));
        detail::put32(a.payload.data() + 4, static_cast<std::uint32_t>(buffer_.chunk));
        return a;
    }
    case 3:
    case 5:
    case 7: {
        Bytes content = buffer_.take_written();
        const std::size_t want = item == 7 ? length : record->size();
        if (content.size() != written || content.size() != want || (item == 7 && !inMemory))
            return detail::refused(refusal::write_refused);
        std::copy(content.begin(), content.end(), item == 7 ? at : record->begin());
        return Answer{detail::sized(8)};
    }
    default:
        return detail::refused(refusal::no_file);
    }
}

void ItemStore::install(Instrument& instrument, std::shared_ptr<ItemStore> self)
{
    instrument.set_rule(m24::test, Rule::compute([](const Frame& f) {
                            return std::optional<Answer>(
                                f.payload.size() == 24 ? Answer{f.payload}
                                                       : detail::refused(refusal::bad_length));
                        }));
    instrument.set_rule(m24::data_buff_op, Rule::compute([self](const Frame& f) {
                            return std::optional<Answer>(self->operation(f.payload));
                        }));
    instrument.set_rule(m24::data_buff_write, Rule::compute([self](const Frame& f) {
                            std::lock_guard<std::mutex> lock(self->mutex_);
                            return std::optional<Answer>(self->buffer_.write_chunk(f.payload));
                        }));
    instrument.set_rule(m24::data_buff_read, Rule::compute([self](const Frame& f) {
                            std::lock_guard<std::mutex> lock(self->mutex_);
                            return std::optional<Answer>(self->buffer_.read_chunk(f.payload));
                        }));
}

} // namespace sim
