// runetally's block scan: the legal sequences at the front of a block in
// memory validated and staged, by the vector kernel where there is one and
// then one by one. The only caller of the kernel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "count.hpp"

// What scan_block found at the front of a block.
struct block_scan {
    std::size_t consumed = 0;      // bytes of whole legal sequences, all counted
    std::int64_t characters = 0;   // characters among them
    bool invalid = false;          // an ill-formed sequence of `length` bytes follows
    int length = 0;
};

// Stages the legal sequences at the front of data and stops at the first
// ill-formed one or at a sequence that the block holds only in part (fewer
// bytes than its lead announces); in the latter case consumed < data.size()
// and invalid is false. With `strict`, encoded surrogates (ED A0..BF xx) are
// ill-formed (an ED followed by A0..BF stops the scan with invalid = true at
// the ED byte).
[[nodiscard]] block_scan scan_block(std::span<const unsigned char> data, count_stage &stage,
                                    bool strict) noexcept;

// The number of bytes of whole legal sequences at the front of data (same
// rule, same `strict`), stopping before the first ill-formed sequence or
// before a sequence that data holds only in part. Counts nothing, stages
// nothing: the fast path of -l and of -e on valid text.
[[nodiscard]] std::size_t validate_block(std::span<const unsigned char> data, bool strict) noexcept;
