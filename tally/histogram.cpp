#include "histogram.hpp"

#include <clocale>
#include <cstdio>
#include <string_view>

#include "format.hpp"

bool count_next_char(int fd, char_tally &tally, count_result &r) noexcept
{
    int length = 0;
    const unsigned char *sequence = nullptr;
    const std::uint32_t c = read_utf8_char(fd, &length, &sequence);
    if (c >= UTF8_FIRST_STATUS) {
        r.status = c;
        r.sequence = sequence;
        return false;
    }
    r.position.bytes += length;
    if (c == 0x0A)
        ++r.position.lines;
    count_char(tally, c);
    ++r.position.characters;
    return true;
}

count_result count_bytewise(int fd, char_tally &tally) noexcept
{
    count_result r;
    while (count_next_char(fd, tally, r)) {
    }
    return r;
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
    char bytes[4];
    std::fwrite(bytes, 1, encode_utf8(bytes, k), stdout);
}

namespace {
#if defined(__i386__) && !defined(__SSE2_MATH__)
// The x87 unit of 32-bit x86 keeps 64 significant bits in its registers
// unless told otherwise: count / total would then be rounded twice (to 64
// bits, and to 53 when stored) or not at all before it is multiplied by 100,
// and a share close to a half-thousandth comes out one digit off (23 in 320
// is 7.18749999999999911 in double precision, 7.1875 in the x87's). A
// volatile double between the two operations is not enough: it removes the
// excess precision in between but still rounds each result twice. With its
// precision control at 53 bits, the unit rounds every division and
// multiplication once, to the nearest double, as other processors do (and
// as 32-bit builds with SSE2 arithmetic, -mfpmath=sse, do without this).
using fpu_control = unsigned short;

fpu_control round_to_double() noexcept
{
    fpu_control saved;
    __asm__ volatile("fnstcw %0" : "=m"(saved));
    const fpu_control doubled = static_cast<fpu_control>((saved & ~0x0300u) | 0x0200u);  // PC = 53 bits
    __asm__ volatile("fldcw %0" : : "m"(doubled) : "memory");
    return saved;
}

void restore_rounding(fpu_control saved) noexcept
{
    __asm__ volatile("fldcw %0" : : "m"(saved) : "memory");
}
#else
using fpu_control = int;

fpu_control round_to_double() noexcept
{
    return 0;  // double arithmetic is already done in double precision
}

void restore_rounding(fpu_control) noexcept {}
#endif
}  // namespace

void write_table(const char_tally &tally, std::int64_t characters, table_columns columns) noexcept
{
    // Each share is count / total * 100.0, both operations in double precision.
    const fpu_control saved_rounding = round_to_double();
    const double total = static_cast<double>(characters);
    const std::string_view point = std::localeconv()->decimal_point;
    char line[128];
    for (std::size_t page = 0; page < count_pages; ++page) {
        if (!tally.touched[page])
            continue;  // every counter of the page is still zero
        const std::size_t first = page << count_page_shift;
        for (std::size_t k = first; k < first + (std::size_t{1} << count_page_shift); ++k) {
            const std::int64_t n = tally.char_counts[k];
            if (n == 0)
                continue;
            std::size_t length = 0;
            if (columns.counts) {
                line[length++] = '\t';
                length += format_fixed3(line + length, static_cast<double>(n) / total * 100.0, point, 7);
                line[length++] = '\t';
                length += format_decimal(line + length, static_cast<std::uint64_t>(n), 8);
            }
            if (columns.code) {
                line[length++] = '\t';
                length += format_code(line + length, static_cast<std::uint32_t>(k));
            }
            if (columns.glyph && is_displayable(static_cast<std::uint32_t>(k))) {
                line[length++] = '\t';
                length += encode_utf8(line + length, static_cast<std::uint32_t>(k));
            }
            line[length++] = '\n';
            std::fwrite(line, 1, length, stdout);
        }
    }
    restore_rounding(saved_rounding);
}
