// runetally's vector kernel (see vector_count.hpp), written once with
// Highway and compiled for every target of the build (foreach_target.h);
// HWY_DYNAMIC_DISPATCH picks the best one the processor has.
//
// A sub-block is worked on in place where the data reaches a vector beyond
// it; at the start and the end of the data it is copied into a buffer with
// zeros before and after it, so that every vector load is in bounds. Then:
//  1. validation (vector_validate-inl.hpp), on its own or from the vectors
//     the sub-block is decoded from;
//  2. only if the whole sub-block is valid, counting, by 16-byte units: the
//     bytes of a unit of ASCII go to the staged ASCII counters; any other
//     unit is decoded at every byte position, the code points at
//     non-continuation bytes are compressed into a list, and the list is
//     staged (count.hpp). Where the processor compresses bytes (VBMI2),
//     text of nearly all ASCII has its ASCII bytes compressed and counted by
//     pairs, and other text is decoded by whole vectors.
#include "vector_count.hpp"

#include <array>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "utf8.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector_count.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector_validate-inl.hpp"

// State and helpers shared by the targets (compiled once).
#ifndef RUNEKIT_TALLY_VECTOR_SHARED
#define RUNEKIT_TALLY_VECTOR_SHARED
namespace tally_vector {
// Bytes of zeros kept before and after the sub-block: more than one vector
// (at most 64 bytes are loaded at once) plus the three bytes of look-around.
constexpr std::size_t padding = 128;
constexpr std::size_t max_subblock = tally_vector_max_subblock;

// The sub-block being worked on, at buffer + padding.
alignas(64) unsigned char buffer[padding + max_subblock + padding];
// Code points decoded from the sub-block, with room for one vector beyond.
alignas(64) std::uint32_t points[max_subblock + 64];
// Those below 0x10000 decoded from vectors with no sequence of four bytes
// (VBMI2 kernel), as 16-bit numbers.
alignas(64) std::uint16_t bmp_points[max_subblock + 64];
// The ASCII bytes of the sub-block that are counted by pairs, compressed
// (VBMI2 kernel), with room for one vector beyond.
alignas(64) unsigned char compressed[max_subblock + 64];
// For each mask of 8 lanes, the lanes it selects in order, then the others
// in order, as eight nibbles (lane 0 in the lowest): a compress table.
constexpr std::array<std::uint32_t, 256> make_compress_nibbles() noexcept
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t mask = 0; mask < 256; ++mask) {
        std::uint32_t packed = 0;
        int slot = 0;
        for (int pass = 0; pass < 2; ++pass)
            for (std::uint32_t lane = 0; lane < 8; ++lane)
                if (((mask >> lane) & 1) == (pass == 0 ? 1u : 0u))
                    packed |= lane << (4 * slot++);
        table[mask] = packed;
    }
    return table;
}
alignas(64) constexpr std::array<std::uint32_t, 256> compress_nibbles = make_compress_nibbles();
static_assert(compress_nibbles[0] == 0x76543210 && compress_nibbles[0x80] == 0x65432107 &&
              compress_nibbles[0x05] == 0x76543120);

// End of the sub-block that starts at pos: at most `subblock` bytes on, moved
// back to a character boundary. Inside the data that is a byte that is not a
// continuation byte (at most three steps back; further back the input is
// ill-formed there, and validation will say so). At the end of the data, a
// last sequence that the data holds only in part is left out.
std::size_t subblock_end(const unsigned char *data, std::size_t size, std::size_t pos, std::size_t subblock) noexcept
{
    if (size - pos > subblock) {
        std::size_t end = pos + subblock;
        for (int step = 0; step < 3 && end > pos && is_continuation(data[end]); ++step)
            --end;
        return end;
    }
    for (std::size_t back = 1; back <= 3 && back <= size - pos; ++back) {
        const unsigned char b = data[size - back];
        if (is_continuation(b))
            continue;
        if (static_cast<std::size_t>(utf8_extra_bytes[b]) >= back)
            return size - back;  // its sequence needs more bytes than are left
        break;
    }
    return size;
}
}  // namespace tally_vector
#endif  // RUNEKIT_TALLY_VECTOR_SHARED

