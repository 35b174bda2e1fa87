// The offset conversion, and moving on to the offset on standard input.
#include "input.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <unistd.h>

#include "io.hpp"

std::optional<long long> parse_offset(const char *text) noexcept
{
    // strtoll would take the "0x" prefix only in base 16 (and base 0 reads a
    // leading zero as octal), so the base is chosen here and strtoll left to
    // skip the blanks, read the sign and the digits and tell an overflow.
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    const int base = p[0] == '0' && (p[1] == 'x' || p[1] == 'X') ? 16 : 10;

    const int saved = errno;
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, base);
    const bool fits = errno == 0;
    errno = saved;
    // No digits leaves `end` at the start; "0x" without hexadecimal digits
    // is read as "0" followed by the rest.
    if (end == text || *end != '\0' || !fits)
        return std::nullopt;
    return value;
}

skip_result skip_input(int fd, long long offset) noexcept
{
    // Any failed lseek falls back to reading: ESPIPE for a pipe, socket or
    // terminal, EINVAL where the sum would pass the largest file offset,
    // which reading then finds to lie past the end.
    if (offset == 0 || ::lseek(fd, static_cast<off_t>(offset), SEEK_CUR) >= 0)
        return skip_result::done;
    static std::array<unsigned char, 1 << 16> dropped;
    while (offset > 0) {
        const auto want = static_cast<std::size_t>(std::min<long long>(offset, dropped.size()));
        const ssize_t n = read_once(fd, dropped.data(), want);
        if (n < 0)
            return skip_result::failed;
        if (n == 0)
            return skip_result::ended;
        offset -= n;
    }
    return skip_result::done;
}
