// runeflip -g: lines reversed by extended grapheme clusters (what a reader
// takes for one character: a letter with its combining marks, a flag, an
// emoji sequence joined by ZWJ, a Hangul syllable of jamo), as the utf8proc
// library segments them, in the Unicode version it was built for.
#pragma once

#include <cstdint>
#include <span>

#include "reverse.hpp"
#include "vector_reverse.hpp"

// Writes the grapheme clusters of `line` in reverse order to `out`, each with
// its bytes in their order; `out` is as for reverse_line_fast (room for
// line.size() bytes and flip_vector_padding behind them). Characters are
// delimited as reverse_line delimits them, and a character that is not a
// well-formed UTF-8 sequence of a Unicode scalar value (an unclaimed
// continuation byte, an overlong form, a surrogate, a value above U+10FFFF, a
// lead of five or six bytes) is a cluster of its own. The result is as
// reverse_line's: exactly line.size() bytes, or for a line with a lead byte
// cut short, reverse_line's report. A line in which no code point can join a
// cluster with a neighbour is reversed by reverse_line_fast (so is every
// line of ASCII alone: no ASCII character joins another but CR before LF,
// and LF ends the line).
[[nodiscard]] reverse_result reverse_clusters(std::span<const unsigned char> line, unsigned char *out) noexcept;

// The same, every line segmented (no fast path): the reference the fast
// path is held to.
[[nodiscard]] reverse_result segment_clusters(std::span<const unsigned char> line, unsigned char *out) noexcept;

// True if code point `c` (at most 0x10FFFF) can join a cluster with the code
// point before or after it.
[[nodiscard]] bool can_join(std::uint32_t c) noexcept;

// The groups of code points that may join, for the vector kernel, as far as
// the calls above have learnt them from the library (they learn a block of
// 4096 code points when one of its code points is first asked about).
[[nodiscard]] const joining_table &joining_learnt() noexcept;
