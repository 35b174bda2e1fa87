// runetally's reader: the paths by kind of descriptor (regular file, pipe,
// anything else) that feed the block scan, and the byte-at-a-time path.
#include "reader.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "io.hpp"

#ifndef RUNEKIT_TALLY_BLOCK_SIZE
#define RUNEKIT_TALLY_BLOCK_SIZE (1 << 20)
#endif

const std::size_t tally_block_size = RUNEKIT_TALLY_BLOCK_SIZE;

namespace {
constexpr std::size_t block_size = RUNEKIT_TALLY_BLOCK_SIZE;
static_assert(block_size >= 6 && block_size <= (std::size_t{1} << 30), "a block holds any sequence");
unsigned char block[block_size];
unsigned char failed_sequence[6];  // copy of the ill-formed sequence for the report

// A result that ended with status (and, for a read error, errno).
count_result &fail(count_result &r, std::uint32_t status) noexcept
{
    r.status = status;
    if (status == UTF8_READ_ERROR)
        r.error = errno;
    return r;
}

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
// position; false, with r's status set, when a status came.
bool count_next_char(int fd, char_tally &tally, count_result &r) noexcept
{
    int length = 0;
    const std::uint32_t c = read_utf8_char(fd, &length, &r.sequence);
    if (c >= UTF8_FIRST_STATUS) {
        fail(r, c);
        return false;
    }
    stage_points(tally, &c, 1);
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

// Regular file: blocks of at most 256 KiB (a smaller buffer leaves more of
// the second-level cache to the counters, where text has many distinct
// characters), carrying a partial sequence over to the next block.
count_result count_file(int fd, off_t start, char_tally &tally) noexcept
{
    constexpr std::size_t file_block = block_size < (std::size_t{1} << 18) ? block_size : std::size_t{1} << 18;
    count_result r;
    std::size_t tail = 0;
    for (;;) {
        const ssize_t n = read_once(fd, block + tail, file_block - tail);
        if (n <= 0)  // a read error inside a sequence is a truncation, as bytewise
            return fail(r, tail != 0 ? UTF8_TRUNCATED : n == 0 ? UTF8_END_OF_INPUT : UTF8_READ_ERROR);
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
enum class pipe_round { more, done, cannot_tee };

// One round of the pipe path: what the pipe holds, copied by tee(2) without
// consuming it, is scanned; then exactly the scanned bytes (and a failing
// sequence) are taken from the input.
pipe_round count_pipe_round(int fd, int peek[2], char_tally &tally, count_result &r) noexcept
{
    ssize_t n;
    do
        n = tee(fd, peek[1], block_size, 0);
    while (n < 0 && errno == EINTR);
    if (n < 0 && errno == EINVAL && r.position.bytes == 0)
        return pipe_round::cannot_tee;
    if (n <= 0) {
        fail(r, n == 0 ? UTF8_END_OF_INPUT : UTF8_READ_ERROR);
        return pipe_round::done;
    }
    const auto size = static_cast<std::size_t>(n);
    if (read_full(peek[0], block, size) != n) {
        fail(r, UTF8_READ_ERROR);
        return pipe_round::done;
    }
    const block_scan s = scan_block({block, size}, tally);
    const bool failed = record(s, block, r);
    if (!discard(fd, s.consumed + static_cast<std::size_t>(s.length)) && !failed) {
        fail(r, UTF8_READ_ERROR);
        return pipe_round::done;
    }
    // A sequence the pipe holds only in part is read byte-exactly.
    const bool more = !failed && (s.consumed == size || count_next_char(fd, tally, r));
    return more ? pipe_round::more : pipe_round::done;
}

count_result count_pipe(int fd, char_tally &tally) noexcept
{
    int peek[2];
    if (pipe2(peek, O_CLOEXEC) != 0)
        return count_each_char(fd, tally);
    // Larger pipes mean fewer rounds; failing to enlarge them is harmless.
    (void)fcntl(fd, F_SETPIPE_SZ, static_cast<int>(block_size));
    (void)fcntl(peek[1], F_SETPIPE_SZ, static_cast<int>(block_size));
    count_result r;
    pipe_round next;
    while ((next = count_pipe_round(fd, peek, tally, r)) == pipe_round::more) {
    }
    close(peek[0]);
    close(peek[1]);
    // A pipe that cannot be teed is read one sequence at a time.
    return next == pipe_round::cannot_tee ? count_each_char(fd, tally) : r;
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
    if (S_ISFIFO(st.st_mode))
        return count_pipe(fd, tally);
#endif
    return count_each_char(fd, tally);
}

// Runs one of the paths; the lines of its result are the newlines it counted.
count_result count_with(count_result (*path)(int, char_tally &), int fd, char_tally &tally) noexcept
{
    const std::int64_t newlines = tally.char_counts[0x0A];
    count_result r = path(fd, tally);
    count_flush(tally);
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
