// The library's base-16 conversion, with the checks a code point needs on top.
#include "codepoint.hpp"

#include <cctype>
#include <cerrno>
#include <cstdlib>

std::optional<std::uint32_t> parse_codepoint(const char *text) noexcept
{
    // strtoull reads a text without digits as 0 (and "0x" alone as 0 followed
    // by an x): a hexadecimal digit must follow the blanks, sign and prefix.
    // The tool never sets a locale, so the blanks are those of POSIX.
    const char *p = text;
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-')
        ++p;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2])))
        p += 2;
    if (!std::isxdigit(static_cast<unsigned char>(*p)))
        return std::nullopt;

    errno = 0;
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 16);
    if (*end != '\0' || errno == ERANGE)
        return std::nullopt;
    // A '-' negates modulo 2^64, which only "-0" survives as a code point;
    // nothing above the last code point has a pair.
    if ((negative && value != 0) || value > codepoint_last)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}
