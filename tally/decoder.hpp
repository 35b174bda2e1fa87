// runetally's reference decoder: the legality of a UTF-8 sequence, and the
// byte-exact decoder that reads one sequence from a descriptor. Every faster
// path is held to these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "result.hpp"
#include "utf8.hpp"

// Legality of a complete sequence: seq holds the lead byte and exactly the
// utf8_extra_bytes[lead] bytes after it (a shorter one is illegal). Encoded
// surrogates (ED A0 80 to ED BF BF) are legal here unless `strict`.
[[nodiscard]] constexpr bool utf8_sequence_is_legal(std::span<const unsigned char> seq,
                                                    bool strict = false) noexcept
{
    const unsigned char b0 = seq[0];
    const int e = utf8_extra_bytes[b0];
    if (e == 0)
        return !is_continuation(b0);     // a lone 10xxxxxx is illegal
    if (e > 3 || seq.size() <= static_cast<std::size_t>(e))
        return false;                    // five- and six-byte forms, or cut short
    if (b0 < 0xC2 || b0 > 0xF4)
        return false;                    // overlong C0/C1, and F5-F7 beyond U+10FFFF
    if (const utf8_byte_range r = utf8_second_byte_range(b0, strict); seq[1] < r.low || seq[1] > r.high)
        return false;
    if (e >= 2 && !is_continuation(seq[2]))
        return false;
    if (e == 3 && !is_continuation(seq[3]))
        return false;
    return true;
}

// Reads one sequence from fd, byte-exactly (never past the sequence), and
// returns its code point or a status. Once all bytes of the sequence are in,
// stores its length (1-6) and a pointer to the decoder's static buffer, which
// the next call overwrites; for END_OF_INPUT, TRUNCATED and READ_ERROR the out
// arguments are left alone (errno tells the reason of a READ_ERROR). With
// `strict`, an encoded surrogate is INVALID.
[[nodiscard]] std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence,
                                           bool strict = false) noexcept;
