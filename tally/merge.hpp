// runetally -m: tables that runetally wrote, read back and added up.
#pragma once

#include <cstdint>

#include "count.hpp"

// How a table was read.
enum class table_status {
    whole,       // every line a table line, each ended by its newline
    not_table,   // a line (the last one without its newline included) is not
    too_large,   // a count, or the sum of the table's counts, is past 2^63 - 1
    unreadable,  // a read failed
};

struct table_result {
    table_status status = table_status::whole;
    unsigned long line = 0;  // not_table: the line at fault, counted from 1
    std::int64_t total = 0;  // whole: `before` and the sum of the counts
    int error = 0;           // unreadable: errno
};

// Reads the table on fd in blocks and adds the count of each line to the
// counter of its code point in `tally`. A table line is a tab, a percentage
// (any bytes but tabs and newlines, at least one), a tab, the count (spaces,
// then decimal digits), a tab, "0x" and the code point in hexadecimal (at
// most 0x10FFFF), then a newline, or a tab, the glyph (any bytes but a
// newline) and a newline: what runetally writes without -c and -u, in any
// locale, with or without -g. A line longer than the block (256 KiB), which
// no table has, is not one either. `before` is the total of the counts already added
// up: as no counter exceeds the total, checking the total against 2^63 - 1
// line by line keeps every counter of a merge within it. On failure part of
// the table may have been added.
[[nodiscard]] table_result merge_fd(int fd, char_tally &tally, std::int64_t before) noexcept;

// Adds the table on fd, the input `name`, to `tally`, and its total to
// `characters`; true if it was read whole. Otherwise it is reported as an
// input that cannot be read is, or as "not a line of a table" (with -l,
// `list`, its name is written to standard output instead). Counts too large
// to add end the run with status 1 and no table.
bool merge_input(int fd, const char *name, bool list, char_tally &tally, std::int64_t &characters) noexcept;
