// runeflip's vector kernel: reverses a line by characters with the widest
// vector instructions the processor has (Highway, chosen at run time), for
// lines in which every byte is accounted for: each lead byte C0..F7 is
// followed by exactly the continuation bytes it announces, and every
// continuation byte belongs to such a lead. Any other line, and every line
// where the processor has no vector target, is left to reverse_line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "line_io.hpp"
#include "reverse.hpp"

// Set by the build (CMake target runekit_vector) to 1 or 0.
#ifndef RUNEKIT_VECTOR
#error "RUNEKIT_VECTOR is not defined: link the CMake target runekit_vector"
#endif

// Bytes before and after a line that flip_vector_reverse may read (their
// values do not matter), and bytes after out + line.size() that it may
// overwrite.
inline constexpr std::size_t flip_vector_padding = 80;

#if RUNEKIT_VECTOR

// What the kernel knows of code points that can join a grapheme cluster
// with a neighbour, for lines reversed by clusters: bit b of byte k stands
// for the 32 code points from U+(k << 8 | b << 5), and is clear only once
// none of them is known to join. Every bit starts set; the reversal by
// grapheme clusters clears them as it learns the blocks from the library.
extern std::array<std::uint8_t, 256> flip_vector_joining;

// For a line as above, writes what reverse_line writes (line.size() bytes)
// and returns true; otherwise returns false, with `out` holding nothing of
// use. See flip_vector_padding for the memory around the line and `out`.
// With `clusters`, only a line whose characters are each a grapheme cluster
// of its own is taken: one of ASCII bytes alone, or where the processor
// has the table lookups it needs, one of characters of one to three bytes
// whose bits in flip_vector_joining are clear.
[[nodiscard]] bool flip_vector_reverse(std::span<const unsigned char> line, unsigned char *out,
                                       bool clusters = false) noexcept;

// Takes from the reader's block the whole lines it holds (each with its
// newline) that qualify, as many as fit in out, and writes them reversed,
// each with its newline, behind what out holds; adds them to line_number.
// Stops before the first line that does not qualify (with `clusters`, as
// for flip_vector_reverse) or has no newline in the block yet: read_line
// hands that one out next.
void flip_vector_lines(line_reader &r, output_buffer &out, std::uint64_t &line_number, bool clusters = false) noexcept;

#else

inline bool flip_vector_reverse(std::span<const unsigned char>, unsigned char *, bool = false) noexcept
{
    return false;
}

inline void flip_vector_lines(line_reader &, output_buffer &, std::uint64_t &, bool = false) noexcept {}

#endif

// reverse_line's contract, through the vector kernel where it applies.
[[nodiscard]] inline reverse_result reverse_line_fast(std::span<const unsigned char> line, unsigned char *out) noexcept
{
    if (flip_vector_reverse(line, out))
        return {reverse_status::reversed, static_cast<std::int64_t>(line.size()), 0, 0, 0};
    return reverse_line(line, out);
}
