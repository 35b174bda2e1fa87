#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

#include "bits.hpp"
#include "io.hpp"
#include "utf8.hpp"

namespace {
std::uint32_t decode(std::initializer_list<unsigned char> bytes)
{
    return utf8_decode(std::span<const unsigned char>(bytes.begin(), bytes.size()));
}
}  // namespace

TEST(LeadByteTable, RangeBoundaries)
{
    struct Range {
        int first, last, extra;
    };
    constexpr Range ranges[] = {{0x00, 0x7F, 0}, {0x80, 0xBF, 0}, {0xC0, 0xDF, 1}, {0xE0, 0xEF, 2},
                                {0xF0, 0xF7, 3}, {0xF8, 0xFB, 4}, {0xFC, 0xFF, 5}};
    for (const Range &r : ranges)
        for (int b = r.first; b <= r.last; ++b)
            EXPECT_EQ(utf8_extra_bytes[b], r.extra) << "byte " << b;
}

TEST(LeadByteTable, ContinuationPredicate)
{
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(is_continuation(static_cast<unsigned char>(b)), b >= 0x80 && b <= 0xBF) << b;
}

TEST(DecodingRule, WellFormedSequences)
{
    EXPECT_EQ(decode({0x41}), 0x41u);
    EXPECT_EQ(decode({0xC3, 0xA9}), 0xE9u);
    EXPECT_EQ(decode({0xE2, 0x82, 0xAC}), 0x20ACu);
    EXPECT_EQ(decode({0xF0, 0x9F, 0x98, 0x80}), 0x1F600u);
    EXPECT_EQ(decode({0xF4, 0x8F, 0xBF, 0xBF}), 0x10FFFFu);
}

TEST(DecodingRule, LongFormsWrapModulo32Bits)
{
    EXPECT_EQ(decode({0xF8, 0x88, 0x80, 0x80, 0x80}), 0x200000u);
    EXPECT_EQ(decode({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), 0x7FFFFFFFu);
    EXPECT_EQ(decode({0xFE, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}), 0xBFFFFFFFu);
    EXPECT_EQ(decode({0xFF, 0x80, 0x80, 0x80, 0x80, 0x80}), 0xC0000000u);
    EXPECT_EQ(decode({0xFC, 0x80, 0x80, 0x80, 0x80, 0x80}), 0u);
}

TEST(DecodingRule, DoesNotValidate)
{
    EXPECT_EQ(decode({0xED, 0xA0, 0x80}), 0xD800u);  // a surrogate
    EXPECT_EQ(decode({0xC0, 0x80}), 0u);             // overlong
}

// The rule equals the concatenation of the payload bits for every
// well-formed two- and three-byte sequence.
TEST(DecodingRule, MatchesPayloadConcatenation)
{
    for (unsigned b0 = 0xC0; b0 <= 0xDF; ++b0)
        for (unsigned b1 = 0x80; b1 <= 0xBF; ++b1)
            ASSERT_EQ(decode({static_cast<unsigned char>(b0), static_cast<unsigned char>(b1)}),
                      ((b0 & 0x1Fu) << 6) | (b1 & 0x3Fu));
    for (unsigned b0 = 0xE0; b0 <= 0xEF; ++b0)
        for (unsigned b1 = 0x80; b1 <= 0xBF; ++b1)
            for (unsigned b2 = 0x80; b2 <= 0xBF; b2 += 7)
                ASSERT_EQ(decode({static_cast<unsigned char>(b0), static_cast<unsigned char>(b1),
                                  static_cast<unsigned char>(b2)}),
                          ((b0 & 0x0Fu) << 12) | ((b1 & 0x3Fu) << 6) | (b2 & 0x3Fu));
}

TEST(BitRenderers, FixedWidthMostSignificantFirst)
{
    EXPECT_STREQ(bit_string_8(0), "00000000");
    EXPECT_STREQ(bit_string_8(0xFF), "11111111");
    EXPECT_STREQ(bit_string_8(0xE2), "11100010");
    EXPECT_STREQ(bit_string_16(0x8001), "1000000000000001");
    EXPECT_STREQ(bit_string_32(0x20AC), "00000000000000000010000010101100");
    EXPECT_STREQ(bit_string_64(1), std::string(63, '0').append("1").c_str());
    EXPECT_STREQ(bit_string_64(0x8000000000000000u), std::string("1").append(63, '0').c_str());
    EXPECT_EQ(std::strlen(bit_string_32(0)), 32u);
}

TEST(BitRenderers, EachRendererReusesItsOwnBuffer)
{
    const char *first = bit_string_8(0x0F);
    const char *second = bit_string_8(0xF0);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "11110000");
    const char *wide = bit_string_16(0x00FF);
    EXPECT_NE(static_cast<const void *>(wide), static_cast<const void *>(first));
    EXPECT_STREQ(first, "11110000");  // another width leaves it alone
}

TEST(ReadFull, StopsAtEndOfInputAndTakesNoMoreThanAsked)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "\x82\xAC", 2), 2);
    ASSERT_EQ(write(fds[1], "rest", 4), 4);
    close(fds[1]);
    std::array<unsigned char, 8> into{};
    EXPECT_EQ(read_full(fds[0], into.data(), 2), 2);
    EXPECT_EQ(into[0], 0x82);
    EXPECT_EQ(read_full(fds[0], into.data(), into.size()), 4);
    EXPECT_EQ(std::memcmp(into.data(), "rest", 4), 0);
    EXPECT_EQ(read_full(fds[0], into.data(), 1), 0);
    close(fds[0]);
}

TEST(ReadFull, FailureIsMinusOne)
{
    std::array<unsigned char, 2> into{};
    EXPECT_EQ(read_full(-1, into.data(), into.size()), -1);
    EXPECT_EQ(errno, EBADF);
}
