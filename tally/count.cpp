// runetally's counters: moving staged counts into the 64-bit table, and
// adding and clearing tables page by touched page.
#include "count.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef RUNEKIT_TALLY_PAIR_MIN
#define RUNEKIT_TALLY_PAIR_MIN 65536
#endif

const std::size_t pair_min_bytes = RUNEKIT_TALLY_PAIR_MIN;

namespace {
// The first set flag of flags[from..size), or size.
std::size_t next_flag(const std::uint8_t *flags, std::size_t size, std::size_t from) noexcept
{
    const void *found = from < size ? std::memchr(flags + from, 1, size - from) : nullptr;
    return found != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(found) - flags) : size;
}
}  // namespace

void stage_merge_pairs(count_stage &stage) noexcept
{
    for (std::uint32_t second = 0; second < 0x80; ++second)
        for (std::uint32_t first = 0; first < 0x80; ++first) {
            std::uint32_t &n = stage.pair_counts[first | second << 8];  // at most pairs_staged
            if (n == 0)
                continue;
            count_char(*stage.table, first, n);  // both bytes of the pair
            count_char(*stage.table, second, n);
            n = 0;
        }
    stage.table->char_counts[0] -= static_cast<std::int64_t>(stage.pair_zeros);
    stage.pairs_staged = 0;
    stage.pair_zeros = 0;
}

void stage_spill(count_stage &stage, std::uint32_t c) noexcept
{
    count_char(*stage.table, c, 256);
}

#if !defined(NDEBUG) || defined(RUNEKIT_TALLY_CHECK_INDEXES)
void stage_index_fault(std::uint32_t c) noexcept
{
    std::fprintf(stderr, "runetally: internal error: code point 0x%X counted, beyond 0x10FFFF\n", c);
    std::abort();
}
#endif

namespace {
// Moves the 8-bit counters of one page into the table, eight at a time: most
// are zero where the text is sparse, and eight 64-bit counters share one
// cache line.
void merge_page(count_stage &stage, std::size_t page) noexcept
{
    const std::size_t first = page << count_page_shift;
    const std::size_t last = first + (std::size_t{1} << count_page_shift) < stage_point_slots
                                 ? first + (std::size_t{1} << count_page_shift)
                                 : stage_point_slots;
    std::uint8_t *const counts = stage.point_counts;
    for (std::size_t c = first; c < last; c += 8) {
        std::uint64_t eight;
        std::memcpy(&eight, counts + c, 8);
        if (eight == 0)
            continue;
        for (std::size_t k = c; k < c + 8; ++k)
            if (counts[k] != 0)
                count_char(*stage.table, static_cast<std::uint32_t>(k), counts[k]);
        std::memset(counts + c, 0, 8);
    }
}

// For stage_points: the count of c, just incremented to n, is 0 (it wrapped)
// or 1 (its page is flagged now); returns 1 for the latter.
[[gnu::noinline]] std::size_t stage_edge(count_stage &stage, std::uint32_t c, std::uint8_t n) noexcept
{
    if (n == 0) {
        stage_spill(stage, c);
        return 0;
    }
    stage.point_pages[c >> count_page_shift] = 1;
    return 1;
}

}  // namespace

template <class Point>
void stage_points(count_stage &stage, const Point *points, std::size_t n) noexcept
{
    if (stage.flag_each_lists > 0) {
        --stage.flag_each_lists;
        for (std::size_t i = 0; i < n; ++i)
            stage_point(stage, points[i]);
        return;
    }
    // As stage_point, but a page is flagged only when one of its counters
    // becomes 1: one store less per character, but where most characters
    // are new (wide text, a million distinct ones) that branch is taken at
    // random: after a list where it was taken for more than one character in
    // 32, the next 15 lists go to stage_point.
    std::size_t firsts = 0;
#pragma GCC unroll 8  // fewer loop instructions a character (cjk: 0.98 of the time of 4)
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t c = points[i];
        stage_check(c);
        const std::uint8_t count = ++stage.point_counts[c];
        if (count <= 1) [[unlikely]]
            firsts += stage_edge(stage, c, count);
    }
    if (firsts > n / 32)
        stage.flag_each_lists = 15;
}
template void stage_points(count_stage &, const std::uint32_t *, std::size_t) noexcept;
template void stage_points(count_stage &, const std::uint16_t *, std::size_t) noexcept;

void count_flush(count_stage &stage) noexcept
{
    if (stage.pairs_staged != 0)
        stage_merge_pairs(stage);
    for (std::size_t page = next_flag(stage.point_pages, stage_point_pages, 0); page < stage_point_pages;
         page = next_flag(stage.point_pages, stage_point_pages, page + 1)) {
        merge_page(stage, page);
        stage.point_pages[page] = 0;
    }
}

void count_add(char_tally &to, char_tally &from) noexcept
{
    for (std::size_t page = next_flag(from.touched, count_pages, 0); page < count_pages;
         page = next_flag(from.touched, count_pages, page + 1)) {
        const std::size_t first = page << count_page_shift;
        for (std::size_t c = first; c < first + (std::size_t{1} << count_page_shift); ++c)
            to.char_counts[c] += from.char_counts[c];
        to.touched[page] = 1;
    }
    count_clear(from);
}

void count_clear(char_tally &tally) noexcept
{
    for (std::size_t page = next_flag(tally.touched, count_pages, 0); page < count_pages;
         page = next_flag(tally.touched, count_pages, page + 1)) {
        std::memset(&tally.char_counts[page << count_page_shift], 0, sizeof(std::int64_t) << count_page_shift);
        tally.touched[page] = 0;
    }
}
