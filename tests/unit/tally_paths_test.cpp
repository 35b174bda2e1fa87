// runetally's counting paths (block reader from a regular file and from a
// pipe, vector kernel on every target the processor runs) against the
// byte-at-a-time reader on the scalar code, through the shared harness:
// counts, status, position, failing sequence and the bytes left for the next
// reader. Linked with blocks of 61 bytes and sub-blocks of 24.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "hex.hpp"
#include "tally_harness.hpp"

using namespace tally_harness;

namespace {
// Random text made of fragments: ASCII runs, newlines, characters of every
// length, surrogates, and now and then a byte that may break the sequence.
bytes random_text(std::mt19937 &rng, std::size_t size, int break_rate)
{
    static const char *const fragments[] = {
        "a", "Z", " ", "\n", "the quick brown fox ", "0123456789abcdefghijklmnopqrstuvwxyz", "\xC3\xA9", "\xD0\xBC",
        "\xE2\x82\xAC", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", "\xED\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
        "\xEF\xBF\xBF", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xF0\x90\x80\x80", "\xC2\x80", "\xDF\xBF",
        "\xE0\xA0\x80", "\x7F"};
    bytes s;
    while (s.size() < size) {
        if (break_rate && static_cast<int>(rng() % 1000) < break_rate)
            s.push_back(static_cast<char>(rng() % 256));
        else
            s += fragments[rng() % std::size(fragments)];
    }
    return s;
}

// A random character of `length` bytes, with code points all over its range.
bytes random_char(std::mt19937 &rng, int length)
{
    static const std::uint32_t low[] = {0, 0x80, 0x800, 0x10000}, high[] = {0x7F, 0x7FF, 0xFFFF, 0x10FFFF};
    std::uint32_t c = low[length - 1] + rng() % (high[length - 1] - low[length - 1] + 1);
    char out[4];
    for (int i = length - 1; i > 0; --i, c >>= 6)
        out[i] = static_cast<char>(0x80 | (c & 0x3F));
    out[0] = static_cast<char>(length == 1 ? c : (0xF00u >> length) | c);
    return bytes(out, static_cast<std::size_t>(length));
}

// Runs of one length with a few of another, to put every length on every
// vector and sub-block boundary.
bytes random_lengths(std::mt19937 &rng, std::size_t size)
{
    const int main_length = 1 + static_cast<int>(rng() % 4);
    bytes s;
    while (s.size() < size)
        s += random_char(rng, rng() % 8 == 0 ? 1 + static_cast<int>(rng() % 4) : main_length);
    return s;
}

void check(const bytes &input, std::size_t piece = 65536)
{
    ASSERT_EQ(check_descriptors(input, piece), "") << "input " << hex_dump(input.substr(0, 400));
}

#if RUNEKIT_VECTOR
const std::size_t subblocks[] = {1, 2, 3, 4, 5, 7, 16, 17, 24, 31, 63, 64, 65, 100, 1000, 16384, 100000};

void check_kernel_at(const bytes &input, std::size_t subblock, bool strict = false)
{
    ASSERT_EQ(check_kernel(input, subblock, strict), "")
        << "sub-block " << subblock << (strict ? " (strict)" : "") << ", input " << hex_dump(input.substr(0, 400));
}

// For input that is one sub-block and not whole legal sequences: whether
// the kernel takes none of it on every target ("" when it does not), as
// check_kernel would say, at a fraction of the cost.
std::string kernel_refuses(const bytes &input)
{
    for (const std::int64_t target : kernel_targets())
        for (const bool every_step : {false, true}) {
            use_path(target);
            stage.table = &got_tally;
            const tally_vector_result got = tally_vector_scan(span_of(input), 16384, stage_pairs_room(stage, input.size()),
                                                              false, &stage, every_step);
            if (got.consumed != 0) {
                count_flush(stage);
                count_clear(got_tally);
                return std::string("the kernel took an ill-formed sub-block (") + hwy::TargetName(target) + ")";
            }
        }
    return "";
}
#endif
}  // namespace

TEST(CountingPaths, RandomInputsInSmallPieces)
{
    std::mt19937 rng(2026);
    for (int i = 0; i < 300; ++i)
        check(random_text(rng, rng() % 64, 30), 1 + rng() % 7);
    for (int i = 0; i < 30; ++i)
        check(i % 2 ? random_text(rng, rng() % 3000, i % 4 == 1 ? 2 : 0) : random_lengths(rng, rng() % 3000),
              1 + rng() % 1000);
}

