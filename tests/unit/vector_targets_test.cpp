// The targets Highway's dispatch is told the processor runs, held to the
// compiler's own reading of the processor (__builtin_cpu_supports): each
// target exactly when every instruction set its code may use is there.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "vector_targets.hpp"

TEST(VectorTargets, ReportedExactlyWhenTheProcessorHasThem)
{
    unsetenv("RUNEKIT_VECTOR_TARGET");
    hwy::SetSupportedTargetsForTest(0);
    const std::int64_t supported = hwy::SupportedTargets();
    EXPECT_NE(supported & HWY_STATIC_TARGET, 0);
    const std::int64_t expected = processor_targets();
    for (const std::int64_t target : {HWY_SSSE3, HWY_SSE4, HWY_AVX2, HWY_AVX3, HWY_AVX3_DL, HWY_NEON})
        if ((HWY_TARGETS & target) != 0) {
            EXPECT_EQ((supported & target) != 0, (expected & target) != 0) << hwy::TargetName(target);
        }
    EXPECT_EQ(targets_not_run(vector_targets()), "");
}

TEST(VectorTargets, EnvironmentOnlyTakesTargetsAway)
{
    unsetenv("RUNEKIT_VECTOR_TARGET");
    hwy::SetSupportedTargetsForTest(0);
    const std::int64_t all = hwy::SupportedTargets();
    const std::pair<const char *, std::int64_t> allowed[] = {
        {"avx3_dl", ~(HWY_AVX3_DL - 1)}, {"avx3", ~(HWY_AVX3 - 1)}, {"avx2", ~(HWY_AVX2 - 1)},          {"sse4", ~(HWY_SSE4 - 1)},
        {"ssse3", ~(HWY_SSSE3 - 1)}, {"neon", ~(HWY_NEON - 1)}, {"scalar", HWY_SCALAR | HWY_EMU128},
        {"AVX2", ~(HWY_AVX2 - 1)},       {"avx-2", HWY_SCALAR | HWY_EMU128}};
    for (const auto &[name, mask] : allowed) {
        setenv("RUNEKIT_VECTOR_TARGET", name, 1);
        EXPECT_EQ(hwy::SupportedTargets(), all & mask) << name;
    }
    unsetenv("RUNEKIT_VECTOR_TARGET");
}
