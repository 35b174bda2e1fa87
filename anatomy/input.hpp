// RuneAnatomy's offset argument.
#pragma once

// The offset text as a decimal 64-bit integer: leading white space, an optional sign,
// digits, stopping at the first other character; no digits gives 0. A value
// beyond 64 bits saturates at LLONG_MIN or LLONG_MAX.
[[nodiscard]] long long parse_offset(const char *text) noexcept;
