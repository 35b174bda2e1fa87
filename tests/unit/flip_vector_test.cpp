// runeflip's vector kernel against reverse_line, on every Highway target that
// this build compiled and this processor runs. Where the kernel takes a line
// it must write exactly what reverse_line writes; it must take every line in
// which each lead C0..F7 has exactly its continuation bytes and every
// continuation byte has a lead, and no other. Each line lies in a heap buffer
// with exactly flip_vector_padding bytes of garbage around it (and the output
// has exactly that much room behind it), so that the sanitizer builds catch a
// read or write beyond what the kernel may touch, and garbage that looks like
// leads or continuation bytes must not change the result.
#include <gtest/gtest.h>

#include <hwy/targets.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

#include "line_io.hpp"
#include "reverse.hpp"
#include "utf8.hpp"
#include "vector_reverse.hpp"
#include "vector_targets.hpp"

namespace {
using bytes = std::string;

// The kernel's domain, stated independently: every lead C0..F7 followed by
// exactly its continuation bytes, no other continuation byte, no F8..FF.
bool qualifies(const bytes &line)
{
    for (std::size_t i = 0; i < line.size();) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b < 0xC0 || b >= 0xF8)
            return false;
        const std::size_t e = static_cast<std::size_t>(utf8_extra_bytes[b]);
        for (std::size_t k = 1; k <= e; ++k)
            if (i + k >= line.size() || !is_continuation(static_cast<unsigned char>(line[i + k])))
                return false;
        i += e + 1;
    }
    return true;
}

