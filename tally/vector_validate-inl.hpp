// runetally's vector validation, per target (included by a translation unit
// that compiles itself for every target through foreach_target.h, as
// vector_count.cpp does): the lookup tables whose common bits are the errors
// of UTF-8, and the checks built on them. runetally's rule is UTF-8's
// without the surrogate error: ED A0 80..ED BF BF are legal.
//
// Defined for the targets of runetally's kernel (TALLY_KERNEL_TARGET):
// vectors of 256 bits or more.

// Vectors of 128 bits (SSE4, SSSE3, NEON) decode only four code points at a
// time, and the kernel measured slower than the scalar scan there: with such
// vectors, as without any, everything is left to the scalar scan.
#ifndef RUNEKIT_TALLY_KERNEL_TARGETS
#define RUNEKIT_TALLY_KERNEL_TARGETS
#define TALLY_KERNEL_TARGET                                                                                        \
    (HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128 && HWY_TARGET != HWY_SSSE3 && HWY_TARGET != HWY_SSE4 && \
     HWY_TARGET != HWY_NEON)
#endif

// Highway's per-target include guard: once for each target.
#if defined(RUNEKIT_TALLY_VECTOR_VALIDATE_INL) == defined(HWY_TARGET_TOGGLE)
#ifdef RUNEKIT_TALLY_VECTOR_VALIDATE_INL
#undef RUNEKIT_TALLY_VECTOR_VALIDATE_INL
#else
#define RUNEKIT_TALLY_VECTOR_VALIDATE_INL
#endif

#include <cstddef>
#include <cstdint>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tally_vector {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if TALLY_KERNEL_TARGET

// Error bits of the lookup validation. An error is where the three lookups
// (high nibble of the previous byte, its low nibble, high nibble of this byte)
// share a bit; TWO_CONTS is expected exactly where the byte two or three back
// is a lead that needs this byte as a continuation.
constexpr std::uint8_t too_short = 1 << 0;   // lead, then no continuation byte
constexpr std::uint8_t too_long = 1 << 1;    // ASCII, then a continuation byte
constexpr std::uint8_t overlong_3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t too_large = 1 << 3;   // F4 90.., F5 and above
constexpr std::uint8_t overlong_2 = 1 << 5;  // C0, C1
constexpr std::uint8_t too_large_1000 = 1 << 6;
constexpr std::uint8_t overlong_4 = 1 << 6;  // F0 80..8F
constexpr std::uint8_t two_conts = 1 << 7;
constexpr std::uint8_t carry = too_short | too_long | two_conts;

// Indexed by the high nibble of the previous byte.
alignas(16) constexpr std::uint8_t previous_high[16] = {
    too_long, too_long, too_long, too_long, too_long, too_long, too_long, too_long,  // ASCII
    two_conts, two_conts, two_conts, two_conts,                                      // continuation
    too_short | overlong_2,                                                          // C0..CF
    too_short,                                                                       // D0..DF
    too_short | overlong_3,                                                          // E0..EF
    too_short | too_large | too_large_1000 | overlong_4,                             // F0..FF
};
// Indexed by the low nibble of the previous byte.
alignas(16) constexpr std::uint8_t previous_low[16] = {
    carry | overlong_3 | overlong_2 | overlong_4,  // x0
    carry | overlong_2,                            // x1
    carry,
    carry,
    carry | too_large,  // x4
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,  // xD: no surrogate error
    carry | too_large | too_large_1000,
    carry | too_large | too_large_1000,
};
// Indexed by the high nibble of this byte.
alignas(16) constexpr std::uint8_t current_high[16] = {
    too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,
    too_long | overlong_2 | two_conts | overlong_3 | too_large_1000 | overlong_4,  // 80..8F
    too_long | overlong_2 | two_conts | overlong_3 | too_large,                    // 90..9F
    too_long | overlong_2 | two_conts | too_large,                                 // A0..AF
    too_long | overlong_2 | two_conts | too_large,                                 // B0..BF
    too_short, too_short, too_short, too_short,
};

