// runeflip's vector kernel: reverses a line by characters with the widest
// vector instructions the processor has (Highway, chosen at run time), for
// lines in which every byte is accounted for: each lead byte C0..F7 is
// followed by exactly the continuation bytes it announces, and every
// continuation byte belongs to such a lead (vector_domain states the rule
// the kernel checks). Any other line, and every line where the processor
// has no vector target, is left to reverse_line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "reverse.hpp"
#include "utf8.hpp"

// Set by the build (CMake target runekit_vector) to 1 or 0.
#ifndef RUNEKIT_VECTOR
#error "RUNEKIT_VECTOR is not defined: link the CMake target runekit_vector"
#endif

// Bytes before and after a line that the kernel may read (their values do
// not matter), and bytes after out + line.size() that it may overwrite.
inline constexpr std::size_t flip_vector_padding = 80;

// Which code points below U+10000 may join a grapheme cluster with a
// neighbour, as the reversal by clusters, its owner, has learnt: bit b of
// groups[k] stands for the 32 code points from U+(k << 8 | b << 5) and is
// clear only once none of them is known to join. rows[r] is the byte that
// groups[16r .. 16r + 16) all hold, where they hold one; `mixed` lists the
// other rows. With `portable`, every target looks it up in the portable form
// (the tests hold it to AVX3_DL's byte permutes).
struct joining_table {
    std::array<std::uint8_t, 256> groups;
    std::array<std::uint8_t, 16> rows;
    std::array<std::uint8_t, 16> mixed;
    std::size_t mixed_rows;
    bool portable;
};

// The kernel's domain, the rule its vector check is held to: every lead
// C0..F7 followed by exactly its continuation bytes, no other continuation
// byte, no byte F8..FF.
[[nodiscard]] constexpr bool vector_domain(std::span<const unsigned char> line) noexcept
{
    for (std::size_t i = 0; i < line.size();) {
        const unsigned char b = line[i];
        if (is_continuation(b) || b >= 0xF8)
            return false;
        const auto extra = static_cast<std::size_t>(utf8_extra_bytes[b]);
        for (std::size_t k = 1; k <= extra; ++k)
            if (i + k >= line.size() || !is_continuation(line[i + k]))
                return false;
        i += extra + 1;
    }
    return true;
}

#if RUNEKIT_VECTOR

// For a line in the domain, writes what reverse_line writes (line.size()
// bytes) and returns true; otherwise returns false, with `out` holding
// nothing of use. See flip_vector_padding for the memory around the line
// and `out`. With `joining`, only a line whose characters are each a
// grapheme cluster of its own is taken: one of characters of one to three
// bytes whose groups in `joining` are clear.
[[nodiscard]] bool flip_vector_reverse(std::span<const unsigned char> line, unsigned char *out,
                                       const joining_table *joining = nullptr) noexcept;

// Reverses the whole lines at the front of text[0..size), each ended by a
// newline there, into out, each followed by its newline, for as long as they
// are in the domain (with `joining`, as for flip_vector_reverse) and fit in
// `room` bytes. Returns the bytes taken, which is the bytes written, and
// adds the lines to *lines. The memory around text and out is as for a line.
[[nodiscard]] std::size_t flip_vector_lines(const unsigned char *text, std::size_t size, unsigned char *out,
                                            std::size_t room, std::uint64_t *lines,
                                            const joining_table *joining = nullptr) noexcept;

#else
inline bool flip_vector_reverse(std::span<const unsigned char>, unsigned char *,
                                const joining_table * = nullptr) noexcept { return false; }
inline std::size_t flip_vector_lines(const unsigned char *, std::size_t, unsigned char *, std::size_t,
                                     std::uint64_t *, const joining_table * = nullptr) noexcept { return 0; }
#endif

// reverse_line's contract, through the vector kernel where it applies.
[[nodiscard]] inline reverse_result reverse_line_fast(std::span<const unsigned char> line, unsigned char *out) noexcept
{
    if (flip_vector_reverse(line, out))
        return {reverse_status::reversed, static_cast<std::int64_t>(line.size()), 0, 0, 0};
    return reverse_line(line, out);
}
