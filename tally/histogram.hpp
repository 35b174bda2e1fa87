// runetally's counting and table output.
#pragma once

#include <cstdint>
#include <span>

#include "decoder.hpp"

// One counter per 21-bit code point.
inline constexpr std::size_t char_count_slots = 0x200000;

// Which columns of the table are written.
struct table_columns {
    bool counts = true;  // percentage and count
    bool code = true;    // code point in hexadecimal
    bool glyph = true;   // the character itself, where displayable
};

// Position of the next sequence: newlines, characters and bytes decoded so far.
struct input_position {
    std::int64_t lines = 0;
    std::int64_t characters = 0;
    std::int64_t bytes = 0;
};

// Outcome of counting: the status that ended it (UTF8_END_OF_INPUT on
// success), the failing sequence for UTF8_INVALID, and the position of the
// failure (or of the end).
struct count_result {
    std::uint32_t status = UTF8_END_OF_INPUT;
    const unsigned char *sequence = nullptr;
    input_position position;
};

// Counts every character of fd into counts, one read_utf8_char call at a time.
[[nodiscard]] count_result count_bytewise(int fd, std::span<std::int64_t> counts) noexcept;

// False for the blank, control, zero-width and byte-order-mark code points.
[[nodiscard]] bool is_displayable(std::uint32_t k) noexcept;

// Writes k to standard output in the UTF-8 bit layout (up to four bytes,
// nothing above 0x1FFFFF).
void put_utf8(std::uint32_t k) noexcept;

// Writes one line per non-zero counter, in code-point order.
void write_table(std::span<const std::int64_t> counts, std::int64_t characters, table_columns columns) noexcept;
