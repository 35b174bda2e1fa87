// runeflip's reversal against its byte-at-a-time reference, its line reader,
// and its work loop against reverse_line (flip_differential.hpp), all built
// with a small read block and output buffer.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "flip_differential.hpp"
#include "hex.hpp"
#include "line_io.hpp"
#include "reverse.hpp"

// How GoogleTest shows the results when a check fails: statuses by name,
// a reversal by field.
void PrintTo(reverse_status s, std::ostream *os)
{
    *os << (s == reverse_status::reversed ? "reversed" : "truncated");
}

void PrintTo(const reverse_result &r, std::ostream *os)
{
    PrintTo(r.status, os);
    *os << " {length " << r.length << ", position " << r.position << ", needed " << r.needed << ", present "
        << r.present << "}";
}

void PrintTo(read_status s, std::ostream *os)
{
    const char *const names[] = {"line", "end", "read_error", "no_memory"};
    *os << names[static_cast<int>(s)];
}

namespace {
using bytes = std::vector<unsigned char>;

std::string hex_of(const bytes &line)
{
    return hex_dump(std::string_view(reinterpret_cast<const char *>(line.data()), line.size()));
}

bytes of(std::string_view s)
{
    return bytes(s.begin(), s.end());
}

// Runs one reversal routine with guard bytes behind an output buffer of
// exactly the line's size, and checks that nothing beyond it was touched.
struct outcome {
    reverse_result result;
    bytes text;
};

outcome run(reverse_result (*routine)(std::span<const unsigned char>, unsigned char *), const bytes &line)
{
    constexpr unsigned char guard = 0xEE;
    bytes out(line.size() + 16, guard);
    const reverse_result r = routine(line, out.data());
    for (std::size_t i = line.size(); i < out.size(); ++i)
        EXPECT_EQ(out[i], guard) << "written past the buffer at " << i;
    const auto length = r.status == reverse_status::reversed ? static_cast<std::size_t>(r.length) : 0;
    return {r, bytes(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(length))};
}

// Reverses with both routines, requires them to agree and returns the text.
bytes flipped(const bytes &line)
{
    SCOPED_TRACE("line of " + hex_of(line));
    const outcome fast = run(reverse_line, line);
    const outcome reference = run(flip_check::reverse_line_bytewise, line);
    EXPECT_EQ(fast.result.status, reverse_status::reversed);
    EXPECT_EQ(fast.text, reference.text);
    return fast.text;
}

// The truncation details, checked to agree between both routines.
reverse_result truncation(const bytes &line)
{
    SCOPED_TRACE("line of " + hex_of(line));
    const reverse_result fast = run(reverse_line, line).result;
    const reverse_result reference = run(flip_check::reverse_line_bytewise, line).result;
    EXPECT_EQ(fast.status, reverse_status::truncated);
    EXPECT_EQ(reference.status, reverse_status::truncated);
    EXPECT_EQ(fast.position, reference.position);
    EXPECT_EQ(fast.needed, reference.needed);
    EXPECT_EQ(fast.present, reference.present);
    return fast;
}
}  // namespace

TEST(Reversal, SingleAndMultiByteCharacters)
{
    EXPECT_EQ(flipped(of("abc")), of("cba"));
    EXPECT_EQ(flipped(of("h\xC3\xA9llo")), of("oll\xC3\xA9h"));
    EXPECT_EQ(flipped(of("\xE2\x82\xAC\xF0\x9F\x98\x80x")), of("x\xF0\x9F\x98\x80\xE2\x82\xAC"));
    EXPECT_EQ(flipped(of("")), of(""));
    EXPECT_EQ(flipped(of("abc\r")), of("\rcba"));
    EXPECT_EQ(flipped(bytes{'a', 0, 'b'}), (bytes{'b', 0, 'a'}));
}

TEST(Reversal, LeadBytesGetNoFurtherTest)
{
    EXPECT_EQ(flipped(of("\xC0\x80z")), of("z\xC0\x80"));                  // overlong NUL
    EXPECT_EQ(flipped(of("\xED\xA0\x80z")), of("z\xED\xA0\x80"));          // surrogate
    EXPECT_EQ(flipped(of("\xF8\x88\x80\x80\x80z")), of("z\xF8\x88\x80\x80\x80"));
    EXPECT_EQ(flipped(of("\xFF\xBF\xBF\xBF\xBF\xBFz")), of("z\xFF\xBF\xBF\xBF\xBF\xBF"));
}

TEST(Reversal, UnclaimedContinuationBytesAreCharactersOfTheirOwn)
{
    EXPECT_EQ(flipped(of("\xA9x")), of("x\xA9"));                       // at the start
    EXPECT_EQ(flipped(of("a\xA9" "b")), of("b\xA9" "a"));               // after a single byte
    EXPECT_EQ(flipped(of("\xC3\xA9\xA9")), of("\xA9\xC3\xA9"));         // past the lead's count
    EXPECT_EQ(flipped(of("\xE2\x82\xAC\x82")), of("\x82\xE2\x82\xAC"));
    EXPECT_EQ(flipped(of("\x80\x81\xBF")), of("\xBF\x81\x80"));
}

