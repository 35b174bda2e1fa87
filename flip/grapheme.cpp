// runeflip -g (see grapheme.hpp).
#include "grapheme.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include <utf8proc.h>

#include "utf8.hpp"
#include "vector_reverse.hpp"

namespace {
// can_join's answers, learnt from the library a block of 4096 code points
// at a time, when a code point of the block is first asked about: no table
// is built at start-up, and text of a few scripts touches few blocks.
constexpr std::uint32_t code_points = 0x110000, block_size = 4096;
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

// What the vector kernel is told (see joining_table): every group set
// until its block, a row of the table, is learnt.
joining_table kernel_table = [] {
    joining_table t{};
    t.groups.fill(0xFF);
    t.rows.fill(0xFF);
    return t;
}();

// Also tells the vector kernel, for a block below U+10000, which of its
// groups of 32 code points hold none that joins.
void learn_block(std::uint32_t block) noexcept
{
    for (std::uint32_t c = block * block_size; c < (block + 1) * block_size; ++c)
        if (class_joins(utf8proc_get_property(static_cast<utf8proc_int32_t>(c))->boundclass))
            joining[c / 64] |= std::uint64_t{1} << (c % 64);
    block_learnt[block] = true;
    static_assert(block_size == 16 * 8 * 32, "a block is a row of joining_table");
    if (block >= kernel_table.rows.size())
        return;
    const std::span<std::uint8_t, 16> groups{kernel_table.groups.data() + 16 * block, 16};
    std::fill(groups.begin(), groups.end(), 0);
    for (std::uint32_t g = 0; g < 8 * groups.size(); ++g)
        if ((joining[block * 64 + g / 2] >> (32 * (g % 2)) & 0xFFFF'FFFFu) != 0)
            groups[g / 8] |= static_cast<std::uint8_t>(1u << (g % 8));
    if (std::all_of(groups.begin(), groups.end(), [&](std::uint8_t g) { return g == groups[0]; }))
        kernel_table.rows[block] = groups[0];
    else
        kernel_table.mixed[kernel_table.mixed_rows++] = static_cast<std::uint8_t>(block);
}

// The least value of a well-formed sequence, by continuation bytes: below
// it, the form is overlong.
constexpr std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};

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

// True if the code point of `c` can join a neighbour (no_character cannot,
// nor can ASCII in a line: only CR joins, with the LF that ends the line).
[[nodiscard]] bool joins(const character &c) noexcept
{
    return c.code_point >= 0x80 && c.code_point != no_character && can_join(c.code_point);
}

// True when no code point of `line` can join a cluster with a neighbour, so
// that its clusters are its characters; also for a line with a lead byte cut
// short, which reverse_line reports.
[[nodiscard]] bool characters_alone(std::span<const unsigned char> line) noexcept
{
    for (std::size_t at = 0; at < line.size();) {
        if (line[at] < 0x80) {
            ++at;
            continue;
        }
        const character c = character_at(line, at);
        if (c.length == 0)
            return true;
        if (joins(c))
            return false;
        at += c.length;
    }
    return true;
}
}  // namespace

const joining_table &joining_learnt() noexcept
{
    return kernel_table;
}

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
