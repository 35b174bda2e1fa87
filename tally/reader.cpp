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
#include "stretch.hpp"

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

// How a path reads: counting what is valid through a stage, or only
// validating it (stage null), with or without runetally's strict rule. A
// path that validates only counts the lines and characters of what it
// reads where the input cannot be read again (`positions`), for the report
// of a read error; a regular file is read again for it instead.
struct read_rules {
    count_stage *stage = nullptr;
    bool strict = false;
    bool positions = false;
};

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
bool count_next_char(int fd, const read_rules &rules, count_result &r) noexcept
{
    int length = 0;
    const std::uint32_t c = read_utf8_char(fd, &length, &r.sequence, rules.strict);
    if (c >= UTF8_FIRST_STATUS) {
        fail(r, c);
        return false;
    }
    if (rules.stage != nullptr)
        stage_point(*rules.stage, c);
    else
        r.position.lines += c == 0x0A;
    r.position.bytes += length;
    ++r.position.characters;
    return true;
}

count_result count_each_char(int fd, read_rules rules) noexcept
{
    count_result r;
    while (count_next_char(fd, rules, r)) {
    }
    return r;
}

// The scan of a block by the rules: staged, or validated only (and then
// nothing counted).
block_scan check_block(std::span<const unsigned char> data, const read_rules &rules) noexcept
{
    if (rules.stage != nullptr)
        return scan_block(data, *rules.stage, rules.strict);
    block_scan s;
    for (;;) {
        s.consumed += validate_block(data.subspan(s.consumed), rules.strict);
        if (s.consumed == data.size())
            return s;
        const unsigned char *const p = data.data() + s.consumed;
        const auto length = static_cast<std::size_t>(utf8_extra_bytes[*p]) + 1;
        if (data.size() - s.consumed < length)
            return s;  // held only in part
        if (!utf8_sequence_is_legal({p, length}, rules.strict)) {
            s.invalid = true;
            s.length = static_cast<int>(length);
            return s;
        }
        s.consumed += length;
    }
}

// Records a scan's progress and, for an ill-formed sequence, the failure.
bool record(const block_scan &s, const unsigned char *data, const read_rules &rules, count_result &r) noexcept
{
    if (rules.stage == nullptr && rules.positions) {
        count_stretch({data, s.consumed}, r.position);
    } else {
        r.position.bytes += static_cast<std::int64_t>(s.consumed);
        r.position.characters += s.characters;
    }
    if (!s.invalid)
        return false;
    std::memcpy(failed_sequence, data + s.consumed, static_cast<std::size_t>(s.length));
    r.status = UTF8_INVALID;
    r.sequence = failed_sequence;
    return true;
}

// The lines and characters of the first r.position.bytes bytes of the file
// from `start`, read again (validating only counts none as it goes); left
// as they are if they cannot be read.
void count_again(int fd, off_t start, count_result &r) noexcept
{
    input_position at;
    while (at.bytes < r.position.bytes) {
        const auto want = static_cast<std::size_t>(r.position.bytes - at.bytes);
        const ssize_t n = pread(fd, block, want < file_read_size ? want : file_read_size, start + at.bytes);
        if (n <= 0)
            return;
        count_stretch({block, static_cast<std::size_t>(n)}, at);
    }
    r.position = at;
}

// Regular file: a block at a time, carrying a partial sequence over to the
// next block.
count_result count_file(int fd, off_t start, const read_rules &rules) noexcept
{
    count_result r;
    std::size_t tail = 0;
    for (;;) {
        const ssize_t n = read_once(fd, block + tail, file_read_size - tail);
        if (n <= 0) {  // a read error inside a sequence is a truncation, as bytewise
            fail(r, tail != 0 ? UTF8_TRUNCATED : n == 0 ? UTF8_END_OF_INPUT : UTF8_READ_ERROR);
            if (r.status == UTF8_READ_ERROR && rules.stage == nullptr && r.position.bytes != 0)
                count_again(fd, start, r);
            return r;
        }
        const std::size_t size = tail + static_cast<std::size_t>(n);
        const block_scan s = check_block({block, size}, rules);
        if (record(s, block, rules, r)) {
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
pipe_round count_pipe_round(int fd, int peek[2], const read_rules &rules, count_result &r) noexcept
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
    const block_scan s = check_block({block, size}, rules);
    const bool failed = record(s, block, rules, r);
    const std::size_t taken = s.consumed + static_cast<std::size_t>(s.length);
    if (read_full(fd, block, taken) != static_cast<ssize_t>(taken) && !failed) {
        fail(r, UTF8_READ_ERROR);
        return pipe_round::done;
    }
    // A sequence the pipe holds only in part is read byte-exactly.
    const bool more = !failed && (s.consumed == size || count_next_char(fd, rules, r));
    return more ? pipe_round::more : pipe_round::done;
}

count_result count_pipe(int fd, const read_rules &rules) noexcept
{
    int peek[2];
    if (pipe2(peek, O_CLOEXEC) != 0)
        return count_each_char(fd, rules);
    // Larger pipes mean fewer rounds; failing to enlarge them is harmless.
    (void)fcntl(fd, F_SETPIPE_SZ, static_cast<int>(pipe_read_size));
    (void)fcntl(peek[1], F_SETPIPE_SZ, static_cast<int>(pipe_read_size));
    count_result r;
    pipe_round next;
    while ((next = count_pipe_round(fd, peek, rules, r)) == pipe_round::more) {
    }
    close(peek[0]);
    close(peek[1]);
    // A pipe that cannot be teed is read one sequence at a time.
    return next == pipe_round::cannot_tee ? count_each_char(fd, rules) : r;
}
#endif

count_result count_by_kind(int fd, read_rules rules) noexcept
{
    rules.positions = true;
    struct stat st;
    if (fstat(fd, &st) != 0)
        return count_each_char(fd, rules);  // a closed descriptor: its read fails there
    if (S_ISREG(st.st_mode)) {
        const off_t start = lseek(fd, 0, SEEK_CUR);
        if (start < 0)
            return count_each_char(fd, rules);
        rules.positions = false;
        return count_file(fd, start, rules);
    }
#ifdef __linux__
    if (S_ISFIFO(st.st_mode))
        return count_pipe(fd, rules);
#endif
    return count_each_char(fd, rules);
}

// Runs one of the paths through stage into tally; the lines of its result
// are the newlines it counted.
count_result count_with(count_result (*path)(int, read_rules), int fd, count_stage &stage,
                        char_tally &tally, bool strict) noexcept
{
    const std::int64_t newlines = tally.char_counts[0x0A];
    stage.table = &tally;
    count_result r = path(fd, read_rules{&stage, strict});
    count_flush(stage);
    r.position.lines = tally.char_counts[0x0A] - newlines;
    return r;
}
}  // namespace

count_result count_fd(int fd, count_stage &stage, char_tally &tally, bool strict) noexcept
{
    return count_with(count_by_kind, fd, stage, tally, strict);
}

count_result count_bytewise(int fd, count_stage &stage, char_tally &tally, bool strict) noexcept
{
    return count_with(count_each_char, fd, stage, tally, strict);
}

count_result validate_fd(int fd, bool strict) noexcept
{
    return count_by_kind(fd, read_rules{nullptr, strict});
}
