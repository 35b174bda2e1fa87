// Positions in valid text, counted sixteen bytes at a time in byte counters
// (the compiler's generic vectors: SSE2, NEON and the like, or plain words).
#include "stretch.hpp"

#include <cstdint>
#include <cstring>

namespace {
using bytes16 = unsigned char __attribute__((vector_size(16)));
}  // namespace

void count_stretch(std::span<const unsigned char> data, input_position &at) noexcept
{
    const unsigned char *p = data.data();
    std::size_t n = data.size();
    std::int64_t newlines = 0, continuations = 0;
    while (n >= 16) {
        // At most 255 rounds, so that no byte counter wraps.
        const std::size_t rounds = n / 16 < 255 ? n / 16 : 255;
        bytes16 lines{}, follows{};
        for (std::size_t i = 0; i < rounds; ++i, p += 16) {
            bytes16 v;
            std::memcpy(&v, p, sizeof v);
            lines -= (bytes16)(v == 0x0A);  // each match is 0xFF: minus one
            follows -= (bytes16)((v & 0xC0) == 0x80);
        }
        n -= rounds * 16;
        for (int i = 0; i < 16; ++i) {
            newlines += lines[i];
            continuations += follows[i];
        }
    }
    for (; n > 0; --n, ++p) {
        newlines += *p == 0x0A;
        continuations += (*p & 0xC0) == 0x80;
    }
    const auto size = static_cast<std::int64_t>(data.size());
    at.bytes += size;
    at.lines += newlines;
    at.characters += size - continuations;
}
