// runetally's reader: the paths by kind of descriptor (regular file, pipe,
// anything else) that feed the block scan, and the byte-at-a-time path.
#include "reader.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "decoder.hpp"
#include "io.hpp"
#include "scan.hpp"

// A regular file is read 256 KiB at a time, which leaves the rest of the
// second-level cache to the counters where text has many distinct
// characters; a pipe is enlarged to and peeked at 1 MiB at a time, since
// each round of it costs three system calls.
#ifdef RUNEKIT_TALLY_READ_SIZE
constexpr std::size_t file_read_size = RUNEKIT_TALLY_READ_SIZE;
constexpr std::size_t pipe_read_size = RUNEKIT_TALLY_READ_SIZE;
#else
constexpr std::size_t file_read_size = std::size_t{1} << 18;
constexpr std::size_t pipe_read_size = std::size_t{1} << 20;
#endif
const std::size_t tally_file_read_size = file_read_size;

namespace {
constexpr std::size_t block_size = file_read_size > pipe_read_size ? file_read_size : pipe_read_size;
static_assert(file_read_size >= 6 && pipe_read_size >= 6 && block_size <= (std::size_t{1} << 30),
              "a block holds any sequence");
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

// Reads one sequence with read_utf8_char and counts it, advancing r's
// position; false, with r's status set, when a status came.
bool count_next_char(int fd, count_stage &stage, count_result &r) noexcept
{
    int length = 0;
    const std::uint32_t c = read_utf8_char(fd, &length, &r.sequence);
    if (c >= UTF8_FIRST_STATUS) {
        fail(r, c);
        return false;
    }
    stage_point(stage, c);
    r.position.bytes += length;
    ++r.position.characters;
    return true;
}

count_result count_each_char(int fd, count_stage &stage) noexcept
{
    count_result r;
    while (count_next_char(fd, stage, r)) {
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

// Regular file: a block at a time, carrying a partial sequence over to the
// next block.
count_result count_file(int fd, off_t start, count_stage &stage) noexcept
{
    count_result r;
    std::size_t tail = 0;
    for (;;) {
        const ssize_t n = read_once(fd, block + tail, file_read_size - tail);
        if (n <= 0)  // a read error inside a sequence is a truncation, as bytewise
            return fail(r, tail != 0 ? UTF8_TRUNCATED : n == 0 ? UTF8_END_OF_INPUT : UTF8_READ_ERROR);
        const std::size_t size = tail + static_cast<std::size_t>(n);
        const block_scan s = scan_block({block, size}, stage, false);
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
pipe_round count_pipe_round(int fd, int peek[2], count_stage &stage, count_result &r) noexcept
{
    ssize_t n;
    do
        n = tee(fd, peek[1], pipe_read_size, 0);
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
    const block_scan s = scan_block({block, size}, stage, false);
    const bool failed = record(s, block, r);
    const std::size_t taken = s.consumed + static_cast<std::size_t>(s.length);
    if (read_full(fd, block, taken) != static_cast<ssize_t>(taken) && !failed) {
        fail(r, UTF8_READ_ERROR);
        return pipe_round::done;
    }
    // A sequence the pipe holds only in part is read byte-exactly.
    const bool more = !failed && (s.consumed == size || count_next_char(fd, stage, r));
    return more ? pipe_round::more : pipe_round::done;
}

count_result count_pipe(int fd, count_stage &stage) noexcept
{
    int peek[2];
    if (pipe2(peek, O_CLOEXEC) != 0)
        return count_each_char(fd, stage);
    // Larger pipes mean fewer rounds; failing to enlarge them is harmless.
    (void)fcntl(fd, F_SETPIPE_SZ, static_cast<int>(pipe_read_size));
    (void)fcntl(peek[1], F_SETPIPE_SZ, static_cast<int>(pipe_read_size));
    count_result r;
    pipe_round next;
    while ((next = count_pipe_round(fd, peek, stage, r)) == pipe_round::more) {
    }
    close(peek[0]);
    close(peek[1]);
    // A pipe that cannot be teed is read one sequence at a time.
    return next == pipe_round::cannot_tee ? count_each_char(fd, stage) : r;
}
#endif

count_result count_by_kind(int fd, count_stage &stage) noexcept
{
    struct stat st;
    if (fstat(fd, &st) != 0)
        return count_each_char(fd, stage);  // a closed descriptor: its read fails there
    if (S_ISREG(st.st_mode)) {
        const off_t start = lseek(fd, 0, SEEK_CUR);
        return start >= 0 ? count_file(fd, start, stage) : count_each_char(fd, stage);
    }
#ifdef __linux__
    if (S_ISFIFO(st.st_mode))
        return count_pipe(fd, stage);
#endif
    return count_each_char(fd, stage);
}

// Runs one of the paths through stage into tally; the lines of its result
// are the newlines it counted.
count_result count_with(count_result (*path)(int, count_stage &), int fd, count_stage &stage,
                        char_tally &tally) noexcept
{
    const std::int64_t newlines = tally.char_counts[0x0A];
    stage.table = &tally;
    count_result r = path(fd, stage);
    count_flush(stage);
    r.position.lines = tally.char_counts[0x0A] - newlines;
    return r;
}
}  // namespace

count_result count_fd(int fd, count_stage &stage, char_tally &tally) noexcept
{
    return count_with(count_by_kind, fd, stage, tally);
}

count_result count_bytewise(int fd, count_stage &stage, char_tally &tally) noexcept
{
    return count_with(count_each_char, fd, stage, tally);
}
