// runepair's parser of hexadecimal code points and its surrogate arithmetic.
#pragma once

#include <cstdint>
#include <optional>

// Highest code point of plane 0, and highest Unicode code point.
inline constexpr std::uint32_t plane0_last = 0xFFFF;
inline constexpr std::uint32_t codepoint_last = 0x10FFFF;

// The code point that `text` names in hexadecimal: optional white space,
// an optional '+' or '-', an optional "0x"/"0X" that counts as a prefix only
// before a hexadecimal digit, then at least one hexadecimal digit of either
// case and nothing after them. Empty when a rule is broken, when the value
// does not fit in 64 bits, when a '-' precedes a value other than zero, or
// above codepoint_last: a wrapped or truncated value would be a wrong answer.
[[nodiscard]] std::optional<std::uint32_t> parse_codepoint(const char *text) noexcept;

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
