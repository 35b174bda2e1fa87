// runeflip's line reader and output buffer (see line_io.hpp).
#include "line_io.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "io.hpp"

namespace {
// Block read from the input at once; a line up to this long needs no copy.
#ifdef RUNEKIT_FLIP_BLOCK_SIZE
constexpr std::size_t block_bytes = RUNEKIT_FLIP_BLOCK_SIZE;
#else
constexpr std::size_t block_bytes = std::size_t{1} << 20;
#endif

// Appends bytes to the spill buffer; false if the storage is not available.
[[nodiscard]] bool spill(line_reader &r, const unsigned char *bytes, std::size_t count) noexcept
{
    if (count > SIZE_MAX - r.spill_used || !reserve_bytes(r.spill, r.spill_used + count))
        return false;
    std::memcpy(r.spill.data() + r.spill_used, bytes, count);
    r.spill_used += count;
    return true;
}

// Refills the block from the descriptor; false on a read error, with
// r.error set.
[[nodiscard]] bool refill(line_reader &r) noexcept
{
    const ssize_t got = read_once(r.fd, r.block.data(), r.block.size);
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

bool reserve_bytes(padded_bytes &b, std::size_t needed) noexcept
{
    if (needed <= b.size)
        return true;
    const std::size_t size = b.size > needed / 2 && b.size <= SIZE_MAX / 2 ? 2 * b.size : needed;
    if (size > SIZE_MAX - 2 * line_padding)
        return false;
    // A first allocation comes zeroed from calloc, which touches no page of
    // a large one; a grown one has its new part zeroed here.
    void *grown = b.memory == nullptr ? std::calloc(1, size + 2 * line_padding)
                                      : std::realloc(b.memory, size + 2 * line_padding);
    if (grown == nullptr)
        return false;
    if (b.memory != nullptr)
        std::memset(static_cast<unsigned char *>(grown) + line_padding + b.size, 0, size - b.size + line_padding);
    b.memory = static_cast<unsigned char *>(grown);
    b.size = size;
    return true;
}

bool open_reader(line_reader &r, int fd) noexcept
{
    r.fd = fd;
    if (!reserve_bytes(r.block, block_bytes))
        return false;
    r.text = r.block.data();
    return true;
}

// A line that lies wholly within the block is handed out in place; one that
// crosses the block's end is gathered in the spill buffer.
read_status read_line(line_reader &r, std::span<const unsigned char> &line) noexcept
{
    r.spill_used = 0;
    bool pending = false;  // bytes of an unfinished line are in the spill buffer
    for (;;) {
        const unsigned char *from = r.text + r.start;
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
            line = {r.spill.data(), r.spill_used};
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
    line = {r.spill.data(), r.spill_used};
    return pending ? read_status::line : read_status::end;
}

int flush_output(output_buffer &out, int fd) noexcept
{
    std::size_t done = 0;
    while (done < out.used) {
        const ssize_t put = ::write(fd, out.bytes.data() + done, out.used - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return put < 0 ? errno : EIO;
        done += static_cast<std::size_t>(put);
    }
    out.used = 0;
    return 0;
}
