// runetally's vector kernel against the scalar scan, on every Highway target
// that this build compiled and this processor runs (AVX-512, AVX2, SSE4,
// SSSE3 on x86): the same status, position, failing sequence, every counter
// and touched page, and the same bytes left on the descriptor. Linked with
// the small-block library (blocks of 61 bytes, vector sub-blocks of 24), and
// the kernel is also called directly with sub-blocks of 1 byte to 16 KiB, so
// that block, sub-block and vector boundaries fall inside every kind of
// sequence. The reference is the same code with the scalar target chosen,
// where the kernel takes nothing.
#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "reader.hpp"
#include "vector_count.hpp"
#include "vector_targets.hpp"

namespace {
using bytes = std::string;

char_tally want_tally, got_tally;

// The next touched page from `page` on, or count_pages.
std::size_t next_touched(const char_tally &t, std::size_t page)
{
    const void *found = std::memchr(t.touched + page, 1, count_pages - page);
    return found != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(found) - t.touched)
                            : count_pages;
}

void clear(char_tally &t)
{
    for (std::size_t page = next_touched(t, 0); page < count_pages; page = next_touched(t, page + 1)) {
        std::memset(&t.char_counts[page << count_page_shift], 0, sizeof(std::int64_t) << count_page_shift);
        t.touched[page] = 0;
    }
}

void use_target(std::int64_t target)
{
    hwy::SetSupportedTargetsForTest(target);
}

void use_scalar()
{
    hwy::SetSupportedTargetsForTest(HWY_SCALAR);
}

::testing::AssertionResult same_counts(const char_tally &want, const char_tally &got)
{
    if (std::memcmp(want.touched, got.touched, sizeof want.touched) != 0)
        return ::testing::AssertionFailure() << "touched pages differ";
    for (std::size_t page = next_touched(want, 0); page < count_pages; page = next_touched(want, page + 1)) {
        for (std::size_t k = page << count_page_shift; k < (page + 1) << count_page_shift; ++k)
            if (want.char_counts[k] != got.char_counts[k])
                return ::testing::AssertionFailure() << "count of U+" << std::hex << k << std::dec << ": "
                                                     << got.char_counts[k] << " instead of " << want.char_counts[k];
    }
    return ::testing::AssertionSuccess();
}

