// runetally -e: the valid stretches of an input go through the block
// validator; only the neighbourhood of an ill-formed sequence is decoded a
// byte at a time. The line of each is counted from the last one found, over
// the stretch between them; a regular file is read again for that where the
// stretch left the block, so that valid text is read once and counted never.
#include "located.hpp"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <span>
#include <sys/stat.h>
#include <unistd.h>

#include "io.hpp"
#include "reader.hpp"
#include "scan.hpp"
#include "stretch.hpp"
#include "utf8.hpp"

namespace {
constexpr std::size_t block_size = std::size_t{1} << 18;
// The validator is given a window that starts small after an ill-formed
// sequence and doubles after each stretch found whole, so that text with
// many errors is not validated far past each one in vain.
constexpr std::size_t first_window = 64;
unsigned char block[block_size];
unsigned char again_block[std::size_t{1} << 16];  // for the stretches read again

// Why the bytes where a character should start are not one.
enum class verdict : unsigned char {
    character,     // a whole legal character
    partial,       // a legal beginning that the block holds only in part
    continuation,  // (a) 80..BF
    never_used,    // (b) C0, C1, F5..FF
    cut_by_end,    // (c) a legal beginning, then the end of the input
    cut_short,     // (d) a legal beginning, then a byte that is not 10xxxxxx
    overlong,      // (e) E0 80..9F, F0 80..8F
    too_large,     // (f) F4 90..BF
    surrogate,     // (g) ED A0..BF, strict only
};

struct judged {
    verdict why;
    int length;  // of the character, the prefix, or the ill-formed sequence
};

// The longest prefix of p[0..n) that can begin a legal sequence (Unicode's
// table of well-formed byte sequences; encoded surrogates too unless
// strict), and what it is. `end`: no bytes follow p[n - 1].
judged judge(const unsigned char *p, std::size_t n, bool end, bool strict) noexcept
{
    const unsigned char b0 = p[0];
    if (b0 < 0x80)
        return {verdict::character, 1};
    if (b0 < 0xC0)
        return {verdict::continuation, 1};
    if (b0 < 0xC2 || b0 > 0xF4)
        return {verdict::never_used, 1};
    const int e = utf8_extra_bytes[b0];
    for (int i = 1; i <= e; ++i) {
        if (static_cast<std::size_t>(i) == n)
            return {end ? verdict::cut_by_end : verdict::partial, i};
        const utf8_byte_range r = i == 1 ? utf8_second_byte_range(b0, strict) : utf8_byte_range{0x80, 0xBF};
        const unsigned char b = p[i];
        if (b >= r.low && b <= r.high)
            continue;
        if (!is_continuation(b))
            return {verdict::cut_short, i};
        return {b0 == 0xF4 ? verdict::too_large : b0 == 0xED ? verdict::surrogate : verdict::overlong, 1};
    }
    return {verdict::character, e + 1};
}

// One line of the report, formatted in memory.
struct report_line {
    char text[192];
    std::size_t used = 0;
};

void put(report_line &l, const char *s) noexcept
{
    const std::size_t n = std::strlen(s);
    std::memcpy(l.text + l.used, s, n);
    l.used += n;
}

void put_number(report_line &l, unsigned long long v) noexcept
{
    // At most 20 digits (a bound the compiler can see within the line).
    l.used = static_cast<std::size_t>(std::to_chars(l.text + l.used, l.text + l.used + 20, v).ptr - l.text);
}

// "0x%02X" of each byte of p[0..n), joined by single spaces.
void put_bytes(report_line &l, const unsigned char *p, int n) noexcept
{
    constexpr char hex[] = "0123456789ABCDEF";
    for (int i = 0; i < n; ++i) {
        if (i != 0)
            l.text[l.used++] = ' ';
        l.text[l.used++] = '0';
        l.text[l.used++] = 'x';
        l.text[l.used++] = hex[p[i] >> 4];
        l.text[l.used++] = hex[p[i] & 0xF];
    }
}

// The reason for each verdict of an ill-formed sequence: the text before its
// bytes, how many of them are shown (0: all of the sequence) and the text
// after them.
struct reason_text {
    const char *before;
    int shown;
    const char *after;
};
constexpr reason_text reasons[] = {
    {"", 0, ""},  // character
    {"", 0, ""},  // partial
    {"continuation byte ", 1, " without a lead byte"},
    {"byte ", 1, " is never used in UTF-8"},
    {"", 0, " is cut short by the end of the input"},
    {"", 0, " is cut short: a "},
    {"", 2, " would be an overlong form"},
    {"", 2, " would be above U+10FFFF"},
    {"", 2, " would be a surrogate"},
};
static_assert(std::size(reasons) == static_cast<std::size_t>(verdict::surrogate) + 1);

// The reason for the ill-formed sequence p[0..j.length), p[j.length] being
// the byte after it where the reason names one.
void put_reason(report_line &l, const unsigned char *p, judged j) noexcept
{
    const reason_text &r = reasons[static_cast<int>(j.why)];
    put(l, r.before);
    put_bytes(l, p, r.shown != 0 ? r.shown : j.length);
    put(l, r.after);
    if (j.why == verdict::cut_short) {
        put_number(l, static_cast<unsigned>(utf8_extra_bytes[p[0]]) + 1);
        put(l, "-byte character, then ");
        put_bytes(l, p + j.length, 1);
        put(l, ", not a continuation byte");
    }
}

// Where locating one input stands.
struct locating {
    int fd = -1;
    const char *name = nullptr;
    bool strict = false;
    bool again = false;        // a regular file, which can be read again from `start`
    off_t start = 0;
    std::int64_t base = 0;     // the offset of block[0]
    input_position known;      // lines and characters of the bytes before known.bytes
    std::int64_t line_start = 0;  // the offset where the line of known.bytes begins
    bool ill_formed = false;
    std::size_t window = block_size;  // bytes given to the validator at once
};

// Counts the valid stretch p[0..n), which begins at known.bytes.
void count_part(locating &at, const unsigned char *p, std::size_t n) noexcept
{
    const std::int64_t offset = at.known.bytes;
    count_stretch({p, n}, at.known);
    if (const void *last = memrchr(p, 0x0A, n))
        at.line_start = offset + (static_cast<const unsigned char *>(last) - p) + 1;
}

// Counts the lines up to offset `to`, within the block or before it; false
// if a stretch before it cannot be read again.
bool catch_up(locating &at, std::int64_t to) noexcept
{
    while (at.known.bytes < at.base) {
        const auto want = static_cast<std::size_t>(at.base - at.known.bytes);
        const ssize_t n = pread(at.fd, again_block, want < sizeof again_block ? want : sizeof again_block,
                                at.start + at.known.bytes);
        if (n <= 0)
            return false;
        count_part(at, again_block, static_cast<std::size_t>(n));
    }
    count_part(at, block + (at.known.bytes - at.base), static_cast<std::size_t>(to - at.known.bytes));
    return true;
}

// Writes the line of the ill-formed sequence at block[pos]; false as
// catch_up.
bool report(locating &at, std::size_t pos, judged j) noexcept
{
    const std::int64_t offset = at.base + static_cast<std::int64_t>(pos);
    if (!catch_up(at, offset))
        return false;
    report_line l;
    l.text[l.used++] = ':';
    put_number(l, static_cast<unsigned long long>(at.known.lines) + 1);
    l.text[l.used++] = ':';
    put_number(l, static_cast<unsigned long long>(offset - at.line_start) + 1);
    put(l, ": offset ");
    put_number(l, static_cast<unsigned long long>(offset));
    put(l, ": ");
    put_reason(l, block + pos, j);
    l.text[l.used++] = '\n';
    std::fputs(at.name, stdout);
    std::fwrite(l.text, 1, l.used, stdout);
    at.known.bytes += j.length;  // no newline, no character
    at.ill_formed = true;
    return true;
}

// Locates the ill-formed sequences of block[0..size); returns where it
// stopped: at size, or before a legal beginning held only in part (never
// when `end`), or -1 if a stretch could not be read again.
std::ptrdiff_t locate_block(locating &at, std::size_t size, bool end) noexcept
{
    std::size_t pos = 0;
    while (pos < size) {
        const std::size_t window = at.window < size - pos ? at.window : size - pos;
        pos += validate_block({block + pos, window}, at.strict);
        // Byte by byte until sixteen characters in a row are whole.
        int whole = 0;
        while (pos < size && whole < 16) {
            const judged j = judge(block + pos, size - pos, end, at.strict);
            if (j.why == verdict::partial)
                return static_cast<std::ptrdiff_t>(pos);
            if (j.why == verdict::character) {
                ++whole;
            } else {
                if (!report(at, pos, j))
                    return -1;
                whole = 0;
                at.window = first_window;
            }
            pos += static_cast<std::size_t>(j.length);
        }
        if (whole == 16 && at.window < block_size)
            at.window *= 2;
    }
    return static_cast<std::ptrdiff_t>(pos);
}

// The result of a read that failed at block[0..tail), a part of a sequence
// if tail is not 0.
located_result failed(locating &at, std::size_t tail) noexcept
{
    located_result r;
    r.end.status = tail != 0 ? UTF8_TRUNCATED : UTF8_READ_ERROR;
    r.end.error = errno;
    if (!catch_up(at, at.base))
        at.known = input_position{};  // no position to tell
    r.end.position = at.known;
    r.end.position.bytes = at.base;
    r.ill_formed = at.ill_formed;
    return r;
}
}  // namespace

located_result locate_errors(int fd, const char *name, bool strict) noexcept
{
    locating at;
    at.fd = fd;
    at.name = name;
    at.strict = strict;
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        at.again = (at.start = lseek(fd, 0, SEEK_CUR)) >= 0;
    const std::size_t read_size = tally_file_read_size < block_size ? tally_file_read_size : block_size;
    std::size_t tail = 0;
    for (;;) {
        const ssize_t n = read_once(fd, block + tail, read_size - tail);
        if (n < 0)
            return failed(at, tail);
        const std::size_t size = tail + static_cast<std::size_t>(n);
        const std::ptrdiff_t pos = locate_block(at, size, n == 0);
        if (pos < 0) {
            errno = EIO;
            return failed(at, 0);
        }
        if (n == 0)
            return {count_result{}, at.ill_formed};
        const auto done = static_cast<std::size_t>(pos);
        // What leaves the block is counted now where it cannot be read again.
        if (!at.again && !catch_up(at, at.base + pos))
            return failed(at, 0);
        tail = size - done;
        std::memmove(block, block + done, tail);
        at.base += pos;
    }
}
