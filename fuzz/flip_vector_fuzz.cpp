// runeflip's vector kernel on any line, and the work loop on the input taken
// as text of many lines (from a file and from a pipe), on every Highway
// target this build compiled and the processor runs, against reverse_line
// (the checks of flip_differential.hpp, which also fail when a target the
// processor has was not run).
// The garbage around the line is chosen by the last input byte.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "flip_differential.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const char *wrong = flip_check::check_line(data, size, size != 0 ? data[size - 1] : 0);
    for (const bool piped : {false, true})
        if (wrong == nullptr)
            wrong = flip_check::check_stream(data, size, piped);
    if (wrong != nullptr) {
        std::fprintf(stderr, "vector reversal mismatch: %s\n", wrong);
        std::abort();
    }
    return 0;
}
