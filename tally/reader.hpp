// runetally's reader: counts the characters of a descriptor in large blocks
// where it can, with exactly the results of decoding one sequence at a time.
#pragma once

#include <cstddef>

#include "count.hpp"
#include "result.hpp"

// Bytes asked of a regular file at a time (test builds read a few bytes at
// a time, to put block boundaries everywhere).
extern const std::size_t tally_file_read_size;

// Counts every character of fd into tally, through stage (bound to tally
// here, and empty again on return). A regular file is read in blocks and,
// after a decoding failure, positioned just past the failing sequence; a pipe
// is looked at before it is consumed and only the bytes up to the end of the
// failing sequence are taken from it; any other descriptor is read one
// sequence at a time. With `strict`, encoded surrogates are ill-formed.
[[nodiscard]] count_result count_fd(int fd, count_stage &stage, char_tally &tally, bool strict = false) noexcept;

// The same, one read_utf8_char call at a time whatever fd is: the reference
// path, which never reads past the sequence it decodes.
[[nodiscard]] count_result count_bytewise(int fd, count_stage &stage, char_tally &tally,
                                          bool strict = false) noexcept;

// The same as count_fd, but validating only: nothing is counted, and the
// result's lines and characters are those of the position of a read error
// (only its bytes otherwise).
[[nodiscard]] count_result validate_fd(int fd, bool strict) noexcept;
