// The offset conversion.
#include "input.hpp"

#include <cerrno>
#include <cstdlib>

long long parse_offset(const char *text) noexcept
{
    // strtoll has the same syntax as atol but saturates instead of
    // overflowing; the range error it signals needs no handling here.
    const int saved = errno;
    const long long value = std::strtoll(text, nullptr, 10);
    errno = saved;
    return value;
}