using D8 = hn::CappedTag<std::uint8_t, 64>;

// The first n lanes (any n) of a vector of bytes. (Highway 1.0.3's FirstN
// compares lane numbers with n as a signed byte on AVX2: n above 127 would
// select no lane.)
template <class D>
HWY_INLINE hn::Mask<D> FirstBytes(D d, std::size_t n)
{
    return hn::FirstN(d, n < hn::Lanes(d) ? n : hn::Lanes(d));
}

// Whether p[0..len) is all ASCII (a vector readable after p + len).
HWY_INLINE bool AllAscii(const unsigned char *p, std::size_t len)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    auto any = hn::Zero(d);
    for (std::size_t i = 0; i < len; i += hn::Lanes(d))
        any = hn::Or(any, hn::IfThenElseZero(FirstBytes(d, len - i), hn::LoadU(d, p + i)));
    return hn::AllFalse(di, hn::Lt(hn::BitCast(di, any), hn::Zero(di)));
}

// The error bits of the bytes `current`, given the three vectors of the
// bytes one, two and three before each; zero where they begin or continue
// legal sequences. Errors: the same for a vector at p.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V ErrorsOf(D d, V previous3, V previous2, V previous1, V current)
{
    const auto special = hn::And(
        hn::And(hn::TableLookupBytes(hn::LoadDup128(d, previous_high), hn::ShiftRight<4>(previous1)),
                hn::TableLookupBytes(hn::LoadDup128(d, previous_low), hn::And(previous1, hn::Set(d, 0x0F)))),
        hn::TableLookupBytes(hn::LoadDup128(d, current_high), hn::ShiftRight<4>(current)));
    // High bit set where the byte two back is E0 or above, or three back F0 or above.
    const auto needs_continuation = hn::And(
        hn::Or(hn::SaturatedSub(previous2, hn::Set(d, 0xE0 - 0x80)), hn::SaturatedSub(previous3, hn::Set(d, 0xF0 - 0x80))),
        hn::Set(d, 0x80));
    return hn::Xor(special, needs_continuation);
}

template <class D>
HWY_INLINE hn::Vec<D> Errors(D d, const unsigned char *p)
{
    return ErrorsOf(d, hn::LoadU(d, p - 3), hn::LoadU(d, p - 2), hn::LoadU(d, p - 1), hn::LoadU(d, p));
}

// Whether the last sequence of p[0..len) ends within it.
HWY_INLINE bool EndsWhole(const unsigned char *p, std::size_t len)
{
    return !(len >= 1 && p[len - 1] >= 0xC0) && !(len >= 2 && p[len - 2] >= 0xE0) && !(len >= 3 && p[len - 3] >= 0xF0);
}

// Whether p[0..len) is whole legal sequences, given three bytes before p that
// are zeros or the end of whole legal sequences, and at least a vector and
// 16 bytes readable after p + len. A sub-block of ASCII is, at once; else
// every vector is checked in full: skipping the vectors of ASCII within it
// measured slower on prose, where whether one is ASCII cannot be predicted.
bool Validate(const unsigned char *p, std::size_t len)
{
    if (AllAscii(p, len))
        return true;
    const D8 d;
    auto error = hn::Zero(d);
    for (std::size_t i = 0; i < len; i += hn::Lanes(d)) {
        auto found = Errors(d, p + i);
        if (i + hn::Lanes(d) > len)  // beyond the sub-block: not its business
            found = hn::IfThenElseZero(hn::FirstN(d, len - i), found);
        error = hn::Or(error, found);
    }
    return hn::AllTrue(d, hn::Eq(error, hn::Zero(d))) && EndsWhole(p, len);
}

#endif  // TALLY_KERNEL_TARGET

}  // namespace HWY_NAMESPACE
}  // namespace tally_vector
HWY_AFTER_NAMESPACE();

#endif  // RUNEKIT_TALLY_VECTOR_VALIDATE_INL