TEST(Truncation, ReportsPositionCountAndPresentBytes)
{
    reverse_result r = truncation(of("ab\xC3"));
    EXPECT_EQ(r.position, 3);
    EXPECT_EQ(r.needed, 1);
    EXPECT_EQ(r.present, 0);

    r = truncation(of("\xE2\x82"));
    EXPECT_EQ(r.position, 1);
    EXPECT_EQ(r.needed, 2);
    EXPECT_EQ(r.present, 1);

    // The bytes present stop at the next character, not at the line's end.
    r = truncation(of("xy\xF0\x9F\x98z\xC3\xA9"));
    EXPECT_EQ(r.position, 3);
    EXPECT_EQ(r.needed, 3);
    EXPECT_EQ(r.present, 2);

    // The scan runs backwards: the rightmost cut-short sequence is the one reported.
    r = truncation(of("\xC3z\xE2\x82"));
    EXPECT_EQ(r.position, 3);
    EXPECT_EQ(r.needed, 2);
}

TEST(Truncation, FoundBehindLongAsciiRuns)
{
    const bytes tail = of("0123456789abcdefghijklmnop");
    bytes line = tail;
    line.insert(line.begin(), 0xE2);
    line.insert(line.begin(), tail.begin(), tail.end());
    const reverse_result r = truncation(line);
    EXPECT_EQ(r.position, static_cast<std::int64_t>(tail.size()) + 1);
    EXPECT_EQ(r.needed, 2);
    EXPECT_EQ(r.present, 0);
}

// The fast path must give exactly the reference's result, for every short
// line over an alphabet of the interesting byte classes (all positions of
// the eight-byte blocks are reached) and for long random lines.
TEST(FastPath, AgreesWithReference)
{
    constexpr unsigned char alphabet[] = {'a', 0x00, 0x7F, 0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xFD};
    constexpr std::size_t k = std::size(alphabet);
    std::mt19937 rng(4242);
    auto compare = [](const bytes &line) {
        SCOPED_TRACE("line of " + hex_of(line));
        const outcome fast = run(reverse_line, line);
        const outcome reference = run(flip_check::reverse_line_bytewise, line);
        ASSERT_EQ(fast.result.status, reference.result.status);
        ASSERT_EQ(fast.text, reference.text);
        ASSERT_EQ(fast.result.position, reference.result.position);
        ASSERT_EQ(fast.result.present, reference.result.present);
    };
    for (std::size_t length = 0; length <= 5; ++length) {
        std::size_t combinations = 1;
        for (std::size_t i = 0; i < length; ++i)
            combinations *= k;
        for (std::size_t c = 0; c < combinations; ++c) {
            bytes line;
            for (std::size_t i = 0, rest = c; i < length; ++i, rest /= k)
                line.push_back(alphabet[rest % k]);
            // Behind a run of ASCII, so that the blocks meet the short part.
            compare(line);
            line.insert(line.begin(), 11, 'q');
            compare(line);
        }
    }
    for (int round = 0; round < 2000; ++round) {
        bytes line(rng() % 200);
        for (unsigned char &b : line)
            b = rng() % 4 != 0 ? static_cast<unsigned char>('a' + rng() % 26) : alphabet[rng() % k];
        compare(line);
    }
}

// Whatever is not cut short, unclaimed bytes included, reverses back.
TEST(FastPath, ReversingTwiceGivesTheLineBack)
{
    const bytes characters[] = {of("a"), of(" "),        of("\xC3\xA9"), of("\xE2\x82\xAC"), of("\xF0\x9F\x98\x80"),
                                of("\xA9"), of("\x80\xBF"), of("\xC3\xA9\xA9")};
    std::mt19937 rng(7);
    for (int round = 0; round < 500; ++round) {
        bytes line;
        const std::size_t count = rng() % 300;
        for (std::size_t i = 0; i < count; ++i) {
            const bytes &c = characters[rng() % (rng() % 2 != 0 ? 2 : std::size(characters))];
            line.insert(line.end(), c.begin(), c.end());
        }
        const bytes once = flipped(line);
        ASSERT_EQ(once.size(), line.size());
        ASSERT_EQ(flipped(once), line);
    }
}

