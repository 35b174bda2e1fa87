// runetally's table: one line per counted character, in code-point order.
#pragma once

#include <cstddef>
#include <cstdint>

#include "count.hpp"

// Which columns of the table are written.
struct table_columns {
    bool counts = true;  // percentage and count
    bool code = true;    // code point in hexadecimal
    bool glyph = true;   // the character itself, where displayable
};

// False for the blank, control, zero-width and byte-order-mark code points.
[[nodiscard]] bool is_displayable(std::uint32_t k) noexcept;

// The fields of a line, formatted into memory byte for byte as "0x%06lX"
// and the glyph would be, without the cost of the general formatted-output
// machinery per line. Each returns the number of bytes written.

// "0x" and k, below 0x1000000, as six upper-case hexadecimal digits.
std::size_t format_code(char *out, std::uint32_t k) noexcept;
// k in the UTF-8 bit layout, up to four bytes (nothing above 0x1FFFFF).
std::size_t encode_utf8(char *out, std::uint32_t k) noexcept;

// The counts columns of a line, "\t" percentage "\t" count, as last
// formatted for a count in each slot (the count modulo the number of slots):
// most tables have few distinct counts, so most lines take their counts
// columns from the cache instead of formatting them again.
struct counts_cache {
    struct slot {
        std::int64_t count = 0;  // 0: empty, as no line has a zero count
        std::uint32_t length = 0;
        char text[52];
    } slots[256];
};

// The counts columns for a count n > 0 of `total` characters, "\t%7.3f\t%8lld"
// of n / total * 100 and n in the locale's numeric format, through the
// cache. out has room for `room` bytes, at least 28 more than the locale's
// decimal point has. Returns the number of bytes written.
std::size_t format_counts(char *out, std::size_t room, counts_cache &cache, std::int64_t n, double total) noexcept;

// Writes one line per non-zero counter, in code-point order, to standard
// output. Returns 0, or the reason (an errno value) the first failed write
// gave; nothing more of the table is written after it.
[[nodiscard]] int write_table(const char_tally &tally, std::int64_t characters, table_columns columns) noexcept;
