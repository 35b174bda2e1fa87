// Unit tests of RuneAnatomy's core: value classes, offset conversion, the
// properties of the report.
#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "explain.hpp"
#include "input.hpp"
#include "utf8.hpp"

// How GoogleTest shows a form when a check fails: by name.
void PrintTo(sequence_form f, std::ostream *os)
{
    const char *const names[] = {"valid", "out_of_range", "overlong", "surrogate"};
    *os << names[static_cast<int>(f)];
}

namespace {

struct explained {
    std::string text;
    int status;
};

// Runs explain_sequence into a memory stream.
explained explain(std::span<const unsigned char> bytes, int present)
{
    char *data = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&data, &size);
    EXPECT_NE(out, nullptr);
    const int status = explain_sequence(out, bytes, present);
    std::fclose(out);
    explained r{std::string(data, size), status};
    std::free(data);
    return r;
}

std::vector<std::string> lines_of(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

// A well-formed sequence with lead b0, its continuation bytes all `fill`.
std::array<unsigned char, 6> sequence(unsigned char b0, unsigned char fill)
{
    return {b0, fill, fill, fill, fill, fill};
}

}  // namespace

TEST(ValueClasses, ShortestLengthBoundaries)
{
    EXPECT_EQ(shortest_length(0x00), 1);
    EXPECT_EQ(shortest_length(0x7F), 1);
    EXPECT_EQ(shortest_length(0x80), 2);
    EXPECT_EQ(shortest_length(0x7FF), 2);
    EXPECT_EQ(shortest_length(0x800), 3);
    EXPECT_EQ(shortest_length(0xFFFF), 3);
    EXPECT_EQ(shortest_length(0x10000), 4);
    EXPECT_EQ(shortest_length(0x10FFFF), 4);
}

TEST(ValueClasses, FirstApplicableFormWins)
{
    EXPECT_EQ(classify_value(0x20AC, 3), sequence_form::valid);
    EXPECT_EQ(classify_value(0x10FFFF, 4), sequence_form::valid);
    EXPECT_EQ(classify_value(0x110000, 4), sequence_form::out_of_range);
    EXPECT_EQ(classify_value(0x110000, 5), sequence_form::out_of_range);  // also overlong
    EXPECT_EQ(classify_value(0xFFFFFFFF, 6), sequence_form::out_of_range);
    EXPECT_EQ(classify_value(0x7FF, 3), sequence_form::overlong);
    EXPECT_EQ(classify_value(0x800, 3), sequence_form::valid);
    EXPECT_EQ(classify_value(0xD800, 4), sequence_form::overlong);  // also a surrogate
    EXPECT_EQ(classify_value(0xD7FF, 3), sequence_form::valid);
    EXPECT_EQ(classify_value(0xD800, 3), sequence_form::surrogate);
    EXPECT_EQ(classify_value(0xDFFF, 3), sequence_form::surrogate);
    EXPECT_EQ(classify_value(0xE000, 3), sequence_form::valid);
}

TEST(SpreadHex, DigitsEveryFourPlaces)
{
    EXPECT_STREQ(spread_hex(0x20AC).data(), "0   0   0   0   2   0   A   C");
    EXPECT_STREQ(spread_hex(0xFEDCBA98).data(), "F   E   D   C   B   A   9   8");
    EXPECT_EQ(std::string_view(spread_hex(0).data()).size(), 29u);
}

// Every form an offset may take, with its value, and texts that are refused.
TEST(ParseOffset, AcceptedFormsAndRefusals)
{
    struct Accepted {
        const char *text;
        long long value;
    };
    constexpr Accepted accepted[] = {
        {"3", 3},
        {"010", 10},  // leading zeros stay decimal
        {" \t\n+3", 3},
        {"-12", -12},
        {"0x156", 0x156},
        {"0X1f", 0x1F},
        {"-0x10", -16},
        {"0", 0},
        {"9223372036854775807", LLONG_MAX},
        {"-9223372036854775808", LLONG_MIN},
        {"0x7FFFFFFFFFFFFFFF", LLONG_MAX},
        {"-0x8000000000000000", LLONG_MIN},
    };
    for (const Accepted &a : accepted)
        EXPECT_EQ(parse_offset(a.text), a.value) << a.text;

    constexpr const char *refused[] = {
        "", " ", "+", "-", "foo", "342abc", "3 ", "0x", "0xg", "x10", "1e3", "+-3", "- 3", "0x 1",
        "3.0", "0b1", "9223372036854775808", "-9223372036854775809", "0x8000000000000000",
        "99999999999999999999",
    };
    for (const char *text : refused)
        EXPECT_EQ(parse_offset(text), std::nullopt) << '"' << text << '"';
}

