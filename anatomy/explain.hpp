// RuneAnatomy's core: judging one byte sequence and writing the explanation.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>

// Exit statuses of the tool.
inline constexpr int status_ok = 0;        // a character
inline constexpr int status_invalid = 1;   // not a valid character, bad option, bad seek
inline constexpr int status_trouble = 2;   // no input, unreadable input, help, version, write error

inline constexpr int anatomy_max_bytes = 6;

// What a well-formed sequence of 10xxxxxx continuation bytes encodes. The
// first of the forbidden forms that applies wins, in this order.
enum class sequence_form { valid, out_of_range, overlong, surrogate };

// Length of the shortest UTF-8 encoding of a code point up to 0x10FFFF.
[[nodiscard]] constexpr int shortest_length(std::uint32_t v) noexcept
{
    if (v < 0x80)
        return 1;
    if (v < 0x800)
        return 2;
    if (v < 0x10000)
        return 3;
    return 4;
}

// Judges the value v decoded from a sequence of `length` bytes.
[[nodiscard]] constexpr sequence_form classify_value(std::uint32_t v, int length) noexcept
{
    if (v > 0x10FFFF)
        return sequence_form::out_of_range;
    if (shortest_length(v) < length)
        return sequence_form::overlong;
    if ((v & ~std::uint32_t{0x7FF}) == 0xD800)  // 0xD800-0xDFFF
        return sequence_form::surrogate;
    return sequence_form::valid;
}

// The eight upper-case hexadecimal digits of v, digit k at position 4k and
// spaces between them (29 characters), NUL-terminated: each digit lands
// under the first of the four binary digits it stands for.
[[nodiscard]] std::array<char, 30> spread_hex(std::uint32_t v) noexcept;

// True for a first byte after which no further byte is read: a single-byte
// character, a stray continuation byte, or FE and FF, which begin no sequence.
[[nodiscard]] constexpr bool is_whole_verdict(unsigned char b0) noexcept
{
    return b0 < 0xC0 || b0 >= 0xFE;
}

// Explains the sequence whose lead byte is bytes[0] and writes the verdict or
// report to `out`; returns the exit status it calls for. `present` is the
// number of bytes of the sequence that arrived, counting the lead byte (0
// when reading the continuation bytes failed), at most bytes.size(); bytes
// holds at least the lead byte.
[[nodiscard]] int explain_sequence(std::FILE *out, std::span<const unsigned char> bytes,
                                   int present) noexcept;