TEST(CountingPaths, EveryByteAfterAValidPrefix)
{
    for (int b = 0; b < 256; ++b) {
        check("ab\xC3\xA9\n" + bytes(1, static_cast<char>(b)));
        check("ab\xC3\xA9\n" + bytes(1, static_cast<char>(b)) + "\x80\x80\x80\x80\x80xyz");
    }
}

TEST(CountingPaths, FailuresAtAndAcrossTheBlockBoundary)
{
    const std::size_t block = tally_file_read_size;
    ASSERT_LT(block, 100u) << "built with a small block";
    const bytes tails[] = {"\xF0\x9F\x98\x80tail", "\xE2\x82", "\xE2\x28\xA1rest", "\x80rest",
                           "\xF8\x80\x80\x80\x80rest", "\xC0\xAFrest", "\xF4\x90\x80\x80rest", "\xE2\x82\xAC"};
    for (const bytes &tail : tails)
        for (std::size_t back = 0; back <= 12; ++back) {
            check(bytes(block - back, 'x') + tail);
            check(bytes(3 * block - back, 'x') + tail, 5);
        }
}

TEST(CountingPaths, LargeInputsSlowWritersAndCounterWraps)
{
    std::mt19937 rng(7);
    check(random_text(rng, 300000, 0), 4096);
    bytes broken = random_lengths(rng, 200003);
    broken += "\xED\xA0\x80\xF4\x90\x80\x80\xFF\xFE";
    broken += random_text(rng, 100000, 0);
    check(broken, 100000);
    check(random_text(rng, 5000, 0), 1);
    check(random_text(rng, 5000, 5), 3);
    // The 8-bit staged counter of a code point around its wrap.
    for (const int n : {255, 256, 257, 511, 512, 513})
        check(bytes("x") + [n] {
            bytes s;
            for (int i = 0; i < n; ++i)
                s += "\xE2\x82\xAC";
            return s;
        }());
}

TEST(CountingPaths, ReadErrorTravelsInTheResult)
{
    count_clear(got_tally);
    const count_result closed = count_fd(-1, stage, got_tally);
    EXPECT_EQ(closed.status, UTF8_READ_ERROR);
    EXPECT_EQ(closed.error, EBADF);
}

// Pairs of ASCII bytes are held in 32-bit counters: staged pairs are moved
// to the table before a counter could wrap.
TEST(CountingStage, PairCountersMergeBeforeTheyWrap)
{
    count_clear(got_tally);
    stage.table = &got_tally;
    stage.pairs_staged = 0xFFFFFFFFu - 10;
    stage.pair_counts[0x61 | 0x62 << 8] = 0xFFFFFFFFu - 10;
    ASSERT_TRUE(stage_pairs_room(stage, 160));
    for (int i = 0; i < 20; ++i)
        stage_pairs(stage, reinterpret_cast<const unsigned char *>("abababab"), 8);
    count_flush(stage);
    EXPECT_EQ(got_tally.char_counts[0x61], 0xFFFFFFFFll - 10 + 80);
    EXPECT_EQ(got_tally.char_counts[0x62], 0xFFFFFFFFll - 10 + 80);
    EXPECT_EQ(stage.pairs_staged, 0u);
}

// A zero that completes the last pair of an odd number of bytes is taken
// back by the merge, also when a merge comes before the counters could wrap;
// a zero byte of the text stays counted.
TEST(CountingStage, ZerosThatCompleteAPairAreTakenBack)
{
    count_clear(got_tally);
    stage.table = &got_tally;
    unsigned char text[8] = {'b', 0, 'a'};
    ASSERT_TRUE(stage_pairs_room(stage, 16));
    stage_pairs(stage, text, 3);
    stage.pairs_staged = 0xFFFFFFFFu;
    ASSERT_TRUE(stage_pairs_room(stage, 16));  // merges
    stage_pairs(stage, text + 2, 1);
    count_flush(stage);
    EXPECT_EQ(got_tally.char_counts[0x61], 2);
    EXPECT_EQ(got_tally.char_counts[0x62], 1);
    EXPECT_EQ(got_tally.char_counts[0], 1);
    EXPECT_EQ(stage.pair_zeros, 0u);
}

