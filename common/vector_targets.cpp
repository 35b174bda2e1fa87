// Highway's run-time dispatch functions (those of hwy/targets.h and
// hwy/base.h that HWY_DYNAMIC_DISPATCH and the tests call), so that the
// programs link no Highway library, only use its headers. Linking Debian's
// libhwy1 (1.0.3) instead would slow every start (bench/RESULTS.md, "Start-up
// and the Highway library"): its static initialiser calibrates a timer, and
// it brings in libstdc++, libm and libgcc_s. These functions follow Highway
// 1.0's targets.h; the configure
// step refuses any other version (common/CMakeLists.txt), and
// tests/unit/vector_targets_test.cpp holds the detection to the compiler's.
//
// A target is reported only when the processor has every instruction set the
// compiler may use for it (HWY_TARGET_STR in hwy/ops/set_macros-inl.h; sse4.2
// there lets the compiler use popcnt too) and the system saves the registers
// it needs. On 64-bit Arm under Linux, NEON and, where the kernel reports
// it, SVE; elsewhere only the baseline target.
//
// RUNEKIT_VECTOR_TARGET names the best target that may be chosen (README,
// "Developing"): it can only take targets away.
#include <hwy/base.h>
#include <hwy/targets.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#if HWY_ARCH_X86
#include <cpuid.h>
#elif HWY_ARCH_ARM_A64 && defined(__linux__)
#include <asm/hwcap.h>
#include <sys/auxv.h>
#endif

namespace {
std::int64_t targets_for_test = 0;  // 0: what the processor has

// The targets that need no vector instructions; always available.
constexpr std::int64_t fallback_targets = HWY_SCALAR | HWY_EMU128;

#if HWY_ARCH_X86
// Whether every bit of `bits` is set in `reg`.
constexpr bool all(std::uint64_t reg, std::uint64_t bits) noexcept
{
    return (reg & bits) == bits;
}

std::int64_t detect_targets() noexcept
{
    unsigned a = 0, b = 0, d = 0, ecx1 = 0, edx1 = 0, ebx7 = 0, ecx7 = 0;
    if (__get_cpuid(1, &a, &b, &ecx1, &edx1) == 0)
        return fallback_targets;
    if (__get_cpuid_max(0, nullptr) >= 7)
        __cpuid_count(7, 0, a, ebx7, ecx7, d);
    // Register state the system saves (XCR0): XMM and YMM; opmask and ZMM.
    std::uint32_t xcr0 = 0, high = 0;
    if (all(ecx1, 1u << 27))  // OSXSAVE: xgetbv is there
        __asm__("xgetbv" : "=a"(xcr0), "=d"(high) : "c"(0));

    // sse sse2 | sse3 ssse3; sse4.1 sse4.2 popcnt pclmul aes
    const bool ssse3 = all(edx1, 3u << 25) && all(ecx1, 1u | 1u << 9);
    const bool sse4 = ssse3 && all(ecx1, 3u << 19 | 1u << 23 | 1u << 1 | 1u << 25);
    // avx f16c fma | avx2 bmi bmi2 | YMM state
    const bool avx2 = sse4 && all(ecx1, 1u << 28 | 1u << 29 | 1u << 12) &&
                      all(ebx7, 1u << 5 | 1u << 3 | 1u << 8) && all(xcr0, 0x6);
    // avx512 f dq bw vl | opmask and ZMM state
    const bool avx3 = avx2 && all(ebx7, 3u << 16 | 3u << 30) && all(xcr0, 0xE0);
    // avx512 vbmi vbmi2 vaes vpclmulqdq bitalg vpopcntdq. Highway's list for
    // AVX3_DL also names AVX-VNNI, which processors with all of these may lack
    // (AMD's Zen 4); no kernel of ours uses its dot products, and the
    // dispatch test disassembles the programs to hold the compiler to that.
    const bool avx3_dl = avx3 && all(ecx7, 1u << 1 | 1u << 6 | 1u << 9 | 1u << 10 | 1u << 12 | 1u << 14);
    return fallback_targets | (ssse3 ? HWY_SSSE3 : 0) | (sse4 ? HWY_SSE4 : 0) | (avx2 ? HWY_AVX2 : 0) |
           (avx3 ? HWY_AVX3 : 0) | (avx3_dl ? HWY_AVX3_DL : 0);
}
#elif HWY_ARCH_ARM_A64 && defined(__linux__)
// NEON always; SVE where the kernel says the processor has it (and saves
// its registers). SVE2 and the targets for one vector length are not built.
std::int64_t detect_targets() noexcept
{
    const bool sve = (getauxval(AT_HWCAP) & HWCAP_SVE) != 0;
    return fallback_targets | HWY_NEON | (sve ? HWY_SVE : 0);
}
#else
std::int64_t detect_targets() noexcept
{
    return fallback_targets | HWY_STATIC_TARGET;
}
#endif

// The targets RUNEKIT_VECTOR_TARGET allows: the one it names and every
// lesser one; for any other value, none but the fallback.
std::int64_t targets_allowed_by_environment() noexcept
{
    const char *name = std::getenv("RUNEKIT_VECTOR_TARGET");
    if (name == nullptr)
        return ~std::int64_t{0};
    static constexpr struct {
        const char *name;
        std::int64_t target;
    } names[] = {{"avx3_dl", HWY_AVX3_DL}, {"avx3", HWY_AVX3},   {"avx2", HWY_AVX2},
                 {"sse4", HWY_SSE4},       {"ssse3", HWY_SSSE3}, {"sve", HWY_SVE},
                 {"neon", HWY_NEON}};
    for (const auto &entry : names)
        if (strcasecmp(name, entry.name) == 0)
            return ~(entry.target - 1);  // lesser targets have higher bits
    return fallback_targets;
}
}  // namespace

namespace hwy {

HWY_DLLEXPORT int64_t SupportedTargets()
{
    return targets_for_test != 0 ? targets_for_test : detect_targets() & targets_allowed_by_environment();
}

HWY_DLLEXPORT void SetSupportedTargetsForTest(int64_t targets)
{
    targets_for_test = targets;
    GetChosenTarget().DeInit();  // the next dispatch chooses again
}

HWY_DLLEXPORT ChosenTarget &GetChosenTarget()
{
    static ChosenTarget chosen;
    return chosen;
}

HWY_DLLEXPORT HWY_NORETURN void HWY_FORMAT(3, 4) Abort(const char *file, int line, const char *format, ...)
{
    std::fprintf(stderr, "Abort at %s:%d: ", file, line);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::abort();
}

}  // namespace hwy
