#include "reader.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io.hpp"
#include "vector_count.hpp"

#ifndef RUNEKIT_TALLY_BLOCK_SIZE
#define RUNEKIT_TALLY_BLOCK_SIZE (1 << 20)
#endif

// Bytes the vector kernel validates at once (test builds use a few bytes).
#ifndef RUNEKIT_TALLY_SUBBLOCK_SIZE
#define RUNEKIT_TALLY_SUBBLOCK_SIZE 16384
#endif

const std::size_t tally_block_size = RUNEKIT_TALLY_BLOCK_SIZE;

namespace {
constexpr std::size_t block_size = RUNEKIT_TALLY_BLOCK_SIZE;
static_assert(block_size >= 6 && block_size <= (std::size_t{1} << 30), "a block holds any sequence, and its counts fit in 32 bits");
unsigned char block[block_size];
unsigned char failed_sequence[6];  // copy of the ill-formed sequence for the report

constexpr std::uint64_t high_bits = 0x8080808080808080u;
constexpr std::size_t prefetch_depth = 64;  // characters between fetch and increment

// Adds the per-lane ASCII counts of a block to the table.
void merge_ascii(const std::uint32_t (&lanes)[4][128], char_tally &tally) noexcept
{
    for (int c = 0; c < 128; ++c) {
        const std::uint64_t sum = std::uint64_t{lanes[0][c]} + lanes[1][c] + lanes[2][c] + lanes[3][c];
        if (sum != 0)
            count_char(tally, static_cast<std::uint32_t>(c), static_cast<std::int64_t>(sum));
    }
}

}  // namespace

block_scan scan_block(std::span<const unsigned char> data, char_tally &tally) noexcept
{
    // ASCII is counted in four lanes of 32-bit counters (a block is at most
    // 1 MiB), so that runs of one letter do not wait on each other's stores.
    std::uint32_t lanes[4][128] = {};
    std::uint32_t pending[prefetch_depth];  // decoded, counter being fetched
    std::size_t queued = 0;
    const unsigned char *p = data.data();
    const unsigned char *const end = p + data.size();
    block_scan s;
    // The vector kernel takes what it can; the rest, from a character
    // boundary, is scanned here.
    const tally_vector_result v = tally_vector_scan(data, RUNEKIT_TALLY_SUBBLOCK_SIZE, tally);
    p += v.consumed;
    s.characters = v.characters;
    while (p < end) {
        if (end - p >= 8) {
            std::uint64_t word;
            std::memcpy(&word, p, sizeof word);
            if ((word & high_bits) == 0) {
                ++lanes[0][p[0]], ++lanes[1][p[1]], ++lanes[2][p[2]], ++lanes[3][p[3]];
                ++lanes[0][p[4]], ++lanes[1][p[5]], ++lanes[2][p[6]], ++lanes[3][p[7]];
                p += 8;
                s.characters += 8;
                continue;
            }
        }
        const unsigned char b0 = *p;
        if (b0 < 0x80) {
            ++lanes[0][b0];
            ++p;
            ++s.characters;
            continue;
        }
        const int e = utf8_extra_bytes[b0];
        if (end - p <= e)
            break;  // the rest of this sequence is not in the block
        const std::span<const unsigned char> seq(p, static_cast<std::size_t>(e) + 1);
        if (!utf8_sequence_is_legal(seq)) {
            s.invalid = true;
            s.length = e + 1;
            break;
        }
        const std::uint32_t c = utf8_decode(seq);
        ++s.characters;
        p += e + 1;
        // The counter is fetched now and incremented a few characters later,
        // so that the cache misses of scattered code points overlap.
        __builtin_prefetch(&tally.char_counts[c], 1);
        const std::size_t slot = queued & (prefetch_depth - 1);
        if (queued >= prefetch_depth)
            count_char(tally, pending[slot]);
        pending[slot] = c;
        ++queued;
    }
    for (std::size_t i = queued > prefetch_depth ? queued - prefetch_depth : 0; i < queued; ++i)
        count_char(tally, pending[i & (prefetch_depth - 1)]);
    merge_ascii(lanes, tally);
    s.consumed = static_cast<std::size_t>(p - data.data());
    return s;
}

