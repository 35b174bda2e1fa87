// runetally's vector validation on every target the processor runs, against
// the reference rule (utf8_sequence_is_legal, one sequence after another):
// every lead with every second byte and chosen later bytes, at offsets that
// put it across the vectors, cut short at the end of the data, and random
// text with a byte broken.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "hex.hpp"
#include "tally_harness.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tally_validate_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector_validate-inl.hpp"

HWY_BEFORE_NAMESPACE();
namespace tally_validate_test {
namespace HWY_NAMESPACE {
// Validate on data with zeros before and after it, as the kernel gives it a
// sub-block: 1 or 0, or -1 on a target without the kernel.
int ValidPadded(const unsigned char *data, std::size_t size)
{
#if TALLY_KERNEL_TARGET
    alignas(64) static unsigned char buffer[128 + 16384 + 128];
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer + 128, data, size);
    return tally_vector::HWY_NAMESPACE::Validate(buffer + 128, size) ? 1 : 0;
#else
    (void)data;
    (void)size;
    return -1;
#endif
}
}  // namespace HWY_NAMESPACE
}  // namespace tally_validate_test
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tally_validate_test {
HWY_EXPORT(ValidPadded);

using tally_harness::bytes;

std::vector<std::int64_t> ran;

// "" when every target agrees with the reference on s.
std::string check(const bytes &s)
{
    const bool want = tally_harness::whole_legal(s);
    for (const std::int64_t target : vector_targets()) {
        hwy::SetSupportedTargetsForTest(target);
        if (std::find(ran.begin(), ran.end(), target) == ran.end())
            ran.push_back(target);
        const int got = HWY_DYNAMIC_DISPATCH(ValidPadded)(reinterpret_cast<const unsigned char *>(s.data()), s.size());
        if (got >= 0 && (got == 1) != want)
            return std::string(want ? "refused" : "accepted") + " on " + hwy::TargetName(target) + ": " + hex_dump(s);
    }
    return "";
}

TEST(VectorValidation, EverySequenceAcrossVectors)
{
    const unsigned char chosen[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xE0, 0xF0, 0xFF};
    for (const std::size_t prefix : {std::size_t{0}, std::size_t{14}, std::size_t{30}, std::size_t{61}})
        for (int b0 = 0; b0 < 256; ++b0)
            for (int b1 = 0; b1 < 256; ++b1)
                for (const unsigned char b2 : chosen) {
                    if (b0 < 0xE0 && b2 != 0x80)
                        continue;
                    for (const unsigned char b3 : {0x80, 0x41}) {
                        bytes s(prefix, 'x');
                        s += {static_cast<char>(b0), static_cast<char>(b1), static_cast<char>(b2),
                              static_cast<char>(b3)};
                        ASSERT_EQ(check(s + "z"), "");
                        // Cut short by the end of the data, after one to three bytes.
                        for (std::size_t keep = 1; keep <= 3 && b3 == 0x80; ++keep) {
                            ASSERT_EQ(check(s.substr(0, prefix + keep)), "");
                        }
                    }
                }
    hwy::SetSupportedTargetsForTest(0);
    EXPECT_EQ(targets_not_run(ran), "");
}

TEST(VectorValidation, RandomTextWithABrokenByte)
{
    static const char *const pieces[] = {"a", " ", "\n", "\xC3\xA9", "\xE2\x82\xAC", "\xED\xA0\x80", "\xEF\xBF\xBF",
                                         "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xDF\xBF", "\xE0\xA0\x80"};
    std::mt19937 rng(25);
    for (int i = 0; i < 20000; ++i) {
        bytes s;
        const std::size_t size = rng() % 300;
        while (s.size() < size)
            s += pieces[rng() % std::size(pieces)];
        if (i % 2 == 1 && !s.empty())
            s[rng() % s.size()] = static_cast<char>(rng() % 256);
        ASSERT_EQ(check(s), "");
    }
    hwy::SetSupportedTargetsForTest(0);
}
}  // namespace tally_validate_test
#endif  // HWY_ONCE