HWY_BEFORE_NAMESPACE();
namespace tally_vector {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Targets with vectors of 128 bits or none leave everything to the scalar
// scan (vector_validate-inl.hpp says why).
#if !TALLY_KERNEL_TARGET

tally_vector_result Scan(const unsigned char *, std::size_t, std::size_t, bool, count_stage &)
{
    return {};
}

#else

// Decoding: per high nibble of a byte, the bits its lead byte keeps (0x80
// marks a continuation byte, which is not a character) and how far the
// four-byte accumulation is shifted right for a sequence of that length.
alignas(16) constexpr std::uint8_t lead_bits[16] = {
    0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x80, 0x80, 0x80, 0x80, 0x1F, 0x1F, 0x0F, 0x07,
};
alignas(16) constexpr std::uint8_t lead_shift[16] = {
    18, 18, 18, 18, 18, 18, 18, 18, 0, 0, 0, 0, 12, 12, 6, 0,
};

using D32 = hn::CappedTag<std::uint32_t, 16>;

#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
// A native instruction (VPCOMPRESSD).
HWY_INLINE hn::Vec<D32> CompressPoints(D32, hn::Vec<D32> v, hn::Mask<D32> keep)
{
    return hn::Compress(v, keep);
}
#else
// Compress with at most 8 lanes, through a table that lives in static
// storage: Highway 1.0.3's own table for AVX2 is a local constant array
// that GCC 12 copies onto the stack (1 KiB) at every call, which made the
// AVX2 kernel slower than the scalar code.
HWY_INLINE hn::Vec<D32> CompressPoints(D32 d, hn::Vec<D32> v, hn::Mask<D32> keep)
{
    static_assert(hn::MaxLanes(D32()) <= 8, "one byte of mask bits");
    std::uint8_t bits[8] = {};
    hn::StoreMaskBits(d, keep, bits);
    alignas(32) static constexpr std::uint32_t nibble_shifts[8] = {0, 4, 8, 12, 16, 20, 24, 28};
    const auto packed = hn::Set(d, compress_nibbles[bits[0]]);
    const auto indices = hn::And(hn::Shr(packed, hn::Load(d, nibble_shifts)), hn::Set(d, 7));
    return hn::TableLookupLanes(v, hn::IndicesFromVec(d, indices));
}
#endif

// How many of the first 1 KiB of p[0..len) (at most) are not ASCII: a
// sample, enough to choose how to count the sub-block.
HWY_INLINE std::size_t NonAsciiSample(const unsigned char *p, std::size_t len)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    const std::size_t sample = len < 1024 ? len : 1024;
    std::size_t found = 0;
    for (std::size_t i = 0; i < sample; i += hn::Lanes(d)) {
        const auto bytes = hn::BitCast(di, hn::LoadU(d, p + i));
        found += hn::CountTrue(di, hn::And(hn::Lt(bytes, hn::Zero(di)), FirstBytes(di, sample - i)));
    }
    return found;
}

// The code point of the sequence that begins with byte b0 and goes on with
// b1, b2, b3 (one byte per 32-bit lane; the bytes past its end do not
// count), and in `lead` the bits b0 keeps as a lead byte (0x80 for a
// continuation byte, which begins no character).
template <class V8>
HWY_INLINE hn::Vec<D32> Assemble(V8 b0, V8 b1, V8 b2, V8 b3, hn::Vec<D32> &lead)
{
    const D32 d32;
    const auto table_bits = hn::LoadDup128(hn::Full128<std::uint8_t>(), lead_bits);
    const auto table_shift = hn::LoadDup128(hn::Full128<std::uint8_t>(), lead_shift);
    const auto six_bits = hn::Set(hn::DFromV<V8>(), 0x3F);
    const auto high = hn::ShiftRight<4>(b0);
    lead = hn::PromoteTo(d32, hn::And(b0, hn::TableLookupBytes(table_bits, high)));
    const auto shift = hn::PromoteTo(d32, hn::TableLookupBytes(table_shift, high));
    const auto c1 = hn::PromoteTo(d32, hn::And(b1, six_bits));
    const auto c2 = hn::PromoteTo(d32, hn::And(b2, six_bits));
    const auto c3 = hn::PromoteTo(d32, hn::And(b3, six_bits));
    const auto all = hn::Or(hn::Or(hn::ShiftLeft<18>(lead), hn::ShiftLeft<12>(c1)), hn::Or(hn::ShiftLeft<6>(c2), c3));
    return hn::Shr(all, shift);
}

