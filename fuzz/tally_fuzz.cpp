// runetally's counting paths on any input, through the shared harness: the
// block reader from a memory file and from a pipe on every path against the
// byte-at-a-time reader; scan_block and validate_block, with and without
// the strict rule, against the reference rule; and the vector kernel alone
// on every target (every step too) with a sub-block size and the rule taken
// from the first byte. Linked with 61-byte reads. The first input also shows
// that every target the processor has was run.
#include <cstdio>

#include "tally_harness.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > 60000)
        return -1;  // the input must fit in a pipe before it is read
    const tally_harness::bytes input(reinterpret_cast<const char *>(data) + 1, size - 1);
    std::string differs = tally_harness::check_descriptors(input, input.size());
    if (differs.empty())
        differs = tally_harness::check_blocks(input);
#if RUNEKIT_VECTOR
    static const std::size_t subblocks[] = {4, 5, 7, 16, 23, 24, 31, 63, 64, 65, 100, 16384};
    if (differs.empty())
        differs = tally_harness::check_kernel(input, subblocks[data[0] % std::size(subblocks)], data[0] >= 0x80);
    static bool targets_checked = false;
    if (differs.empty() && !targets_checked) {
        targets_checked = true;
        const std::string missing = targets_not_run(tally_harness::ran);
        if (!missing.empty())
            differs = "targets of this processor not run: " + missing;
    }
#endif
    if (!differs.empty()) {
        std::fprintf(stderr, "runetally's paths differ: %s\n", differs.c_str());
        std::abort();
    }
    return 0;
}
