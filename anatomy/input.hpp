// RuneAnatomy's offset: reading its text, and reaching it on standard input.
#pragma once

#include <optional>

// The offset text as a signed 64-bit integer: optional leading white space,
// an optional sign, then decimal digits, or "0x" or "0X" and hexadecimal
// digits, and nothing after them; leading zeros stay decimal ("010" is 10).
// Nothing for any other text: empty, without digits, with characters after
// the digits, or beyond 64 bits.
[[nodiscard]] std::optional<long long> parse_offset(const char *text) noexcept;

// How moving on to the offset went.
enum class skip_result { done, ended, failed };

// Moves fd `offset` (0 or more) bytes on from where it stands: by lseek
// where the descriptor can be positioned, else by reading that many bytes
// and dropping them, never more, so that the rest stays for the next reader
// of a shared pipe or terminal. An offset of 0 leaves fd untouched. ended:
// the input ended first; failed: a read failed, errno tells why.
[[nodiscard]] skip_result skip_input(int fd, long long offset) noexcept;