// Decodes the bytes of p[0..len) (len at most 16, at least 32 readable bytes
// after p) and stores the code points of those that begin a character at
// `points`; returns how many it stored. Only characters of more than one
// byte with kMultibyteOnly.
template <bool kMultibyteOnly>
HWY_INLINE std::size_t DecodeUnit(const unsigned char *p, std::size_t len, std::uint32_t *points)
{
    const D32 d32;
    const hn::Rebind<std::uint8_t, D32> d8;  // one byte per 32-bit lane
    const hn::RebindToSigned<D32> di32;
    std::size_t found = 0;
    for (std::size_t at = 0; at < len; at += hn::Lanes(d32)) {
        const auto b0 = hn::LoadU(d8, p + at);
        hn::Vec<D32> lead;
        const auto all = Assemble(b0, hn::LoadU(d8, p + at + 1), hn::LoadU(d8, p + at + 2), hn::LoadU(d8, p + at + 3), lead);
        // Characters start at bytes that are not continuation bytes (the
        // kept lead bits are below 0x80), within the unit.
        auto start = hn::And(hn::Lt(hn::BitCast(di32, lead), hn::Set(di32, 0x80)),
                             hn::RebindMask(di32, hn::FirstN(d32, len - at)));
        if constexpr (kMultibyteOnly)
            start = hn::And(start, hn::Gt(hn::BitCast(di32, hn::PromoteTo(d32, b0)), hn::Set(di32, 0xBF)));
        const auto starts = hn::RebindMask(d32, start);
        hn::StoreU(CompressPoints(d32, all, starts), d32, points + found);
        found += hn::CountTrue(d32, starts);
    }
    return found;
}

// Stages the characters of p[0..len), which Validate accepted (at least 32
// readable bytes follow it), by 16-byte units: a unit of ASCII by pairs if
// `pairs`, any other decoded; returns how many there are.
std::int64_t CountByUnit(const unsigned char *p, std::size_t len, bool pairs, count_stage &stage)
{
    std::size_t found = 0;
    std::int64_t ascii = 0;
    for (std::size_t unit = 0; unit < len; unit += 16) {
        std::uint64_t w0, w1;
        std::memcpy(&w0, p + unit, 8);
        std::memcpy(&w1, p + unit + 8, 8);
        if (pairs && unit + 16 <= len && ((w0 | w1) & 0x8080808080808080u) == 0) {
            stage_ascii8(stage, w0);
            stage_ascii8(stage, w1);
            ascii += 16;
        } else {
            found += DecodeUnit<false>(p + unit, len - unit < 16 ? len - unit : 16, points + found);
        }
    }
    stage_points(stage, points, found);
    return ascii + static_cast<std::int64_t>(found);
}

