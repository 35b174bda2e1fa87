// runetally's strict rule (-s) and its validating path (-l): the rule
// against an independent statement of it, and every path that applies it
// (the block scan, the validator, the readers of files, pipes and other
// descriptors) against the byte-at-a-time reader, on small blocks.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "decoder.hpp"
#include "reader.hpp"
#include "scan.hpp"
#include "tally_harness.hpp"

namespace {
using tally_harness::bytes;

// Independent statement: the shortest form of a Unicode scalar value (of a
// surrogate code point too, unless strict), up to four bytes.
bool oracle_legal(const std::vector<unsigned char> &s, bool strict)
{
    const unsigned char b0 = s[0];
    if (b0 < 0x80)
        return s.size() == 1;
    const int len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (len == 0 || b0 >= 0xF8 || static_cast<int>(s.size()) != len)
        return false;
    std::uint32_t v = b0 & (0x7Fu >> len);
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return false;
        v = (v << 6) | (s[i] & 0x3Fu);
    }
    const int shortest = v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;
    return v <= 0x10FFFF && shortest == len && !(strict && v >= 0xD800 && v <= 0xDFFF);
}

// Text of legal and ill-formed pieces, encoded surrogates many among them.
bytes strict_text(std::minstd_rand &rng, std::size_t pieces)
{
    static const char *const parts[] = {"a", "\n", "xyz", "\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80",
                                        "\xED\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF", "\xED\xB0", "\xEE\x80\x80",
                                        "\x80", "\xC0\xAF", "\xE0\x80\x80", "\xF4\x90\x80\x80", "\xED"};
    bytes s;
    for (std::size_t i = 0; i < pieces; ++i)
        s += rng() % 4 == 0 ? parts[rng() % std::size(parts)] : rng() % 16 == 0 ? "\xED\xA0\x80" : "q";
    return s;
}

// Where the rule says a block scan stops: the whole legal sequences at the
// front, then an ill-formed one (its length) or one held only in part.
struct stop {
    std::size_t consumed = 0;
    std::int64_t characters = 0;
    int invalid_length = 0;
};

stop reference_stop(const bytes &s, bool strict)
{
    stop r;
    const auto *p = reinterpret_cast<const unsigned char *>(s.data());
    while (r.consumed < s.size()) {
        const auto length = static_cast<std::size_t>(utf8_extra_bytes[p[r.consumed]]) + 1;
        if (s.size() - r.consumed < length)
            break;
        if (!utf8_sequence_is_legal({p + r.consumed, length}, strict)) {
            r.invalid_length = static_cast<int>(length);
            break;
        }
        r.consumed += length;
        ++r.characters;
    }
    return r;
}

tally_harness::outcome run(int fd, bool strict, int how)
{
    using namespace tally_harness;
    count_clear(got_tally);
    outcome o;
    o.result = how == 0   ? count_bytewise(fd, stage, got_tally, strict)
               : how == 1 ? count_fd(fd, stage, got_tally, strict)
                          : validate_fd(fd, strict);
    if (o.result.status == UTF8_INVALID)
        o.sequence.assign(reinterpret_cast<const char *>(o.result.sequence),
                          static_cast<std::size_t>(utf8_extra_bytes[o.result.sequence[0]]) + 1);
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        o.rest.append(buf, static_cast<std::size_t>(n));
    close(fd);
    if (writer > 0)
        waitpid(writer, nullptr, 0);
    writer = 0;
    return o;
}

// Back to every target the processor has, after a test that chose some.
void use_every_target()
{
#if RUNEKIT_VECTOR
    hwy::SetSupportedTargetsForTest(0);
#endif
}
}  // namespace

TEST(StrictLegality, AgreesWithShortestFormRuleWithoutSurrogates)
{
    for (unsigned b0 = 0xC0; b0 < 0xF0; ++b0)
        for (unsigned b1 = 0; b1 < 0x100; ++b1)
            for (unsigned b2 = 0; b2 < (b0 < 0xE0 ? 1u : 0x100u); ++b2) {
                std::vector<unsigned char> s{static_cast<unsigned char>(b0), static_cast<unsigned char>(b1)};
                if (b0 >= 0xE0)
                    s.push_back(static_cast<unsigned char>(b2));
                ASSERT_EQ(utf8_sequence_is_legal(s, true), oracle_legal(s, true)) << b0 << " " << b1 << " " << b2;
                ASSERT_EQ(utf8_sequence_is_legal(s), oracle_legal(s, false)) << b0 << " " << b1 << " " << b2;
            }
    EXPECT_TRUE(utf8_sequence_is_legal(std::vector<unsigned char>{0xF0, 0x9F, 0x98, 0x80}, true));
}

TEST(StrictScan, BlockScanAndValidatorStopWhereTheRuleSays)
{
    std::minstd_rand rng(32);
    for (const std::int64_t target : tally_harness::paths()) {
        tally_harness::use_path(target);
        for (int round = 0; round < 1000; ++round) {
            const bytes s = strict_text(rng, rng() % 40);
            for (const bool strict : {false, true}) {
                const stop want = reference_stop(s, strict);
                const auto data = tally_harness::span_of(s);
                ASSERT_EQ(validate_block(data, strict), want.consumed)
                    << round << " strict " << strict << " target " << target;
                tally_harness::stage.table = &tally_harness::got_tally;
                const block_scan got = scan_block(data, tally_harness::stage, strict);
                count_flush(tally_harness::stage);
                ASSERT_EQ(got.consumed, want.consumed) << round << " strict " << strict;
                ASSERT_EQ(got.characters, want.characters) << round;
                ASSERT_EQ(got.invalid, want.invalid_length != 0) << round;
                ASSERT_EQ(got.length, want.invalid_length) << round;
            }
        }
    }
    use_every_target();
}

// count_fd and validate_fd, strict or not, from files and pipes fed in
// pieces, against the byte-at-a-time reader: the same status, position,
// failing sequence and rest for the next reader (validate_fd counts no
// characters and lines, except for the report of a read error).
TEST(StrictPaths, FilesAndPipesAgreeWithTheBytewiseReader)
{
    using namespace tally_harness;
    std::minstd_rand rng(7);
    for (const std::int64_t target : paths()) {
        use_path(target);
        for (int round = 0; round < 100; ++round) {
            const bytes s = strict_text(rng, rng() % 200);
            const std::size_t piece = 1 + rng() % 70;
            for (const bool strict : {false, true}) {
                const outcome want = run(memory_file(s), strict, 0);
                ASSERT_EQ(same_outcome(want, run(memory_file(s), strict, 1)), "") << round << " file strict " << strict;
                ASSERT_EQ(same_outcome(want, run(input_pipe(s, piece), strict, 1)), "") << round << " pipe " << strict;
                for (const bool from_pipe : {false, true}) {
                    outcome got = run(from_pipe ? input_pipe(s, piece) : memory_file(s), strict, 2);
                    got.result.position.lines = want.result.position.lines;
                    got.result.position.characters = want.result.position.characters;
                    ASSERT_EQ(same_outcome(want, got), "")
                        << round << " validating, pipe " << from_pipe << " target " << target;
                }
            }
        }
    }
    use_every_target();
}
