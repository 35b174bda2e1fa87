// runetally's block reader against the byte-at-a-time reader, on any input:
// the input as a regular file (a memory file) and as a pipe goes through
// count_fd, and as a pipe through count_bytewise, the reference. All three
// must agree on the status, the position, the failing sequence, the counts
// of every touched page and the bytes left on the descriptor for the next
// reader. Linked with the 61-byte block, so that inputs of a few hundred
// bytes already cross many block boundaries.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "reader.hpp"

namespace {
// Longer inputs would not fit in the pipe before it is read.
constexpr std::size_t max_input = 60000;

struct outcome {
    count_result result;
    std::string sequence;  // the failing sequence, for UTF8_INVALID
    std::string rest;      // what the next reader of the descriptor gets
};

char_tally tallies[3];

// Clears only the pages a run touched: the table is 16 MiB.
void clear(char_tally &t) noexcept
{
    for (std::size_t page = 0; page < count_pages; ++page)
        if (t.touched[page]) {
            std::memset(&t.char_counts[page << count_page_shift], 0, sizeof(std::int64_t) << count_page_shift);
            t.touched[page] = 0;
        }
}

[[noreturn]] void fail(const char *what) noexcept
{
    std::fprintf(stderr, "block reader mismatch: %s\n", what);
    std::abort();
}

void write_all(int fd, const std::uint8_t *data, std::size_t size) noexcept
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n <= 0)
            fail("cannot set up the input");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// A pipe that holds the whole input, its writing end closed.
int filled_pipe(const std::uint8_t *data, std::size_t size) noexcept
{
    int fds[2];
    if (pipe(fds) != 0)
        fail("no pipe");
    (void)fcntl(fds[1], F_SETPIPE_SZ, 1 << 16);
    write_all(fds[1], data, size);
    close(fds[1]);
    return fds[0];
}

// A regular file in memory, positioned at its start.
int memory_file(const std::uint8_t *data, std::size_t size) noexcept
{
    const int fd = memfd_create("tally-fuzz", MFD_CLOEXEC);
    if (fd < 0)
        fail("no memory file");
    write_all(fd, data, size);
    if (lseek(fd, 0, SEEK_SET) != 0)
        fail("cannot rewind the memory file");
    return fd;
}

outcome run(int fd, char_tally &t, bool bytewise) noexcept
{
    clear(t);
    outcome o;
    o.result = bytewise ? count_bytewise(fd, t) : count_fd(fd, t);
    if (o.result.status == UTF8_INVALID) {
        const int e = utf8_extra_bytes[o.result.sequence[0]];
        o.sequence.assign(reinterpret_cast<const char *>(o.result.sequence), static_cast<std::size_t>(e) + 1);
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        o.rest.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return o;
}

void expect_same(const outcome &want, const char_tally &tw, const outcome &got, const char_tally &tg) noexcept
{
    if (got.result.status != want.result.status)
        fail("status");
    const input_position &a = want.result.position, &b = got.result.position;
    if (a.lines != b.lines || a.characters != b.characters || a.bytes != b.bytes)
        fail("position");
    if (got.sequence != want.sequence)
        fail("failing sequence");
    if (got.rest != want.rest)
        fail("bytes left on the descriptor");
    if (std::memcmp(tg.touched, tw.touched, sizeof tw.touched) != 0)
        fail("touched pages");
    for (std::size_t page = 0; page < count_pages; ++page) {
        const std::size_t first = page << count_page_shift;
        if (tw.touched[page] &&
            std::memcmp(&tg.char_counts[first], &tw.char_counts[first], sizeof(std::int64_t) << count_page_shift) != 0)
            fail("counts");
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > max_input)
        return -1;  // not added to the corpus
    const outcome ref = run(filled_pipe(data, size), tallies[0], true);
    const outcome file = run(memory_file(data, size), tallies[1], false);
    expect_same(ref, tallies[0], file, tallies[1]);
    const outcome piped = run(filled_pipe(data, size), tallies[2], false);
    expect_same(ref, tallies[0], piped, tallies[2]);
    return 0;
}
