// runeflip's scalar reversal of one line (see reverse.hpp).
#include "reverse.hpp"

#include <cstring>

#include "utf8.hpp"

namespace {
// Writes the continuation bytes in[from..limit-1], which no lead byte claims,
// as characters of their own: the last first.
void put_unclaimed(const unsigned char *in, std::int64_t from, std::int64_t limit, unsigned char *out,
                   std::int64_t &n) noexcept
{
    for (std::int64_t i = limit; i > from; --i)
        out[n++] = in[i - 1];
}

// Eight bytes with their high bits clear are eight single-byte characters.
constexpr std::uint64_t high_bits = 0x8080'8080'8080'8080u;
}  // namespace

// A backward scan. p runs from the line length down to 1 over b = line[p-1];
// `limit` is the index of the first byte of the character emitted last (the
// one that follows position p in the line), so the bytes from p up to limit
// are exactly the continuation bytes passed over since then. Once the
// character before them is known, those its lead byte does not claim are
// written as characters of their own. Runs of eight single-byte characters
// are reversed at once by a byte swap (loading, swapping and storing
// reverses their order in memory whatever the machine's byte order).
reverse_result reverse_line(std::span<const unsigned char> line, unsigned char *out) noexcept
{
    const unsigned char *in = line.data();
    std::int64_t p = static_cast<std::int64_t>(line.size());
    std::int64_t limit = p;
    std::int64_t n = 0;
    while (p >= 1) {
        if (p >= 8) {
            std::uint64_t w;
            std::memcpy(&w, in + p - 8, 8);
            if ((w & high_bits) == 0) {
                put_unclaimed(in, p, limit, out, n);
                w = __builtin_bswap64(w);
                std::memcpy(out + n, &w, 8);
                n += 8;
                p -= 8;
                limit = p;
                continue;
            }
        }
        const unsigned char b = in[p - 1];
        if (b < 0x80) {
            put_unclaimed(in, p, limit, out, n);
            out[n++] = b;
            limit = p - 1;
        } else if (!is_continuation(b)) {
            const std::int64_t t = utf8_extra_bytes[b];
            if (p + t > limit)
                return {reverse_status::truncated, 0, p, t, limit - p};
            put_unclaimed(in, p + t, limit, out, n);
            std::memcpy(out + n, in + p - 1, static_cast<std::size_t>(t + 1));
            n += t + 1;
            limit = p - 1;
        }
        --p;
    }
    put_unclaimed(in, 0, limit, out, n);
    return {reverse_status::reversed, n, 0, 0, 0};
}
