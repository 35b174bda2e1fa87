// runetally -m: tables that runetally wrote, read back and added up.
#pragma once

#include <cstdint>

#include "count.hpp"

// Reads the table on fd, the input `name`, in blocks and adds the count of
// each line to the counter of its code point in `tally`; true, with the
// counts added to `characters`, if every line was a table line, each ended
// by its newline. A table line is a tab, a percentage (any bytes but tabs and
// newlines, at least one), a tab, the count (spaces, then decimal digits), a
// tab, "0x" and the code point in hexadecimal (at most 0x10FFFF), then a
// newline, or a tab, the glyph (any bytes but a newline) and a newline: what
// runetally writes without -c and -u, in any locale, with or without -g. A
// line longer than the block (256 KiB), which no table has, is not one
// either. Otherwise the input is reported as one that cannot be read is, or
// as "not a line of a table" at the line at fault, the last one without its
// newline included (with -l, `list`, its name is written to standard output
// instead); part of the table may have been added. A count, or the sum of
// the counts, past 2^63 - 1 ends the run with status 1 and no table: as no
// counter exceeds the sum, checking the sum line by line keeps every counter
// of a merge within it.
bool merge_input(int fd, const char *name, bool list, char_tally &tally, std::int64_t &characters) noexcept;
