// The offset conversion.
#include "input.hpp"

#include <cctype>
#include <cerrno>
#include <cstdlib>

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
