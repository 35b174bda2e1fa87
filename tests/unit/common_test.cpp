#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bits.hpp"
#include "io.hpp"
#include "tool.hpp"
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

namespace {
// Runs `emit` with standard error on a socket that keeps the bounds of every
// write(2) (SOCK_SEQPACKET), and returns the texts of the writes it made.
template <typename Emit>
std::vector<std::string> writes_to_stderr(Emit emit)
{
    int pair[2];
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair), 0);
    int buffer_size = 1 << 20;
    (void)setsockopt(pair[0], SOL_SOCKET, SO_SNDBUF, &buffer_size, sizeof buffer_size);
    (void)setsockopt(pair[1], SOL_SOCKET, SO_RCVBUF, &buffer_size, sizeof buffer_size);
    const int saved = dup(STDERR_FILENO);
    dup2(pair[0], STDERR_FILENO);
    emit();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(pair[0]);
    std::vector<std::string> writes;
    std::vector<char> record(1 << 20);
    ssize_t n;
    while ((n = recv(pair[1], record.data(), record.size(), 0)) > 0)
        writes.emplace_back(record.data(), static_cast<std::size_t>(n));
    close(pair[1]);
    return writes;
}
}  // namespace

// Each message, short or far beyond the buffer on the stack, is one write.
TEST(WriteMessage, EachMessageIsOneWrite)
{
    const std::string name(20000, 'n');  // past the stack buffer and PIPE_BUF
    errno = EBADF;
    const std::vector<std::string> writes = writes_to_stderr([&] {
        write_message("%s: %d%c\n", "tool", 42, '!');
        write_message("%s: %s\n", name.c_str(), "invalid");
        write_message("plain\n");
    });
    EXPECT_EQ(errno, EBADF);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0], "tool: 42!\n");
    EXPECT_EQ(writes[1], name + ": invalid\n");
    EXPECT_EQ(writes[2], "plain\n");
}

TEST(WriteMessage, WriteErrorReportIsOneWrite)
{
    const std::vector<std::string> writes = writes_to_stderr([] { report_write_error("tool", ENOSPC); });
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0], std::string("tool: write error: ") + std::strerror(ENOSPC) + "\n");
}

// --help and --version are taken only where an option argument may begin.
TEST(NextOption, LongOptionsWhereAnOptionMayBegin)
{
    struct Scan {
        std::vector<const char *> args;
        std::vector<std::string> options;  // "c", "o=VALUE", "?C" (unknown C), "--help"
        int optind_after;
    };
    const Scan scans[] = {
        {{"--help"}, {"--help"}, 2},
        {{"--version", "--help"}, {"--version"}, 2},
        {{"-c", "--help", "file"}, {"c", "--help"}, 3},
        {{"-cu", "--version"}, {"c", "u", "--version"}, 3},
        {{"-o", "--help", "file"}, {"o=--help"}, 3},
        {{"-o--version"}, {"o=--version"}, 2},
        {{"file", "--help"}, {}, 1},
        {{"-", "--help"}, {}, 1},
        {{"--", "--help"}, {}, 2},
        {{"--Help"}, {"?-", "?H", "?e", "?l", "?p"}, 2},
        {{"-x", "--version"}, {"?x", "--version"}, 3},
    };
    for (const Scan &scan : scans) {
        std::vector<char *> argv{const_cast<char *>("tool")};
        for (const char *arg : scan.args)
            argv.push_back(const_cast<char *>(arg));
        argv.push_back(nullptr);
        const int argc = static_cast<int>(argv.size()) - 1;
        optind = 1;
        opterr = 0;
        option_scan state;
        std::vector<std::string> got;
        int option;
        while ((option = next_option(state, argc, argv.data(), GETOPT_STOP_AT_OPERAND "cho:uv")) != -1) {
            if (option == option_long_help || option == option_long_version) {
                got.emplace_back(option == option_long_help ? "--help" : "--version");
                break;
            }
            if (option == 'o')
                got.push_back(std::string("o=") + optarg);
            else if (option == '?')
                got.push_back(std::string("?") + static_cast<char>(optopt));
            else
                got.emplace_back(1, static_cast<char>(option));
        }
        EXPECT_EQ(got, scan.options) << scan.args[0];
        EXPECT_EQ(optind, scan.optind_after) << scan.args[0];
    }
}
