// runetally's reader: counts the characters of a descriptor in large blocks
// where it can, with exactly the results of decoding one sequence at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "count.hpp"
#include "decoder.hpp"

// Position of the next sequence: newlines, characters and bytes decoded so far.
struct input_position {
    std::int64_t lines = 0;
    std::int64_t characters = 0;
    std::int64_t bytes = 0;
};

// Outcome of counting: the status that ended it (UTF8_END_OF_INPUT on
// success), the failing sequence for UTF8_INVALID, the errno of a
// UTF8_READ_ERROR, and the position of the failure (or of the end), counted
// from where the descriptor stood.
struct count_result {
    std::uint32_t status = UTF8_END_OF_INPUT;
    const unsigned char *sequence = nullptr;
    int error = 0;
    input_position position;
};

// Bytes read at a time (1 MiB; test builds use a tiny block to put block
// boundaries everywhere).
extern const std::size_t tally_block_size;

// Counts every character of fd into tally. A regular file is read in blocks
// and, after a decoding failure, positioned just past the failing sequence;
// a pipe is looked at before it is consumed and only the bytes up to the end
// of the failing sequence are taken from it; any other descriptor is read one
// sequence at a time.
[[nodiscard]] count_result count_fd(int fd, char_tally &tally) noexcept;

// The same, one read_utf8_char call at a time whatever fd is: the reference
// path, which never reads past the sequence it decodes.
[[nodiscard]] count_result count_bytewise(int fd, char_tally &tally) noexcept;
