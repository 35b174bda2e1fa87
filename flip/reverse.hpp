// runeflip's core: reversing one line by characters.
#pragma once

#include <cstdint>
#include <span>

enum class reverse_status { reversed, truncated };

// Outcome of reversing one line. For `reversed`, `length` bytes of the output
// buffer hold the result. For `truncated`, `position` is the 1-based position
// of the lead byte in the line, `needed` the continuation bytes it announces
// and `present` the continuation bytes between it and the next character (or
// the end of the line); the output buffer holds nothing of use.
struct reverse_result {
    reverse_status status;
    std::int64_t length;
    std::int64_t position;
    std::int64_t needed;
    std::int64_t present;
};

// Writes the characters of `line` in reverse order to `out`, which has room
// for line.size() bytes (the result is exactly as long as the line). A
// multi-byte character keeps its bytes in their order; a continuation byte
// that no lead byte claims is a character of its own; a lead byte with fewer continuation
// bytes after it than it announces stops the scan as `truncated`. Lead bytes
// are not otherwise checked. Pure: touches nothing but `out`.
[[nodiscard]] reverse_result reverse_line(std::span<const unsigned char> line, unsigned char *out) noexcept;
