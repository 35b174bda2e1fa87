// runetally -e: every ill-formed sequence of an input, located as editors
// and compilers locate things.
#pragma once

#include "result.hpp"

// How locating an input ended: its status (UTF8_END_OF_INPUT when it was
// read whole, else UTF8_READ_ERROR or, for a read error inside a sequence,
// UTF8_TRUNCATED, with the position of the failure counted from where fd
// stood, as count_fd gives it), and whether it held an ill-formed sequence.
struct located_result {
    count_result end;
    bool ill_formed = false;
};

// Reads fd to its end and writes to standard output, for each ill-formed
// sequence in order, "NAME:LINE:COLUMN: offset OFFSET: REASON\n": `name`,
// the line counted from 1 (each 0x0A ends one), the column counted from 1 in
// bytes, the offset of its first byte counted from 0 from where fd stood,
// and why it is ill-formed. Where a character should start, the longest
// prefix that can begin a legal sequence is taken: a whole character, or one
// ill-formed sequence (at least a byte), after which decoding goes on. With
// `strict`, encoded surrogates are ill-formed.
[[nodiscard]] located_result locate_errors(int fd, const char *name, bool strict) noexcept;
