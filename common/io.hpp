// Reading and writing a descriptor: the loops every tool needs.
#pragma once

#include <cerrno>
#include <cstddef>
#include <unistd.h>

// One read(2), asked again when a signal interrupts it: the byte count, 0 at
// end of input, -1 on failure with errno set.
[[nodiscard]] inline ssize_t read_once(int fd, void *buf, std::size_t size) noexcept
{
    ssize_t n;
    do
        n = ::read(fd, buf, size);
    while (n < 0 && errno == EINTR);
    return n;
}

// Reads until `size` bytes are in, the input ends or a read fails, never
// asking for more than is still missing (a pipe may hand over its bytes in
// pieces): the bytes read, or -1 on failure (what arrived before is lost).
[[nodiscard]] inline ssize_t read_full(int fd, void *buf, std::size_t size) noexcept
{
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = read_once(fd, static_cast<unsigned char *>(buf) + got, size - got);
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Writes all `size` bytes to fd: asked again when a signal interrupts the
// write, and taken up where it stopped when the system takes only part of
// it. Returns 0, or the errno of the write that failed.
[[nodiscard]] inline int write_full(int fd, const void *buf, std::size_t size) noexcept
{
    const auto *p = static_cast<const unsigned char *>(buf);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 ? errno : EIO;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}
