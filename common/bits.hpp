// Renderers of unsigned values as fixed-width strings of binary digits.
#pragma once

#include <cstdint>

// Each returns its own static buffer holding exactly 8, 16, 32 or 64 digits,
// most significant first, NUL-terminated. The next call of the same renderer
// overwrites it.
[[nodiscard]] const char *bit_string_8(std::uint8_t value) noexcept;
[[nodiscard]] const char *bit_string_16(std::uint16_t value) noexcept;
[[nodiscard]] const char *bit_string_32(std::uint32_t value) noexcept;
[[nodiscard]] const char *bit_string_64(std::uint64_t value) noexcept;
