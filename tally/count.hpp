// runetally's counters: the 64-bit table the output is written from, and the
// small counters that every decoded character goes to first, so that the
// counting stays in the processor's caches. Both the scalar scan and the
// vector kernel count through stage_ascii and stage_point, and count_flush
// moves what is staged into the table.
#pragma once

#include <cstddef>
#include <cstdint>

// One counter per 21-bit code point, grouped in pages of 512 counters (4 KiB).
inline constexpr std::size_t char_count_slots = 0x200000;
inline constexpr std::size_t count_page_shift = 9;
inline constexpr std::size_t count_pages = char_count_slots >> count_page_shift;

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
    tally.touched[c >> count_page_shift] = 1;
    tally.char_counts[c] += n;
}

// Adds every counter of `from` to `to` and clears `from`; both in time
// proportional to the pages `from` touched.
void count_add(char_tally &to, char_tally &from) noexcept;
void count_clear(char_tally &tally) noexcept;

// The staged counts. ASCII bytes go to one of four lanes of 32-bit counters
// (2 KiB), so that runs of one letter do not wait on each other's stores;
// other code points go to 8-bit counters (1.1 MB, where the 64-bit table is
// 8.5 MiB), grouped in pages of 512 with a flag each, so that a flush costs
// what the input touched. A counter that wraps adds 256 to the table at once.
namespace count_stage {
inline constexpr std::size_t points = 0x110000;
inline constexpr std::size_t pages = (points >> count_page_shift) + 1;
extern std::uint32_t ascii[4][128];
extern std::uint64_t ascii_staged;  // bytes added to `ascii` since its merge
extern std::uint8_t point_counts[points];
extern std::uint8_t point_pages[pages];

[[gnu::noinline]] void spill(char_tally &tally, std::uint32_t c) noexcept;
void merge_ascii(char_tally &tally) noexcept;
}  // namespace count_stage

// Makes room for `bytes` more ASCII bytes in the lanes (no counter can wrap
// while fewer than 2^32 bytes are staged). Call before staging them.
inline void stage_ascii_room(char_tally &tally, std::size_t bytes) noexcept
{
    if (count_stage::ascii_staged + bytes > 0xFFFFFFFFu)
        count_stage::merge_ascii(tally);
    count_stage::ascii_staged += bytes;
}

// Counts one ASCII byte in lane `lane` (0 to 3).
inline void stage_ascii(unsigned lane, unsigned char b) noexcept
{
    ++count_stage::ascii[lane][b];
}

// Counts one code point below 0x110000.
inline void stage_point(char_tally &tally, std::uint32_t c) noexcept
{
    count_stage::point_pages[c >> count_page_shift] = 1;
    if (++count_stage::point_counts[c] == 0) [[unlikely]]
        count_stage::spill(tally, c);
}

// Moves everything staged into the table and clears the stage.
void count_flush(char_tally &tally) noexcept;
