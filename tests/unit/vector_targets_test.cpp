// The targets Highway's dispatch is told the processor runs, held to the
// compiler's own reading of the processor (__builtin_cpu_supports): each
// target exactly when every instruction set its code may use is there.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <utility>

#include <hwy/targets.h>

TEST(VectorTargets, ReportedExactlyWhenTheProcessorHasThem)
{
    unsetenv("RUNEKIT_VECTOR_TARGET");
    hwy::SetSupportedTargetsForTest(0);
    const std::int64_t supported = hwy::SupportedTargets();
    EXPECT_NE(supported & HWY_STATIC_TARGET, 0);
#if HWY_ARCH_X86
#define HAS(feature) (__builtin_cpu_supports(feature) != 0)
    // HWY_TARGET_STR of hwy/ops/set_macros-inl.h, each target's with the
    // lesser targets' lists; "sse4.2" lets the compiler use popcnt as well.
    const bool ssse3 = HAS("sse") && HAS("sse2") && HAS("sse3") && HAS("ssse3");
    const bool sse4 = ssse3 && HAS("sse4.1") && HAS("sse4.2") && HAS("popcnt") && HAS("pclmul") && HAS("aes");
#ifdef __clang__
    // Names clang 14 does not know: there AVX3_DL is only held to the others
    // (reported only with them); the g++ build holds it to all.
    const bool f16c = true, vaes = true, avxvnni = true, exact = false;
#else
    const bool f16c = HAS("f16c"), vaes = HAS("vaes"), avxvnni = HAS("avxvnni"), exact = true;
#endif
    const bool avx2 = sse4 && HAS("avx") && HAS("avx2") && HAS("bmi") && HAS("bmi2") && HAS("fma") && f16c;
    const bool avx3 = avx2 && HAS("avx512f") && HAS("avx512vl") && HAS("avx512dq") && HAS("avx512bw");
    const bool avx3_dl = avx3 && HAS("avx512vbmi") && HAS("avx512vbmi2") && vaes && HAS("vpclmulqdq") &&
                         HAS("avx512bitalg") && HAS("avx512vpopcntdq") && avxvnni;
    const std::pair<std::int64_t, bool> expected[] = {
        {HWY_SSSE3, ssse3}, {HWY_SSE4, sse4}, {HWY_AVX2, avx2}, {HWY_AVX3, avx3}};
    for (const auto &[target, present] : expected)
        EXPECT_EQ((supported & target) != 0, present) << hwy::TargetName(target);
    EXPECT_TRUE((supported & HWY_AVX3_DL) != 0 ? avx3_dl : !exact || !avx3_dl) << "AVX3_DL";
#endif
}

TEST(VectorTargets, EnvironmentOnlyTakesTargetsAway)
{
    unsetenv("RUNEKIT_VECTOR_TARGET");
    hwy::SetSupportedTargetsForTest(0);
    const std::int64_t all = hwy::SupportedTargets();
    const std::pair<const char *, std::int64_t> allowed[] = {
        {"avx3_dl", ~(HWY_AVX3_DL - 1)}, {"avx3", ~(HWY_AVX3 - 1)}, {"avx2", ~(HWY_AVX2 - 1)},          {"sse4", ~(HWY_SSE4 - 1)},
        {"ssse3", ~(HWY_SSSE3 - 1)}, {"neon", ~(HWY_NEON - 1)}, {"scalar", HWY_SCALAR | HWY_EMU128},
        {"AVX2", HWY_SCALAR | HWY_EMU128}};
    for (const auto &[name, mask] : allowed) {
        setenv("RUNEKIT_VECTOR_TARGET", name, 1);
        EXPECT_EQ(hwy::SupportedTargets(), all & mask) << name;
    }
    unsetenv("RUNEKIT_VECTOR_TARGET");
}
