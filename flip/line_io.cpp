// runeflip's line reader and output buffer (see line_io.hpp).
#include "line_io.hpp"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "io.hpp"

namespace {
// Block read from the input at once; a line up to this long needs no copy.
#ifdef RUNEKIT_FLIP_BLOCK_SIZE
constexpr std::size_t block_bytes = RUNEKIT_FLIP_BLOCK_SIZE;
#else
constexpr std::size_t block_bytes = std::size_t{1} << 20;
#endif

// Bytes of a mapped input dropped from memory at once, behind the line in
// progress, so that the resident part stays small.
constexpr std::size_t release_bytes = block_bytes < (std::size_t{1} << 20) ? block_bytes : std::size_t{4} << 20;

// Maps the rest of `r.fd` if it is a regular file longer than a block, with
// a page of zeros on either side for the loads that reach beyond the text.
// Leaves `r` reading with read(2) when anything is amiss.
void map_input(line_reader &r) noexcept
{
    struct stat st;
    const off_t at = lseek(r.fd, 0, SEEK_CUR);
    if (at < 0 || fstat(r.fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size - at <= off_t{block_bytes} ||
        static_cast<std::uint64_t>(st.st_size - at) > SIZE_MAX / 2)
        return;
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t skip = static_cast<std::size_t>(at) % page, size = static_cast<std::size_t>(st.st_size - at);
    const std::size_t span = (skip + size + page - 1) / page * page;
    void *base = mmap(nullptr, span + 2 * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return;
    r.map.base = static_cast<unsigned char *>(base);
    r.map.size = span + 2 * page;
    if (mmap(r.map.base + page, span, PROT_READ, MAP_PRIVATE | MAP_FIXED, r.fd, at - static_cast<off_t>(skip)) ==
        MAP_FAILED) {
        unmap(r.map);
        return;
    }
    r.text = r.map.base + page + skip;
    r.origin = static_cast<std::uint64_t>(at);
    r.mapped = size;
    r.released = page;
}

// Takes the next block of a mapped input, and drops what lies well behind
// the line in progress from memory.
void advance(line_reader &r) noexcept
{
    r.end = r.mapped - r.end > block_bytes ? r.end + block_bytes : r.mapped;
    (void)lseek(r.fd, static_cast<off_t>(r.origin + r.end), SEEK_SET);
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const auto line = static_cast<std::size_t>(r.text + r.start - r.map.base);  // in the mapping
    const std::size_t done = (line - line_padding) / page * page;
    if (done > r.released + release_bytes) {
        (void)madvise(r.map.base + r.released, done - r.released, MADV_DONTNEED);
        r.released = done;
    }
}

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

void unmap(mapped_bytes &m) noexcept
{
    if (m.base != nullptr)
        munmap(m.base, m.size);
    m.base = nullptr;
}

bool open_reader(line_reader &r, int fd) noexcept
{
    r.fd = fd;
    if (!reserve_bytes(r.block, block_bytes))
        return false;
    r.text = r.block.data();
    map_input(r);
    return true;
}

void read_from(line_reader &r, std::size_t from) noexcept
{
    (void)lseek(r.fd, static_cast<off_t>(r.origin + from), SEEK_SET);
    unmap(r.map);
    r.text = r.block.data();
    r.start = r.end = r.mapped = 0;
}

// A line that lies wholly within the block is handed out in place; one that
// crosses the block's end is gathered in the spill buffer. A mapped input
// hands out every line in place; at its end, what is left of it is read
// again with read(2), which also meets whatever the file has gained since.
read_status read_line(line_reader &r, std::span<const unsigned char> &line) noexcept
{
    r.spill_used = 0;
    bool pending = false;        // bytes of an unfinished line are in the spill buffer
    std::size_t seek = r.start;  // where the search for the newline goes on
    for (;;) {
        const unsigned char *from = r.text + r.start;
        const std::size_t left = r.end - r.start;
        const auto *newline = static_cast<const unsigned char *>(std::memchr(r.text + seek, '\n', r.end - seek));
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
        seek = r.end;
        if (r.end < r.mapped) {
            advance(r);
            continue;
        }
        if (r.map.base != nullptr) {
            read_from(r, r.start);
            seek = 0;
            continue;
        }
        if (left != 0) {
            if (!spill(r, from, left))
                return read_status::no_memory;
            pending = true;
            r.start = r.end;
        }
        if (r.at_end || !refill(r))
            break;
        seek = 0;
    }
    if (!r.at_end)
        return read_status::read_error;
    line = {r.spill.data(), r.spill_used};
    return pending ? read_status::line : read_status::end;
}

int flush_output(output_buffer &out, int fd) noexcept
{
    const int error = write_full(fd, out.bytes.data(), out.used);
    out.used = 0;
    return error;
}
