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
// surrogates (ED A0 80 to ED BF BF) are legal here, unless `strict`.
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
    unsigned char low = 0x80, high = 0xBF;  // range allowed for the first continuation
    if (b0 == 0xE0)
        low = 0xA0;                      // E0 80..9F would be overlong
    else if (b0 == 0xF0)
        low = 0x90;                      // F0 80..8F would be overlong
    else if (b0 == 0xF4)
        high = 0x8F;                     // F4 90.. would exceed U+10FFFF
    else if (b0 == 0xED && strict)
        high = 0x9F;                     // ED A0..BF would be a surrogate
    if (seq[1] < low || seq[1] > high)
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
// arguments are left alone (errno tells the reason of a READ_ERROR).
[[nodiscard]] std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence) noexcept;
