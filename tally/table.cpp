// runetally's table: the fields of a line formatted into memory, and the
// lines written to standard output in large pieces.
#include "table.hpp"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unistd.h>

#include "io.hpp"
#if defined(__i386__) && !defined(__SSE2_MATH__)
#include <fpu_control.h>
#endif

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

std::size_t format_code(char *out, std::uint32_t k) noexcept
{
    constexpr char hex[] = "0123456789ABCDEF";
    out[0] = '0';
    out[1] = 'x';
    for (int i = 0; i < 6; ++i)
        out[2 + i] = hex[(k >> (4 * (5 - i))) & 0xF];
    return 8;
}

std::size_t encode_utf8(char *out, std::uint32_t k) noexcept
{
    auto byte = [](std::uint32_t v) { return static_cast<char>(static_cast<unsigned char>(v)); };
    if (k < 0x80) {
        out[0] = byte(k);
        return 1;
    }
    // Continuation bytes from the last to the first, then the lead.
    const std::size_t length = k < 0x800 ? 2 : k < 0x10000 ? 3 : k <= 0x1FFFFF ? 4 : 0;
    for (std::size_t i = length; i-- > 1; k >>= 6)
        out[i] = byte(0x80 | (k & 0x3F));
    if (length != 0)
        out[0] = byte((0xF00u >> length) | k);
    return length;
}

std::size_t format_counts(char *out, std::size_t room, counts_cache &cache, std::int64_t n, double total) noexcept
{
    counts_cache::slot &slot = cache.slots[static_cast<std::uint64_t>(n) % std::size(cache.slots)];
    if (slot.count == n) {
        std::memcpy(out, slot.text, slot.length);
        return slot.length;
    }
    const int written = std::snprintf(out, room, "\t%7.3f\t%8lld", static_cast<double>(n) / total * 100.0,
                                      static_cast<long long>(n));
    const std::size_t length = written > 0 ? static_cast<std::size_t>(written) : 0;
    if (length <= sizeof slot.text) {  // not with a decimal point of many bytes
        slot.count = n;
        slot.length = static_cast<std::uint32_t>(length);
        std::memcpy(slot.text, out, length);
    }
    return length;
}

namespace {
#if defined(__i386__) && !defined(__SSE2_MATH__)
// The x87 unit of 32-bit x86 keeps 64 significant bits in its registers
// unless told otherwise: count / total would then be rounded twice (to 64
// bits, and to 53 when stored) or not at all before it is multiplied by 100,
// and a share close to a half-thousandth comes out one digit off (23 in 320
// is 7.18749999999999911 in double precision, 7.1875 in the x87's). A
// volatile double between the two operations is not enough: it still rounds
// each result twice. With its precision control at 53 bits, the unit rounds
// every division and multiplication once, to the nearest double, as other
// processors (and 32-bit builds with SSE2 arithmetic) do.
fpu_control_t round_to_double() noexcept
{
    fpu_control_t saved;
    _FPU_GETCW(saved);
    fpu_control_t doubled = (saved & ~_FPU_EXTENDED) | _FPU_DOUBLE;
    _FPU_SETCW(doubled);
    return saved;
}

void restore_rounding(fpu_control_t saved) noexcept
{
    _FPU_SETCW(saved);
}
#else
using fpu_control_t = int;  // double arithmetic is done in double precision

fpu_control_t round_to_double() noexcept
{
    return 0;
}

void restore_rounding(fpu_control_t) noexcept {}
#endif

// The line of character `code`, counted n times, with the chosen columns.
std::size_t format_line(char *line, std::size_t room, std::uint32_t code, std::int64_t n, table_columns columns,
                        counts_cache &cache, double total) noexcept
{
    std::size_t length = 0;
    if (columns.counts)
        length += format_counts(line, room, cache, n, total);
    if (columns.code) {
        line[length++] = '\t';
        length += format_code(line + length, code);
    }
    if (columns.glyph && is_displayable(code)) {
        line[length++] = '\t';
        length += encode_utf8(line + length, code);
    }
    line[length++] = '\n';
    return length;
}

}  // namespace

int write_table(const char_tally &tally, std::int64_t characters, table_columns columns) noexcept
{
    // Each share is count / total * 100.0, both operations in double precision.
    const fpu_control_t saved_rounding = round_to_double();
    const double total = static_cast<double>(characters);
    const std::size_t point = std::strlen(std::localeconv()->decimal_point);
    // Lines are gathered and written 64 KiB at a time, with write(2) rather
    // than the stream: one call per line was a large share of a run with a
    // million distinct characters, and the stream would keep only that a
    // write failed, not why.
    static char lines[std::size_t{1} << 16];
    const std::size_t longest_line = 48 + point;
    counts_cache cache;
    std::size_t used = 0;
    int error = std::fflush(stdout) == 0 ? 0 : errno;
    for (std::size_t page = 0; page < count_pages && error == 0; ++page) {
        if (!tally.touched[page])
            continue;  // every counter of the page is still zero
        const std::size_t first = page << count_page_shift;
        for (std::size_t k = first; k < first + (std::size_t{1} << count_page_shift) && error == 0; ++k) {
            const std::int64_t n = tally.char_counts[k];
            if (n == 0)
                continue;
            if (used + longest_line > sizeof lines) {
                error = write_full(STDOUT_FILENO, lines, used);
                used = 0;
            }
            used += format_line(lines + used, longest_line, static_cast<std::uint32_t>(k), n, columns, cache, total);
        }
    }
    if (error == 0)
        error = write_full(STDOUT_FILENO, lines, used);
    restore_rounding(saved_rounding);
    return error;
}
