#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codepoint.hpp"

namespace {
using namespace std::string_literals;

// True when parse_hex accepts text with exactly this magnitude and sign.
bool parses_to(std::string_view text, std::uint64_t magnitude, bool negative)
{
    const auto n = parse_hex(text);
    return n && n->magnitude == magnitude && n->negative == negative;
}

bool rejects(std::string_view text) { return !parse_hex(text).has_value(); }

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

TEST(ParseHex, DigitsOfEitherCase)
{
    EXPECT_TRUE(parses_to("0123456789", 0x0123456789, false));
    EXPECT_TRUE(parses_to("abcdef", 0xABCDEF, false));
    EXPECT_TRUE(parses_to("ABCDEF", 0xABCDEF, false));
    EXPECT_TRUE(parses_to("1f600", 0x1F600, false));
    EXPECT_TRUE(parses_to("0", 0, false));
    for (const char *bad : {"g", "G", "/", ":", "@", "`", "1g", "z1"})
        EXPECT_TRUE(rejects(bad)) << bad;
}

TEST(ParseHex, LeadingWhiteSpaceOfThePosixLocale)
{
    for (char space : {' ', '\t', '\n', '\v', '\f', '\r'})
        EXPECT_TRUE(parses_to(std::string(1, space) + "1F", 0x1F, false)) << int(space);
    EXPECT_TRUE(parses_to(" \t\n\v\f\r 1F", 0x1F, false));
    // Neighbours of the range, a NUL, and the Latin-1 and C1 spaces are text.
    for (std::string bad : {"\b1F"s, "\x0E" "1F"s, "\0" "1F"s, "\xA0" "1F"s, "\x85" "1F"s})
        EXPECT_TRUE(rejects(bad));
}

TEST(ParseHex, NothingMayFollowTheDigits)
{
    for (const char *bad : {"1F600 ", "1F600\n", "1F600G", "1F600+", "1 2", "1F600-", "0x1F600x"})
        EXPECT_TRUE(rejects(bad)) << bad;
    EXPECT_TRUE(rejects("1F600\0"s));
}

TEST(ParseHex, OneOptionalSign)
{
    EXPECT_TRUE(parses_to("+1F", 0x1F, false));
    EXPECT_TRUE(parses_to("-1F", 0x1F, true));
    EXPECT_TRUE(parses_to("  -1F", 0x1F, true));
    EXPECT_TRUE(parses_to("-0", 0, true));
    for (const char *bad : {"+-1", "-+1", "--1", "++1", "- 1", "1-", "+", "-", " -"})
        EXPECT_TRUE(rejects(bad)) << bad;
}

TEST(ParseHex, PrefixOnlyBeforeADigit)
{
    EXPECT_TRUE(parses_to("0x1F600", 0x1F600, false));
    EXPECT_TRUE(parses_to("0X1F600", 0x1F600, false));
    EXPECT_TRUE(parses_to("0xa", 0xA, false));
    EXPECT_TRUE(parses_to("0x0", 0, false));
    EXPECT_TRUE(parses_to("+0x10", 0x10, false));
    EXPECT_TRUE(parses_to("-0X10", 0x10, true));
    EXPECT_TRUE(parses_to(" \t0x10", 0x10, false));
    EXPECT_TRUE(parses_to("00", 0, false));
    // "0x" before a non-digit is the digit 0 and trailing text.
    for (const char *bad : {"0x", "0X", "0xg", "0x 1", "0x+1", "0x-1", "0x0x1", "00x1", "x1", "X1", " 0x"})
        EXPECT_TRUE(rejects(bad)) << bad;
}

TEST(ParseHex, AtLeastOneDigit)
{
    for (const char *bad : {"", " ", " \t\n", "+", "-", "0x", "+0x", "-0X", "U+1F600", "U"})
        EXPECT_TRUE(rejects(bad)) << bad;
}

TEST(ParseHex, SixteenSignificantDigitsFitSeventeenDoNot)
{
    EXPECT_TRUE(parses_to("FFFFFFFFFFFFFFFF", UINT64_MAX, false));
    EXPECT_TRUE(parses_to("-FFFFFFFFFFFFFFFF", UINT64_MAX, true));
    EXPECT_TRUE(parses_to("0xFFFFFFFFFFFFFFFF", UINT64_MAX, false));
    EXPECT_TRUE(parses_to("8000000000000000", 0x8000000000000000u, false));
    EXPECT_TRUE(parses_to("0000000000000000000000000FFFFFFFFFFFFFFFF", UINT64_MAX, false));
    EXPECT_TRUE(parses_to("000000000000000000000000000000000001", 1, false));
    EXPECT_TRUE(rejects("10000000000000000"));
    EXPECT_TRUE(rejects("FFFFFFFFFFFFFFFF0"));
    EXPECT_TRUE(rejects("-10000000000000000"));
    EXPECT_TRUE(rejects("000010000000000000000"));
}

// Where strtoull and the hand-written rules both accept a text, they agree
// on its value (strtoull negates modulo 2^64).
TEST(ParseHex, AgreesWithTheLibraryConversion)
{
    for (const char *text : {"0", "1", "-1", "+7f", " \t0x1F600", "-0X10FFFF", "FFFFFFFFFFFFFFFF",
                             "-FFFFFFFFFFFFFFFF", "123456789abcdef", "00000000000000000042", "\v-8"}) {
        errno = 0;
        char *end = nullptr;
        const unsigned long long expected = std::strtoull(text, &end, 16);
        ASSERT_EQ(errno, 0) << text;
        ASSERT_EQ(*end, '\0') << text;
        const auto n = parse_hex(text);
        ASSERT_TRUE(n.has_value()) << text;
        const std::uint64_t wrapped = n->negative ? 0 - n->magnitude : n->magnitude;
        EXPECT_EQ(wrapped, expected) << text;
    }
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
