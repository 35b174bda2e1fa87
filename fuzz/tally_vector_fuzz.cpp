// runetally's vector kernel on any input, on every Highway target this build
// compiled and the processor runs, against the scalar scan (the same library
// with the scalar target chosen, where the kernel takes nothing):
//  - scan_block, the kernel then the scalar scan from where it stopped, must
//    give the same consumed bytes, characters, failure and length, and after
//    tally_vector_flush the same counters and touched pages;
//  - the kernel alone, with a sub-block size taken from the first input byte,
//    must take only whole legal sequences, count them exactly, and stop less
//    than one sub-block before the point where the scalar scan stops (all of
//    it where the rest is the beginning of a legal sequence).
// Linked with the small-block library (sub-blocks of 24 bytes in scan_block).
#include <hwy/targets.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reader.hpp"
#include "vector_count.hpp"
#include "vector_targets.hpp"

namespace {
char_tally want_tally, got_tally;

[[noreturn]] void fail(const char *what) noexcept
{
    std::fprintf(stderr, "vector kernel mismatch: %s\n", what);
    std::abort();
}

std::size_t next_touched(const char_tally &t, std::size_t page) noexcept
{
    const void *found = std::memchr(t.touched + page, 1, count_pages - page);
    return found != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(found) - t.touched)
                            : count_pages;
}

void clear(char_tally &t) noexcept
{
    for (std::size_t page = next_touched(t, 0); page < count_pages; page = next_touched(t, page + 1)) {
        std::memset(&t.char_counts[page << count_page_shift], 0, sizeof(std::int64_t) << count_page_shift);
        t.touched[page] = 0;
    }
}

void expect_same_counts(const char_tally &want, const char_tally &got) noexcept
{
    if (std::memcmp(want.touched, got.touched, sizeof want.touched) != 0)
        fail("touched pages");
    for (std::size_t page = next_touched(want, 0); page < count_pages; page = next_touched(want, page + 1))
        if (std::memcmp(&want.char_counts[page << count_page_shift], &got.char_counts[page << count_page_shift],
                        sizeof(std::int64_t) << count_page_shift) != 0)
            fail("counts");
}

// Whether s is empty or the first bytes of some legal sequence.
bool begins_legal_sequence(const std::uint8_t *s, std::size_t size) noexcept
{
    if (size == 0)
        return true;
    const std::size_t length = static_cast<std::size_t>(utf8_extra_bytes[s[0]]) + 1;
    if (size >= length)
        return false;
    for (const unsigned char fill : {0x80, 0x90, 0xA0, 0xBF}) {
        unsigned char seq[6];
        for (std::size_t i = 0; i < length; ++i)
            seq[i] = i < size ? s[i] : fill;
        if (utf8_sequence_is_legal({seq, length}))
            return true;
    }
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const std::size_t subblocks[] = {4, 5, 7, 16, 23, 24, 31, 63, 64, 65, 100, 16384};
    const std::size_t subblock = subblocks[data[0] % std::size(subblocks)];
    const std::span<const unsigned char> input(data + 1, size - 1);
    const auto &targets = vector_targets();

    hwy::SetSupportedTargetsForTest(HWY_SCALAR);
    clear(want_tally);
    const block_scan want = scan_block(input, want_tally);
    tally_vector_flush(want_tally);
    for (const std::int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        clear(got_tally);
        const block_scan got = scan_block(input, got_tally);
        tally_vector_flush(got_tally);
        if (got.consumed != want.consumed || got.characters != want.characters || got.invalid != want.invalid ||
            got.length != want.length)
            fail("scan_block result");
        expect_same_counts(want_tally, got_tally);
    }

    for (const std::int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        clear(got_tally);
        const tally_vector_result got = tally_vector_scan(input, subblock, got_tally);
        tally_vector_flush(got_tally);
        if (got.consumed > want.consumed)
            fail("the kernel took more than the scalar scan");
        if (!tally_vector_active()) {
            if (got.consumed != 0)
                fail("a target without the kernel took something");
        } else if (!want.invalid && begins_legal_sequence(input.data() + want.consumed, input.size() - want.consumed)) {
            if (got.consumed != want.consumed)
                fail("the kernel stopped early in legal input");
        } else if (want.consumed >= got.consumed + subblock + 4) {
            fail("the kernel stopped more than a sub-block early");
        }
        hwy::SetSupportedTargetsForTest(HWY_SCALAR);
        clear(want_tally);
        const block_scan prefix = scan_block(input.first(got.consumed), want_tally);
        if (prefix.consumed != got.consumed || prefix.invalid || prefix.characters != got.characters)
            fail("what the kernel took is not whole legal sequences, or miscounted");
        expect_same_counts(want_tally, got_tally);
    }
    hwy::SetSupportedTargetsForTest(0);
    return 0;
}
