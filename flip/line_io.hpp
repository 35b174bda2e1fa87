// runeflip's input and output: lines read from a descriptor in large blocks,
// and output gathered in a large buffer that is written with write(2).
#pragma once

#include <cstddef>
#include <span>

enum class read_status { line, end, read_error, no_memory };

// Bytes before and after every line read_line hands out that may be read
// (their values are unspecified), and bytes past `size` of every output
// buffer that may be written: room for vector loads and stores that reach
// beyond the data.
inline constexpr std::size_t line_padding = 128;

// State of the line reader. `block` holds what the last read(2) returned,
// from `start` to `end` not yet handed out; `spill` collects a line that
// crosses the end of a block. Set up by open_reader.
struct line_reader {
    int fd;
    unsigned char *block;
    std::size_t block_size, start, end;
    bool at_end;
    unsigned char *spill;
    std::size_t spill_size, spill_used;
    int error;  // errno of a read_error
    // The allocations, which begin line_padding bytes before block and spill.
    unsigned char *block_memory, *spill_memory;
};

// Output gathered for one write(2): `used` of `size` bytes filled.
struct output_buffer {
    unsigned char *data;
    std::size_t size, used;
};

// Sets up `r` to read `fd`; false if the block could not be allocated.
[[nodiscard]] bool open_reader(line_reader &r, int fd) noexcept;

// Releases the reader's storage (the block and the spill buffer).
void close_reader(line_reader &r) noexcept;

// Hands out the next line, without its newline, in `line`. Every byte value is
// data; a last line without a newline is a line; `end` means no line is left.
// The span stays valid until the next call. On `read_error` r.error holds the
// reason; the bytes of an unfinished line are then dropped.
[[nodiscard]] read_status read_line(line_reader &r, std::span<const unsigned char> &line) noexcept;

// Sets up `out` with room for `size` bytes; false if that is not available.
[[nodiscard]] bool open_output(output_buffer &out, std::size_t size) noexcept;

// Writes everything gathered in `out` to `fd` and empties it. Returns 0, or
// the errno of the failed write.
[[nodiscard]] int flush_output(output_buffer &out, int fd) noexcept;

// Makes `out` large enough for `needed` bytes in all; call it on an empty
// buffer. false if the storage is not available (the old buffer is kept).
[[nodiscard]] bool grow_output(output_buffer &out, std::size_t needed) noexcept;
