// RuneAnatomy's offset argument.
#pragma once

#include <optional>

// The offset text as a signed 64-bit integer: optional leading white space,
// an optional sign, then decimal digits, or "0x" or "0X" and hexadecimal
// digits, and nothing after them; leading zeros stay decimal ("010" is 10).
// Nothing for any other text: empty, without digits, with characters after
// the digits, or beyond 64 bits.
[[nodiscard]] std::optional<long long> parse_offset(const char *text) noexcept;
