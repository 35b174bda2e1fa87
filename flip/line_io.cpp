#include "line_io.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "io.hpp"

namespace {
// Block read from the input at once; a line up to this long needs no copy.
constexpr std::size_t block_bytes = std::size_t{1} << 20;
// First size of the spill buffer; it doubles from there.
constexpr std::size_t first_spill_bytes = std::size_t{1} << 12;

// Smallest size reached by doubling `size` (at least `floor`) that holds
// `needed`, or 0 if that would overflow.
[[nodiscard]] std::size_t doubled_size(std::size_t size, std::size_t floor, std::size_t needed) noexcept
{
    if (size < floor)
        size = floor;
    while (size < needed) {
        if (size > SIZE_MAX / 2)
            return 0;
        size *= 2;
    }
    return size;
}

// Appends bytes to the spill buffer, growing it geometrically so that a long
// line costs linear time. false if the storage is not available.
[[nodiscard]] bool spill(line_reader &r, const unsigned char *bytes, std::size_t count) noexcept
{
    if (count > SIZE_MAX - r.spill_used)
        return false;
    const std::size_t needed = r.spill_used + count;
    if (needed > r.spill_size) {
        const std::size_t size = doubled_size(r.spill_size, first_spill_bytes, needed);
        // The allocation has line_padding bytes before and after the buffer,
        // all of it initialised (vector loads read beyond the line).
        const bool first = r.spill_memory == nullptr;
        void *grown = size != 0 && size <= SIZE_MAX - 2 * line_padding
                          ? std::realloc(r.spill_memory, size + 2 * line_padding)
                          : nullptr;
        if (grown == nullptr)
            return false;
        r.spill_memory = static_cast<unsigned char *>(grown);
        if (first)
            std::memset(r.spill_memory, 0, line_padding);
        std::memset(r.spill_memory + line_padding + r.spill_size, 0, size - r.spill_size + line_padding);
        r.spill = r.spill_memory + line_padding;
        r.spill_size = size;
    }
    std::memcpy(r.spill + r.spill_used, bytes, count);
    r.spill_used = needed;
    return true;
}

// Refills the block from the descriptor; false on a read error, with
// r.error set.
[[nodiscard]] bool refill(line_reader &r) noexcept
{
    const ssize_t got = read_once(r.fd, r.block, r.block_size);
    if (got < 0) {
        r.error = errno;
        return false;
    }
    r.start = 0;
    r.end = static_cast<std::size_t>(got);
    r.at_end = got == 0;
    return true;
}
}  // namespace

bool open_reader(line_reader &r, int fd) noexcept
{
    r = line_reader{};
    r.fd = fd;
    // Zeroed, so that the padding and the bytes beyond a short read are
    // initialised for the vector loads that reach them.
    r.block_memory = static_cast<unsigned char *>(std::calloc(1, block_bytes + 2 * line_padding));
    r.block = r.block_memory != nullptr ? r.block_memory + line_padding : nullptr;
    r.block_size = block_bytes;
    return r.block != nullptr;
}

void close_reader(line_reader &r) noexcept
{
    std::free(r.block_memory);
    std::free(r.spill_memory);
    r.block = r.spill = r.block_memory = r.spill_memory = nullptr;
}

// A line that lies wholly within the block is handed out in place; one that
// crosses the block's end is gathered in the spill buffer.
read_status read_line(line_reader &r, std::span<const unsigned char> &line) noexcept
{
    r.spill_used = 0;
    bool pending = false;  // bytes of an unfinished line are in the spill buffer
    for (;;) {
        const unsigned char *from = r.block + r.start;
        const std::size_t left = r.end - r.start;
        const auto *newline = static_cast<const unsigned char *>(std::memchr(from, '\n', left));
        if (newline != nullptr) {
            const auto count = static_cast<std::size_t>(newline - from);
            r.start += count + 1;
            if (!pending) {
                line = {from, count};
                return read_status::line;
            }
            if (!spill(r, from, count))
                return read_status::no_memory;
            line = {r.spill, r.spill_used};
            return read_status::line;
        }
        if (left != 0) {
            if (!spill(r, from, left))
                return read_status::no_memory;
            pending = true;
            r.start = r.end;
        }
        if (r.at_end || !refill(r))
            break;
    }
    if (!r.at_end)
        return read_status::read_error;
    line = {r.spill, r.spill_used};
    return pending ? read_status::line : read_status::end;
}

bool open_output(output_buffer &out, std::size_t size) noexcept
{
    out.data = static_cast<unsigned char *>(std::malloc(size + line_padding));
    out.size = out.data != nullptr ? size : 0;
    out.used = 0;
    return out.data != nullptr;
}

int flush_output(output_buffer &out, int fd) noexcept
{
    std::size_t done = 0;
    while (done < out.used) {
        const ssize_t put = ::write(fd, out.data + done, out.used - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? errno : EIO;
        done += static_cast<std::size_t>(put);
    }
    out.used = 0;
    return 0;
}

bool grow_output(output_buffer &out, std::size_t needed) noexcept
{
    const std::size_t size = doubled_size(out.size, 1, needed);
    void *grown = size != 0 && size <= SIZE_MAX - line_padding ? std::malloc(size + line_padding) : nullptr;
    if (grown == nullptr)
        return false;
    std::free(out.data);
    out.data = static_cast<unsigned char *>(grown);
    out.size = size;
    return true;
}
