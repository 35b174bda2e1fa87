// runeflip -g: the Unicode Consortium's GraphemeBreakTest.txt as the oracle
// (each test string without a line feed, as one line, comes out as its
// clusters in reverse order), and the fast path and the segmenting path
// against the plain segmentation of flip_differential.hpp, on lines and
// through the work loop.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <utf8proc.h>

#include "flip_differential.hpp"

namespace {
using bytes = std::string;

std::span<const unsigned char> span_of(const bytes &s)
{
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

bytes utf8_of(std::uint32_t c)
{
    if (c < 0x80)
        return bytes(1, static_cast<char>(c));
    bytes s;
    const int length = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    for (int i = length - 1; i > 0; --i)
        s.insert(s.begin(), static_cast<char>(0x80 | ((c >> (6 * (length - 1 - i))) & 0x3F)));
    const unsigned lead = (0xF00u >> length) & 0xFF;
    return static_cast<char>(lead | (c >> (6 * (length - 1)))) + s;
}

bytes clusters_of(const bytes &line, reverse_result (*reverse)(std::span<const unsigned char>, unsigned char *) noexcept)
{
    // The line with the memory around it that the vector kernel may read.
    std::vector<unsigned char> in(line.size() + 2 * flip_vector_padding), out(line.size() + flip_vector_padding);
    std::copy(line.begin(), line.end(), in.begin() + flip_vector_padding);
    const reverse_result r = reverse({in.data() + flip_vector_padding, line.size()}, out.data());
    return r.status == reverse_status::reversed ? bytes(out.begin(), out.begin() + r.length) : "(cut short)";
}
}  // namespace

TEST(FlipClusters, UnicodeBreakTest)
{
    std::ifstream file(RUNEKIT_GRAPHEME_BREAK_TEST);
    ASSERT_TRUE(file) << RUNEKIT_GRAPHEME_BREAK_TEST << " is missing: install unicode-data";
    std::string text, file_version, library_version = utf8proc_unicode_version();
    std::getline(file, text);  // "# GraphemeBreakTest-15.0.0.txt"
    if (const auto dash = text.find('-'); dash != std::string::npos)
        file_version = text.substr(dash + 1, text.rfind(".txt") - dash - 1);
    const bool same_version = file_version == library_version;
    if (!same_version)
        std::printf("GraphemeBreakTest.txt is of Unicode %s, utf8proc of %s: strings whose answers differ are "
                    "listed as SKIP\n", file_version.c_str(), library_version.c_str());
    int checked = 0;
    while (std::getline(file, text)) {
        std::istringstream fields(text.substr(0, text.find('#')));
        bytes line, cluster, want;
        for (std::string field; fields >> field;) {
            if (field == "÷") {
                want.insert(0, cluster);
                cluster.clear();
            } else if (field != "×") {
                const bytes c = utf8_of(static_cast<std::uint32_t>(std::stoul(field, nullptr, 16)));
                line += c;
                cluster += c;
            }
        }
        if (line.empty() || line.find('\n') != bytes::npos)
            continue;
        ++checked;
        for (const auto reverse : {reverse_clusters, segment_clusters}) {
            const bytes got = clusters_of(line, reverse);
            if (!same_version && got != want)
                std::printf("SKIP %s\n", text.c_str());
            else
                EXPECT_EQ(got, want) << text;
        }
    }
    std::printf("%d test strings of Unicode %s checked against utf8proc's %s\n", checked, file_version.c_str(),
                library_version.c_str());
    EXPECT_GT(checked, 500);
}

namespace {
// Pieces of lines: characters of every class of UAX #29 that can join (a
// combining mark, ZWJ, a spacing mark, Prepend, a regional indicator, Hangul
// L, V, T, LV, LVT, an emoji and its modifier, kana voicing and ideographic
// tone marks, a variation selector), some that cannot (ASCII, CR, NUL,
// Latin, CJK, Devanagari and Sinhala letters, kana, CJK punctuation, a
// modifier letter, U+FFFD), and sequences that are no character.
const char *const joining[] = {"\xCC\x81", "\xE2\x80\x8D", "\xE0\xA4\xBF", "\xD8\x80", "\xF0\x9F\x87\xAB",
                               "\xE1\x84\x80", "\xE1\x85\xA1", "\xE1\x86\xA8", "\xEA\xB0\x80", "\xEA\xB0\x81",
                               "\xF0\x9F\x91\xA8", "\xF0\x9F\x8F\xBB", "\xE3\x82\x99", "\xE3\x80\xAA",
                               "\xEF\xB8\x8F"};
const bytes alone[] = {"a", "\r", bytes(1, '\0'), "\xC3\xA9", "\xE4\xB8\xAD", "\xE0\xA4\x95", "\xF0\x9F\x98\x80", "z",
                       "\xE3\x80\x81", "\xE3\x82\xA2", "\xCB\xBF", "\xEF\xBF\xBD", "\xE0\xB6\xA2"};
const char *const no_character[] = {"\x80", "\xC0\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xF8\x88\x80\x80\x80",
                                    "\xFC\x84\x80\x80\x80\x80", "\xE0\x80\x80", "\xF6\xA0\x80\x80"};

bytes random_line(std::mt19937 &rng, bool may_join)
{
    bytes line;
    for (std::size_t n = rng() % (rng() % 8 == 0 ? 200 : 12); n > 0; --n) {
        const unsigned roll = static_cast<unsigned>(rng() % 10);
        if (roll < 4 && may_join)
            line += joining[rng() % std::size(joining)];
        else if (roll < 9)
            line += alone[rng() % std::size(alone)];
        else
            line += no_character[rng() % std::size(no_character)];
    }
    if (rng() % 40 == 0)
        line.insert(rng() % (line.size() + 1), rng() % 2 == 0 ? "\xE2\x82" : "\xF0");  // a lead cut short, maybe
    return line;
}
}  // namespace

TEST(FlipClusters, FastPathAndSegmentingAgree)
{
    std::mt19937 rng(28);
    for (int i = 0; i < 4000; ++i) {
        const bytes line = random_line(rng, i % 2 == 0);
        const char *wrong = flip_check::check_clusters(span_of(line));
        ASSERT_EQ(wrong, nullptr) << wrong << ", line " << ::testing::PrintToString(line);
    }
}

TEST(FlipClusters, WorkLoop)
{
    std::mt19937 rng(6);
    for (int round = 0; round < 8; ++round) {
        bytes text;
        while (text.size() < 20000)
            text += random_line(rng, round % 3 != 0) + '\n';
        const line_reverser by_clusters{reverse_clusters, &joining_learnt()};
        const char *wrong = flip_check::check_stream(reinterpret_cast<const unsigned char *>(text.data()), text.size(),
                                                     round % 2 == 0, &by_clusters, flip_check::clusters_plain);
        ASSERT_EQ(wrong, nullptr) << wrong << ", round " << round;
    }
}

// The kernel's lookup of the code points that may join, on every target and
// in its portable form, against the library: every code point of two or
// three bytes, twice between letters (a line the kernel takes must come out
// as the library's clusters, and a line it leaves must hold a code point
// that shares its group of 32 with one that joins).
TEST(FlipClusters, EveryCodePointOfTwoOrThreeBytes)
{
    for (std::uint32_t c = 0x80; c < 0x10000; ++c) {
        bytes line = "a";  // appended to, not "a" + ...: GCC 12 at -O3 warns of an overlap there (-Wrestrict)
        line += utf8_of(c) + utf8_of(c) + "b";
        const char *wrong = flip_check::check_clusters(span_of(line));
        ASSERT_EQ(wrong, nullptr) << wrong << ", U+" << std::hex << c;
    }
}
