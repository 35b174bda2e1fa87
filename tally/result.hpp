// runetally's results: the status values of decoding, the position of the
// next sequence and what counting an input ended with. Plain types, so that
// the decoder, the reader and the report need nothing of one another here.
#pragma once

#include <cstdint>

// Results of read_utf8_char at or above 0x110000 are status values.
inline constexpr std::uint32_t UTF8_END_OF_INPUT = 0xA0000000u;
inline constexpr std::uint32_t UTF8_TRUNCATED = 0xA0000001u;
inline constexpr std::uint32_t UTF8_INVALID = 0xA0000002u;
inline constexpr std::uint32_t UTF8_READ_ERROR = 0xA0000004u;
inline constexpr std::uint32_t UTF8_FIRST_STATUS = 0x110000u;

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
