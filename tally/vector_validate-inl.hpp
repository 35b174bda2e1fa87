// runetally's vector validation, per target (included by a translation unit
// that compiles itself for every target through foreach_target.h, as
// vector_count.cpp does): the lookup tables whose common bits are the errors
// of UTF-8, and the one check built on them, held to the scalar rule
// (utf8_sequence_is_legal, decoder.hpp) by tally_validate_test. runetally's
// rule is UTF-8's without the surrogate error (ED A0 80..ED BF BF are legal);
// the strict rule, a second table of the current byte, has it.

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
#if HWY_TARGET != HWY_SCALAR  // vectors of one lane: no kernel

// Error bits of the lookup validation. An error is where the three lookups
// (high nibble of the previous byte, its low nibble, high nibble of this byte)
// share a bit; TWO_CONTS is expected exactly where the byte two or three back
// is a lead that needs this byte as a continuation.
constexpr std::uint8_t too_short = 1 << 0;   // lead, then no continuation byte
constexpr std::uint8_t too_long = 1 << 1;    // ASCII, then a continuation byte
constexpr std::uint8_t overlong_3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t too_large = 1 << 3;   // F4 90.., F5 and above
constexpr std::uint8_t surrogate = 1 << 4;   // ED A0..BF, strict rule only
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
    too_short | overlong_3 | surrogate,                                              // E0..EF
    too_short | too_large | too_large_1000 | overlong_4,                             // F0..FF
};
// Indexed by the low nibble of the previous byte.
constexpr std::uint8_t above_4 = carry | too_large | too_large_1000;  // x5..xF
alignas(16) constexpr std::uint8_t previous_low[16] = {
    carry | overlong_3 | overlong_2 | overlong_4, carry | overlong_2, carry, carry, carry | too_large,  // x0..x4
    above_4, above_4, above_4, above_4, above_4, above_4, above_4, above_4, above_4 | surrogate, above_4, above_4,
};
// Indexed by the high nibble of this byte: runetally's rule, then the strict
// one (A0..BF also the second byte of a surrogate).
constexpr std::uint8_t cont_8 = too_long | overlong_2 | two_conts | overlong_3 | too_large_1000 | overlong_4;
constexpr std::uint8_t cont_9 = too_long | overlong_2 | two_conts | overlong_3 | too_large;
constexpr std::uint8_t cont_ab = too_long | overlong_2 | two_conts | too_large;
alignas(16) constexpr std::uint8_t current_high[2][16] = {
    {too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,  //
     cont_8, cont_9, cont_ab, cont_ab, too_short, too_short, too_short, too_short},
    {too_short, too_short, too_short, too_short, too_short, too_short, too_short, too_short,  //
     cont_8, cont_9, cont_ab | surrogate, cont_ab | surrogate, too_short, too_short, too_short, too_short},
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

// The check: the error bits of the bytes `current`, given the three vectors
// of the bytes one, two and three before each; zero where they begin or
// continue legal sequences. Only the first n lanes count (a sequence cut
// off by the end of the data is EndsWhole's business).
template <class D, class V = hn::Vec<D>>
HWY_INLINE V ErrorsOf(D d, V previous3, V previous2, V previous1, V current, std::size_t n, bool strict)
{
    const auto special = hn::And(
        hn::And(hn::TableLookupBytes(hn::LoadDup128(d, previous_high), hn::ShiftRight<4>(previous1)),
                hn::TableLookupBytes(hn::LoadDup128(d, previous_low), hn::And(previous1, hn::Set(d, 0x0F)))),
        hn::TableLookupBytes(hn::LoadDup128(d, current_high[strict]), hn::ShiftRight<4>(current)));
    // High bit set where the byte two back is E0 or above, or three back F0 or above.
    const auto needs_continuation = hn::And(
        hn::Or(hn::SaturatedSub(previous2, hn::Set(d, 0xE0 - 0x80)), hn::SaturatedSub(previous3, hn::Set(d, 0xF0 - 0x80))),
        hn::Set(d, 0x80));
    const auto errors = hn::Xor(special, needs_continuation);
    return n >= hn::Lanes(d) ? errors : hn::IfThenElseZero(FirstBytes(d, n), errors);
}

// The same for the first n bytes at p (three readable bytes before it).
template <class D>
HWY_INLINE hn::Vec<D> Errors(D d, const unsigned char *p, std::size_t n, bool strict)
{
    return ErrorsOf(d, hn::LoadU(d, p - 3), hn::LoadU(d, p - 2), hn::LoadU(d, p - 1), hn::LoadU(d, p), n, strict);
}

template <class D>
HWY_INLINE bool NoErrors(D d, hn::Vec<D> errors)
{
    return hn::AllTrue(d, hn::Eq(errors, hn::Zero(d)));
}

// Byte k (0 to 3) of memory order of each 32-bit lane of w, as a number.
template <int k, class D, class V = hn::Vec<D>>
HWY_INLINE V LaneByte(D d, V w)
{
    constexpr int kShift = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 24 - 8 * k : 8 * k;
    return hn::And(hn::ShiftRight<kShift>(w), hn::Set(d, 0xFF));
}

// The check of a lead by itself, in 32-bit lanes (signed), each the four
// bytes of memory from a lead (0xC0..0xFF) on: nonzero where the sequence
// it begins is not legal, whatever the bytes after it; that is, where the
// lead is C0, C1 or above F4, a byte it needs is not a continuation byte, or
// the first of them is out of the lead's range (E0, F0, F4, and ED by the
// strict rule). Where every byte above 0x7F is a lead or a continuation byte
// that a lead needs, these are the only errors.
template <class D, class V = hn::Vec<D>>
HWY_INLINE V LeadErrors(D d, V w, bool strict)
{
    constexpr bool kBig = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
    const auto b0 = LaneByte<0>(d, w), b1 = LaneByte<1>(d, w);
    const auto three = hn::Gt(b0, hn::Set(d, 0xDF)), four = hn::Gt(b0, hn::Set(d, 0xEF));
    // The top two bits of each byte the lead needs, and what they must be.
    const auto bits = [&](std::uint32_t little, std::uint32_t big) HWY_ATTR {
        return hn::Set(d, static_cast<std::int32_t>(kBig ? big : little));
    };
    const auto needed = hn::IfThenElse(four, bits(0xC0C0C000u, 0x00C0C0C0u),
                                       hn::IfThenElse(three, bits(0x00C0C000u, 0x00C0C000u), bits(0x0000C000u, 0x00C00000u)));
    const auto not_continuation = hn::Xor(hn::And(w, needed), hn::And(needed, bits(0x80808080u, 0x80808080u)));
    const auto low = hn::IfThenElse(hn::Eq(b0, hn::Set(d, 0xE0)), hn::Set(d, 0xA0),
                                    hn::IfThenElse(hn::Eq(b0, hn::Set(d, 0xF0)), hn::Set(d, 0x90), hn::Set(d, 0x80)));
    const auto high = hn::IfThenElse(hn::Eq(b0, hn::Set(d, 0xF4)), hn::Set(d, 0x8F),
                                     hn::IfThenElse(hn::Eq(b0, hn::Set(d, 0xED)), hn::Set(d, strict ? 0x9F : 0xBF),
                                                    hn::Set(d, 0xBF)));
    const auto wrong = hn::Or(hn::Or(hn::Lt(b0, hn::Set(d, 0xC2)), hn::Gt(b0, hn::Set(d, 0xF4))),
                              hn::Or(hn::Lt(b1, low), hn::Gt(b1, high)));
    return hn::Or(not_continuation, hn::VecFromMask(d, wrong));
}

// Whether the last sequence of p[0..len) ends within it.
HWY_INLINE bool EndsWhole(const unsigned char *p, std::size_t len)
{
    return !(len >= 1 && p[len - 1] >= 0xC0) && !(len >= 2 && p[len - 2] >= 0xE0) && !(len >= 3 && p[len - 3] >= 0xF0);
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

// Whether p[0..len) is whole legal sequences, given three bytes before p that
// are zeros or the end of whole legal sequences, and at least a vector
// readable after p + len. A sub-block of ASCII is, at once; else every
// vector is checked in full: skipping the vectors of ASCII within it
// measured slower on prose, where whether one is ASCII cannot be predicted.
HWY_INLINE bool Validate(const unsigned char *p, std::size_t len, bool strict)
{
    if (AllAscii(p, len))
        return true;
    const D8 d;
    auto error = hn::Zero(d);
    for (std::size_t i = 0; i < len; i += hn::Lanes(d))
        error = hn::Or(error, Errors(d, p + i, len - i, strict));
    return NoErrors(d, error) && EndsWhole(p, len);
}

#endif  // HWY_TARGET
}  // namespace HWY_NAMESPACE
}  // namespace tally_vector
HWY_AFTER_NAMESPACE();

#endif  // RUNEKIT_TALLY_VECTOR_VALIDATE_INL
