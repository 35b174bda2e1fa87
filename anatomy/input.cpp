// The offset conversion and the reading of the bytes of one sequence.
#include "input.hpp"

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

long parse_offset(const char *text) noexcept
{
    // strtol has the same syntax as atol but saturates instead of
    // overflowing; the range error it signals needs no handling here.
    const int saved = errno;
    const long value = std::strtol(text, nullptr, 10);
    errno = saved;
    return value;
}

long read_once(int fd, std::span<unsigned char> into) noexcept
{
    for (;;) {
        const ssize_t n = ::read(fd, into.data(), into.size());
        if (n >= 0 || errno != EINTR)
            return static_cast<long>(n);
    }
}

int gather_bytes(int fd, std::span<unsigned char> into) noexcept
{
    // A pipe or terminal may hand over a sequence in pieces, so a short
    // count is no reason to stop; only end of input or a failure is.
    std::size_t got = 0;
    while (got < into.size()) {
        const long n = read_once(fd, into.subspan(got));
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<int>(got);
}