// Adding one table to another (runetally -k) keeps every count and touched
// page and leaves the source clear.
TEST(CountingStage, AddAndClearByTouchedPages)
{
    count_clear(want_tally);
    count_clear(got_tally);
    count_char(want_tally, 0x41, 3);
    count_char(want_tally, 0x10FFFF, 1);
    count_char(got_tally, 0x41, 2);
    count_add(got_tally, want_tally);
    EXPECT_EQ(got_tally.char_counts[0x41], 5);
    EXPECT_EQ(got_tally.char_counts[0x10FFFF], 1);
    EXPECT_EQ(got_tally.touched[0x10FFFF >> count_page_shift], 1);
    EXPECT_EQ(want_tally.char_counts[0x41], 0);
    EXPECT_EQ(std::count(std::begin(want_tally.touched), std::end(want_tally.touched), 1), 0);
}

#if RUNEKIT_VECTOR
// The checks ran every vector target whose instructions the processor has
// (the dispatch code could leave one out; then nothing here would run it).
TEST(VectorKernel, EveryTargetOfTheProcessorRuns)
{
    ASSERT_EQ(check_kernel("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", 24), "");
    ASSERT_EQ(check_descriptors("ab\n", 3), "");
    EXPECT_EQ(targets_not_run(ran), "");
}

TEST(VectorKernel, TargetsToTest)
{
    std::string names;
    for (const std::int64_t t : vector_targets())
        names += std::string(" ") + hwy::TargetName(t) + (kernel_target(t) ? "" : " (scalar scan)");
    std::printf("vector targets tested:%s\n", names.c_str());
#if HWY_ARCH_X86_64
    EXPECT_FALSE(vector_targets().empty());  // every x86-64 processor has SSSE3
#endif
}

TEST(VectorKernel, RandomTextAtEverySubblockSize)
{
    std::mt19937 rng(77);
    for (const bytes s : {"", "a", "\xF0\x9F\x98"})
        for (const std::size_t sub : subblocks)
            check_kernel_at(s, sub);
    for (int i = 0; i < 600; ++i) {
        bytes text = i % 2 ? random_text(rng, rng() % 400, i % 3 ? 20 : 0) : random_lengths(rng, rng() % 400);
        if (i % 4 == 0 && !text.empty())
            text[rng() % text.size()] = static_cast<char>(rng() % 256);
        check_kernel_at(text, subblocks[rng() % std::size(subblocks)]);
    }
    bytes wraps;
    for (int i = 0; i < 3000; ++i)
        wraps += "ab\xE2\x82\xAC" + random_char(rng, 1 + static_cast<int>(rng() % 4));
    for (const std::size_t s : {std::size_t{24}, std::size_t{1000}, std::size_t{16384}})
        check_kernel_at(wraps, s);
    wraps[wraps.size() / 2] = '\xFF';
    check_kernel_at(wraps, 16384);
    // Characters of one to three bytes only, more than 32 to a vector (the
    // 16-bit decoding, both halves of a vector), one of them often enough
    // that its counter wraps.
    bytes bmp;
    for (int i = 0; i < 30000; ++i)
        bmp += i % 8 == 0 ? bytes("\xD0\xBC") : random_char(rng, 1 + static_cast<int>(rng() % 6) / 3 + (i % 16 == 1));
    for (const std::size_t s : {std::size_t{63}, std::size_t{1000}, std::size_t{16384}})
        check_kernel_at(bmp, s);
    // Characters from every plane (counted in short lists), one of them
    // often enough that its 8-bit counter wraps.
    bytes planes;
    for (int i = 0; i < 20000; ++i)
        planes += random_char(rng, 4) + (i % 4 == 0 ? "\xF0\x9F\x98\x80" : "");
    for (const std::size_t s : {std::size_t{1000}, std::size_t{16384}})
        check_kernel_at(planes, s);
    check_kernel_at(bytes(100000, ' '), 16384);
    const bytes prose = prose_text(rng, 100000);
    for (const std::size_t s : {24, 63, 64, 65, 1000, 1025, 16384})
        check_kernel_at(prose, s);
    // A sub-block that is ASCII but for one byte early in it, long enough
    // that its length does not fit in a signed byte.
    check_kernel_at(bytes(20, ' ') + "\x80" + bytes(146, ' '), 16384);
    // A sequence cut short where a sub-block ends, the next sub-block
    // beginning with a lead byte: the error is the earlier one.
    for (const std::size_t sub : {64, 1000, 16384})
        for (const bytes cut : {"\xC3", "\xE2\x82", "\xF0\x9F\x98"})
            for (const bytes filler : {"x", "\xE6\x97\xA5"}) {  // ASCII or CJK before it
                bytes s((sub - cut.size()) % filler.size(), 'x');
                while (s.size() < sub - cut.size())
                    s += filler;
                check_kernel_at(s + cut + "\xE2\x82\xAC" + bytes(200, 'y'), sub);
            }
}

