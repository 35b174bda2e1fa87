// Hand-written base-16 reading, so that the accepted texts are the same on
// every platform (some conversions take a text without digits as 0).
#include "codepoint.hpp"

#include <cstddef>

namespace {
// White space as the POSIX locale classifies it: space and \t \n \v \f \r.
constexpr bool is_posix_space(unsigned char c) noexcept
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// The value of a hexadecimal digit of either case, or -1 for any other byte.
constexpr int hex_digit_value(unsigned char c) noexcept
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static_assert(hex_digit_value('/') == -1 && hex_digit_value(':') == -1);
static_assert(hex_digit_value('@') == -1 && hex_digit_value('G') == -1);
static_assert(hex_digit_value('`') == -1 && hex_digit_value('g') == -1);
static_assert(hex_digit_value('9') == 9 && hex_digit_value('f') == 15 && hex_digit_value('F') == 15);
static_assert(is_posix_space('\t') && is_posix_space('\r') && !is_posix_space('\b'));
static_assert(!is_posix_space(0x0E) && !is_posix_space(0xA0) && !is_posix_space(0x85));

constexpr unsigned char byte_at(std::string_view text, std::size_t i) noexcept
{
    return static_cast<unsigned char>(text[i]);
}

// True when text[i] starts a "0x" or "0X" that a hex digit follows.
constexpr bool has_hex_prefix(std::string_view text, std::size_t i) noexcept
{
    return i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
           hex_digit_value(byte_at(text, i + 2)) >= 0;
}
}  // namespace

std::optional<hex_number> parse_hex(std::string_view text) noexcept
{
    std::size_t i = 0;
    while (i < text.size() && is_posix_space(byte_at(text, i)))
        ++i;
    hex_number number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        number.negative = text[i] == '-';
        ++i;
    }
    if (has_hex_prefix(text, i))
        i += 2;

    const std::size_t first_digit = i;
    for (; i < text.size(); ++i) {
        const int digit = hex_digit_value(byte_at(text, i));
        if (digit < 0)
            break;
        // Above 60 bits, one more digit would shift bits out of the top.
        if (number.magnitude > (UINT64_MAX >> 4))
            return std::nullopt;
        number.magnitude = (number.magnitude << 4) | static_cast<std::uint64_t>(digit);
    }
    if (i == first_digit || i != text.size())
        return std::nullopt;
    return number;
}

std::optional<std::uint32_t> parse_codepoint(std::string_view text) noexcept
{
    const std::optional<hex_number> number = parse_hex(text);
    if (!number)
        return std::nullopt;
    // "-0" is still zero; any other negation would only wrap around.
    if (number->negative && number->magnitude != 0)
        return std::nullopt;
    if (number->magnitude > codepoint_last)
        return std::nullopt;
    return static_cast<std::uint32_t>(number->magnitude);
}
