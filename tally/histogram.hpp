// runetally's counting and table output.
#pragma once

#include <cstdint>
#include <span>

#include "decoder.hpp"

// One counter per 21-bit code point, grouped in pages of 512 counters (4 KiB).
inline constexpr std::size_t char_count_slots = 0x200000;
inline constexpr std::size_t count_page_shift = 9;
inline constexpr std::size_t count_pages = char_count_slots >> count_page_shift;

// The counters, and a flag per page that is set before any counter of the
// page is incremented, so that the output scan can pass over the pages that
// were never written (most of them, for most inputs) without touching them.
struct char_tally {
    std::int64_t char_counts[char_count_slots];
    std::uint8_t touched[count_pages];
};

// Adds one to the counter of code point c.
inline void count_char(char_tally &tally, std::uint32_t c) noexcept
{
    tally.touched[c >> count_page_shift] = 1;
    ++tally.char_counts[c];
}

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

// Reads one sequence with read_utf8_char and counts it, advancing r's
// position; false, with r.status and r.sequence set, when a status came.
[[nodiscard]] bool count_next_char(int fd, char_tally &tally, count_result &r) noexcept;

// Counts every character of fd, one read_utf8_char call at a time: the
// reference path, which never reads past the sequence it decodes.
[[nodiscard]] count_result count_bytewise(int fd, char_tally &tally) noexcept;

// False for the blank, control, zero-width and byte-order-mark code points.
[[nodiscard]] bool is_displayable(std::uint32_t k) noexcept;

// Writes k to standard output in the UTF-8 bit layout (up to four bytes,
// nothing above 0x1FFFFF).
void put_utf8(std::uint32_t k) noexcept;

// Writes one line per non-zero counter, in code-point order.
void write_table(const char_tally &tally, std::int64_t characters, table_columns columns) noexcept;
