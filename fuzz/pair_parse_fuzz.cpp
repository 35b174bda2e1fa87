// runepair's parser against the C library's strtoull in base 16 under the
// POSIX locale, which states the same rules, with the rules' own corrections:
// a text without a digit is never a number (some libraries read it as 0), a
// NUL byte ends the text for strtoull but is an ordinary, invalid byte for the
// parser, and the value is the magnitude with the sign kept apart, not
// negated modulo 2^64. Then the code point: no negative but zero, nothing
// above 0x10FFFF.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "codepoint.hpp"

namespace {
[[noreturn]] void fail(const char *what, std::string_view text) noexcept
{
    std::fprintf(stderr, "parser mismatch: %s on \"", what);
    for (const char c : text)
        std::fprintf(stderr, "\\x%02X", static_cast<unsigned char>(c));
    std::fprintf(stderr, "\"\n");
    std::abort();
}

std::optional<hex_number> reference_parse(std::string_view text) noexcept
{
    if (text.find('\0') != std::string_view::npos)
        return std::nullopt;
    const std::string copy(text);
    const char *start = copy.c_str();
    if (copy.find_first_of("0123456789abcdefABCDEF") == std::string::npos)
        return std::nullopt;
    char *end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(start, &end, 16);
    if (errno == ERANGE || end == start || end != start + copy.size())
        return std::nullopt;
    std::size_t i = 0;
    while (i < copy.size() && std::strchr(" \t\n\v\f\r", copy[i]) != nullptr && copy[i] != '\0')
        ++i;
    hex_number number;
    number.negative = i < copy.size() && copy[i] == '-';
    number.magnitude = number.negative ? 0 - static_cast<std::uint64_t>(value) : value;
    return number;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<hex_number> got = parse_hex(text);
    const std::optional<hex_number> want = reference_parse(text);
    if (got.has_value() != want.has_value())
        fail(want ? "rejected a number" : "accepted a text that is no number", text);
    if (got && (got->magnitude != want->magnitude || got->negative != want->negative))
        fail("different value", text);

    const std::optional<std::uint32_t> point = parse_codepoint(text);
    const bool is_point = want && (!want->negative || want->magnitude == 0) && want->magnitude <= 0x10FFFF;
    if (point.has_value() != is_point || (point && *point != want->magnitude))
        fail("different code point", text);
    return 0;
}