namespace {
// A file of `content` opened for reading, as the reader's descriptor.
int file_of(const bytes &content)
{
    std::FILE *f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    EXPECT_EQ(std::fwrite(content.data(), 1, content.size(), f), content.size());
    std::fflush(f);
    const int fd = dup(fileno(f));
    std::fclose(f);
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// Every line the reader hands out, until the end or a failure.
std::vector<bytes> all_lines(int fd, read_status &last)
{
    line_reader r;
    EXPECT_TRUE(open_reader(r, fd));
    std::vector<bytes> lines;
    std::span<const unsigned char> line;
    while ((last = read_line(r, line)) == read_status::line)
        lines.emplace_back(line.begin(), line.end());
    if (last == read_status::read_error)
        errno = r.error;
    return lines;
}
}  // namespace

TEST(LineReader, LinesEmptyLinesAndLastLineWithoutNewline)
{
    read_status last;
    const int fd = file_of(bytes{'a', 'b', '\n', '\n', 0, 0xFF, '\r', '\n', 'z'});
    const std::vector<bytes> lines = all_lines(fd, last);
    close(fd);
    EXPECT_EQ(last, read_status::end);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], of("ab"));
    EXPECT_EQ(lines[1], of(""));
    EXPECT_EQ(lines[2], (bytes{0, 0xFF, '\r'}));
    EXPECT_EQ(lines[3], of("z"));
}

TEST(LineReader, NoExtraLineAfterFinalNewlineOrForEmptyInput)
{
    read_status last;
    int fd = file_of(of("x\n"));
    EXPECT_EQ(all_lines(fd, last).size(), 1u);
    close(fd);
    fd = file_of(of(""));
    EXPECT_EQ(all_lines(fd, last).size(), 0u);
    EXPECT_EQ(last, read_status::end);
    close(fd);
}

// Lines that cross the ends of the reader's blocks, and one of several of
// them, come out whole and in order.
TEST(LineReader, LinesAcrossBlocks)
{
    bytes content;
    std::vector<bytes> want;
    std::mt19937 rng(99);
    for (std::size_t length : {std::size_t{1} << 20, std::size_t{3} << 20, std::size_t{0}, std::size_t{5}}) {
        for (int i = 0; i < 40; ++i)
            want.push_back(bytes(rng() % 70000, static_cast<unsigned char>('a' + i % 26)));
        want.push_back(bytes(length, 'L'));
    }
    for (const bytes &line : want) {
        content.insert(content.end(), line.begin(), line.end());
        content.push_back('\n');
    }
    content.pop_back();  // the last line ends without a newline
    read_status last;
    const int fd = file_of(content);
    const std::vector<bytes> got = all_lines(fd, last);
    close(fd);
    EXPECT_EQ(last, read_status::end);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        ASSERT_EQ(got[i], want[i]) << "line " << i;
}

TEST(LineReader, ReadErrorIsReported)
{
    const int fd = open(".", O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    read_status last;
    EXPECT_TRUE(all_lines(fd, last).empty());
    EXPECT_EQ(last, read_status::read_error);
    EXPECT_EQ(errno, EISDIR);
    close(fd);
}

// Text of many random lines, now and then one that needs care: an unclaimed
// continuation byte, F8..FF, or (in some rounds, since it ends the run) a
// lead cut short; sometimes the last line has no newline.
TEST(Stream, ManyLinesAgreeWithReverseLine)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 12; ++round) {
        std::string text;
        while (text.size() < (round % 3 == 0 ? 300000u : 20000u)) {
            std::string line = flip_check::random_line(rng, rng() % (rng() % 50 == 0 ? 5000 : 120));
            const unsigned roll = static_cast<unsigned>(rng() % 100);
            if (roll < 5 && !line.empty())
                line[rng() % line.size()] = static_cast<char>(0x80 + rng() % 0x40);
            else if (roll < 7)
                line += '\xF8';
            else if (roll == 7 && round % 4 == 1)
                line += "\xE2\x82";
            text += line + '\n';
        }
        if (round % 2 == 1)
            text.pop_back();
        const char *wrong =
            flip_check::check_stream(reinterpret_cast<const unsigned char *>(text.data()), text.size(), round % 2 == 0);
        ASSERT_EQ(wrong, nullptr) << wrong << ", round " << round;
    }
    for (const char *text : {"", "\n\n\n", "x"})
        for (const bool piped : {false, true})
            ASSERT_EQ(flip_check::check_stream(reinterpret_cast<const unsigned char *>(text), std::strlen(text), piped),
                      nullptr);
}

// A failed read or a failed write ends the loop with its errno.
TEST(Stream, ReadAndWriteErrors)
{
    const int dir = open(".", O_RDONLY | O_DIRECTORY);
    const int out = flip_check::file_of(nullptr, 0);
    flip_outcome o = flip_stream(dir, out, false);
    EXPECT_EQ(o.end, flip_end::read_error);
    EXPECT_EQ(o.error, EISDIR);
    close(dir);

    const int in = file_of(of("abc\n"));
    const int full = open("/dev/full", O_WRONLY);
    o = flip_stream(in, full, true);
    EXPECT_EQ(o.end, flip_end::write_error);
    EXPECT_EQ(o.error, ENOSPC);
    close(full);
    close(in);
    close(out);
}
