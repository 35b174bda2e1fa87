// runeflip's vector kernel against reverse_line, on every Highway target that
// this build compiled and this processor runs, through the shared checks of
// flip_differential.hpp (which fail when a target the processor has was not
// run): lines of every short shape, across the vector boundaries, random
// and long ones.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdint>
#include <random>
#include <string>

#include "flip_differential.hpp"

namespace {
using bytes = std::string;

void check_line(const bytes &line, unsigned seed)
{
    const char *wrong =
        flip_check::check_line(reinterpret_cast<const unsigned char *>(line.data()), line.size(), seed);
    ASSERT_EQ(wrong, nullptr) << wrong << ", line of " << line.size() << " bytes";
}

using flip_check::random_line;
}  // namespace

// Every check fails when a target the processor has was not run; this one
// says which targets the dispatch chose.
TEST(FlipVector, TargetsRun)
{
    check_line("h\xC3\xA9llo", 1);
    std::string names;
    for (const std::int64_t t : flip_check::ran)
        names += std::string(" ") + hwy::TargetName(t);
    std::printf("vector targets run:%s\n", names.c_str());
#if HWY_ARCH_X86_64
    EXPECT_FALSE(flip_check::ran.empty());
#endif
}

// The rule the kernel's check is held to, on the sequences at its edges.
TEST(FlipVector, Domain)
{
    const auto in = [](const bytes &s) {
        return vector_domain({reinterpret_cast<const unsigned char *>(s.data()), s.size()});
    };
    for (const bytes s : {"", "a", "\xC3\xA9", "\xE2\x82\xAC", "\xF7\xBF\xBF\xBF", "\xC0\x80", "\xED\xA0\x80x"})
        EXPECT_TRUE(in(s)) << s;
    for (const bytes s : {"\x80", "a\xBF", "\xC3", "\xC3\xA9\xA9", "\xE2\x82", "\xE2\x82" "a", "\xF8\x88\x80\x80\x80",
                          "\xFF", "\xF0\x9F\x98"})
        EXPECT_FALSE(in(s)) << s;
}

TEST(FlipVector, ShortLinesOfEveryByte)
{
    check_line("", 1);
    for (int a = 0; a < 256; ++a) {
        check_line(bytes(1, static_cast<char>(a)), 2);
        for (int b = 0; b < 256; ++b)
            check_line(bytes{static_cast<char>(a), static_cast<char>(b)}, static_cast<unsigned char>(a + b));
    }
}

// Every three- and four-byte line over bytes of each kind, after prefixes
// that put it across the vector boundaries (16, 32 and 64 bytes) counted
// from the end of the line.
TEST(FlipVector, SequencesAcrossVectorBoundaries)
{
    const unsigned char kinds[] = {0x41, 0x80, 0xBF, 0xC0, 0xDF, 0xE0, 0xEF, 0xF0, 0xF7, 0xF8, 0xFF};
    for (const std::size_t prefix : {0, 13, 29, 30, 61, 62, 63, 64, 65}) {
        SCOPED_TRACE("prefix " + std::to_string(prefix));
        for (const unsigned char a : kinds)
            for (const unsigned char b : kinds)
                for (const unsigned char c : kinds) {
                    const bytes three{static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
                    check_line(bytes(prefix, 'p') + three, a);
                    check_line(three + bytes(prefix, 's'), b);
                    for (const unsigned char e : kinds)
                        if (prefix % 4 == 1)
                            check_line(bytes(prefix, 'q') + three + static_cast<char>(e) + "\xC3\xA9", c);
                }
    }
}

TEST(FlipVector, RandomLines)
{
    std::mt19937 rng(4);
    for (int i = 0; i < 3000; ++i) {
        bytes line = random_line(rng, rng() % (i % 10 == 0 ? 2000 : 200));
        if (i % 3 == 1 && !line.empty())
            line[rng() % line.size()] = static_cast<char>(rng() % 256);  // maybe no longer qualifies
        check_line(line, static_cast<unsigned char>(i));
    }
}

TEST(FlipVector, LongLine)
{
    std::mt19937 rng(9);
    const bytes line = random_line(rng, 300000);
    check_line(line, 3);
    bytes broken = line;
    broken[150001] = '\x80';
    check_line(broken, 4);
}
