#include "decoder.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <libintl.h>
#include <unistd.h>

#include "bits.hpp"

namespace {
unsigned char sequence_buffer[6];
char read_error_text[128];

// Reads into buf until `want` bytes are in. Returns false on end of input or
// a failed read (an interrupted read is asked again).
bool read_fully(int fd, unsigned char *buf, int want) noexcept
{
    int have = 0;
    while (have < want) {
        ssize_t n = read(fd, buf + have, static_cast<std::size_t>(want - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        have += static_cast<int>(n);
    }
    return true;
}
}  // namespace

std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence) noexcept
{
    ssize_t n;
    do
        n = read(fd, sequence_buffer, 1);
    while (n < 0 && errno == EINTR);
    if (n == 0)
        return UTF8_END_OF_INPUT;
    if (n < 0)
        return UTF8_READ_ERROR;

    const int e = utf8_extra_bytes[sequence_buffer[0]];
    if (!read_fully(fd, sequence_buffer + 1, e))
        return UTF8_TRUNCATED;

    *length = e + 1;
    *sequence = sequence_buffer;
    const std::span<const unsigned char> seq(sequence_buffer, static_cast<std::size_t>(e) + 1);
    if (!utf8_sequence_is_legal(seq))
        return UTF8_INVALID;
    return utf8_decode(seq);
}

void report_decode_failure(std::uint32_t status, const unsigned char *sequence, std::int64_t lines,
                           std::int64_t characters, std::int64_t bytes) noexcept
{
    const long l = static_cast<long>(lines), c = static_cast<long>(characters), b = static_cast<long>(bytes);
    switch (status) {
    case UTF8_TRUNCATED:
        std::fprintf(stderr, gettext("Truncated UTF-8 sequence encountered at line %ld, character %ld, byte %ld.\n"),
                     l, c, b);
        break;
    case UTF8_INVALID:
        std::fprintf(stderr, gettext("Invalid UTF-8 code encountered at line %ld, character %ld, byte %ld.\n"), l,
                     c, b);
        explain_invalid_sequence(stderr, sequence);
        break;
    case UTF8_READ_ERROR: {
        const int error = errno;
        std::snprintf(read_error_text, sizeof read_error_text - 1,
                      gettext("Error reading input at line %ld, character %ld, byte %ld.\n"), l, c, b);
        errno = error;
        std::perror(read_error_text);
        break;
    }
    default:
        return;
    }
    std::exit(1);
}

void explain_invalid_sequence(std::FILE *out, const unsigned char *sequence) noexcept
{
    const unsigned char b0 = sequence[0];
    if (is_continuation(b0)) {
        std::fprintf(out,
                     "The first byte, value 0x%02X, with bit pattern %s,\n"
                     "is not a valid first byte of a UTF-8 sequence because its high bits are 10.\n"
                     "A valid first byte must be of the form 0nnnnnnn or 11nnnnnn.\n",
                     b0, bit_string_8(b0));
        return;
    }
    if (b0 < 0xC0)
        return;
    const int e = utf8_extra_bytes[b0];
    const int n = e > 1 ? e : 1;
    for (int i = 1; i <= n; ++i) {
        const unsigned char bi = sequence[i];
        if (is_continuation(bi))
            continue;
        char lead_pattern[9];
        std::memcpy(lead_pattern, bit_string_8(b0), sizeof lead_pattern);
        std::fprintf(out,
                     "The sequence is not a valid UTF-8 character because\n"
                     "the first byte, value 0x%02X, bit pattern %s,\n"
                     "requires %d continuation bytes, but of the immediately\n"
                     "following bytes, byte %d, value 0x%02X, bit pattern\n"
                     "%s is not a valid continuation byte, since\n"
                     "its high bits are not 10.\n",
                     b0, lead_pattern, e, i, bi, bit_string_8(bi));
        return;
    }
}
