#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "decoder.hpp"
#include "reader.hpp"
#include "table.hpp"
#include "tally_harness.hpp"
#include "tally_printers.hpp"

namespace {
using tally_harness::oracle_legal;

bool legal(const std::vector<unsigned char> &s) { return utf8_sequence_is_legal(s); }

// A pipe whose read end holds `bytes` followed by end of input.
int pipe_with(const std::string &bytes)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fds[1]);
    return fds[0];
}
}  // namespace

TEST(Legality, AgreesWithShortestFormRuleUpToThreeBytes)
{
    // A sequence shorter than its lead byte asks for is not read past its end.
    EXPECT_FALSE(legal({0xE2, 0x82}));
    EXPECT_FALSE(legal({0xF0, 0x9F, 0x98}));
    for (unsigned b0 = 0; b0 < 0x100; ++b0) {
        const int e = utf8_extra_bytes[b0];
        if (e == 0) {
            EXPECT_EQ(legal({static_cast<unsigned char>(b0)}), oracle_legal({static_cast<unsigned char>(b0)})) << b0;
            continue;
        }
        if (e > 2)
            continue;
        for (unsigned b1 = 0; b1 < 0x100; ++b1) {
            if (e == 1) {
                std::vector<unsigned char> s{static_cast<unsigned char>(b0), static_cast<unsigned char>(b1)};
                ASSERT_EQ(legal(s), oracle_legal(s)) << b0 << " " << b1;
                continue;
            }
            for (unsigned b2 = 0; b2 < 0x100; ++b2) {
                std::vector<unsigned char> s{static_cast<unsigned char>(b0), static_cast<unsigned char>(b1),
                                             static_cast<unsigned char>(b2)};
                ASSERT_EQ(legal(s), oracle_legal(s)) << b0 << " " << b1 << " " << b2;
                ASSERT_EQ(utf8_sequence_is_legal(s, true), oracle_legal(s, true)) << b0 << " " << b1 << " " << b2;
            }
        }
    }
}

TEST(Legality, AgreesWithShortestFormRuleForFourBytes)
{
    const unsigned tails[] = {0x00, 0x3F, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF};
    for (unsigned b0 = 0xF0; b0 <= 0xF7; ++b0)
        for (unsigned b1 = 0; b1 < 0x100; ++b1)
            for (unsigned b2 : tails)
                for (unsigned b3 : tails) {
                    std::vector<unsigned char> s{static_cast<unsigned char>(b0), static_cast<unsigned char>(b1),
                                                 static_cast<unsigned char>(b2), static_cast<unsigned char>(b3)};
                    ASSERT_EQ(legal(s), oracle_legal(s)) << b0 << " " << b1 << " " << b2 << " " << b3;
                    ASSERT_EQ(utf8_sequence_is_legal(s, true), oracle_legal(s, true)) << b0 << " " << b1 << " " << b2 << " " << b3;
                }
}

TEST(Legality, SurrogatesAndLongFormsHaveTheirOwnRules)
{
    EXPECT_TRUE(legal({0xED, 0xA0, 0x80}));  // encoded surrogates pass here
    EXPECT_TRUE(legal({0xED, 0xBF, 0xBF}));
    EXPECT_FALSE(legal({0xF8, 0x88, 0x80, 0x80, 0x80}));
    EXPECT_FALSE(legal({0xFC, 0x84, 0x80, 0x80, 0x80, 0x80}));
}

