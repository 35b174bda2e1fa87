// The bit-pattern renderers: fixed-width strings of 0 and 1 in static buffers.
#include "bits.hpp"

#include <array>
#include <cstddef>

namespace {
// Writes the low N bits of value, most significant first, and the NUL.
template <std::size_t N>
const char *render(std::array<char, N + 1> &buffer, std::uint64_t value) noexcept
{
    for (std::size_t k = 0; k < N; ++k)
        buffer[k] = ((value >> (N - 1 - k)) & 1u) ? '1' : '0';
    buffer[N] = '\0';
    return buffer.data();
}

std::array<char, 9> buffer_8;
std::array<char, 17> buffer_16;
std::array<char, 33> buffer_32;
std::array<char, 65> buffer_64;
}  // namespace

const char *bit_string_8(std::uint8_t value) noexcept { return render<8>(buffer_8, value); }
const char *bit_string_16(std::uint16_t value) noexcept { return render<16>(buffer_16, value); }
const char *bit_string_32(std::uint32_t value) noexcept { return render<32>(buffer_32, value); }
const char *bit_string_64(std::uint64_t value) noexcept { return render<64>(buffer_64, value); }
