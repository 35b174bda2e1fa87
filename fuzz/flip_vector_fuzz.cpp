// runeflip's vector kernel on any line, on every Highway target this build
// compiled and the processor runs, against reverse_line: where the kernel
// takes a line it must write exactly what reverse_line writes, and it must
// take exactly the lines in which every lead C0..F7 is followed by exactly
// its continuation bytes and every continuation byte belongs to such a lead.
// The line lies in a heap buffer with exactly flip_vector_padding bytes
// around it, filled with bytes that look like leads and continuation bytes
// (chosen by the last input byte), and the output has exactly that much room
// behind it, so that ASan catches any access beyond the padding.
#include <hwy/targets.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reverse.hpp"
#include "utf8.hpp"
#include "vector_reverse.hpp"

namespace {
[[noreturn]] void fail(const char *what) noexcept
{
    std::fprintf(stderr, "vector reversal mismatch: %s\n", what);
    std::abort();
}

const std::vector<std::int64_t> &vector_targets() noexcept
{
    static const std::vector<std::int64_t> targets = [] {
        hwy::SetSupportedTargetsForTest(0);
        std::vector<std::int64_t> found;
        for (const std::int64_t t : hwy::SupportedAndGeneratedTargets())
            if (t != HWY_SCALAR && t != HWY_EMU128)
                found.push_back(t);
        return found;
    }();
    return targets;
}

bool qualifies(const std::uint8_t *line, std::size_t n) noexcept
{
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = line[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b < 0xC0 || b >= 0xF8)
            return false;
        const std::size_t e = static_cast<std::size_t>(utf8_extra_bytes[b]);
        for (std::size_t k = 1; k <= e; ++k)
            if (i + k >= n || !is_continuation(line[i + k]))
                return false;
        i += e + 1;
    }
    return true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::size_t pad = flip_vector_padding;
    std::vector<unsigned char> want(size + 1);
    const reverse_result ref = reverse_line({data, size}, want.data());
    const bool should = qualifies(data, size);
    if (should && (ref.status != reverse_status::reversed || ref.length != static_cast<std::int64_t>(size)))
        fail("reverse_line does not keep every byte of a line that qualifies");

    auto *in = static_cast<unsigned char *>(std::malloc(size + 2 * pad));
    auto *out = static_cast<unsigned char *>(std::malloc(size + pad));
    static const unsigned char tricky[] = {0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xF4, 0xF7, 0xFF, 0x0A, 0x41};
    const unsigned seed = size != 0 ? data[size - 1] : 0;
    for (std::size_t i = 0; i < pad; ++i) {
        in[i] = tricky[(seed + i * 7) % std::size(tricky)];
        in[pad + size + i] = tricky[(seed + i * 3) % std::size(tricky)];
    }
    if (size != 0)
        std::memcpy(in + pad, data, size);
    for (const std::int64_t target : vector_targets()) {
        hwy::SetSupportedTargetsForTest(target);
        const bool took = flip_vector_reverse({in + pad, size}, out);
        if (took != should)
            fail(took ? "took a line that needs care" : "left out a line that qualifies");
        if (took && std::memcmp(out, want.data(), size) != 0)
            fail("reversed text");
    }
    hwy::SetSupportedTargetsForTest(0);
    std::free(in);
    std::free(out);
    return 0;
}
