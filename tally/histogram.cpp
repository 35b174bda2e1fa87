#include "histogram.hpp"

#include <cstdio>

count_result count_bytewise(int fd, char_tally &tally) noexcept
{
    count_result r;
    for (;;) {
        int length = 0;
        const unsigned char *sequence = nullptr;
        const std::uint32_t c = read_utf8_char(fd, &length, &sequence);
        if (c >= UTF8_FIRST_STATUS) {
            r.status = c;
            r.sequence = sequence;
            return r;
        }
        r.position.bytes += length;
        if (c == 0x0A)
            ++r.position.lines;
        count_char(tally, c);
        ++r.position.characters;
    }
}

bool is_displayable(std::uint32_t k) noexcept
{
    if (k <= 0x20)
        return false;  // C0 controls and the space
    if (k >= 0x7F && k <= 0xA0)
        return false;  // DEL, C1 controls, no-break space
    if (k >= 0x2000 && k <= 0x200F)
        return false;  // typographic spaces, zero-width characters, direction marks
    return k != 0x3000 && k != 0xFEFF;  // ideographic space, byte order mark
}

void put_utf8(std::uint32_t k) noexcept
{
    if (k < 0x80) {
        std::putchar(static_cast<int>(k));
    } else if (k < 0x800) {
        std::putchar(static_cast<int>(0xC0 | (k >> 6)));
        std::putchar(static_cast<int>(0x80 | (k & 0x3F)));
    } else if (k < 0x10000) {
        std::putchar(static_cast<int>(0xE0 | (k >> 12)));
        std::putchar(static_cast<int>(0x80 | ((k >> 6) & 0x3F)));
        std::putchar(static_cast<int>(0x80 | (k & 0x3F)));
    } else if (k <= 0x1FFFFF) {
        std::putchar(static_cast<int>(0xF0 | (k >> 18)));
        std::putchar(static_cast<int>(0x80 | ((k >> 12) & 0x3F)));
        std::putchar(static_cast<int>(0x80 | ((k >> 6) & 0x3F)));
        std::putchar(static_cast<int>(0x80 | (k & 0x3F)));
    }
}

void write_table(const char_tally &tally, std::int64_t characters, table_columns columns) noexcept
{
    const double total = static_cast<double>(characters);
    for (std::size_t page = 0; page < count_pages; ++page) {
        if (!tally.touched[page])
            continue;  // every counter of the page is still zero
        const std::size_t first = page << count_page_shift;
        for (std::size_t k = first; k < first + (std::size_t{1} << count_page_shift); ++k) {
            const std::int64_t n = tally.char_counts[k];
            if (n == 0)
                continue;
            if (columns.counts)
                std::printf("\t%7.3f\t%8ld", static_cast<double>(n) / total * 100.0, static_cast<long>(n));
            if (columns.code)
                std::printf("\t0x%06lX", static_cast<unsigned long>(k));
            if (columns.glyph && is_displayable(static_cast<std::uint32_t>(k))) {
                std::putchar('\t');
                put_utf8(static_cast<std::uint32_t>(k));
            }
            std::putchar('\n');
        }
    }
}
