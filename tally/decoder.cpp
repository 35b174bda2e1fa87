// runetally's reference decoder: one sequence at a time from a descriptor.
#include "decoder.hpp"

#include "io.hpp"

namespace {
unsigned char sequence_buffer[6];  // the last sequence read, for the report
}  // namespace

std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence, bool strict) noexcept
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
    if (!utf8_sequence_is_legal(seq, strict))
        return UTF8_INVALID;
    return utf8_decode(seq);
}
