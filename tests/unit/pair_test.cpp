#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "codepoint.hpp"

namespace {
// The pair computed another way: UTF-16's division of the offset above
// plane 0 into a quotient and a remainder of 1024.
surrogate_pair pair_by_division(std::uint32_t v)
{
    const std::uint32_t offset = v - 0x10000;
    return {0xD800 + offset / 1024, 0xDC00 + offset % 1024};
}

// The code point a high and a low surrogate stand for.
std::uint32_t joined(surrogate_pair p)
{
    return 0x10000 + (p.high - 0xD800) * 1024 + (p.low - 0xDC00);
}
}  // namespace

// What the library conversion would take but a code point is not: a text
// without a digit after the blanks, sign and prefix, or with anything after
// the digits, or too large for 64 bits.
TEST(ParseCodepoint, DigitsAndNothingElse)
{
    EXPECT_EQ(parse_codepoint(" \t\n\v\f\r+0x1f600"), 0x1F600u);
    EXPECT_EQ(parse_codepoint("0000000000000000000000010FFFF"), 0x10FFFFu);
    for (const char *bad : {"", " ", "+", "-", "0x", "0X", "+0x", "0xg", " 0x", "x1", "\b1F", "\xA0" "1F",
                            "1F600 ", "1F600\n", "0x1F600x", "+-1", "- 1", "U+1F600", "10000000000000000"})
        EXPECT_FALSE(parse_codepoint(bad).has_value()) << bad;
}

TEST(ParseCodepoint, UnicodeRangeOnly)
{
    EXPECT_EQ(parse_codepoint("0"), 0u);
    EXPECT_EQ(parse_codepoint("FFFF"), 0xFFFFu);
    EXPECT_EQ(parse_codepoint("10000"), 0x10000u);
    EXPECT_EQ(parse_codepoint("10FFFF"), 0x10FFFFu);
    EXPECT_EQ(parse_codepoint("0x0010ffff"), 0x10FFFFu);
    for (const char *bad : {"110000", "100000000", "100010000", "FFFFFFFF", "FFFFFFFFFFFFFFFF",
                            "10000000000000000", "1F600G", ""})
        EXPECT_FALSE(parse_codepoint(bad).has_value()) << bad;
}

TEST(ParseCodepoint, NegativeOnlyWhenZero)
{
    EXPECT_EQ(parse_codepoint("-0"), 0u);
    EXPECT_EQ(parse_codepoint("-0x0"), 0u);
    EXPECT_EQ(parse_codepoint(" -000"), 0u);
    EXPECT_EQ(parse_codepoint("+1F600"), 0x1F600u);
    // -FFFFFFFFFFFFFFFF wraps to 1 and -FFFFFFFFFFEF0001 to 0x10FFFF.
    for (const char *bad : {"-1", "-1F600", "-FFFFFFFFFFFFFFFF", "-FFFFFFFFFFEF0001", "-10FFFF"})
        EXPECT_FALSE(parse_codepoint(bad).has_value()) << bad;
}

TEST(Surrogates, PlaneZeroNeedsNone)
{
    EXPECT_FALSE(needs_surrogates(0));
    EXPECT_FALSE(needs_surrogates(0xD800));
    EXPECT_FALSE(needs_surrogates(0xFFFF));
    EXPECT_TRUE(needs_surrogates(0x10000));
    EXPECT_TRUE(needs_surrogates(0x10FFFF));
}

// Code points the compiler itself encodes as UTF-16.
TEST(Surrogates, MatchTheCompilersUtf16)
{
    const std::pair<std::uint32_t, std::u16string_view> known[] = {
        {0x10000, u"\U00010000"}, {0x1F600, u"\U0001F600"}, {0x103FF, u"\U000103FF"},
        {0x10400, u"\U00010400"}, {0xFFFFF, u"\U000FFFFF"}, {0x100000, u"\U00100000"},
        {0x10FFFF, u"\U0010FFFF"},
    };
    for (const auto &[v, units] : known) {
        ASSERT_EQ(units.size(), 2u);
        const surrogate_pair p = surrogates_of(v);
        EXPECT_EQ(p.high, units[0]) << std::hex << v;
        EXPECT_EQ(p.low, units[1]) << std::hex << v;
    }
}

// Every supplementary code point: the pair matches the division form, lies
// in the two surrogate ranges, joins back to the code point, and the code
// point's own hexadecimal text parses back to it.
TEST(Surrogates, WholeSupplementaryRange)
{
    char text[16];
    for (std::uint32_t v = 0x10000; v <= codepoint_last; ++v) {
        const surrogate_pair p = surrogates_of(v);
        const surrogate_pair q = pair_by_division(v);
        ASSERT_EQ(p.high, q.high) << std::hex << v;
        ASSERT_EQ(p.low, q.low) << std::hex << v;
        ASSERT_TRUE(p.high >= 0xD800 && p.high <= 0xDBFF) << std::hex << v;
        ASSERT_TRUE(p.low >= 0xDC00 && p.low <= 0xDFFF) << std::hex << v;
        ASSERT_EQ(joined(p), v);
        std::snprintf(text, sizeof text, (v & 1) ? "%X" : "0x%x", static_cast<unsigned>(v));
        ASSERT_EQ(parse_codepoint(text), v) << text;
    }
}
