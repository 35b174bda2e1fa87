// The block reader must give what the byte-at-a-time reader gives, on every
// input, from a regular file and from a pipe: the same counts, status,
// position, failing sequence, and the same bytes left for the next reader.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "reader.hpp"
#include "hex.hpp"
#include "tally_printers.hpp"

namespace {
using bytes = std::string;

struct outcome {
    count_result result;
    bytes sequence;  // the failing sequence, for UTF8_INVALID
    bytes rest;      // what the next reader of the descriptor gets
};

char_tally tallies[3];

void clear(char_tally &t)
{
    for (std::size_t page = 0; page < count_pages; ++page)
        if (t.touched[page]) {
            std::memset(&t.char_counts[page << count_page_shift], 0, sizeof(std::int64_t) << count_page_shift);
            t.touched[page] = 0;
        }
}

bytes drain(int fd)
{
    bytes rest;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        rest.append(buf, static_cast<std::size_t>(n));
    return rest;
}

// A pipe fed by a child process in pieces of `piece` bytes.
int feeding_pipe(const bytes &input, std::size_t piece)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::abort();
    if (fork() == 0) {
        close(fds[0]);
        for (std::size_t at = 0; at < input.size(); at += piece)
            if (write(fds[1], input.data() + at, std::min(piece, input.size() - at)) < 0)
                _exit(1);
        _exit(0);
    }
    close(fds[1]);
    return fds[0];
}

int regular_file(const bytes &input)
{
    char name[] = "/tmp/runekit-block-XXXXXX";
    const int fd = mkstemp(name);
    unlink(name);
    if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        std::abort();
    lseek(fd, 0, SEEK_SET);
    return fd;
}

outcome run(int fd, char_tally &t, bool bytewise)
{
    clear(t);
    outcome o;
    o.result = bytewise ? count_bytewise(fd, t) : count_fd(fd, t);
    if (o.result.status == UTF8_INVALID) {
        const int e = utf8_extra_bytes[o.result.sequence[0]];
        o.sequence.assign(reinterpret_cast<const char *>(o.result.sequence), static_cast<std::size_t>(e) + 1);
    }
    o.rest = drain(fd);
    close(fd);
    while (wait(nullptr) > 0) {
    }
    return o;
}

void expect_same(const outcome &want, const char_tally &tw, const outcome &got, const char_tally &tg,
                 const char *how)
{
    SCOPED_TRACE(std::string(how) + ": byte at a time " + testing::PrintToString(want.result) + ", block reader "
                 + testing::PrintToString(got.result));
    EXPECT_EQ(got.result.status, want.result.status) << how;
    EXPECT_EQ(got.result.position.lines, want.result.position.lines) << how;
    EXPECT_EQ(got.result.position.characters, want.result.position.characters) << how;
    EXPECT_EQ(got.result.position.bytes, want.result.position.bytes) << how;
    EXPECT_EQ(got.sequence, want.sequence) << how;
    EXPECT_EQ(got.rest.size(), want.rest.size()) << how;
    EXPECT_TRUE(got.rest == want.rest) << how;
    EXPECT_EQ(0, std::memcmp(tg.touched, tw.touched, sizeof tw.touched)) << how;
    for (std::size_t page = 0; page < count_pages; ++page) {
        if (!tw.touched[page])
            continue;
        const std::size_t first = page << count_page_shift;
        ASSERT_EQ(0, std::memcmp(&tg.char_counts[first], &tw.char_counts[first], sizeof(std::int64_t) << count_page_shift))
            << how << " page " << page;
    }
}

// Checks one input through the three paths.
void check(const bytes &input, std::size_t piece = 65536)
{
    SCOPED_TRACE("input of " + hex_dump(input));
    const outcome ref = run(feeding_pipe(input, piece), tallies[0], true);
    const outcome file = run(regular_file(input), tallies[1], false);
    expect_same(ref, tallies[0], file, tallies[1], "regular file");
    const outcome pipe = run(feeding_pipe(input, piece), tallies[2], false);
    expect_same(ref, tallies[0], pipe, tallies[2], "pipe");
}

// Random text made of fragments: ASCII, newlines, characters of every length,
// surrogates, and now and then a byte that may break the sequence.
bytes random_text(std::mt19937 &rng, std::size_t size, int break_rate)
{
    static const char *const fragments[] = {"a", "Z", " ", "\n", "\xC3\xA9", "\xD0\xBC", "\xE2\x82\xAC", "\xE6\x97\xA5",
                                            "\xED\x9F\xBF", "\xED\xA0\x80", "\xEF\xBF\xBF", "\xF0\x9F\x98\x80",
                                            "\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80", "\xC2\x80", "\xE0\xA0\x80"};
    bytes s;
    while (s.size() < size) {
        if (break_rate && static_cast<int>(rng() % 1000) < break_rate)
            s.push_back(static_cast<char>(rng() % 256));
        else
            s += fragments[rng() % std::size(fragments)];
    }
    return s;
}
}  // namespace

TEST(BlockReader, SmallRandomInputs)
{
    std::mt19937 rng(2026);
    for (int i = 0; i < 300; ++i)
        check(random_text(rng, rng() % 64, 30), 1 + rng() % 7);
}

TEST(BlockReader, EveryByteAfterAValidPrefix)
{
    for (int b = 0; b < 256; ++b) {
        check("ab\xC3\xA9\n" + bytes(1, static_cast<char>(b)));
        check("ab\xC3\xA9\n" + bytes(1, static_cast<char>(b)) + "\x80\x80\x80\x80\x80xyz");
    }
}

TEST(BlockReader, FailuresAtAndAcrossTheBlockBoundary)
{
    const std::size_t block = tally_block_size;
    ASSERT_LT(block, 100u) << "built with a small block";
    const bytes tails[] = {"\xF0\x9F\x98\x80tail", "\xE2\x82", "\xE2\x28\xA1rest", "\x80rest",
                           "\xF8\x80\x80\x80\x80rest", "\xC0\xAFrest", "\xF4\x90\x80\x80rest", "\xE2\x82\xAC"};
    for (const bytes &tail : tails)
        for (std::size_t back = 0; back <= 12; ++back) {
            check(bytes(block - back, 'x') + tail);
            check(bytes(3 * block - back, 'x') + tail, 5);
        }
}

TEST(BlockReader, LargeInputsLongerThanBlockAndPipe)
{
    std::mt19937 rng(7);
    check(random_text(rng, 300000, 0), 4096);
    bytes broken = random_text(rng, 200003, 0);
    broken += "\xED\xA0\x80\xFF\xFE";
    broken += random_text(rng, 100000, 0);
    check(broken, 100000);
}

TEST(BlockReader, SlowWriterDeliversSequencesInPieces)
{
    std::mt19937 rng(11);
    check(random_text(rng, 5000, 0), 1);
    check(random_text(rng, 5000, 5), 3);
}

TEST(BlockReader, ReadErrorsAndOtherDescriptors)
{
    char_tally &t = tallies[0];
    clear(t);
    const count_result closed = count_fd(-1, t);
    EXPECT_EQ(closed.status, UTF8_READ_ERROR);
    EXPECT_EQ(errno, EBADF);
}