// Eight frequent bytes, NUL and DEL among them, each in the same lanes of
// every vector for longer than the counts are read (every bit of the
// classes in every level), with characters above U+007F now and then.
TEST(VectorKernel, EightFrequentBytesInEveryLevel)
{
    bytes text;
    for (int i = 0; i < 12000; ++i)
        text += i % 2500 == 1 ? bytes("\xC3\xA9\xE2\x82\xAC" "ab") : bytes("\x00\x7F" "aeiou ", 8);
    for (const std::size_t s : {std::size_t{1000}, std::size_t{16384}})
        check_kernel_at(text, s);
}

// Every pair of bytes, completed by continuation bytes or cut short by ASCII;
// every lead of three or more bytes with every second byte and chosen third
// bytes; every four-byte lead with chosen second, third and fourth bytes.
// Each after prefixes that put the sequence across the 16-byte units and the
// 64-byte vectors. Legal ones are checked many at a time, one after the
// other, so that they also meet every alignment.
TEST(VectorKernel, EverySequenceAcrossBoundaries)
{
    const unsigned char chosen[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xE0, 0xF0, 0xFF};
    bytes legal;
    auto check_one = [&](std::size_t prefix, std::initializer_list<int> sequence) {
        bytes s(prefix, 'x');
        for (const int b : sequence)
            s += static_cast<char>(b);
        s += "z";
        if (!whole_legal(s)) {
            ASSERT_EQ(kernel_refuses(s), "") << hex_dump(s);
        } else if ((legal += s).size() > 20000) {
            check_kernel_at(legal, 16384);
            check_kernel_at(legal, 100);
            legal.clear();
        }
    };
    for (const std::size_t prefix : {std::size_t{0}, std::size_t{14}, std::size_t{63}}) {
        for (int b0 = 0; b0 < 256; ++b0)
            for (int b1 = 0; b1 < 256; ++b1) {
                check_one(prefix, {b0, b1, 0x80, 0x80});
                check_one(prefix, {b0, b1, 0x41});
                if (b0 >= 0xE0)
                    for (const unsigned char b2 : chosen)
                        check_one(prefix, {b0, b1, b2, 0x80});
            }
        for (int b0 = 0xF0; b0 < 256; ++b0)
            for (const unsigned char b1 : chosen)
                for (const unsigned char b2 : chosen)
                    for (const unsigned char b3 : chosen)
                        check_one(prefix, {b0, b1, b2, b3});
    }
    check_kernel_at(legal, 16384);
}

// With `strict`, an encoded surrogate stops the kernel and the scan at its
// ED byte: in nearly-ASCII text and in other text, at every place around
// the 16-byte units and the sub-blocks; and the legal neighbours of the
// surrogates (ED 9F BF, EE 80 80) pass.
TEST(VectorKernel, StrictSurrogatesAcrossBoundaries)
{
    std::mt19937 rng(41);
    const bytes fillers[] = {prose_text(rng, 3000), random_lengths(rng, 3000)};
    for (const bytes &filler : fillers)
        for (const bytes surrogate : {"\xED\xA0\x80", "\xED\xBF\xBF", "\xED\x9F\xBF\xEE\x80\x80"})
            for (std::size_t at = 0; at < 140; at += 1 + at / 16) {
                bytes s = filler.substr(0, at);
                while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) != 0)
                    s.pop_back();  // no character cut in two
                s += surrogate + filler.substr(0, 200);
                for (const std::size_t sub : {24, 64, 16384})
                    check_kernel_at(s, sub, true);
                ASSERT_EQ(check_blocks(s), "") << hex_dump(s.substr(0, 400));
            }
}
#endif

// scan_block and validate_block, with and without `strict`, on every path
// against the reference rule: random text with surrogates and broken bytes.
TEST(BlockScan, ScanAndValidateAgainstTheRule)
{
    std::mt19937 rng(43);
    for (int i = 0; i < 200; ++i) {
        bytes text = i % 3 == 0 ? prose_text(rng, rng() % 3000) : random_text(rng, rng() % 3000, i % 2 ? 1 : 0);
        if (i % 4 == 0 && !text.empty())
            text[rng() % text.size()] = static_cast<char>(0xED);
        ASSERT_EQ(check_blocks(text), "") << hex_dump(text.substr(0, 400));
    }
}
