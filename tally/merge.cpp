// runetally -m: the lines of tables parsed a byte at a time as they come, so
// that a line of any length takes no memory; the glyph is passed over.
#include "merge.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "io.hpp"
#include "names.hpp"
#include "tool.hpp"

namespace {
constexpr std::int64_t count_max = INT64_MAX;  // the largest count a table line holds
constexpr std::uint32_t code_max = 0x10FFFF;
constexpr std::size_t block_size = std::size_t{1} << 16;

unsigned char block[block_size];

// The value of a hexadecimal digit; 16 for any other byte.
constexpr unsigned hex_value(unsigned char b) noexcept
{
    const unsigned lower = b | 0x20u;  // 'A'-'F' to 'a'-'f'
    return static_cast<unsigned>(b - '0') < 10 ? b - '0' : lower - 'a' < 6 ? lower - 'a' + 10 : 16;
}
static_assert(hex_value('0') == 0 && hex_value('9') == 9 && hex_value('A') == 10 && hex_value('f') == 15);
static_assert(hex_value('/') == 16 && hex_value(':') == 16 && hex_value('G') == 16 && hex_value('g') == 16 &&
              hex_value('@') == 16 && hex_value('`') == 16 && hex_value('\n') == 16);

// Where a line stands: what its next byte must be.
enum class field {
    start,       // the tab before the percentage
    percentage,  // its first byte
    percentage_more,
    spaces,      // before the count
    digits,
    zero,        // of "0x"
    x,
    hex,         // its first digit
    hex_more,
    glyph,       // up to the newline
};

// The reading of one table.
struct table_scan {
    field at = field::start;
    bool big = false;            // the count of this line is past count_max
    bool too_large = false;      // a count or a sum was
    bool add = true;             // counts are added (not when listing)
    std::int64_t count = 0;
    std::uint32_t code = 0;
    unsigned long line = 0;      // whole lines so far
    std::int64_t total = 0;      // the sum so far, those of earlier inputs included
};

// A whole table line: its count added, unless a count or a sum is too large.
void end_line(table_scan &s, char_tally &tally) noexcept
{
    ++s.line;
    s.at = field::start;
    if (!s.add)
        return;
    if (s.big || s.count > count_max - s.total)
        s.too_large = true;
    if (s.too_large || s.count == 0)
        return;
    s.total += s.count;
    count_char(tally, s.code, s.count);
}

// Parses p[0..n) on from where s stands; false at a byte that makes the
// line not a table line.
bool parse(table_scan &s, const unsigned char *p, std::size_t n, char_tally &tally) noexcept
{
    const unsigned char *const end = p + n;
    for (; p < end; ++p) {
        const unsigned char b = *p;
        const auto digit = static_cast<unsigned>(b - '0');
        switch (s.at) {
        case field::start:
            if (b != '\t')
                return false;
            s.at = field::percentage;
            break;
        case field::percentage:
            if (b == '\t' || b == '\n')
                return false;
            s.at = field::percentage_more;
            break;
        case field::percentage_more:
            if (b == '\n')
                return false;
            if (b == '\t')
                s.at = field::spaces;
            break;
        case field::spaces:
            if (b == ' ')
                break;
            if (digit >= 10)
                return false;
            s.count = digit;
            s.big = false;
            s.at = field::digits;
            break;
        case field::digits:
            if (b == '\t') {
                s.at = field::zero;
            } else if (digit >= 10) {
                return false;
            } else if (s.big || s.count > (count_max - digit) / 10) {
                s.big = true;
            } else {
                s.count = s.count * 10 + digit;
            }
            break;
        case field::zero:
            if (b != '0')
                return false;
            s.at = field::x;
            break;
        case field::x:
            if (b != 'x')
                return false;
            s.at = field::hex;
            break;
        case field::hex:
            if (hex_value(b) >= 16)
                return false;
            s.code = hex_value(b);
            s.at = field::hex_more;
            break;
        case field::hex_more:
            if (b == '\n') {
                end_line(s, tally);
            } else if (b == '\t') {
                s.at = field::glyph;
            } else if (hex_value(b) >= 16 || (s.code = s.code * 16 + hex_value(b)) > code_max) {
                return false;
            }
            break;
        case field::glyph:
            p = static_cast<const unsigned char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (p == nullptr)
                return true;
            end_line(s, tally);
            break;
        }
    }
    return true;
}
}  // namespace

merge_outcome merge_input(int fd, const char *name, bool list, char_tally &tally, std::int64_t &characters) noexcept
{
    table_scan s;
    s.total = characters;
    s.add = !list;
    for (;;) {
        const ssize_t n = read_once(fd, block, block_size);
        if (n < 0) {
            report_unreadable(name, errno);
            return merge_outcome::unreadable;
        }
        if (n == 0 && s.at == field::start) {  // read whole: its counts count
            if (s.too_large)
                return merge_outcome::too_large;
            characters = s.total;
            return merge_outcome::added;
        }
        // The line at fault, the last one without its newline included.
        if (n == 0 || !parse(s, block, static_cast<std::size_t>(n), tally)) {
            if (!list)
                write_message("%s: %s:%lu: not a line of a table\n", tally_tool_name, name, s.line + 1);
            return merge_outcome::not_table;
        }
    }
}
