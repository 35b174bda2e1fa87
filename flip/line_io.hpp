// runeflip's input and output: lines read from a descriptor with read(2) in
// large blocks, and output gathered in a large buffer that is written with
// write(2).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <span>

enum class read_status { line, end, read_error, no_memory };

// Bytes before and after every line read_line hands out that may be read
// (their values are unspecified), and bytes past the size of every output
// buffer that may be written: room for vector loads and stores that reach
// beyond the data.
inline constexpr std::size_t line_padding = 128;

// Heap storage of `size` bytes with line_padding zeroed bytes on either
// side, released with its owner. Grown by reserve_bytes.
struct padded_bytes {
    unsigned char *memory = nullptr;  // the allocation, padding included
    std::size_t size = 0;
    padded_bytes() = default;
    padded_bytes(const padded_bytes &) = delete;
    padded_bytes &operator=(const padded_bytes &) = delete;
    ~padded_bytes() { std::free(memory); }
    [[nodiscard]] unsigned char *data() const noexcept { return memory != nullptr ? memory + line_padding : nullptr; }
};

// Makes `b` hold at least `needed` bytes, its contents kept and new bytes
// zeroed, at least doubling it so that growing byte by byte costs linear
// time. false if the storage is not available (`b` is then unchanged).
[[nodiscard]] bool reserve_bytes(padded_bytes &b, std::size_t needed) noexcept;

// The line reader. block[start..end) is what it holds and has not handed
// out; a line that is not whole there is moved to the front of the block
// before more is read behind it, and the block grows when that line and a
// read behind it do not fit. Every line is handed out in place.
struct line_reader {
    int fd = -1;
    padded_bytes block;
    std::size_t start = 0, end = 0;
    bool at_end = false;
    int error = 0;  // errno of a read_error
};

// Output gathered for one write(2): `used` bytes of `bytes` filled.
struct output_buffer {
    padded_bytes bytes;
    std::size_t used = 0;
};

// Sets up `r` to read `fd`; false if the block could not be allocated.
[[nodiscard]] bool open_reader(line_reader &r, int fd) noexcept;

// Hands out the next line, without its newline, in `line`. Every byte value is
// data; a last line without a newline is a line; `end` means no line is left.
// The span stays valid until the next call. On `read_error` r.error holds the
// reason; the bytes of an unfinished line are then dropped.
[[nodiscard]] read_status read_line(line_reader &r, std::span<const unsigned char> &line) noexcept;

// Writes everything gathered in `out` to `fd` and empties it. Returns 0, or
// the errno of the failed write.
[[nodiscard]] int flush_output(output_buffer &out, int fd) noexcept;
