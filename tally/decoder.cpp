#include "decoder.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <libintl.h>

#include "bits.hpp"
#include "io.hpp"

namespace {
unsigned char sequence_buffer[6];
char read_error_text[128];
}  // namespace

std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence) noexcept
{
    const ssize_t n = read_once(fd, sequence_buffer, 1);
    if (n == 0)
        return UTF8_END_OF_INPUT;
    if (n < 0)
        return UTF8_READ_ERROR;

    const int e = utf8_extra_bytes[sequence_buffer[0]];
    if (read_full(fd, sequence_buffer + 1, static_cast<std::size_t>(e)) != e)
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
    const long long l = lines, c = characters, b = bytes;
    switch (status) {
    case UTF8_TRUNCATED:
        std::fprintf(stderr, gettext("Truncated UTF-8 sequence encountered at line %lld, character %lld, byte %lld.\n"),
                     l, c, b);
        break;
    case UTF8_INVALID:
        std::fprintf(stderr, gettext("Invalid UTF-8 code encountered at line %lld, character %lld, byte %lld.\n"), l,
                     c, b);
        explain_invalid_sequence(stderr, sequence);
        break;
    case UTF8_READ_ERROR: {
        const int error = errno;
        std::snprintf(read_error_text, sizeof read_error_text - 1,
                      gettext("Error reading input at line %lld, character %lld, byte %lld.\n"), l, c, b);
        errno = error;
        std::perror(read_error_text);
        break;
    }
    default:
        return;
    }
    std::exit(status_decode_failure);
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
