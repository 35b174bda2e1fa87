// runetally's input layer: the validating UTF-8 decoder and the located
// report of the first failure.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>

#include "utf8.hpp"

// Results of read_utf8_char at or above 0x110000 are status values.
inline constexpr std::uint32_t UTF8_END_OF_INPUT = 0xA0000000u;
inline constexpr std::uint32_t UTF8_TRUNCATED = 0xA0000001u;
inline constexpr std::uint32_t UTF8_INVALID = 0xA0000002u;
inline constexpr std::uint32_t UTF8_READ_ERROR = 0xA0000004u;
inline constexpr std::uint32_t UTF8_FIRST_STATUS = 0x110000u;

// Exit status after a located failure report.
inline constexpr int status_decode_failure = 1;

// Legality of a complete sequence: seq holds the lead byte and exactly the
// utf8_extra_bytes[lead] bytes after it. Encoded surrogates (ED A0 80 to
// ED BF BF) are legal here.
[[nodiscard]] constexpr bool utf8_sequence_is_legal(std::span<const unsigned char> seq) noexcept
{
    const unsigned char b0 = seq[0];
    const int e = utf8_extra_bytes[b0];
    if (e == 0)
        return !is_continuation(b0);     // a lone 10xxxxxx is illegal
    if (e > 3)
        return false;                    // five- and six-byte forms
    if (b0 < 0xC2 || b0 > 0xF4)
        return false;                    // overlong C0/C1, and F5-F7 beyond U+10FFFF
    unsigned char low = 0x80, high = 0xBF;  // range allowed for the first continuation
    if (b0 == 0xE0)
        low = 0xA0;                      // E0 80..9F would be overlong
    else if (b0 == 0xF0)
        low = 0x90;                      // F0 80..8F would be overlong
    else if (b0 == 0xF4)
        high = 0x8F;                     // F4 90.. would exceed U+10FFFF
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
// arguments are left alone.
[[nodiscard]] std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence) noexcept;

// For TRUNCATED, INVALID and READ_ERROR writes the located report to standard
// error and ends the process with status_decode_failure; returns for any other value. The
// counters are the 0-based line, character and byte of the failing sequence.
void report_decode_failure(std::uint32_t status, const unsigned char *sequence, std::int64_t lines,
                           std::int64_t characters, std::int64_t bytes) noexcept;

// Explains why an ill-formed sequence is ill-formed, where the form of its
// bytes shows it; writes nothing for other reasons.
void explain_invalid_sequence(std::FILE *out, const unsigned char *sequence) noexcept;
