// runeflip -g (see grapheme.hpp).
#include "grapheme.hpp"

#include <algorithm>
#include <array>
#include <cstring>

#include <utf8proc.h>

#include "utf8.hpp"
#include "vector_reverse.hpp"

namespace {
// can_join's answers, learnt from the library a block of 256 code points at
// a time, when a code point of the block is first asked about: no table is
// built at start-up, and text of a few scripts touches few blocks.
constexpr std::uint32_t code_points = 0x110000, block_size = 256;
std::array<std::uint64_t, code_points / 64> joining;
std::array<bool, code_points / block_size> block_learnt;

// The classes of UAX #29 of which a code point may stay joined to a
// neighbour. Every rule that keeps two code points together has one of them
// on a side: L with L, V, LV or LVT after it; V or T after LV or V; T after
// LVT or T; Extend, ZWJ or SpacingMark after anything; anything after
// Prepend; a pair of regional indicators; an Extended_Pictographic after
// ZWJ. So LV, LVT and Extended_Pictographic, which join only next to one of
// these, need not be in the list, and a line with none of these classes has
// a break between every two code points.
[[nodiscard]] bool class_joins(int boundclass) noexcept
{
    switch (boundclass) {
    case UTF8PROC_BOUNDCLASS_EXTEND:
    case UTF8PROC_BOUNDCLASS_ZWJ:
    case UTF8PROC_BOUNDCLASS_SPACINGMARK:
    case UTF8PROC_BOUNDCLASS_PREPEND:
    case UTF8PROC_BOUNDCLASS_REGIONAL_INDICATOR:
    case UTF8PROC_BOUNDCLASS_L:
    case UTF8PROC_BOUNDCLASS_V:
    case UTF8PROC_BOUNDCLASS_T:
        return true;
    default:
        return false;
    }
}

static_assert(block_size == 8 * 32, "a block is one byte of flip_vector_joining");

// Also tells the vector kernel, for a block below U+10000, which of its
// eight groups of 32 code points hold none that joins (flip_vector_joining's
// byte `block`).
void learn_block(std::uint32_t block) noexcept
{
    for (std::uint32_t c = block * block_size; c < (block + 1) * block_size; ++c)
        if (class_joins(utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->boundclass))
            joining[c / 64] |= std::uint64_t{1} << (c % 64);
    block_learnt[block] = true;
#if RUNEKIT_VECTOR
    if (block < flip_vector_joining.size()) {
        std::uint8_t groups = 0;
        for (std::uint32_t g = 0; g < 8; ++g)
            if ((joining[block * 4 + g / 2] >> (32 * (g % 2)) & 0xFFFF'FFFFu) != 0)
                groups |= static_cast<std::uint8_t>(1u << g);
        flip_vector_joining[block] = groups;
    }
#endif
}

// Per byte: 1 if no well-formed character that it begins can join a
// neighbour (every byte below 0xC0), 2 if one can, 0 for a lead not yet
// known. A lead is learnt when it is first met, a block at a time up to the
// first block with a code point that joins.
constexpr std::array<std::uint8_t, 256> leads_unknown() noexcept
{
    std::array<std::uint8_t, 256> kinds{};
    for (int b = 0; b < 0xC0; ++b)
        kinds[b] = 1;
    return kinds;
}
std::array<std::uint8_t, 256> byte_kind = leads_unknown();

// The least value of a well-formed sequence, by continuation bytes: below
// it, the form is overlong.
constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};

[[nodiscard]] bool lead_alone(unsigned char lead) noexcept
{
    std::uint8_t &kind = byte_kind[lead];
    if (kind == 0) {
        // The code points of the lead's well-formed sequences, a range of
        // whole words of `joining` (none for C0, C1 and F5 and above).
        const auto extra = static_cast<std::size_t>(utf8_extra_bytes[lead]);
        const std::uint32_t bits = (0x7Fu >> (extra + 1)) & lead;
        const std::uint32_t first = extra > 3 ? code_points : std::max(bits << (6 * extra), least[extra]);
        const std::uint32_t end = std::min((bits + 1) << (6 * extra), code_points);
        kind = 1;
        for (std::uint32_t c = first; c < end && kind == 1; c += 64) {
            if (!block_learnt[c / block_size])
                learn_block(c / block_size);
            kind = joining[c / 64] != 0 ? 2 : 1;
        }
    }
    return kind == 1;
}

// The code point of a sequence that is not a well-formed character.
constexpr std::uint32_t no_character = 0xFFFF'FFFF;

// One character, as reverse_line delimits them: `length` bytes (0 for a
// lead byte cut short) holding `code_point`, or no_character.
struct character {
    std::size_t length;
    std::uint32_t code_point;
};

// The character at line[at] (at < line.size()).
[[nodiscard]] character character_at(std::span<const unsigned char> line, std::size_t at) noexcept
{
    const unsigned char b = line[at];
    if (b < 0x80)
        return {1, b};
    if (is_continuation(b))
        return {1, no_character};
    const auto extra = static_cast<std::size_t>(utf8_extra_bytes[b]);
    for (std::size_t k = 1; k <= extra; ++k)
        if (at + k >= line.size() || !is_continuation(line[at + k]))
            return {0, no_character};
    if (extra > 3)
        return {extra + 1, no_character};
    const std::uint32_t c = utf8_decode(line.subspan(at, extra + 1));
    const bool valid = c >= least[extra] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF);
    return {extra + 1, valid ? c : no_character};
}

// True if the code point of `c` can join a neighbour (no_character cannot).
[[nodiscard]] bool joins(const character &c) noexcept
{
    return c.code_point != no_character && can_join(c.code_point);
}

// True when no code point of `line` can join a cluster with a neighbour, so
// that its clusters are its characters; also for a line with a lead byte cut
// short, which reverse_line reports.
[[nodiscard]] bool characters_alone(std::span<const unsigned char> line) noexcept
{
    // Eight bytes at a time, each looked up on its own, so that no step
    // waits for the length of the character before; only at a lead that
    // begins characters that can join is the character decoded.
    for (std::size_t at = 0; at < line.size(); at += 8) {
        const std::size_t here = line.size() - at < 8 ? line.size() - at : 8;
        unsigned char w[8] = {};  // past the line: NUL bytes, which join nothing
        if (here == 8)
            std::memcpy(w, line.data() + at, 8);
        else
            for (std::size_t i = 0; i < here; ++i)
                w[i] = line[at + i];
        std::uint64_t word;
        std::memcpy(&word, w, 8);
        if ((word & 0x8080'8080'8080'8080u) == 0)
            continue;
        if ((byte_kind[w[0]] & byte_kind[w[1]] & byte_kind[w[2]] & byte_kind[w[3]] & byte_kind[w[4]] &
             byte_kind[w[5]] & byte_kind[w[6]] & byte_kind[w[7]]) == 1)
            continue;
        for (std::size_t i = 0; i < here; ++i) {
            if (byte_kind[w[i]] == 1 || lead_alone(w[i]))
                continue;
            const character c = character_at(line, at + i);
            if (c.length == 0)
                return true;
            if (joins(c))
                return false;
        }
    }
    return true;
}
}  // namespace

bool can_join(std::uint32_t c) noexcept
{
    if (!block_learnt[c / block_size])
        learn_block(c / block_size);
    return (joining[c / 64] >> (c % 64) & 1) != 0;
}

// One pass forward: each cluster, once its end is known, is copied to where
// it lies in the result (a cluster at line[from..to) goes to
// out[n - to .. n - from)). utf8proc's state is reset after every break,
// which its interface allows; a break next to a sequence that is not a
// character, or between two code points that cannot join, is known without
// asking the library.
reverse_result segment_clusters(std::span<const unsigned char> line, unsigned char *out) noexcept
{
    const std::size_t n = line.size();
    std::size_t from = 0;
    character before{0, no_character};
    bool before_joins = false;
    utf8proc_int32_t state = 0;
    for (std::size_t at = 0; at < n;) {
        const character c = character_at(line, at);
        if (c.length == 0)
            return reverse_line(line, out);
        const bool c_joins = joins(c);
        const bool together = (before_joins || c_joins) && c.code_point != no_character &&
                              before.code_point != no_character &&
                              !utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(before.code_point),
                                                                static_cast<utf8proc_int32_t>(c.code_point), &state);
        if (!together && at != 0) {
            std::memcpy(out + n - at, line.data() + from, at - from);
            from = at;
            state = 0;
        }
        before = c;
        before_joins = c_joins;
        at += c.length;
    }
    if (n != 0)
        std::memcpy(out, line.data() + from, n - from);
    return {reverse_status::reversed, static_cast<std::int64_t>(n), 0, 0, 0};
}

reverse_result reverse_clusters(std::span<const unsigned char> line, unsigned char *out) noexcept
{
    return characters_alone(line) ? reverse_line_fast(line, out) : segment_clusters(line, out);
}
