// runeflip's line reader and output buffer (see line_io.hpp).
#include "line_io.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <unistd.h>

#include "io.hpp"

namespace {
// Bytes asked of each read(2), whatever the input is: a regular file gives
// that many, a pipe no more than it holds, so asking a pipe for less would
// save nothing. Test builds ask for a few bytes at a time, so that lines
// often cross the ends of reads.
#ifdef RUNEKIT_FLIP_BLOCK_SIZE
constexpr std::size_t read_bytes = RUNEKIT_FLIP_BLOCK_SIZE;
#else
constexpr std::size_t read_bytes = std::size_t{1} << 20;
#endif

// Reads more behind what the block holds, the unfinished line first moved
// to the front of the block. Returns `line` when that went well.
[[nodiscard]] read_status refill(line_reader &r) noexcept
{
    const std::size_t left = r.end - r.start;
    if (r.start != 0)
        std::memmove(r.block.data(), r.block.data() + r.start, left);
    r.start = 0;
    r.end = left;
    if (left > SIZE_MAX - read_bytes || !reserve_bytes(r.block, left + read_bytes))
        return read_status::no_memory;
    const ssize_t got = read_once(r.fd, r.block.data() + left, read_bytes);
    if (got < 0) {
        r.error = errno;
        return read_status::read_error;
    }
    r.end = left + static_cast<std::size_t>(got);
    r.at_end = got == 0;
    return read_status::line;
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
    // Room for a read behind an unfinished line as long as a read; only the
    // pages that reads fill are ever touched.
    return reserve_bytes(r.block, 2 * read_bytes);
}

read_status read_line(line_reader &r, std::span<const unsigned char> &line) noexcept
{
    std::size_t seek = r.start;  // where the search for the newline goes on
    for (;;) {
        const unsigned char *text = r.block.data();
        const auto *newline = static_cast<const unsigned char *>(std::memchr(text + seek, '\n', r.end - seek));
        if (newline != nullptr) {
            const auto after = static_cast<std::size_t>(newline - text) + 1;
            line = {text + r.start, after - 1 - r.start};
            r.start = after;
            return read_status::line;
        }
        if (r.at_end) {
            line = {text + r.start, r.end - r.start};
            const bool last = r.start != r.end;
            r.start = r.end;
            return last ? read_status::line : read_status::end;
        }
        seek = r.end - r.start;  // where it is once the line is moved to the front
        if (const read_status got = refill(r); got != read_status::line)
            return got;
    }
}

int flush_output(output_buffer &out, int fd) noexcept
{
    const int error = write_full(fd, out.bytes.data(), out.used);
    out.used = 0;
    return error;
}
