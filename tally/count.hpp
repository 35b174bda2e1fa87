// runetally's counters: the 64-bit table the output is written from, and the
// stage, small counters that every decoded character goes to first, so that
// the counting stays in the processor's caches. The stage is the only writer
// of counters: whoever decodes hands it ASCII by pairs (stage_pairs) or code
// points (stage_point, or stage_points for a list); count_flush moves what is
// staged into the table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// One counter per 21-bit code point, grouped in pages of 512 counters (4 KiB).
inline constexpr std::size_t char_count_slots = 0x200000;
inline constexpr std::size_t count_page_shift = 9;
inline constexpr std::size_t count_pages = char_count_slots >> count_page_shift;

inline constexpr std::size_t count_point_limit = 0x110000;
// Only code points below 0x110000 are ever counted. In debug, sanitizer and
// test builds every code point is checked before it indexes a counter, so
// that a kernel that lets an ill-formed sequence through stops with a
// message naming it, not with a crash elsewhere.
#if !defined(NDEBUG) || defined(RUNEKIT_TALLY_CHECK_INDEXES)
[[noreturn, gnu::cold]] void stage_index_fault(std::uint32_t c) noexcept;

inline void stage_check(std::uint32_t c) noexcept
{
    if (c >= count_point_limit) [[unlikely]]
        stage_index_fault(c);
}
#else
inline void stage_check(std::uint32_t) noexcept {}
#endif

// The counters, and a flag per page that is set before any counter of the
// page is incremented, so that the output scan and count_clear can pass over
// the pages that were never written without touching them.
struct char_tally {
    std::int64_t char_counts[char_count_slots];
    std::uint8_t touched[count_pages];
};

// Adds n to the counter of code point c, marking its page.
inline void count_char(char_tally &tally, std::uint32_t c, std::int64_t n) noexcept
{
    stage_check(c);
    tally.touched[c >> count_page_shift] = 1;
    tally.char_counts[c] += n;
}

// Adds every counter of `from` to `to` and clears `from`; both in time
// proportional to the pages `from` touched.
void count_add(char_tally &to, char_tally &from) noexcept;
void count_clear(char_tally &tally) noexcept;

// The staged counts, in counters small enough to stay in the caches: pairs
// of ASCII bytes (long runs of ASCII) go to 32-bit counters indexed by the
// two bytes as a little-endian 16-bit number (half the increments of
// counting bytes one by one); every other character goes to an 8-bit
// counter of its code point (1.1 MB, where the 64-bit counters of code
// points are 8.5 MiB), grouped in pages of
// 512 with a flag each, so that a flush costs what the input touched. An
// 8-bit counter that wraps adds 256 to the table at once. Whoever counts
// owns a stage and binds it to the table it flushes into (count_fd does);
// it is empty between inputs.
inline constexpr std::size_t stage_point_slots = count_point_limit;
inline constexpr std::size_t stage_point_pages = (stage_point_slots >> count_page_shift) + 1;

struct count_stage {
    char_tally *table = nullptr;       // where wrapped counters and the flush go
    std::uint64_t pairs_staged = 0;    // pairs added since pair_counts was merged
    std::uint64_t pair_zeros = 0;      // zeros that completed a pair
    std::uint32_t flag_each_lists = 0; // lists still to stage with stage_point
    alignas(64) std::uint32_t pair_counts[1 << 15];
    alignas(64) std::uint8_t point_counts[stage_point_slots];
    std::uint8_t point_pages[stage_point_pages];
};

void stage_merge_pairs(count_stage &stage) noexcept;
[[gnu::noinline]] void stage_spill(count_stage &stage, std::uint32_t c) noexcept;

// Bytes of data from which counting by pairs pays for the merge of the pair
// counters, which reads all 64 KiB of them (test builds use a few bytes).
extern const std::size_t pair_min_bytes;

// Whether the ASCII bytes of `bytes` of data are to be counted by pairs, and
// if so makes room for them (no pair counter can wrap while fewer than 2^32
// pairs are staged; `bytes` of data make at most that many pairs, a pair of
// one byte and a zero included). Call before staging them.
inline bool stage_pairs_room(count_stage &stage, std::size_t bytes) noexcept
{
    if (bytes < pair_min_bytes)
        return false;
    if (stage.pairs_staged + bytes > 0xFFFFFFFFu)
        stage_merge_pairs(stage);
    stage.pairs_staged += bytes;
    return true;
}

// Counts the n ASCII bytes at `bytes` by pairs (eight bytes at a time, as
// four pairs of a word), an odd last one paired with a zero that the merge
// takes back; or one ASCII byte n times (with n zeros). Room must have been
// made for them (stage_pairs_room).
inline void stage_pairs(count_stage &stage, const unsigned char *bytes, std::size_t n) noexcept
{
    std::size_t at = 0;
    for (; at + 8 <= n; at += 8) {
        std::uint64_t word;
        std::memcpy(&word, bytes + at, 8);
        for (int shift = 0; shift < 64; shift += 16)
            ++stage.pair_counts[(word >> shift) & 0x7FFF];
    }
    for (; at + 2 <= n; at += 2)
        ++stage.pair_counts[bytes[at] | bytes[at + 1] << 8];
    if (at < n) {
        ++stage.pair_counts[bytes[at]];
        ++stage.pair_zeros;
    }
}

inline void stage_pairs(count_stage &stage, unsigned char byte, std::uint32_t n) noexcept
{
    stage.pair_counts[byte] += n;
    stage.pair_zeros += n;
}

// Counts a code point below 0x110000: the one place where a decoded
// character that is not in an ASCII pair becomes a count.
inline void stage_point(count_stage &stage, std::uint32_t c) noexcept
{
    stage_check(c);
    stage.point_pages[c >> count_page_shift] = 1;
    if (++stage.point_counts[c] == 0) [[unlikely]]
        stage_spill(stage, c);
}

// The same for a list of code points (32-bit, or 16-bit for those below
// 0x10000), with a page flagged while any of its counters is not zero.
// (The counters are not fetched ahead of the increments: the 8-bit counters
// mostly stay in the caches.)
template <class Point>
void stage_points(count_stage &stage, const Point *points, std::size_t n) noexcept;

// Moves everything staged into the stage's table and clears the stage.
void count_flush(count_stage &stage) noexcept;
