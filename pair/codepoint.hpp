// runepair's parser of hexadecimal code points and its surrogate arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Highest code point of plane 0, and highest Unicode code point.
inline constexpr std::uint32_t plane0_last = 0xFFFF;
inline constexpr std::uint32_t codepoint_last = 0x10FFFF;

// A base-16 number as written: its magnitude and whether a '-' preceded it.
struct hex_number {
    std::uint64_t magnitude = 0;
    bool negative = false;
};

// Reads the whole of `text` as one base-16 number: optional white space of
// the POSIX locale (space, \t, \n, \v, \f, \r), an optional '+' or '-', an
// optional "0x"/"0X" that counts as a prefix only when a hex digit follows
// it, then at least one hex digit of either case and nothing after them.
// Empty when a rule is broken or the magnitude does not fit in 64 bits.
[[nodiscard]] std::optional<hex_number> parse_hex(std::string_view text) noexcept;

// The code point that `text` names, by the rules of parse_hex. A negative
// number is accepted only when it is zero, and nothing above codepoint_last
// is a code point: a wrapped or truncated value would be a wrong answer.
[[nodiscard]] std::optional<std::uint32_t> parse_codepoint(std::string_view text) noexcept;

// The two UTF-16 code units of a supplementary code point.
struct surrogate_pair {
    std::uint32_t high = 0;
    std::uint32_t low = 0;
};

// True for the code points that UTF-16 writes as a pair (above plane 0).
[[nodiscard]] constexpr bool needs_surrogates(std::uint32_t v) noexcept
{
    return v > plane0_last;
}

// The pair for v, 0x10000 <= v <= 0x10FFFF: the top ten bits of v - 0x10000
// on 0xD800, the bottom ten on 0xDC00.
[[nodiscard]] constexpr surrogate_pair surrogates_of(std::uint32_t v) noexcept
{
    return {((v - 0x10000u) >> 10) + 0xD800u, (v & 0x3FFu) | 0xDC00u};
}

static_assert(surrogates_of(0x10000).high == 0xD800 && surrogates_of(0x10000).low == 0xDC00);
static_assert(surrogates_of(0x10FFFF).high == 0xDBFF && surrogates_of(0x10FFFF).low == 0xDFFF);
static_assert(!needs_surrogates(plane0_last) && needs_surrogates(plane0_last + 1));