std::span<const unsigned char> span_of(const bytes &s)
{
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

// scan_block (kernel, then the scalar scan from where it stopped) on every
// target against the scalar scan alone, counts flushed.
void check_scan(const bytes &input)
{
    use_scalar();
    clear(want_tally);
    const block_scan want = scan_block(span_of(input), want_tally);
    tally_vector_flush(want_tally);
    for (const std::int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_target(target);
        clear(got_tally);
        const block_scan got = scan_block(span_of(input), got_tally);
        tally_vector_flush(got_tally);
        ASSERT_EQ(got.consumed, want.consumed);
        ASSERT_EQ(got.characters, want.characters);
        ASSERT_EQ(got.invalid, want.invalid);
        ASSERT_EQ(got.length, want.length);
        ASSERT_TRUE(same_counts(want_tally, got_tally));
    }
    use_scalar();
}

// Whether s is empty or the first bytes of some legal sequence.
bool begins_legal_sequence(const bytes &s)
{
    if (s.empty())
        return true;
    const auto b0 = static_cast<unsigned char>(s[0]);
    const std::size_t length = static_cast<std::size_t>(utf8_extra_bytes[b0]) + 1;
    if (s.size() >= length)
        return false;
    for (const unsigned char fill : {0x80, 0x90, 0xA0, 0xBF}) {
        unsigned char seq[6];
        for (std::size_t i = 0; i < length; ++i)
            seq[i] = i < s.size() ? static_cast<unsigned char>(s[i]) : fill;
        if (utf8_sequence_is_legal({seq, length}))
            return true;
    }
    return false;
}

// The kernel alone with sub-blocks of `subblock` bytes: what it takes is whole
// legal sequences, counted exactly; on input that is legal up to at most
// three bytes of a last sequence it takes all of the legal part; elsewhere it
// stops less than one sub-block (and a few bytes of moving back) before the
// point where the scalar scan stops. The kernel also stops before a sequence
// that is already ill-formed but not yet complete, which the scalar scan
// leaves for the next block.
void check_kernel(const bytes &input, std::size_t subblock)
{
    SCOPED_TRACE("sub-block " + std::to_string(subblock));
    use_scalar();
    clear(want_tally);
    const block_scan whole = scan_block(span_of(input), want_tally);
    for (const std::int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_target(target);
        clear(got_tally);
        const tally_vector_result got = tally_vector_scan(span_of(input), subblock, got_tally);
        tally_vector_flush(got_tally);
        ASSERT_LE(got.consumed, whole.consumed);
        if (!tally_vector_active()) {
            ASSERT_EQ(got.consumed, 0u) << "a target without the kernel took something";
        } else if (subblock >= 4) {
            // Legal up to the beginning of a legal sequence: all of it.
            if (!whole.invalid && begins_legal_sequence(input.substr(whole.consumed)))
                ASSERT_EQ(got.consumed, whole.consumed) << "stopped early in valid input";
            else
                ASSERT_LT(whole.consumed, got.consumed + std::min(subblock, tally_vector_max_subblock) + 4)
                    << "stopped too early before the ill-formed sequence";
        }
        use_scalar();
        clear(want_tally);
        const block_scan prefix = scan_block(span_of(input).first(got.consumed), want_tally);
        ASSERT_EQ(prefix.consumed, got.consumed);
        ASSERT_FALSE(prefix.invalid);
        ASSERT_EQ(got.characters, prefix.characters);
        ASSERT_TRUE(same_counts(want_tally, got_tally));
    }
    use_scalar();
}

const std::size_t subblocks[] = {1, 2, 3, 4, 5, 7, 16, 17, 24, 31, 63, 64, 65, 100, 1000, 16384, 100000};

// Random text made of fragments: ASCII runs, newlines, characters of every
// length, surrogates, and now and then a byte that may break the sequence.
bytes random_text(std::mt19937 &rng, std::size_t size, int break_rate)
{
    static const char *const fragments[] = {"a",
                                            "Z",
                                            " ",
                                            "\n",
                                            "the quick brown fox ",
                                            "0123456789abcdefghijklmnopqrstuvwxyz",
                                            "\xC3\xA9",
                                            "\xD0\xBC",
                                            "\xE2\x82\xAC",
                                            "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E",
                                            "\xED\x9F\xBF",
                                            "\xED\xA0\x80",
                                            "\xED\xBF\xBF",
                                            "\xEF\xBF\xBF",
                                            "\xF0\x9F\x98\x80",
                                            "\xF4\x8F\xBF\xBF",
                                            "\xF0\x90\x80\x80",
                                            "\xC2\x80",
                                            "\xDF\xBF",
                                            "\xE0\xA0\x80",
                                            "\x7F"};
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
    const std::uint32_t c = low[length - 1] + rng() % (high[length - 1] - low[length - 1] + 1);
    bytes s;
    if (length == 1) {
        s += static_cast<char>(c);
    } else if (length == 2) {
        s += static_cast<char>(0xC0 | c >> 6);
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (length == 3) {
        s += static_cast<char>(0xE0 | c >> 12);
        s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | c >> 18);
        s += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
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
}  // namespace

TEST(TallyVector, TargetsToTest)
{
    const auto targets = vector_targets();
    std::string names;
    bool some_active = false;
    for (const std::int64_t t : targets) {
        use_target(t);
        names += std::string(" ") + hwy::TargetName(t) + (tally_vector_active() ? "" : " (scalar scan)");
        some_active = some_active || tally_vector_active();
    }
    use_scalar();
    EXPECT_FALSE(tally_vector_active());
    std::printf("vector targets tested:%s\n", names.c_str());
#if HWY_ARCH_X86_64
    // Every x86-64 processor with AVX2 runs the kernel.
    if (std::find(targets.begin(), targets.end(), HWY_AVX2) != targets.end()) {
        EXPECT_TRUE(some_active);
    }
#endif
    // On x86-64 at least SSSE3 exists on every processor that runs these tests.
#if HWY_ARCH_X86_64
    EXPECT_FALSE(targets.empty());
#endif
}

TEST(TallyVector, EmptyAndTiny)
{
    check_scan("");
    check_scan("a");
    check_scan("\xC3");
    check_scan("\xC3\xA9");
    for (const std::size_t s : subblocks) {
        check_kernel("", s);
        check_kernel("a", s);
        check_kernel("\xF0\x9F\x98", s);
    }
}

TEST(TallyVector, RandomValidText)
{
    std::mt19937 rng(2026);
    for (int i = 0; i < 200; ++i) {
        const bytes text = i % 2 ? random_text(rng, rng() % 400, 0) : random_lengths(rng, rng() % 400);
        check_scan(text);
        check_kernel(text, subblocks[rng() % std::size(subblocks)]);
    }
}

TEST(TallyVector, RandomBrokenText)
{
    std::mt19937 rng(77);
    for (int i = 0; i < 400; ++i) {
        bytes text = i % 2 ? random_text(rng, rng() % 400, 20) : random_lengths(rng, rng() % 400);
        if (i % 2 == 0 && !text.empty())
            text[rng() % text.size()] = static_cast<char>(rng() % 256);
        check_scan(text);
        check_kernel(text, subblocks[rng() % std::size(subblocks)]);
    }
}

// Every pair of bytes, completed by continuation bytes or cut short by ASCII;
// every lead of three or more bytes with every second byte and chosen third
// bytes; every four-byte lead with chosen second, third and fourth bytes.
// Each after prefixes that put the sequence across the 16-byte units and the
// 64-byte vectors. An ill-formed one is an input of its own; legal ones are
// checked many at a time (the counting is what takes the time), one after
// the other, so that they also meet every alignment.
TEST(TallyVector, EverySequenceAcrossBoundaries)
{
    const unsigned char chosen[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xE0, 0xF0, 0xFF};
    bytes legal;
    int in_batch = 0;
    auto flush_batch = [&] {
        check_kernel(legal, 16384);
        check_kernel(legal, 100);
        check_scan(legal);
        legal.clear();
        in_batch = 0;
    };
    auto check = [&](std::size_t prefix, std::initializer_list<int> sequence) {
        bytes s(prefix, 'x');
        for (const int b : sequence)
            s += static_cast<char>(b);
        s += "z";
        use_scalar();
        clear(want_tally);
        if (scan_block(span_of(s), want_tally).consumed < s.size()) {
            check_kernel(s, 16384);
            return;
        }
        legal += s;
        if (++in_batch == 300)
            flush_batch();
    };
    for (const std::size_t prefix : {std::size_t{0}, std::size_t{14}, std::size_t{63}}) {
        SCOPED_TRACE("prefix " + std::to_string(prefix));
        for (int b0 = 0; b0 < 256; ++b0)
            for (int b1 = 0; b1 < 256; ++b1) {
                check(prefix, {b0, b1, 0x80, 0x80});
                check(prefix, {b0, b1, 0x41});
                if (b0 >= 0xE0)
                    for (const unsigned char b2 : chosen)
                        check(prefix, {b0, b1, b2, 0x80});
            }
        for (int b0 = 0xF0; b0 < 256; ++b0)
            for (const unsigned char b1 : chosen)
                for (const unsigned char b2 : chosen)
                    for (const unsigned char b3 : chosen)
                        check(prefix, {b0, b1, b2, b3});
    }
    flush_batch();
}

TEST(TallyVector, LargeInputsAndCounterWraps)
{
    std::mt19937 rng(5);
    // Long ASCII runs (counted by pairs), one pair and one code point far more
    // than 256 times, and a few thousand distinct characters.
    bytes text;
    for (int i = 0; i < 3000; ++i) {
        text += "ab\xE2\x82\xAC";
        text += random_char(rng, 1 + static_cast<int>(rng() % 4));
        if (i % 7 == 0)
            text += "the same old line, the same old line\n";
    }
    check_scan(text);
    for (const std::size_t s : {std::size_t{24}, std::size_t{1000}, std::size_t{16384}})
        check_kernel(text, s);
    bytes broken = text;
    broken[broken.size() / 2] = '\xFF';
    check_kernel(broken, 16384);
    check_kernel(bytes(100000, ' '), 16384);
}

// Through count_fd with blocks of 61 bytes: a regular file and a pipe on each
// target against the byte-at-a-time reader.
namespace {
struct outcome {
    count_result result;
    bytes sequence;
    bytes rest;
};

int regular_file(const bytes &input)
{
    char name[] = "/tmp/runekit-vector-XXXXXX";
    const int fd = mkstemp(name);
    unlink(name);
    if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()))
        std::abort();
    lseek(fd, 0, SEEK_SET);
    return fd;
}

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

outcome run(int fd, char_tally &t, bool bytewise)
{
    clear(t);
    outcome o;
    o.result = bytewise ? count_bytewise(fd, t) : count_fd(fd, t);
    if (o.result.status == UTF8_INVALID) {
        const int e = utf8_extra_bytes[o.result.sequence[0]];
        o.sequence.assign(reinterpret_cast<const char *>(o.result.sequence), static_cast<std::size_t>(e) + 1);
    }
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        o.rest.append(buf, static_cast<std::size_t>(n));
    close(fd);
    while (wait(nullptr) > 0) {
    }
    return o;
}

void check_descriptors(const bytes &input, std::size_t piece)
{
    use_scalar();
    const outcome want = run(feeding_pipe(input, piece), want_tally, true);
    for (const std::int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        use_target(target);
        for (const bool file : {true, false}) {
            SCOPED_TRACE(file ? "regular file" : "pipe");
            const outcome got = run(file ? regular_file(input) : feeding_pipe(input, piece), got_tally, false);
            ASSERT_EQ(got.result.status, want.result.status);
            ASSERT_EQ(got.result.position.lines, want.result.position.lines);
            ASSERT_EQ(got.result.position.characters, want.result.position.characters);
            ASSERT_EQ(got.result.position.bytes, want.result.position.bytes);
            ASSERT_EQ(got.sequence, want.sequence);
            ASSERT_TRUE(got.rest == want.rest);
            ASSERT_TRUE(same_counts(want_tally, got_tally));
        }
    }
    use_scalar();
}
}  // namespace

TEST(TallyVector, DescriptorsWithSmallBlocks)
{
    ASSERT_LT(tally_block_size, 100u) << "built with a small block";
    std::mt19937 rng(31);
    for (int i = 0; i < 30; ++i)
        check_descriptors(i % 2 ? random_text(rng, rng() % 3000, i % 4 == 1 ? 2 : 0) : random_lengths(rng, rng() % 3000),
                          1 + rng() % 1000);
    bytes broken = random_lengths(rng, 20000);
    broken += "\xED\xA0\x80\xF4\x90\x80\x80tail";
    check_descriptors(broken, 4096);
}