#if HWY_TARGET == HWY_AVX3_DL
// The same with the byte compression of VBMI2, by vectors, and validating
// p[0..len) as it goes: the three most frequent bytes of text in Latin script
// (space, e, t) are counted by comparison, the bytes that are not ASCII are
// dropped, and the rest, compressed, goes to the pair counters. The 16-byte units holding bytes that are not
// ASCII are marked in a bitmap, then validated (with the three bytes after
// them, the only others where an error can show) and decoded as above.
// Returns -1, having staged nothing, if p[0..len) is not whole legal
// sequences (the conditions of Validate hold).
std::int64_t CountCompressed(const unsigned char *p, std::size_t len, count_stage &stage)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    const hn::Repartition<std::uint64_t, D8> d64;
    static_assert(hn::MaxLanes(D8()) == 64, "four units a vector");
    constexpr unsigned char frequent[3] = {' ', 'e', 't'};
    const auto frequent0 = hn::Set(d, frequent[0]), frequent1 = hn::Set(d, frequent[1]);
    const auto frequent2 = hn::Set(d, frequent[2]);
    std::uint64_t seen[3] = {}, kept = 0;
    std::uint64_t mixed[max_subblock / 1024 + 1] = {};  // a bit for each unit
    // One vector; the last (kTail) only as far as len.
    const auto step = [&](std::size_t i, auto tail) HWY_ATTR {
        constexpr bool kTail = decltype(tail)::value;
        const auto bytes = hn::LoadU(d, p + i);
        const auto in = FirstBytes(d, len - i);
        const auto within = [&](hn::Mask<D8> m) HWY_ATTR { return kTail ? hn::And(m, in) : m; };
        const auto other = within(hn::RebindMask(d, hn::Lt(hn::BitCast(di, bytes), hn::Zero(di))));
        const auto is0 = within(hn::Eq(bytes, frequent0)), is1 = within(hn::Eq(bytes, frequent1));
        const auto is2 = within(hn::Eq(bytes, frequent2));
        seen[0] += hn::CountTrue(d, is0);
        seen[1] += hn::CountTrue(d, is1);
        seen[2] += hn::CountTrue(d, is2);
        const auto dropped = hn::Or(hn::Or(is0, is1), hn::Or(is2, other));
        const auto keep = kTail ? hn::AndNot(dropped, in) : hn::Not(dropped);
        hn::StoreU(hn::Compress(bytes, keep), d, compressed + kept);
        kept += hn::CountTrue(d, keep);
        // Which of the vector's eight words, then which of its four units,
        // hold such bytes.
        std::uint8_t words = 0;
        hn::StoreMaskBits(d64, hn::Ne(hn::BitCast(d64, hn::VecFromMask(d, other)), hn::Zero(d64)), &words);
        mixed[i / 1024] |= std::uint64_t{_pext_u32(words | words >> 1, 0x55)} << (i / 16 % 64);
    };
    std::size_t i = 0;
    for (; i + 64 <= len; i += 64)
        step(i, std::false_type{});
    if (i < len)
        step(i, std::true_type{});
    const hn::CappedTag<std::uint8_t, 32> d_unit;
    auto error = hn::Zero(d_unit);
    std::size_t found = 0;
    for (std::size_t word = 0; word * 1024 < len; ++word)
        for (std::uint64_t bits = mixed[word]; bits != 0; bits &= bits - 1) {
            const std::size_t unit = word * 1024 + 16 * static_cast<std::size_t>(__builtin_ctzll(bits));
            const std::size_t left = len - unit;
            error = hn::Or(error, hn::IfThenElseZero(FirstBytes(d_unit, left < 19 ? left : 19), Errors(d_unit, p + unit)));
            found += DecodeUnit<true>(p + unit, left < 16 ? left : 16, points + found);
        }
    if (!hn::AllTrue(d_unit, hn::Eq(error, hn::Zero(d_unit))) || !EndsWhole(p, len))
        return -1;
    for (int k = 0; k < 3; ++k)
        count_char(*stage.table, frequent[k], static_cast<std::int64_t>(seen[k]));
    stage_ascii_bytes(stage, compressed, kept);
    stage_points(stage, points, found);
    return static_cast<std::int64_t>(seen[0] + seen[1] + seen[2] + kept + found);
}