TEST(ParseOffset, KeepsErrno)
{
    errno = EBADF;
    EXPECT_EQ(parse_offset("99999999999999999999"), std::nullopt);
    EXPECT_EQ(parse_offset("7"), 7);
    EXPECT_EQ(errno, EBADF);
}

// Every lead byte with every count and a few kinds of continuation byte gives
// one whole verdict and a status that agrees with it.
TEST(ExplainSequence, EveryLeadEveryCount)
{
    for (int b0 = 0; b0 < 256; ++b0) {
        for (unsigned char fill : {0x80, 0xBF, 0x41, 0xC0}) {
            for (int present = 0; present <= 6; ++present) {
                const auto bytes = sequence(static_cast<unsigned char>(b0), fill);
                const explained r = explain(bytes, present);
                ASSERT_FALSE(r.text.empty());
                ASSERT_EQ(r.text.back(), '\n');
                const int needed = 1 + utf8_extra_bytes[b0];
                if (b0 < 0x80)
                    EXPECT_EQ(r.status, status_ok) << b0;
                else if (is_whole_verdict(static_cast<unsigned char>(b0)))
                    EXPECT_EQ(r.status, status_invalid) << b0;
                else if (present < needed) {
                    EXPECT_EQ(r.status, status_invalid) << b0;
                    EXPECT_NE(r.text.find(" only " + std::to_string(present) + " bytes"),
                              std::string::npos);
                } else if (!is_continuation(fill)) {
                    EXPECT_EQ(r.status, status_invalid) << b0;
                    EXPECT_NE(r.text.find("because byte 2,"), std::string::npos);
                } else {
                    const std::uint32_t v = utf8_decode(std::span(bytes).first(needed));
                    const bool valid = classify_value(v, needed) == sequence_form::valid;
                    EXPECT_EQ(r.status, valid ? status_ok : status_invalid) << b0;
                    EXPECT_EQ(lines_of(r.text).size(), valid ? 12u : 14u) << b0;
                }
            }
        }
    }
}

// In every full report the guide's hexadecimal digits stand under the first
// of the four binary digits each one stands for.
TEST(ExplainSequence, GuideLinesUpWithBinary)
{
    for (int b0 = 0xC0; b0 <= 0xFD; ++b0) {
        for (unsigned char fill : {0x80, 0x9A, 0xBF}) {
            const auto bytes = sequence(static_cast<unsigned char>(b0), fill);
            const std::vector<std::string> lines = lines_of(explain(bytes, 6).text);
            ASSERT_GE(lines.size(), 12u);
            const std::string &binary = lines[10];
            const std::string &guide = lines[11];
            const std::size_t at = binary.size() - 32;
            ASSERT_EQ(guide.size(), at + 29);
            EXPECT_EQ(guide.find_first_not_of(' '), at);
            for (std::size_t k = 0; k < 8; ++k) {
                const unsigned long nibble = std::stoul(binary.substr(at + 4 * k, 4), nullptr, 2);
                EXPECT_EQ(guide[at + 4 * k], "0123456789ABCDEF"[nibble]) << b0;
            }
        }
    }
}

// For the leads that carry a length prefix, the payload groups joined are
// the low B bits of the padded value, and the padding is 32 - B zeros.
TEST(ExplainSequence, PayloadGroupsMakeTheValue)
{
    for (int b0 = 0xC0; b0 <= 0xFD; ++b0) {
        const auto bytes = sequence(static_cast<unsigned char>(b0), 0xA5);
        const std::vector<std::string> lines = lines_of(explain(bytes, 6).text);
        ASSERT_GE(lines.size(), 12u);
        std::string groups = lines[9].substr(lines[9].find(": ") + 2);
        std::erase(groups, ' ');
        const std::string binary = lines[10].substr(lines[10].size() - 32);
        EXPECT_EQ(std::string(32 - groups.size(), '0') + groups, binary) << b0;
        const std::size_t payload = 6 + 5 * static_cast<std::size_t>(utf8_extra_bytes[b0]);
        EXPECT_EQ(groups.size(), payload) << b0;
    }
}
