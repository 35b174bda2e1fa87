// runetally's vector kernel: validates and counts whole sub-blocks of a block
// with the widest vector instructions the processor has (Highway, chosen at
// run time), and leaves everything it does not take to the scalar scan.
//
// It stages what it counts (count.hpp). Built with RUNEKIT_VECTOR=0 (the
// CMake option RUNEKIT_VECTOR=OFF) it takes nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "count.hpp"

// Set by the build (CMake target runekit_vector) to 1 or 0: a translation
// unit without it would silently get the no-op versions.
#ifndef RUNEKIT_VECTOR
#error "RUNEKIT_VECTOR is not defined: link the CMake target runekit_vector"
#endif

// What tally_vector_scan took from the front of the data.
struct tally_vector_result {
    std::size_t consumed = 0;     // bytes of whole legal sequences, all counted
    std::int64_t characters = 0;  // characters among them
};

// Bytes the kernel validates at once, at most (a sub-block).
inline constexpr std::size_t tally_vector_max_subblock = 16384;

#if RUNEKIT_VECTOR

// Takes sub-blocks of at most `subblock` bytes from the front of data, each
// ending at a character boundary, for as long as each one is whole legal
// sequences (runetally's rule: encoded surrogates are legal, unless
// `strict`); stops before the first one that is not, and before a sequence
// cut off by the end of the data. Everything taken is staged into stage,
// ASCII by pairs where `pairs` allows it (see stage_pairs_room), so what
// remains for the caller starts at a character boundary; without a stage,
// only validated. Takes nothing on targets without vectors. Reads only data.
// With `every_step` (the tests), every step runs on every target, also those
// it leaves to others because they pay only where the processor has native
// instructions for them: they then run on their portable operations.
[[nodiscard]] tally_vector_result tally_vector_scan(std::span<const unsigned char> data, std::size_t subblock,
                                                    bool pairs, bool strict, count_stage *stage,
                                                    bool every_step = false) noexcept;

#else

inline tally_vector_result tally_vector_scan(std::span<const unsigned char>, std::size_t, bool, bool, count_stage *,
                                             bool = false) noexcept
{
    return {};
}

#endif