// The same for up to 32 sequences of at most three bytes (code points below
// 0x10000), in 16-bit lanes: half the work a character, for most text that
// is not mostly ASCII (CJK, Cyrillic, Greek and the like). No table of lead
// bits: a lead byte of three bytes shifted left by 12 keeps only its own
// bits in 16, and one of two bytes (110xxxxx) shifted by 6 has its 110
// taken out by an exclusive or.
template <class V8>
HWY_INLINE auto AssembleBmp(V8 b0, V8 b1, V8 b2)
{
    const hn::DFromV<V8> d8;
    const hn::Rebind<std::uint16_t, decltype(d8)> d16;
    const auto six_bits = hn::Set(d8, 0x3F);
    const auto first = hn::PromoteTo(d16, b0);
    const auto high = hn::Or(hn::ShiftLeft<6>(first), hn::PromoteTo(d16, hn::And(b1, six_bits)));
    const auto three = hn::Or(hn::ShiftLeft<6>(high), hn::PromoteTo(d16, hn::And(b2, six_bits)));
    const auto two = hn::Xor(high, hn::Set(d16, 0xC0 << 6));
    return hn::IfThenElse(hn::Gt(first, hn::Set(d16, 0xDF)), three,
                          hn::IfThenElse(hn::Lt(first, hn::Set(d16, 0x80)), first, two));
}

// Decodes the characters that begin in p[0..len) (len at most 64, a vector
// and 16 bytes readable after p + len) by vector: the bytes that begin a
// character and the three after each are gathered side by side, so that
// only characters are decoded, not every byte position. Appends their code
// points at `out`, or as 16-bit numbers at `out16` when the vector holds no
// sequence of four bytes, moving that pointer past them. Adds to `error`
// the error bits of the bytes from p + 3 to p + len, from the same four
// vectors.
HWY_INLINE void DecodeVector(const unsigned char *p, std::size_t len, std::uint32_t *&out, std::uint16_t *&out16,
                             hn::Vec<D8> &error)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    const D32 d32;
    const hn::Vec<D8> v[4] = {hn::LoadU(d, p), hn::LoadU(d, p + 1), hn::LoadU(d, p + 2), hn::LoadU(d, p + 3)};
    // Continuation bytes (80..BF) are the signed bytes below -64.
    const auto starts = hn::And(hn::RebindMask(d, hn::Gt(hn::BitCast(di, v[0]), hn::Set(di, -65))), FirstBytes(d, len));
    auto errors = ErrorsOf(d, v[0], v[1], v[2], v[3]);
    if (len < hn::Lanes(d) + 3)
        errors = hn::IfThenElseZero(FirstBytes(d, len > 3 ? len - 3 : 0), errors);
    error = hn::Or(error, errors);
    const std::size_t found = hn::CountTrue(d, starts);
    // Where characters begin, compressed once; each vector's bytes there are
    // then picked by a permutation (VPERMB: one operation, where VPCOMPRESSB
    // takes two).
    const auto index = hn::Compress(hn::Iota(d, 0), starts).raw;
    const auto pick = [&](int k) HWY_ATTR { return hn::Vec<D8>{_mm512_permutexvar_epi8(index, v[k].raw)}; };
    const hn::Half<D8> d_half;
    if (hn::AllFalse(d, hn::And(hn::Gt(v[0], hn::Set(d, 0xEF)), FirstBytes(d, len)))) {
        // No sequence of four bytes: 32 characters a half, kept in 16 bits.
        const hn::Rebind<std::uint16_t, decltype(d_half)> d16;
        const auto b0 = pick(0), b1 = pick(1), b2 = pick(2);
        hn::StoreU(AssembleBmp(hn::LowerHalf(d_half, b0), hn::LowerHalf(d_half, b1), hn::LowerHalf(d_half, b2)), d16,
                   out16);
        if (found > 32)
            hn::StoreU(AssembleBmp(hn::UpperHalf(d_half, b0), hn::UpperHalf(d_half, b1), hn::UpperHalf(d_half, b2)),
                       d16, out16 + 32);
        out16 += found;
        return;
    }
    const hn::Vec<D8> b[4] = {pick(0), pick(1), pick(2), pick(3)};
    const hn::Half<decltype(d_half)> d_quarter;
    const auto quarter = [&](hn::Vec<D8> w, int q) HWY_ATTR {
        const auto half = q < 2 ? hn::LowerHalf(d_half, w) : hn::UpperHalf(d_half, w);
        return q % 2 == 0 ? hn::LowerHalf(d_quarter, half) : hn::UpperHalf(d_quarter, half);
    };
    for (int q = 0; q < 4 && found > 16 * static_cast<std::size_t>(q); ++q) {
        hn::Vec<D32> lead;
        hn::StoreU(Assemble(quarter(b[0], q), quarter(b[1], q), quarter(b[2], q), quarter(b[3], q), lead), d32,
                   out + 16 * q);
    }
    out += found;
}


