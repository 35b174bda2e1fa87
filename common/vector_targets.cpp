// The run-time part of Highway's dynamic dispatch, here instead of in the
// shared library libhwy: the programs link no Highway library at all (only
// its headers are used), so the Debian package depends on nothing more than
// before. HWY_DYNAMIC_DISPATCH needs exactly these functions of hwy/targets.h
// and hwy/base.h; they follow Highway 1.0.3's targets.cc.
//
// A target is reported as supported only when the processor has every
// instruction set the compiler is allowed to use for it (the HWY_TARGET_STR
// lists of hwy/ops/set_macros-inl.h) and the system saves the registers it
// needs. Outside x86 only the baseline target (NEON on 64-bit Arm) is used.
//
// For the benchmarks and for comparing paths by hand, the environment
// variable RUNEKIT_VECTOR_TARGET names the best target that may be chosen:
// "avx3_dl", "avx3", "avx2", "sse4", "ssse3", "neon", or "scalar" (no vector
// kernel at all, the scalar code alone). Any other value also means
// "scalar". It can only take targets away, never add one the processor lacks.
#include <hwy/base.h>
#include <hwy/targets.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if HWY_ARCH_X86
#include <cpuid.h>
#endif

namespace {
std::atomic<std::int64_t> targets_for_test{0};
std::atomic<std::int64_t> supported_mask{~std::int64_t{0}};

// The targets that need no vector instructions; always available.
constexpr std::int64_t fallback_targets = HWY_SCALAR | HWY_EMU128;

#if HWY_ARCH_X86
bool bit(std::uint32_t reg, int index) noexcept
{
    return ((reg >> index) & 1u) != 0;
}

// Register state the system saves on a context switch (XCR0).
std::uint64_t saved_state() noexcept
{
    std::uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}

std::int64_t detect_targets() noexcept
{
    std::int64_t targets = fallback_targets;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0)
        return targets;
    const std::uint32_t ecx1 = c, edx1 = d;
    std::uint32_t ebx7 = 0, ecx7 = 0;
    if (__get_cpuid_max(0, nullptr) >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        ebx7 = b;
        ecx7 = c;
    }
    std::uint32_t ecx81 = 0;
    if (__get_cpuid(0x80000001u, &a, &b, &c, &d) != 0)
        ecx81 = c;

    const bool ssse3 = bit(edx1, 25) && bit(edx1, 26) && bit(ecx1, 0) && bit(ecx1, 9);
    const bool sse4 = ssse3 && bit(ecx1, 19) && bit(ecx1, 20) && bit(ecx1, 1) && bit(ecx1, 25);
    // AVX state (XMM and YMM) saved, and the AVX-512 state (opmask, ZMM).
    const bool os_avx = bit(ecx1, 27) && (saved_state() & 0x6) == 0x6;
    const bool os_avx512 = os_avx && (saved_state() & 0xE0) == 0xE0;
    const bool avx2 = sse4 && os_avx && bit(ecx1, 28) && bit(ebx7, 5) && bit(ebx7, 3) && bit(ebx7, 8) &&
                      bit(ecx1, 12) && bit(ecx1, 29) && bit(ecx81, 5);  // avx avx2 bmi bmi2 fma f16c lzcnt
    const bool avx3 = avx2 && os_avx512 && bit(ebx7, 16) && bit(ebx7, 17) && bit(ebx7, 30) &&
                      bit(ebx7, 31);  // avx512 f dq bw vl
    const bool avx3_dl = avx3 && bit(ecx7, 1) && bit(ecx7, 6) && bit(ecx7, 8) && bit(ecx7, 9) && bit(ecx7, 10) &&
                         bit(ecx7, 11) && bit(ecx7, 12) && bit(ecx7, 14);  // vbmi vbmi2 gfni vaes vpclmulqdq vnni bitalg vpopcntdq
    if (ssse3)
        targets |= HWY_SSSE3;
    if (sse4)
        targets |= HWY_SSE4;
    if (avx2)
        targets |= HWY_AVX2;
    if (avx3)
        targets |= HWY_AVX3;
    if (avx3_dl)
        targets |= HWY_AVX3_DL;
    return targets;
}
#else
std::int64_t detect_targets() noexcept
{
    return fallback_targets | HWY_STATIC_TARGET;
}
#endif

// The best target RUNEKIT_VECTOR_TARGET allows, as a mask of allowed targets.
std::int64_t targets_allowed_by_environment() noexcept
{
    const char *name = std::getenv("RUNEKIT_VECTOR_TARGET");
    if (name == nullptr)
        return ~std::int64_t{0};
    static constexpr struct {
        const char *name;
        std::int64_t target;
    } names[] = {{"avx3_dl", HWY_AVX3_DL}, {"avx3", HWY_AVX3}, {"avx2", HWY_AVX2},
                 {"sse4", HWY_SSE4},       {"ssse3", HWY_SSSE3}, {"neon", HWY_NEON}};
    for (const auto &entry : names)
        if (std::strcmp(name, entry.name) == 0)
            return ~(entry.target - 1);  // this target and every lesser one (higher bits)
    return fallback_targets;
}
}  // namespace

namespace hwy {

HWY_DLLEXPORT int64_t SupportedTargets()
{
    std::int64_t targets = targets_for_test.load();
    if (targets == 0) {
        targets = detect_targets() & targets_allowed_by_environment();
        // Settle the chosen target before anything can dispatch again.
        GetChosenTarget().Update(targets);
    }
    targets &= supported_mask.load();
    return targets == 0 ? HWY_STATIC_TARGET : targets;
}

HWY_DLLEXPORT void DisableTargets(int64_t disabled_targets)
{
    supported_mask.store(~disabled_targets);
    GetChosenTarget().DeInit();  // the next dispatch chooses again
}

HWY_DLLEXPORT void SetSupportedTargetsForTest(int64_t targets)
{
    targets_for_test.store(targets);
    GetChosenTarget().DeInit();
}

HWY_DLLEXPORT ChosenTarget &GetChosenTarget()
{
    static ChosenTarget chosen;
    return chosen;
}

HWY_DLLEXPORT HWY_NORETURN void HWY_FORMAT(3, 4) Abort(const char *file, int line, const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    std::fprintf(stderr, "Abort at %s:%d: %s\n", file, line, text);
    std::abort();
}

}  // namespace hwy
