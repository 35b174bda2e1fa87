// RuneAnatomy's input side: the offset argument and the reading of one sequence.
#pragma once

#include <span>

// The offset text as a decimal long: leading white space, an optional sign,
// digits, stopping at the first other character; no digits gives 0. A value
// beyond the range of long saturates at LONG_MIN or LONG_MAX.
[[nodiscard]] long parse_offset(const char *text) noexcept;

// One read request, repeated only when a signal interrupts it: the byte
// count, 0 at end of input, -1 on failure with errno set.
[[nodiscard]] long read_once(int fd, std::span<unsigned char> into) noexcept;

// Fills `into` with as many requests as it takes, stopping early at end of
// input: the number of bytes gathered, or -1 if a request failed (whatever
// had arrived before is then disregarded).
[[nodiscard]] int gather_bytes(int fd, std::span<unsigned char> into) noexcept;
