// runetally's strict rule (-s) and its validating path (-l) on the readers of
// files and pipes, against the byte-at-a-time reader, on small blocks. (The
// rule itself is held to an independent statement in tally_test, and the
// block scan and validator to the rule in tally_paths_test.)
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "reader.hpp"
#include "tally_harness.hpp"

namespace {
using tally_harness::bytes;

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

// Back to every target the processor has, after a test that chose some.
void use_every_target()
{
#if RUNEKIT_VECTOR
    hwy::SetSupportedTargetsForTest(0);
#endif
}
}  // namespace

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
                const outcome want = run(memory_file(s), want_tally, read_path::bytewise, strict);
                ASSERT_EQ(same_outcome(want, run(memory_file(s), got_tally, read_path::blocks, strict)), "") << round << " file strict " << strict;
                ASSERT_EQ(same_outcome(want, run(input_pipe(s, piece), got_tally, read_path::blocks, strict)), "") << round << " pipe " << strict;
                for (const bool from_pipe : {false, true}) {
                    outcome got = run(from_pipe ? input_pipe(s, piece) : memory_file(s), got_tally, read_path::validating, strict);
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
