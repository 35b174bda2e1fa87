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

// One byte of a line before its glyph, from where s stands; false if it
// makes the line not a table line.
bool parse_byte(table_scan &s, unsigned char b, char_tally &tally) noexcept
{
    const auto digit = static_cast<unsigned>(b - '0');
    const auto expect = [&](unsigned char want, field next) {
        s.at = b == want ? next : s.at;
        return b == want;
    };
    switch (s.at) {
    case field::start:
        return expect('\t', field::percentage);
    case field::zero:
        return expect('0', field::x);
    case field::x:
        return expect('x', field::hex);
    case field::percentage:
        return b != '\t' && b != '\n' && (s.at = field::percentage_more, true);
    case field::percentage_more:
        s.at = b == '\t' ? field::spaces : s.at;
        return b != '\n';
    case field::spaces:
        if (b == ' ')
            return true;
        if (digit >= 10)
            return false;
        s.count = digit;
        s.big = false;
        s.at = field::digits;
        return true;
    case field::digits:
        if (b == '\t')
            s.at = field::zero;
        else if (digit >= 10)
            return false;
        else if (s.big || s.count > (count_max - digit) / 10)
            s.big = true;
        else
            s.count = s.count * 10 + digit;
        return true;
    case field::hex:
        return hex_value(b) < 16 && (s.code = hex_value(b), s.at = field::hex_more, true);
    case field::hex_more:
        if (b == '\n')
            end_line(s, tally);
        else if (b == '\t')
            s.at = field::glyph;
        else if (hex_value(b) >= 16 || (s.code = s.code * 16 + hex_value(b)) > code_max)
            return false;
        return true;
    case field::glyph:
        break;
    }
    return true;
}

// Parses p[0..n) on from where s stands; false at a byte that makes the
// line not a table line.
bool parse(table_scan &s, const unsigned char *p, std::size_t n, char_tally &tally) noexcept
{
    const unsigned char *const end = p + n;
    for (; p < end; ++p) {
        if (s.at != field::glyph) {
            if (!parse_byte(s, *p, tally))
                return false;
            continue;
        }
        p = static_cast<const unsigned char *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (p == nullptr)
            return true;
        end_line(s, tally);
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
