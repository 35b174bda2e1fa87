// Formatting of runetally's table lines into memory, byte for byte what the
// formats "\t%7.3f\t%8ld" and "\t0x%06lX" give, without the cost of the
// general formatted-output machinery per line.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Writes v right-aligned in `width` columns (padded with spaces); returns the
// number of bytes written.
inline std::size_t format_decimal(char *out, std::uint64_t v, std::size_t width) noexcept
{
    char digits[20];
    std::size_t n = 0;
    do
        digits[n++] = static_cast<char>('0' + v % 10);
    while ((v /= 10) != 0);
    std::size_t written = 0;
    while (written + n < width)
        out[written++] = ' ';
    while (n > 0)
        out[written++] = digits[--n];
    return written;
}

// Writes x >= 0 as "%*.3f" would with the given decimal point: rounded to the
// nearest thousandth of its exact binary value, ties to even, right-aligned
// in `width` columns.
inline std::size_t format_fixed3(char *out, double x, std::string_view point, std::size_t width) noexcept
{
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
    const int biased = static_cast<int>((bits >> 52) & 0x7FF);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    // x = m * 2^e exactly; m * 1000 < 2^63.
    const std::uint64_t m = biased != 0 ? fraction | (std::uint64_t{1} << 52) : fraction;
    const int e = biased != 0 ? biased - 1075 : -1074;
    const std::uint64_t scaled = m * 1000;
    std::uint64_t q = 0;  // thousandths
    if (e >= 0) {
        q = scaled << e;
    } else if (e > -64) {
        const int shift = -e;
        q = scaled >> shift;
        const std::uint64_t rest = scaled & ((std::uint64_t{1} << shift) - 1);
        const std::uint64_t half = std::uint64_t{1} << (shift - 1);
        if (rest > half || (rest == half && (q & 1) != 0))
            ++q;
    }  // else x * 1000 < 2^-1: rounds to zero
    char text[40];
    std::size_t n = format_decimal(text, q / 1000, 0);
    std::memcpy(text + n, point.data(), point.size());
    n += point.size();
    const unsigned thousandths = static_cast<unsigned>(q % 1000);
    text[n++] = static_cast<char>('0' + thousandths / 100);
    text[n++] = static_cast<char>('0' + thousandths / 10 % 10);
    text[n++] = static_cast<char>('0' + thousandths % 10);
    std::size_t written = 0;
    while (written + n < width)
        out[written++] = ' ';
    std::memcpy(out + written, text, n);
    return written + n;
}

// Writes "0x" and k as six or more upper-case hexadecimal digits.
inline std::size_t format_code(char *out, std::uint32_t k) noexcept
{
    constexpr char hex[] = "0123456789ABCDEF";
    int digits = 6;
    while (digits < 8 && (k >> (4 * digits)) != 0)
        ++digits;
    out[0] = '0';
    out[1] = 'x';
    for (int i = 0; i < digits; ++i)
        out[2 + i] = hex[(k >> (4 * (digits - 1 - i))) & 0xF];
    return 2 + static_cast<std::size_t>(digits);
}

// Writes k in the UTF-8 bit layout, up to four bytes (nothing above
// 0x1FFFFF); returns the number of bytes.
inline std::size_t encode_utf8(char *out, std::uint32_t k) noexcept
{
    auto byte = [](std::uint32_t v) { return static_cast<char>(static_cast<unsigned char>(v)); };
    if (k < 0x80) {
        out[0] = byte(k);
        return 1;
    }
    if (k < 0x800) {
        out[0] = byte(0xC0 | (k >> 6));
        out[1] = byte(0x80 | (k & 0x3F));
        return 2;
    }
    if (k < 0x10000) {
        out[0] = byte(0xE0 | (k >> 12));
        out[1] = byte(0x80 | ((k >> 6) & 0x3F));
        out[2] = byte(0x80 | (k & 0x3F));
        return 3;
    }
    if (k <= 0x1FFFFF) {
        out[0] = byte(0xF0 | (k >> 18));
        out[1] = byte(0x80 | ((k >> 12) & 0x3F));
        out[2] = byte(0x80 | ((k >> 6) & 0x3F));
        out[3] = byte(0x80 | (k & 0x3F));
        return 4;
    }
    return 0;
}
