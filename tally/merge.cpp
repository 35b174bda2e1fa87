// runetally -m: the lines of tables parsed in place, block by block.
#include "merge.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "io.hpp"
#include "names.hpp"
#include "tool.hpp"

namespace {
constexpr int status_failure = 1;
constexpr std::int64_t count_max = INT64_MAX;  // the largest count a table line holds
constexpr std::uint32_t code_max = 0x10FFFF;
constexpr std::size_t block_size = std::size_t{1} << 18;

// The block, and after its bytes a newline that stops every scan of a field.
unsigned char block[block_size + 1];

// The value of a hexadecimal digit; 16 for any other byte.
constexpr unsigned hex_value(unsigned char b) noexcept
{
    const unsigned lower = b | 0x20u;  // 'A'-'F' to 'a'-'f'
    return static_cast<unsigned>(b - '0') < 10 ? b - '0' : lower - 'a' < 6 ? lower - 'a' + 10 : 16;
}
static_assert(hex_value('0') == 0 && hex_value('9') == 9 && hex_value('A') == 10 && hex_value('f') == 15);
static_assert(hex_value('/') == 16 && hex_value(':') == 16 && hex_value('G') == 16 && hex_value('g') == 16 &&
              hex_value('@') == 16 && hex_value('`') == 16 && hex_value('\n') == 16);

enum class parsed {
    line,       // a table line, and `at` past its newline
    partial,    // the bytes end inside the line
    not_line,
    too_large,  // its count
};

// One line at `at`, whose bytes end at `end` (where the sentinel newline
// stands): its code point and count. A line cut by the end of the bytes
// gives `partial`, for the caller to try again with more of them.
parsed parse_line(const unsigned char *&at, const unsigned char *end, std::uint32_t &code, std::int64_t &count) noexcept
{
    const unsigned char *p = at;
    const auto cut_or = [&](parsed otherwise) { return p == end ? parsed::partial : otherwise; };
    if (*p != '\t')
        return cut_or(parsed::not_line);
    const unsigned char *const percentage = ++p;
    while (*p != '\t' && *p != '\n')
        ++p;
    if (*p != '\t' || p == percentage)
        return cut_or(parsed::not_line);
    while (*++p == ' ') {
    }
    const unsigned char *const digits = p;
    std::int64_t n = 0;
    for (unsigned d; (d = static_cast<unsigned>(*p - '0')) < 10; ++p) {
        if (n > (count_max - d) / 10)
            return parsed::too_large;
        n = n * 10 + d;
    }
    if (*p != '\t' || p == digits || *++p != '0' || *++p != 'x')
        return cut_or(parsed::not_line);
    const unsigned char *const hex = ++p;
    std::uint32_t c = 0;
    for (unsigned d; (d = hex_value(*p)) < 16; ++p)
        if ((c = c * 16 + d) > code_max)
            return parsed::not_line;
    if (p == hex || (*p != '\n' && *p != '\t'))
        return cut_or(parsed::not_line);
    code = c;
    count = n;
    if (*p == '\t')
        p = static_cast<const unsigned char *>(std::memchr(p + 1, '\n', static_cast<std::size_t>(end - p)));
    if (p == end)
        return parsed::partial;
    at = p + 1;
    return parsed::line;
}

// Where the reading of one table stands: block[begin, end) is still to be
// parsed.
struct table_scan {
    std::size_t begin = 0;
    std::size_t end = 0;
    unsigned long line = 0;  // lines counted so far
    std::int64_t total = 0;  // the counts added up so far
};

// Counts the whole lines of block[begin, end) into tally; what stopped it,
// `partial` when more bytes are needed.
parsed count_lines(table_scan &s, char_tally &tally) noexcept
{
    block[s.end] = '\n';
    for (;;) {
        const unsigned char *p = block + s.begin;
        std::uint32_t code = 0;
        std::int64_t count = 0;
        const parsed r = parse_line(p, block + s.end, code, count);
        if (r == parsed::partial && s.begin == 0 && s.end == block_size)
            return parsed::not_line;  // longer than the block
        if (r != parsed::line)
            return r;
        ++s.line;
        if (count > count_max - s.total)
            return parsed::too_large;
        s.total += count;
        count_char(tally, code, count);
        s.begin = static_cast<std::size_t>(p - block);
    }
}

// A line of the table `name` that is not a table line: reported, or with
// -l its name listed.
bool not_a_table(const char *name, bool list, unsigned long line) noexcept
{
    if (list)
        std::printf("%s\n", name);
    else
        write_message("%s: %s:%lu: not a line of a table\n", tally_tool_name, name, line);
    return false;
}
}  // namespace

bool merge_input(int fd, const char *name, bool list, char_tally &tally, std::int64_t &characters) noexcept
{
    table_scan s;
    s.total = characters;
    for (;;) {
        const parsed r = count_lines(s, tally);
        if (r == parsed::too_large) {
            write_message("%s: counts too large to add\n", tally_tool_name);
            finish_stdout(tally_tool_name, status_failure, status_failure);
        }
        if (r == parsed::not_line)
            return not_a_table(name, list, s.line + 1);
        std::memmove(block, block + s.begin, s.end - s.begin);
        s.end -= s.begin;
        s.begin = 0;
        const ssize_t n = read_once(fd, block + s.end, block_size - s.end);
        if (n < 0) {
            report_unreadable(name, errno);
            return false;
        }
        if (n == 0 && s.end != 0)  // a last line without its newline
            return not_a_table(name, list, s.line + 1);
        if (n == 0) {
            characters = s.total;
            return true;
        }
        s.end += static_cast<std::size_t>(n);
    }
}
