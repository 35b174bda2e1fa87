// runetally -m: tables that runetally wrote, read back and added up.
#pragma once

#include <cstdint>

#include "count.hpp"

// How reading one table ended.
enum class merge_outcome {
    added,       // every line a table line, its counts added
    not_table,   // a line that is not a table line (reported unless listing)
    unreadable,  // a read error, reported
    too_large,   // every line a table line, but a count or a sum past 2^63 - 1
};

// Reads the table on fd, the input `name`, to its end, a block at a time.
// A table line is a tab, a percentage (any bytes but tabs and newlines, at
// least one), a tab, the count (spaces, then decimal digits), a tab, "0x"
// and the code point in hexadecimal (at most 0x10FFFF), then a newline, or a
// tab, the glyph (any bytes but a newline, of any length, never held) and a
// newline: what runetally writes without -c and -u, in any locale, with or
// without -g. The first line that is not one (the last one without its
// newline included) ends the reading: "NAME:N: not a line of a table" unless
// `list`. Only a table read whole has its counts added to `tally` and to
// `characters` (the sum so far); with `list` nothing is added and no sum is
// checked. A count, or the sum of the counts with `characters`, past
// 2^63 - 1 adds nothing: as no counter exceeds the sum, checking the sum
// line by line keeps every counter of a merge within it. A count of 0 adds
// nothing either.
[[nodiscard]] merge_outcome merge_input(int fd, const char *name, bool list, char_tally &tally,
                                        std::int64_t &characters) noexcept;
