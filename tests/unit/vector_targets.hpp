// The vector targets of the kernels that this processor runs (Highway's
// scalar and emulated ones left out), for the tests that hold each kernel to
// the scalar code on every one of them; and, read independently of the
// dispatch code, the targets whose instructions the processor has, so that a
// test can tell when a kernel the processor could run was never run.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string>
#include <vector>

#include <hwy/targets.h>

inline const std::vector<std::int64_t> &vector_targets() noexcept
{
    static const std::vector<std::int64_t> targets = [] {
        hwy::SetSupportedTargetsForTest(0);  // what the processor has
        std::vector<std::int64_t> found;
        for (const std::int64_t t : hwy::SupportedAndGeneratedTargets())
            if (t != HWY_SCALAR && t != HWY_EMU128)
                found.push_back(t);
        return found;
    }();
    return targets;
}

// The targets that RUNEKIT_VECTOR_TARGET leaves to be chosen (README,
// "Developing"): the one it names and every lesser one; all without it.
inline std::int64_t targets_allowed() noexcept
{
    const char *name = std::getenv("RUNEKIT_VECTOR_TARGET");
    if (name == nullptr)
        return ~std::int64_t{0};
    const struct {
        const char *name;
        std::int64_t target;
    } names[] = {{"avx3_dl", HWY_AVX3_DL}, {"avx3", HWY_AVX3}, {"avx2", HWY_AVX2},
                 {"sse4", HWY_SSE4},       {"ssse3", HWY_SSSE3}, {"neon", HWY_NEON}};
    for (const auto &entry : names)
        if (strcasecmp(name, entry.name) == 0)
            return ~(entry.target - 1);
    return 0;
}

// The x86 targets built here whose instruction sets (HWY_TARGET_STR of
// hwy/ops/set_macros-inl.h, each with the lesser targets' lists; "sse4.2"
// lets the compiler use popcnt as well) the compiler's own reading of the
// processor finds, leaving out AVX-VNNI, which no kernel uses (the dispatch
// test disassembles the programs for it). Elsewhere the baseline target.
// Only those RUNEKIT_VECTOR_TARGET allows.
inline std::int64_t processor_targets() noexcept
{
#if HWY_ARCH_X86
#define RUNEKIT_HAS(feature) (__builtin_cpu_supports(feature) != 0)
    const bool ssse3 = RUNEKIT_HAS("sse") && RUNEKIT_HAS("sse2") && RUNEKIT_HAS("sse3") && RUNEKIT_HAS("ssse3");
    const bool sse4 = ssse3 && RUNEKIT_HAS("sse4.1") && RUNEKIT_HAS("sse4.2") && RUNEKIT_HAS("popcnt") &&
                      RUNEKIT_HAS("pclmul") && RUNEKIT_HAS("aes");
#ifdef __clang__
    const bool f16c = true, vaes = true;  // names clang 14 does not know
#else
    const bool f16c = RUNEKIT_HAS("f16c"), vaes = RUNEKIT_HAS("vaes");
#endif
    const bool avx2 = sse4 && RUNEKIT_HAS("avx") && RUNEKIT_HAS("avx2") && RUNEKIT_HAS("bmi") &&
                      RUNEKIT_HAS("bmi2") && RUNEKIT_HAS("fma") && f16c;
    const bool avx3 = avx2 && RUNEKIT_HAS("avx512f") && RUNEKIT_HAS("avx512vl") && RUNEKIT_HAS("avx512dq") &&
                      RUNEKIT_HAS("avx512bw");
    const bool avx3_dl = avx3 && RUNEKIT_HAS("avx512vbmi") && RUNEKIT_HAS("avx512vbmi2") && vaes &&
                         RUNEKIT_HAS("vpclmulqdq") && RUNEKIT_HAS("avx512bitalg") && RUNEKIT_HAS("avx512vpopcntdq");
#undef RUNEKIT_HAS
    const std::int64_t found = (ssse3 ? HWY_SSSE3 : 0) | (sse4 ? HWY_SSE4 : 0) | (avx2 ? HWY_AVX2 : 0) |
                               (avx3 ? HWY_AVX3 : 0) | (avx3_dl ? HWY_AVX3_DL : 0);
    return found & HWY_TARGETS & targets_allowed();
#else
    return HWY_STATIC_TARGET & ~(HWY_SCALAR | HWY_EMU128) & targets_allowed();
#endif
}

// The targets of processor_targets() missing from `ran`, by name ("" when
// none is).
inline std::string targets_not_run(const std::vector<std::int64_t> &ran)
{
    std::int64_t missing = processor_targets();
    for (const std::int64_t t : ran)
        missing &= ~t;
    std::string names;
    for (std::int64_t bit = 1; bit != 0 && missing != 0; bit <<= 1)
        if ((missing & bit) != 0) {
            names += names.empty() ? "" : " ";
            names += hwy::TargetName(bit);
            missing &= ~bit;
        }
    return names;
}
