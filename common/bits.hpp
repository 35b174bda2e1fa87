// Renderers of unsigned values as fixed-width strings of binary digits.
#pragma once

#include <cstdint>

// Each returns its own static buffer holding exactly 8 or 32 digits,
// most significant first, NUL-terminated. The next call of the same renderer
// overwrites it.
[[nodiscard]] const char *bit_string_8(std::uint8_t value) noexcept;
[[nodiscard]] const char *bit_string_32(std::uint32_t value) noexcept;