namespace {

// Takes exactly `size` bytes from fd (they are known to be there).
bool discard(int fd, std::size_t size) noexcept
{
    while (size > 0) {
        const std::size_t part = size < block_size ? size : block_size;
        if (read_full(fd, block, part) != static_cast<ssize_t>(part))
            return false;
        size -= part;
    }
    return true;
}

// Reads one sequence with read_utf8_char and counts it, advancing r's
// position; false, with r.status and r.sequence set, when a status came.
bool count_next_char(int fd, char_tally &tally, count_result &r) noexcept
{
    int length = 0;
    const unsigned char *sequence = nullptr;
    const std::uint32_t c = read_utf8_char(fd, &length, &sequence);
    if (c >= UTF8_FIRST_STATUS) {
        r.status = c;
        r.sequence = sequence;
        return false;
    }
    count_char(tally, c);
    r.position.bytes += length;
    ++r.position.characters;
    return true;
}

count_result count_each_char(int fd, char_tally &tally) noexcept
{
    count_result r;
    while (count_next_char(fd, tally, r)) {
    }
    return r;
}

// Records a scan's progress and, for an ill-formed sequence, the failure.
bool record(const block_scan &s, const unsigned char *data, count_result &r) noexcept
{
    r.position.bytes += static_cast<std::int64_t>(s.consumed);
    r.position.characters += s.characters;
    if (!s.invalid)
        return false;
    std::memcpy(failed_sequence, data + s.consumed, static_cast<std::size_t>(s.length));
    r.status = UTF8_INVALID;
    r.sequence = failed_sequence;
    return true;
}

// Regular file: blocks, carrying a partial sequence over to the next block.
count_result count_file(int fd, off_t start, char_tally &tally) noexcept
{
    count_result r;
    std::size_t tail = 0;
    for (;;) {
        const ssize_t n = read_once(fd, block + tail, block_size - tail);
        if (n <= 0) {
            // A read error inside a sequence is a truncation, as bytewise.
            r.status = tail != 0 ? UTF8_TRUNCATED : n == 0 ? UTF8_END_OF_INPUT : UTF8_READ_ERROR;
            return r;
        }
        const std::size_t size = tail + static_cast<std::size_t>(n);
        const block_scan s = scan_block({block, size}, tally);
        if (record(s, block, r)) {
            // Leave the file just past the failing sequence for the next reader.
            (void)lseek(fd, start + r.position.bytes + s.length, SEEK_SET);
            return r;
        }
        tail = size - s.consumed;
        std::memmove(block, block + s.consumed, tail);
    }
}

#ifdef __linux__
// Pipe: tee(2) copies what the pipe holds into a private pipe without
// consuming it; after counting, exactly the counted bytes are taken from the
// input. A sequence that the pipe holds only in part is read byte-exactly.
count_result count_pipe(int fd, int peek[2], char_tally &tally) noexcept
{
    count_result r;
    for (bool first = true;; first = false) {
        ssize_t n;
        do
            n = tee(fd, peek[1], block_size, 0);
        while (n < 0 && errno == EINTR);
        if (n < 0 && first && errno == EINVAL)
            return count_each_char(fd, tally);  // this pipe cannot be teed
        if (n <= 0) {
            r.status = n == 0 ? UTF8_END_OF_INPUT : UTF8_READ_ERROR;
            return r;
        }
        const auto size = static_cast<std::size_t>(n);
        if (read_full(peek[0], block, size) != n) {
            r.status = UTF8_READ_ERROR;
            return r;
        }
        const block_scan s = scan_block({block, size}, tally);
        const bool failed = record(s, block, r);
        if (!discard(fd, s.consumed + static_cast<std::size_t>(s.length)) && !failed) {
            r.status = UTF8_READ_ERROR;
            return r;
        }
        if (failed)
            return r;
        if (s.consumed == size)
            continue;
        if (!count_next_char(fd, tally, r))
            return r;
    }
}
#endif

count_result count_by_kind(int fd, char_tally &tally) noexcept
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return count_each_char(fd, tally);  // a closed descriptor: its read fails there
    if (S_ISREG(st.st_mode)) {
        const off_t start = lseek(fd, 0, SEEK_CUR);
        return start >= 0 ? count_file(fd, start, tally) : count_each_char(fd, tally);
    }
#ifdef __linux__
    if (S_ISFIFO(st.st_mode)) {
        int peek[2];
        if (pipe2(peek, O_CLOEXEC) != 0)
            return count_each_char(fd, tally);
        // Larger pipes mean fewer rounds; failing to enlarge them is harmless.
        (void)fcntl(fd, F_SETPIPE_SZ, static_cast<int>(block_size));
        (void)fcntl(peek[1], F_SETPIPE_SZ, static_cast<int>(block_size));
        const count_result r = count_pipe(fd, peek, tally);
        const int error = errno;  // the report may need the read error's errno
        close(peek[0]);
        close(peek[1]);
        errno = error;
        return r;
    }
#endif
    return count_each_char(fd, tally);
}

// Runs one of the paths; the lines of its result are the newlines it counted.
count_result count_with(count_result (*path)(int, char_tally &), int fd, char_tally &tally) noexcept
{
    const std::int64_t newlines = tally.char_counts[0x0A];
    count_result r = path(fd, tally);
    tally_vector_flush(tally);  // the kernel's 8-bit counters into the table
    r.position.lines = tally.char_counts[0x0A] - newlines;
    return r;
}
}  // namespace

count_result count_fd(int fd, char_tally &tally) noexcept
{
    return count_with(count_by_kind, fd, tally);
}

count_result count_bytewise(int fd, char_tally &tally) noexcept
{
    return count_with(count_each_char, fd, tally);
}