// Runs the kernel on `line` placed in a buffer with `garbage` around it.
void check_line(const bytes &line, unsigned char garbage_seed)
{
    const std::size_t pad = flip_vector_padding, n = line.size();
    std::vector<unsigned char> want(n + 1);
    const reverse_result ref = reverse_line({reinterpret_cast<const unsigned char *>(line.data()), n}, want.data());
    const bool should = qualifies(line);
    if (should) {
        ASSERT_EQ(ref.status, reverse_status::reversed);
        ASSERT_EQ(ref.length, static_cast<std::int64_t>(n));
    }
    auto *in = static_cast<unsigned char *>(std::malloc(n + 2 * pad));
    auto *out = static_cast<unsigned char *>(std::malloc(n + pad));
    std::minstd_rand fill(garbage_seed);
    static const unsigned char tricky[] = {0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xF4, 0xF7, 0xFF, 0x0A, 0x41};
    for (std::size_t i = 0; i < pad; ++i) {
        in[i] = tricky[fill() % std::size(tricky)];
        in[pad + n + i] = tricky[fill() % std::size(tricky)];
    }
    std::memcpy(in + pad, line.data(), n);
    for (const std::int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        const bool took = flip_vector_reverse({in + pad, n}, out);
        ASSERT_EQ(took, should) << "line of " << n << " bytes";
        if (took) {
            ASSERT_EQ(0, std::memcmp(out, want.data(), n)) << "line of " << n << " bytes";
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    // The wrapper gives reverse_line's result in every case.
    const reverse_result fast = reverse_line_fast({in + pad, n}, out);
    ASSERT_EQ(fast.status, ref.status);
    if (ref.status == reverse_status::reversed) {
        ASSERT_EQ(fast.length, ref.length);
        ASSERT_EQ(0, std::memcmp(out, want.data(), static_cast<std::size_t>(ref.length)));
    } else {
        ASSERT_EQ(fast.position, ref.position);
        ASSERT_EQ(fast.needed, ref.needed);
        ASSERT_EQ(fast.present, ref.present);
    }
    std::free(in);
    std::free(out);
}

// A character of `length` bytes with any lead of that length (overlong forms,
// surrogates and values above U+10FFFF included: they qualify).
bytes any_char(std::mt19937 &rng, int length)
{
    static const unsigned char first[] = {0x00, 0xC0, 0xE0, 0xF0}, span[] = {0x80, 0x20, 0x10, 0x08};
    bytes s(1, static_cast<char>(first[length - 1] + rng() % span[length - 1]));
    for (int i = 1; i < length; ++i)
        s += static_cast<char>(0x80 + rng() % 0x40);
    return s;
}

bytes random_line(std::mt19937 &rng, std::size_t size)
{
    const int main_length = 1 + static_cast<int>(rng() % 4);
    bytes s;
    while (s.size() < size)
        s += any_char(rng, rng() % 4 == 0 ? 1 + static_cast<int>(rng() % 4) : main_length);
    return s;
}
}  // namespace

TEST(FlipVector, TargetsToTest)
{
    std::string names;
    for (const std::int64_t t : vector_targets())
        names += std::string(" ") + hwy::TargetName(t);
    std::printf("vector targets tested:%s\n", names.c_str());
#if HWY_ARCH_X86_64
    EXPECT_FALSE(vector_targets().empty());
#endif
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

// The program's loop: the whole lines the reader holds through
// flip_vector_lines, the next one through read_line and reverse_line_fast,
// on every target, against reverse_line line by line: the same output, the
// same line numbers, and the same stop at a line cut short. The input comes
// from a regular file, read in the reader's blocks, so that lines cross the
// ends of blocks; the output buffer is small, so that it fills up often.
namespace {
struct loop_outcome {
    bytes output;
    std::uint64_t lines = 0;
    bool truncated = false;
    reverse_result report{};
};

int file_with(const bytes &content)
{
    char name[] = "/tmp/runekit-flip-XXXXXX";
    const int fd = mkstemp(name);
    unlink(name);
    if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
        std::abort();
    lseek(fd, 0, SEEK_SET);
    return fd;
}

loop_outcome program_loop(const bytes &content, std::size_t output_size)
{
    loop_outcome o;
    const int fd = file_with(content);
    line_reader reader;
    output_buffer out{};
    if (!open_reader(reader, fd) || !open_output(out, output_size))
        std::abort();
    std::span<const unsigned char> line;
    for (;;) {
        flip_vector_lines(reader, out, o.lines);
        o.output.append(reinterpret_cast<const char *>(out.data), out.used);  // as if flushed
        out.used = 0;
        const read_status got = read_line(reader, line);
        if (got != read_status::line)
            break;
        ++o.lines;
        if (out.size < line.size() + 1 && !grow_output(out, line.size() + 1))
            std::abort();
        const reverse_result r = reverse_line_fast(line, out.data);
        if (r.status == reverse_status::truncated) {
            o.truncated = true;
            o.report = r;
            break;
        }
        o.output.append(reinterpret_cast<const char *>(out.data), static_cast<std::size_t>(r.length));
        o.output += '\n';
    }
    close_reader(reader);
    std::free(out.data);
    close(fd);
    return o;
}

loop_outcome reference_loop(const bytes &content)
{
    loop_outcome o;
    std::size_t at = 0;
    while (at < content.size()) {
        std::size_t end = content.find('\n', at);
        if (end == bytes::npos)
            end = content.size();
        ++o.lines;
        std::vector<unsigned char> buf(end - at + 1);
        const reverse_result r =
            reverse_line({reinterpret_cast<const unsigned char *>(content.data()) + at, end - at}, buf.data());
        if (r.status == reverse_status::truncated) {
            o.truncated = true;
            o.report = r;
            break;
        }
        o.output.append(reinterpret_cast<const char *>(buf.data()), static_cast<std::size_t>(r.length));
        o.output += '\n';
        at = end + 1;
    }
    return o;
}

void check_loop(const bytes &content, std::size_t output_size)
{
    const loop_outcome want = reference_loop(content);
    for (const std::int64_t target : vector_targets()) {
        SCOPED_TRACE(hwy::TargetName(target));
        hwy::SetSupportedTargetsForTest(target);
        const loop_outcome got = program_loop(content, output_size);
        ASSERT_EQ(got.lines, want.lines);
        ASSERT_EQ(got.truncated, want.truncated);
        if (want.truncated) {
            ASSERT_EQ(got.report.position, want.report.position);
            ASSERT_EQ(got.report.needed, want.report.needed);
            ASSERT_EQ(got.report.present, want.report.present);
        }
        ASSERT_EQ(got.output.size(), want.output.size());
        ASSERT_TRUE(got.output == want.output);
    }
    hwy::SetSupportedTargetsForTest(0);
}
}  // namespace

TEST(FlipVector, ProgramLoopOverManyLines)
{
    std::mt19937 rng(12);
    for (int round = 0; round < 12; ++round) {
        bytes content;
        while (content.size() < (round % 3 == 0 ? 3000000u : 20000u)) {
            bytes line = random_line(rng, rng() % (rng() % 50 == 0 ? 5000 : 120));
            // Now and then a line that needs care: an unclaimed continuation
            // byte, F8..FF, or (rarely, since it stops the run) a cut-off lead.
            const unsigned roll = static_cast<unsigned>(rng() % 100);
            if (roll < 5 && !line.empty())
                line[rng() % line.size()] = static_cast<char>(0x80 + rng() % 0x40);
            else if (roll < 7)
                line += '\xF8';
            else if (roll == 7 && round % 4 == 1)
                line += "\xE2\x82";
            content += line;
            content += '\n';
        }
        if (round % 2 == 1)
            content.pop_back();  // the last line without a newline
        check_loop(content, round % 3 == 0 ? 1 << 20 : 64 + rng() % 4000);
    }
    check_loop("", 100);
    check_loop("\n\n\n", 1);
}
