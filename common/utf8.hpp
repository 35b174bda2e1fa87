// UTF-8 lead-byte tables and the arithmetic decoding rule shared by the tools.
#pragma once

#include <array>
#include <cstdint>
#include <span>

// True for a byte of the form 10xxxxxx.
[[nodiscard]] constexpr bool is_continuation(unsigned char b) noexcept
{
    return (b & 0b1100'0000) == 0b1000'0000;
}

namespace runekit_detail {
// Number of continuation bytes a first byte announces, by range of the byte.
constexpr std::array<std::int8_t, 256> make_extra_bytes() noexcept
{
    std::array<std::int8_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        if (b < 0xC0)
            t[b] = 0;  // 0xxxxxxx, or a continuation byte: announces nothing
        else if (b < 0xE0)
            t[b] = 1;  // 110xxxxx
        else if (b < 0xF0)
            t[b] = 2;  // 1110xxxx
        else if (b < 0xF8)
            t[b] = 3;  // 11110xxx
        else if (b < 0xFC)
            t[b] = 4;  // 111110xx
        else
            t[b] = 5;  // 1111110x, and 0xFE, 0xFF
    }
    return t;
}
}  // namespace runekit_detail

// Continuation bytes announced by each possible first byte (0 for 0x80-0xBF).
inline constexpr std::array<std::int8_t, 256> utf8_extra_bytes = runekit_detail::make_extra_bytes();

// The bytes allowed after a lead of two to four bytes (C2 to F4): 80..BF,
// narrowed where the lead would otherwise make an overlong form (E0 80..9F,
// F0 80..8F), a code point above U+10FFFF (F4 90..) or, with `strict`, an
// encoded surrogate (ED A0..).
struct utf8_byte_range {
    unsigned char low, high;
};

[[nodiscard]] constexpr utf8_byte_range utf8_second_byte_range(unsigned char lead, bool strict) noexcept
{
    return {static_cast<unsigned char>(lead == 0xE0 ? 0xA0 : lead == 0xF0 ? 0x90 : 0x80),
            static_cast<unsigned char>(lead == 0xF4 ? 0x8F : lead == 0xED && strict ? 0x9F : 0xBF)};
}

// Marker bits left in the accumulated value of a sequence with E continuation
// bytes: the lead's length prefix plus 0x80 per continuation byte, each at its
// shift, modulo 2^32.
inline constexpr std::array<std::uint32_t, 6> utf8_decode_offsets = {
    0x00000000u, 0x00003080u, 0x000E2080u, 0x03C82080u, 0xFA082080u, 0x82082080u,
};

static_assert(utf8_extra_bytes[0x00] == 0 && utf8_extra_bytes[0x7F] == 0);
static_assert(utf8_extra_bytes[0x80] == 0 && utf8_extra_bytes[0xBF] == 0);
static_assert(utf8_extra_bytes[0xC0] == 1 && utf8_extra_bytes[0xDF] == 1);
static_assert(utf8_extra_bytes[0xE0] == 2 && utf8_extra_bytes[0xEF] == 2);
static_assert(utf8_extra_bytes[0xF0] == 3 && utf8_extra_bytes[0xF7] == 3);
static_assert(utf8_extra_bytes[0xF8] == 4 && utf8_extra_bytes[0xFB] == 4);
static_assert(utf8_extra_bytes[0xFC] == 5 && utf8_extra_bytes[0xFF] == 5);

namespace runekit_detail {
// Independent statement of the offsets: prefix (0xFF << (7 - E)) & 0xFF of the
// lead at shift 6E, plus 0x80 at shift 6i for each continuation byte i.
constexpr std::uint32_t marker_sum(int e) noexcept
{
    if (e == 0)
        return 0;
    std::uint32_t prefix = (0xFFu << (7 - e)) & 0xFFu;
    std::uint32_t sum = prefix << (6 * e);
    for (int i = 0; i < e; ++i)
        sum += 0x80u << (6 * i);
    return sum;
}
}  // namespace runekit_detail

static_assert(utf8_decode_offsets[0] == runekit_detail::marker_sum(0));
static_assert(utf8_decode_offsets[1] == runekit_detail::marker_sum(1));
static_assert(utf8_decode_offsets[2] == runekit_detail::marker_sum(2));
static_assert(utf8_decode_offsets[3] == runekit_detail::marker_sum(3));
static_assert(utf8_decode_offsets[4] == runekit_detail::marker_sum(4));
static_assert(utf8_decode_offsets[5] == runekit_detail::marker_sum(5));

// Decodes a whole sequence (lead byte and its continuation bytes, 1 to 6 bytes)
// by accumulation and one subtraction, in wrapping 32-bit arithmetic. Validates
// nothing: callers check the form of the bytes first.
[[nodiscard]] constexpr std::uint32_t utf8_decode(std::span<const unsigned char> seq) noexcept
{
    std::uint32_t v = seq[0];
    for (std::size_t i = 1; i < seq.size(); ++i)
        v = (v << 6) + seq[i];
    return v - utf8_decode_offsets[seq.size() - 1];
}
