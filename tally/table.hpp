// runetally's table: one line per counted character, in code-point order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "count.hpp"

// Which columns of the table are written.
struct table_columns {
    bool counts = true;  // percentage and count
    bool code = true;    // code point in hexadecimal
    bool glyph = true;   // the character itself, where displayable
};

// False for the blank, control, zero-width and byte-order-mark code points.
[[nodiscard]] bool is_displayable(std::uint32_t k) noexcept;

// The fields of a line, formatted into memory byte for byte as "%*lu",
// "%*.3f" and "0x%06lX" would, without the cost of the general formatted-output
// machinery per line. Each returns the number of bytes written.

// v right-aligned in `width` columns, padded with spaces.
std::size_t format_decimal(char *out, std::uint64_t v, std::size_t width) noexcept;
// A percentage 0 <= x <= 100 rounded to the nearest thousandth of its exact
// binary value, ties to even, with the given decimal point, right-aligned in
// `width` characters (a decimal point of several bytes counts as one).
std::size_t format_fixed3(char *out, double x, std::string_view point, std::size_t width) noexcept;
// "0x" and k as six or more upper-case hexadecimal digits.
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

// The counts columns for a count n > 0 of `total` characters, as
// format_fixed3 (n / total * 100) and format_decimal (n, width 8) write
// them, through the cache. Returns the number of bytes written.
std::size_t format_counts(char *out, counts_cache &cache, std::int64_t n, double total, std::string_view point) noexcept;

// Writes one line per non-zero counter, in code-point order, to standard
// output. Returns 0, or the reason (an errno value) the first failed write
// gave; nothing more of the table is written after it.
[[nodiscard]] int write_table(const char_tally &tally, std::int64_t characters, table_columns columns) noexcept;
