// runeflip's work loop: every line of one descriptor reversed onto another,
// and how that ended, for main to report.
#pragma once

#include <cstdint>
#include <span>

#include "reverse.hpp"

struct joining_table;  // see vector_reverse.hpp

enum class flip_end { done, no_memory, read_error, write_error, truncated };

// How flip_stream ended. `error` is the errno of a read_error or a
// write_error; for `truncated`, `line` is the 1-based number of the line
// cut short and `cut` reverse_line's report on it.
struct flip_outcome {
    flip_end end;
    int error;
    std::uint64_t line;
    reverse_result cut;
};

// Another order of reversal: `reverse` reverses one line as
// reverse_line_fast does (same contract, another order), and a line whose
// characters are each a grapheme cluster of its own by characters, as it
// does; `joining` tells the vector kernel which lines those are (see
// flip_vector_lines).
struct line_reverser {
    reverse_result (*reverse)(std::span<const unsigned char>, unsigned char *) noexcept;
    const joining_table *joining;
};

// Writes each line of `in` to `out` with its characters reversed, each
// followed by a newline, until the input ends or something fails. The lines
// finished before a failure are written before it returns (if that write
// fails, the outcome is the write_error). With `by_line`, each line is
// written before more input is waited for. With a `reverser`, every line is
// reversed by it instead, but for those the vector kernel takes.
[[nodiscard]] flip_outcome flip_stream(int in, int out, bool by_line, const line_reverser *reverser = nullptr) noexcept;
