// runetally's vector validation on its own, for -l and -e: the kernel's
// check of whole sub-blocks (vector_validate-inl.hpp) without its counting.
#pragma once

#include <cstddef>
#include <span>

#ifndef RUNEKIT_VECTOR
#error "RUNEKIT_VECTOR is not defined: link the CMake target runekit_vector"
#endif

#if RUNEKIT_VECTOR
// The bytes of the sub-blocks of at most `subblock` bytes at the front of
// data, each ending at a character boundary, that are whole legal sequences
// by runetally's rule (encoded surrogates legal); stops before the first
// that is not, and before a sequence that data holds only in part. 0 on
// targets with vectors of 128 bits or none. Reads only data.
[[nodiscard]] std::size_t tally_vector_validate(std::span<const unsigned char> data, std::size_t subblock) noexcept;
#else
inline std::size_t tally_vector_validate(std::span<const unsigned char>, std::size_t) noexcept
{
    return 0;
}
#endif