// Counts every character of p[0..len) by vectors of 64 bytes decoded whole,
// validating it as it goes (the conditions of Validate hold); returns how
// many there are, or -1, having staged nothing, if p[0..len) is not whole
// legal sequences. The characters are staged in one list, once the whole
// sub-block is known to be valid.
std::int64_t CountByVector(const unsigned char *p, std::size_t len, count_stage &stage)
{
    const D8 d;
    auto error = hn::IfThenElseZero(FirstBytes(d, len < 3 ? len : 3), Errors(d, p));
    std::uint32_t *out = points;
    std::uint16_t *out16 = bmp_points;
    for (std::size_t i = 0; i < len; i += 64)
        DecodeVector(p + i, len - i, out, out16, error);
    if (!hn::AllTrue(d, hn::Eq(error, hn::Zero(d))) || !EndsWhole(p, len))
        return -1;
    const auto n = static_cast<std::size_t>(out - points), n16 = static_cast<std::size_t>(out16 - bmp_points);
    stage_points(stage, points, n);
    stage_bmp_points(stage, bmp_points, n16);
    return static_cast<std::int64_t>(n + n16);
}
#endif

tally_vector_result Scan(const unsigned char *data, std::size_t size, std::size_t subblock, bool pairs,
                         count_stage &stage)
{
    if (subblock > max_subblock)
        subblock = max_subblock;
    tally_vector_result r;
    while (r.consumed < size) {
        const std::size_t end = subblock_end(data, size, r.consumed, subblock);
        if (end <= r.consumed)
            break;
        const std::size_t len = end - r.consumed;
        // In place where the data reaches far enough on both sides (the bytes
        // before are the end of a sub-block found valid, so they look like
        // the zeros of the copy to the validation); else a padded copy.
        const unsigned char *p = data + r.consumed;
        if (r.consumed < 3 || size - end < padding) {
            unsigned char *const copy = buffer + padding;
            std::memcpy(copy, p, len);
            std::memset(copy + len, 0, padding);
            p = copy;
        }
#if HWY_TARGET == HWY_AVX3_DL
        // Up to one byte in eight not ASCII, counting by pairs is worth the zeros.
        const bool ascii_first = pairs && NonAsciiSample(p, len) * 8 <= (len < 1024 ? len : 1024);
        const std::int64_t counted = ascii_first ? CountCompressed(p, len, stage) : CountByVector(p, len, stage);
#else
        const std::int64_t counted = Validate(p, len) ? CountByUnit(p, len, pairs, stage) : -1;
#endif
        if (counted < 0)
            break;
        r.characters += counted;
        r.consumed = end;
    }
    return r;
}

#endif  // HWY_TARGET

}  // namespace HWY_NAMESPACE
}  // namespace tally_vector
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tally_vector {
HWY_EXPORT(Scan);
}  // namespace tally_vector

tally_vector_result tally_vector_scan(std::span<const unsigned char> data, std::size_t subblock, bool pairs,
                                      count_stage &stage) noexcept
{
    using namespace tally_vector;
    return HWY_DYNAMIC_DISPATCH(Scan)(data.data(), data.size(), subblock, pairs, stage);
}
#endif  // HWY_ONCE
