// runetally's block reader: the same decoding as read_utf8_char, done on
// large blocks in memory, leaving the descriptor just past a failing sequence.
#pragma once

#include <cstdint>
#include <span>

#include "histogram.hpp"

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

// Counts the legal sequences at the front of data and stops at the first
// ill-formed one or at a sequence that the block holds only in part (fewer
// bytes than its lead announces); in the latter case consumed < data.size()
// and invalid is false.
[[nodiscard]] block_scan scan_block(std::span<const unsigned char> data, char_tally &tally) noexcept;

// Counts every character of fd with the results of count_bytewise. A regular
// file is read in blocks and, after a decoding failure, positioned just past
// the failing sequence; a pipe is looked at before it is consumed and only
// the bytes up to the end of the failing sequence are taken from it; any
// other descriptor is read byte-exactly by count_bytewise.
[[nodiscard]] count_result count_fd(int fd, char_tally &tally) noexcept;
