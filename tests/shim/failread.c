/*
 * Preloaded into a program under test: standard input delivers the first
 * RUNEKIT_FAILREAD_AFTER bytes (a decimal count) and then fails with EIO, as
 * a device that goes bad in the middle of the input would.
 *
 * read(2) on descriptor 0 is cut at that count; once it is reached every
 * further read fails. tee(2) from descriptor 0 (which looks at pipe data
 * without consuming it) sees no further than the bytes that read could still
 * deliver, and fails the same way once none are left, so that a reader that
 * peeks first meets the failure at the same byte as one that reads at once.
 * __read_chk, which fortified builds call instead of read, goes through the
 * same gate. With RUNEKIT_FAILREAD_PATH set, the gate is instead every
 * descriptor open on that file (same device and inode), such as a file the
 * program opens itself; a descriptor number would not do, since what else is
 * open differs under valgrind, whose launcher also reads files of its own.
 * Other descriptors are not touched.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

static unsigned long long delivered; /* bytes read(2) returned from the gated fd */

/* True for a descriptor whose reads are gated. */
static int gated(int fd)
{
    static int by_path = -1;
    static struct stat target;
    if (by_path == -1) {
        const char *path = getenv("RUNEKIT_FAILREAD_PATH");
        by_path = path != NULL && *path != '\0' && stat(path, &target) == 0;
    }
    if (!by_path)
        return fd == 0;
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino;
}

/* Bytes the gated fd may still deliver, or -1 when there is no limit. */
static long long remaining(void)
{
    static long long limit = -2;
    if (limit == -2) {
        const char *text = getenv("RUNEKIT_FAILREAD_AFTER");
        limit = text != NULL && *text != '\0' ? strtoll(text, NULL, 10) : -1;
    }
    if (limit < 0)
        return -1;
    return delivered >= (unsigned long long)limit ? 0 : limit - (long long)delivered;
}

ssize_t read(int fd, void *buf, size_t count)
{
    static ssize_t (*real_read)(int, void *, size_t);
    if (real_read == NULL)
        real_read = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    const int gate = gated(fd);
    const long long left = gate ? remaining() : -1;
    if (left == 0 && count > 0) {
        errno = EIO;
        return -1;
    }
    if (left > 0 && count > (unsigned long long)left)
        count = (size_t)left;
    const ssize_t n = real_read(fd, buf, count);
    if (gate && n > 0)
        delivered += (unsigned long long)n;
    return n;
}

ssize_t __read_chk(int fd, void *buf, size_t count, size_t buflen)
{
    if (count > buflen)
        abort();
    return read(fd, buf, count);
}

ssize_t tee(int fd_in, int fd_out, size_t len, unsigned int flags)
{
    static ssize_t (*real_tee)(int, int, size_t, unsigned int);
    if (real_tee == NULL)
        real_tee = (ssize_t(*)(int, int, size_t, unsigned int))dlsym(RTLD_NEXT, "tee");
    const long long left = gated(fd_in) ? remaining() : -1;
    if (left == 0 && len > 0) {
        errno = EIO;
        return -1;
    }
    if (left > 0 && len > (unsigned long long)left)
        len = (size_t)left;
    return real_tee(fd_in, fd_out, len, flags);
}