TEST(ReadUtf8Char, ReturnsCodePointsThenEnd)
{
    const int fd = pipe_with("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    int length = 0;
    const unsigned char *seq = nullptr;
    const std::pair<std::uint32_t, int> expected[] = {{0x61, 1}, {0xE9, 2}, {0x20AC, 3}, {0x1F600, 4}};
    for (auto [cp, len] : expected) {
        EXPECT_EQ(read_utf8_char(fd, &length, &seq), cp);
        EXPECT_EQ(length, len);
    }
    length = -7;
    EXPECT_EQ(read_utf8_char(fd, &length, &seq), UTF8_END_OF_INPUT);
    EXPECT_EQ(length, -7);  // not written at the end
    close(fd);
}

TEST(ReadUtf8Char, InvalidSequenceIsConsumedWholeAndExposed)
{
    const int fd = pipe_with("\xF8\x80\x80\x80\x80z");
    int length = 0;
    const unsigned char *seq = nullptr;
    EXPECT_EQ(read_utf8_char(fd, &length, &seq), UTF8_INVALID);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(seq[0], 0xF8);
    EXPECT_EQ(read_utf8_char(fd, &length, &seq), static_cast<std::uint32_t>('z'));
    close(fd);
}

TEST(ReadUtf8Char, TruncationAndReadErrors)
{
    int length = 0;
    const unsigned char *seq = nullptr;
    int fd = pipe_with("\xE2\x82");
    EXPECT_EQ(read_utf8_char(fd, &length, &seq), UTF8_TRUNCATED);
    close(fd);
    EXPECT_EQ(read_utf8_char(-1, &length, &seq), UTF8_READ_ERROR);
    fd = open("/", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(read_utf8_char(fd, &length, &seq), UTF8_READ_ERROR);
    close(fd);
}

TEST(ReadUtf8Char, GathersSequenceDeliveredInPieces)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "\xF0\x9F", 2), 2);
    if (fork() == 0) {
        usleep(100000);
        (void)!write(fds[1], "\x98\x80", 2);
        _exit(0);
    }
    close(fds[1]);
    int length = 0;
    const unsigned char *seq = nullptr;
    EXPECT_EQ(read_utf8_char(fds[0], &length, &seq), 0x1F600u);
    close(fds[0]);
}

TEST(Displayable, BlankAndInvisibleRanges)
{
    const std::pair<std::uint32_t, bool> cases[] = {
        {0x00, false},   {0x20, false},   {0x21, true},    {0x7E, true},    {0x7F, false},
        {0xA0, false},   {0xA1, true},    {0x1FFF, true},  {0x2000, false}, {0x200F, false},
        {0x2010, true},  {0x2FFF, true},  {0x3000, false}, {0x3001, true},  {0xFEFE, true},
        {0xFEFF, false}, {0xFF00, true},  {0xD800, true},  {0x10FFFF, true},
    };
    for (auto [k, shown] : cases)
        EXPECT_EQ(is_displayable(k), shown) << std::hex << k;
}

TEST(CountBytewise, CountsAndPositions)
{
    static char_tally tally;
    static count_stage stage;
    const int fd = pipe_with("ab\nb\xC3\xA9\n\x80");
    const count_result r = count_bytewise(fd, stage, tally);
    const std::int64_t *counts = tally.char_counts;
    close(fd);
    SCOPED_TRACE(testing::PrintToString(r));
    EXPECT_EQ(r.status, UTF8_INVALID);
    EXPECT_EQ(r.position.lines, 2);
    EXPECT_EQ(r.position.characters, 6);
    EXPECT_EQ(r.position.bytes, 7);
    EXPECT_EQ(counts[0x62], 2);
    EXPECT_EQ(counts[0xE9], 1);
    EXPECT_EQ(counts[0x0A], 2);
    ASSERT_NE(r.sequence, nullptr);
    EXPECT_EQ(r.sequence[0], 0x80);
}

// The cached counts columns against the C library's formatting of the same
// values, over repeated counts and counts sharing a slot.
TEST(Format, CachedCountsAgreeWithPrintf)
{
    for (const std::int64_t total : {std::int64_t{700}, std::int64_t{65537}, std::int64_t{1} << 53}) {
        counts_cache cache;
        for (std::int64_t i = 0; i <= 3000; ++i) {
            const std::int64_t n = i == 3000 ? total : 1 + i * 37 % 700;  // slots hold n, n + 256, ...
            char want[128], got[128];
            const int length = std::snprintf(want, sizeof want, "\t%7.3f\t%8lld",
                                             static_cast<double>(n) / static_cast<double>(total) * 100.0,
                                             static_cast<long long>(n));
            ASSERT_EQ(std::string_view(got, format_counts(got, sizeof got, cache, n, static_cast<double>(total))),
                      std::string_view(want, static_cast<std::size_t>(length)))
                << n << " of " << total;
        }
    }
}

// The counting paths at their real sizes (reads of 256 KiB and 1 MiB, 16 KiB sub-blocks,
// pairs from 64 KiB on), which the paths test runs small: prose-like text
// across a block boundary, from a file and a pipe on every path, against the
// byte-at-a-time reader.
TEST(CountingPaths, ProseAtFullSize)
{
    std::minstd_rand rng(11);
    EXPECT_EQ(tally_harness::check_descriptors(tally_harness::prose_text(rng, 1200000), 65536), "");
}
