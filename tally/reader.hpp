// runetally's reader: counts the characters of a descriptor in large blocks
// where it can, with exactly the results of decoding one sequence at a time.
#pragma once

#include <cstddef>
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

// Adds n to the counter of code point c. Every count goes through here.
inline void count_char(char_tally &tally, std::uint32_t c, std::int64_t n = 1) noexcept
{
    tally.touched[c >> count_page_shift] = 1;
    tally.char_counts[c] += n;
}

// Position of the next sequence: newlines, characters and bytes decoded so far.
struct input_position {
    std::int64_t lines = 0;
    std::int64_t characters = 0;
    std::int64_t bytes = 0;
};

// Outcome of counting: the status that ended it (UTF8_END_OF_INPUT on
// success), the failing sequence for UTF8_INVALID, and the position of the
// failure (or of the end), counted from where the descriptor stood.
struct count_result {
    std::uint32_t status = UTF8_END_OF_INPUT;
    const unsigned char *sequence = nullptr;
    input_position position;
};

// Bytes read at a time (1 MiB; test builds use a tiny block to put block
// boundaries everywhere).
extern const std::size_t tally_block_size;

// What scan_block found at the front of a block.
struct block_scan {
    std::size_t consumed = 0;      // bytes of whole legal sequences, all counted
    std::int64_t characters = 0;   // characters among them
    bool invalid = false;          // an ill-formed sequence of `length` bytes follows
    int length = 0;
};

// Counts the legal sequences at the front of data (through the vector kernel
// where there is one, then one by one) and stops at the first ill-formed one
// or at a sequence that the block holds only in part (fewer bytes than its
// lead announces); in the latter case consumed < data.size() and invalid is
// false.
[[nodiscard]] block_scan scan_block(std::span<const unsigned char> data, char_tally &tally) noexcept;

// Counts every character of fd. A regular file is read in blocks and, after a
// decoding failure, positioned just past the failing sequence; a pipe is
// looked at before it is consumed and only the bytes up to the end of the
// failing sequence are taken from it; any other descriptor is read one
// sequence at a time.
[[nodiscard]] count_result count_fd(int fd, char_tally &tally) noexcept;

// The same, one read_utf8_char call at a time whatever fd is: the reference
// path, which never reads past the sequence it decodes.
[[nodiscard]] count_result count_bytewise(int fd, char_tally &tally) noexcept;
