// runetally's vector kernel (see vector_count.hpp), written once with
// Highway and compiled for every target of the build (foreach_target.h);
// HWY_DYNAMIC_DISPATCH picks the best one the processor has.
//
// A sub-block is worked on in place where the data reaches a vector beyond
// it, else in a copy with zeros around it, so that every load is in bounds.
// It is validated (vector_validate-inl.hpp) and, only if it is whole legal
// sequences, staged (count.hpp): text of nearly all ASCII by pairs of its
// ASCII bytes (CountCompressed), other text by the characters decoded from
// its vectors (CountByVector).
#include "vector_count.hpp"

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "utf8.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector_count.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector_ops-inl.hpp"
#include "vector_validate-inl.hpp"

// State and helpers shared by the targets (compiled once).
#ifndef RUNEKIT_TALLY_VECTOR_SHARED
#define RUNEKIT_TALLY_VECTOR_SHARED
namespace tally_vector {
// Bytes of zeros kept before and after the sub-block: more than one vector
// (at most 64 bytes are loaded at once) plus the three bytes of look-around.
constexpr std::size_t padding = 128;
constexpr std::size_t max_subblock = tally_vector_max_subblock;
constexpr std::size_t sample_bytes = 1024;  // the front of a sub-block that chooses how it is counted

// The sub-block being worked on, at buffer + padding.
alignas(64) unsigned char buffer[padding + max_subblock + padding];
// Code points decoded from the sub-block, with room for one vector beyond;
// those of vectors with no sequence of four bytes as 16-bit numbers, in one
// of two lists: the other may hold those of the sub-block before, still
// being staged (CountByVector).
alignas(64) std::uint32_t points[max_subblock + 64];
alignas(64) std::uint16_t bmp_points[2][max_subblock + 64];
// The ASCII bytes of the sub-block that are counted by pairs, compressed.
alignas(64) std::uint8_t compressed[max_subblock + 64];

// For text of nearly all ASCII: a bit for each byte of the sub-block that
// is a lead (lane order, 8 to a byte), and the four bytes from each lead,
// in order (as a 32-bit number read from memory).
alignas(64) std::uint8_t lead_marks[max_subblock / 8 + 16];
alignas(64) std::uint32_t lead_bytes[max_subblock + 64];

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

// Highway's scalar target, with vectors of one lane, has no kernel (and no
// halves of vectors).
#if HWY_TARGET == HWY_SCALAR
tally_vector_result Scan(const unsigned char *, std::size_t, std::size_t, bool, bool, count_stage *, bool)
{
    return {};
}
#else

// Decoding: per high nibble of a lead byte, the bits it keeps and how far
// the four-byte accumulation is shifted right for a sequence of that length.
alignas(16) constexpr std::uint8_t lead_bits[16] = {
    0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0, 0, 0, 0, 0x1F, 0x1F, 0x0F, 0x07,
};
alignas(16) constexpr std::uint8_t lead_shift[16] = {
    18, 18, 18, 18, 18, 18, 18, 18, 0, 0, 0, 0, 12, 12, 6, 0,
};

// The code points of the sequences that begin with bytes b0 and go on with
// b1, b2, b3 (a byte in each 32-bit lane; the bytes past a sequence's end
// do not count). Worked in 32-bit lanes throughout: on AVX2, wide 0.96 of
// the time of working the bytes first and widening them (AVX3 1.03).
template <class V32>
HWY_INLINE V32 Assemble(V32 b0, V32 b1, V32 b2, V32 b3)
{
    const hn::DFromV<V32> d32;
    const hn::Repartition<std::uint8_t, decltype(d32)> d8;
    const auto table_bits = hn::LoadDup128(d8, lead_bits);
    const auto table_shift = hn::LoadDup128(d8, lead_shift);
    // The lead's high nibble in the low byte of the lane; its other bytes
    // look up zeros.
    const auto high = hn::BitCast(d8, hn::Or(hn::ShiftRight<4>(b0), hn::Set(d32, 0xFFFFFF00u)));
    const auto lead = hn::And(b0, hn::BitCast(d32, hn::TableLookupBytesOr0(table_bits, high)));
    const auto shift = hn::BitCast(d32, hn::TableLookupBytesOr0(table_shift, high));
    const auto six_bits = hn::Set(d32, 0x3F);
    const auto c1 = hn::And(b1, six_bits), c2 = hn::And(b2, six_bits), c3 = hn::And(b3, six_bits);
    const auto all = hn::Or(hn::Or(hn::ShiftLeft<18>(lead), hn::ShiftLeft<12>(c1)), hn::Or(hn::ShiftLeft<6>(c2), c3));
    return hn::Shr(all, shift);
}

// The same for sequences of at most three bytes (code points below
// 0x10000), in 16-bit lanes: half the work a character. No table of lead
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

// Decodes the characters that begin where `starts` says in the vectors v
// (at p, p + 1, p + 2, p + 3): appends their code points at `out`, or as
// 16-bit numbers at `out16` when none is of four bytes, moving that pointer
// past them.
template <class D, class V = hn::Vec<D>>
HWY_INLINE void DecodeStarts(D d, const unsigned char *p, V v0, V v1, V v2, V v3, hn::Mask<D> starts,
                             std::uint32_t *&out, std::uint16_t *&out16)
{
    const std::size_t found = hn::CountTrue(d, starts);
    const hn::Half<D> dh;
    const auto index = StartIndex(d, starts);
    const auto b0 = PickStart(d, p, v0, index), b1 = PickStart(d, p + 1, v1, index);
    const auto b2 = PickStart(d, p + 2, v2, index);
    if (hn::AllFalse(d, hn::And(hn::Gt(v0, hn::Set(d, 0xEF)), starts))) {
        const hn::Rebind<std::uint16_t, decltype(dh)> d16;
        hn::StoreU(AssembleBmp(hn::LowerHalf(dh, b0), hn::LowerHalf(dh, b1), hn::LowerHalf(dh, b2)), d16, out16);
        if (found > hn::Lanes(dh))
            hn::StoreU(AssembleBmp(hn::UpperHalf(dh, b0), hn::UpperHalf(dh, b1), hn::UpperHalf(dh, b2)), d16,
                       out16 + hn::Lanes(dh));
        out16 += found;
        return;
    }
    const auto b3 = PickStart(d, p + 3, v3, index);
    const hn::Half<decltype(dh)> dq;
    const hn::Rebind<std::uint32_t, decltype(dq)> d32;
    const auto quarter = [&](V w, std::size_t q) HWY_ATTR {  // widened to 32 bits
        const auto half = q < 2 ? hn::LowerHalf(dh, w) : hn::UpperHalf(dh, w);
        return hn::PromoteTo(d32, q % 2 == 0 ? hn::LowerHalf(dq, half) : hn::UpperHalf(dq, half));
    };
    for (std::size_t q = 0; q < 4 && found > hn::Lanes(dq) * q; ++q)
        hn::StoreU(Assemble(quarter(b0, q), quarter(b1, q), quarter(b2, q), quarter(b3, q)), d32,
                   out + hn::Lanes(dq) * q);
    out += found;
}

// Decodes p[0..len) (len at most a vector of D8, no character of four
// bytes) at every byte position in 16-bit lanes; appends at `out` the code
// points of the characters whose first bytes `starts` marks (a bit for each
// byte, the first lowest).
HWY_INLINE void DecodeEvery(const unsigned char *p, std::size_t len, std::uint64_t starts, std::uint16_t *&out)
{
    const hn::CappedTag<std::uint16_t, 32> d;
    const hn::Rebind<std::uint8_t, decltype(d)> d8;  // one byte a lane
    for (std::size_t at = 0; at < len; at += hn::Lanes(d)) {
        const auto b0 = hn::LoadU(d8, p + at), b1 = hn::LoadU(d8, p + at + 1), b2 = hn::LoadU(d8, p + at + 2);
        out += CompressBits(d, AssembleBmp(b0, b1, b2), starts >> at, out);
    }
}

// Where characters of four bytes are: copies the four bytes from each
// position of p[0..len) (len at most 64) that `starts` marks to `out`, in
// order, to be assembled later (AssembleLeads); returns how many. The four
// bytes of each of eight positions are looked up from 16 bytes at once, and
// those of the starts compressed (AVX2 wide: 0.85 of the time of decoding
// every position in 32-bit lanes and compressing the code points).
HWY_INLINE std::size_t CopyStarts(const unsigned char *p, std::size_t len, std::uint64_t starts, std::uint32_t *out)
{
    const hn::CappedTag<std::uint32_t, 8> d32;
    const hn::Repartition<std::uint8_t, decltype(d32)> d8;
    alignas(32) static constexpr std::uint8_t windows[32] = {0, 1, 2, 3, 1, 2, 3, 4, 2, 3, 4, 5, 3, 4, 5,  6,
                                                             4, 5, 6, 7, 5, 6, 7, 8, 6, 7, 8, 9, 7, 8, 9, 10};
    std::size_t n = 0;
    for (std::size_t at = 0; at < len; at += hn::Lanes(d32)) {
        const auto bytes = hn::TableLookupBytes(hn::LoadDup128(d8, p + at), hn::Load(d8, windows));
        n += CompressBits(d32, hn::BitCast(d32, bytes), starts >> at, out + n);
    }
    return n;
}

// Where characters begin is gathered (DecodeStarts) where the target picks
// bytes at once (VBMI: AVX3_DL) or from one 128-bit block (one lookup a stream).
// With the portable picking over wider vectors, decoding at every byte
// position (DecodeEvery, CopyStarts) measured faster (AVX2 on Zen 4: cjk 0.94,
// wide 0.85; on Zen 5, 0.54 and 0.59).
constexpr bool kGather = HWY_TARGET == HWY_AVX3_DL || hn::MaxLanes(D8()) <= 16;

// Decodes the n characters whose leads' four bytes are in lead_bytes into
// points, a vector of them at a time (Assemble). With kCheck, returns whether
// each is legal (LeadErrors) and they need `conts` continuation bytes in all.
template <bool kCheck>
HWY_INLINE bool AssembleLeads(std::size_t n, bool strict, std::size_t conts)
{
    const hn::CappedTag<std::int32_t, 16> d;
    const hn::Rebind<std::uint32_t, decltype(d)> du;
    auto errors = hn::Zero(d), needed = hn::Zero(d);
    for (std::size_t k = 0; k < n; k += hn::Lanes(d)) {
        const auto w = hn::BitCast(d, hn::LoadU(du, lead_bytes + k));
        const auto b0 = LaneByte<0>(d, w);
        if constexpr (kCheck) {
            // Lanes past the last lead hold what an earlier sub-block left, and do not count.
            const auto in = hn::FirstN(d, n - k < hn::Lanes(d) ? n - k : hn::Lanes(d));
            errors = hn::Or(errors, hn::IfThenElseZero(in, LeadErrors(d, w, strict)));
            // 1, 2 or 3 continuation bytes (a mask is -1 in every set lane).
            const auto three = hn::VecFromMask(d, hn::Gt(b0, hn::Set(d, 0xDF)));
            const auto four = hn::VecFromMask(d, hn::Gt(b0, hn::Set(d, 0xEF)));
            needed = hn::Add(needed, hn::IfThenElseZero(in, hn::Sub(hn::Sub(hn::Set(d, 1), three), four)));
        }
        const auto byte = [&](auto lane_byte) HWY_ATTR { return hn::BitCast(du, lane_byte); };
        hn::StoreU(Assemble(byte(b0), byte(LaneByte<1>(d, w)), byte(LaneByte<2>(d, w)), byte(LaneByte<3>(d, w))), du,
                   points + k);
    }
    return NoErrors(d, errors) && static_cast<std::size_t>(hn::GetLane(hn::SumOfLanes(d, needed))) == conts;
}

// Stages the first `most` code points of `pending` (at most all), and
// takes them off it.
HWY_INLINE void StagePending(count_stage &stage, std::span<const std::uint16_t> &pending, std::size_t most)
{
    const std::size_t n = pending.size() < most ? pending.size() : most;
    for (std::size_t k = 0; k < n; ++k)
        stage_point(stage, pending[k]);
    pending = pending.subspan(n);
}

// The 16-bit code points of a sub-block are staged a few with each vector of
// the next (AVX2 cjk: 0.955 of the time of staging them at once, AVX3_DL
// 0.966), so that the staging's chains of loads and stores run beside the
// decoding; not on AVX3 (1.06).
constexpr std::size_t kStagedAVector = HWY_TARGET == HWY_AVX3 ? 0 : 8;

// Counts every character of p[0..len) by vectors decoded whole, validating
// it from the same vectors (the conditions of Validate hold); returns how
// many there are, or -1, having staged nothing of it, if p[0..len) is not
// whole legal sequences. Stages `pending` (the 16-bit code points of the
// sub-block before) as it goes, and leaves its own there.
template <bool kGathered>
std::int64_t CountByVector(const unsigned char *p, std::size_t len, bool strict, count_stage &stage,
                           std::span<const std::uint16_t> &pending)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    auto error = Errors(d, p, len < 3 ? len : 3, strict);
    std::uint32_t *out = points;
    std::uint16_t *const bmp = bmp_points[!pending.empty() && pending.data() < bmp_points[1] ? 1 : 0];
    std::uint16_t *out16 = bmp;
    // A local copy of the list, which stays in registers (the counters' byte
    // stores may alias the caller's, which would be read again after each).
    std::span<const std::uint16_t> waiting = pending;
    std::size_t copied = 0;  // the characters of the vectors with one of four bytes, where not gathered
    // One vector; those that reach the end of the sub-block (kTail), with
    // the lanes past it left out.
    const auto step = [&](std::size_t i, auto tail) HWY_ATTR {
        constexpr bool kTail = decltype(tail)::value;
        const auto v0 = hn::LoadU(d, p + i), v1 = hn::LoadU(d, p + i + 1), v2 = hn::LoadU(d, p + i + 2);
        const auto v3 = hn::LoadU(d, p + i + 3);
        // The errors of the bytes from p + i + 3 on; characters begin at the
        // bytes that are not continuation bytes (signed, below -64).
        const auto errors = ErrorsOf(d, v0, v1, v2, v3, kTail ? (len - i > 3 ? len - i - 3 : 0) : hn::Lanes(d), strict);
        error = hn::Or(error, errors);
        const auto start_bytes = hn::RebindMask(d, hn::Gt(hn::BitCast(di, v0), hn::Set(di, -65)));
        const auto starts = kTail ? hn::And(start_bytes, FirstBytes(d, len - i)) : start_bytes;
        const std::size_t here = kTail && len - i < hn::Lanes(d) ? len - i : hn::Lanes(d);
        StagePending(stage, waiting, kStagedAVector);
        if constexpr (kGathered)
            DecodeStarts(d, p + i, v0, v1, v2, v3, starts, out, out16);
        else if (hn::AllFalse(d, hn::Gt(v0, hn::Set(d, 0xEF))))
            DecodeEvery(p + i, here, MaskBits(d, starts), out16);
        else
            copied += CopyStarts(p + i, here, MaskBits(d, starts), lead_bytes + copied);
    };
    std::size_t i = 0;
    for (; i + hn::Lanes(d) + 3 <= len; i += hn::Lanes(d))
        step(i, std::false_type{});
    for (; i < len; i += hn::Lanes(d))
        step(i, std::true_type{});
    StagePending(stage, waiting, waiting.size());
    pending = {};
    if (!NoErrors(d, error) || !EndsWhole(p, len))
        return -1;
    if (!kGathered)
        AssembleLeads<false>(copied, strict, 0), out += copied;
    const auto n = static_cast<std::size_t>(out - points), n16 = static_cast<std::size_t>(out16 - bmp);
    stage_points(stage, points, n);
    if (kStagedAVector == 0)
        stage_points(stage, bmp, n16);
    else
        pending = {bmp, n16};
    return static_cast<std::int64_t>(n + n16);
}

// Text of nearly all ASCII: its most frequent bytes are counted where they
// are found, the other ASCII bytes compressed and counted by pairs (a byte
// counted by pairs costs about as much each time it occurs; one counted
// where it is found costs the same in every vector: it pays for bytes of
// more than about 1 in 32 of the text). Which bytes: the most frequent of a
// sample of the data (chosen once per block), up to eight, one bit each of
// a byte's class (FrequentClasses); 0xFF, which no legal text holds, fills
// the places left and has no bit. (Prose against six bytes each found by a
// comparison and counted in a byte counter: 0.94 of the time on AVX2, 0.92
// on AVX3, 0.89 on AVX3_DL.)
constexpr std::size_t kFrequent = 8;
constexpr std::size_t kSample = 512;

void ChooseFrequent(const unsigned char *p, std::size_t len, unsigned char *frequent)
{
    std::uint16_t seen[128] = {};
    const std::size_t sample = len < kSample ? len : kSample;
    for (std::size_t i = 0; i < sample; ++i)
        if (p[i] < 128)
            ++seen[p[i]];
    for (std::size_t k = 0; k < kFrequent; ++k) {
        std::size_t best = 0;
        for (std::size_t b = 1; b < 128; ++b)
            if (seen[b] > seen[best])
                best = b;
        frequent[k] = seen[best] * 32 > sample ? static_cast<unsigned char>(best) : 0xFF;
        seen[best] = 0;
    }
}

// Copies to lead_bytes the four bytes from each lead that lead_marks marks
// in p[0..len), in order (reading at most 66 bytes past the end); returns how
// many leads there are. For each 64 bytes that hold any, four are copied
// whatever their number, and more only where there are more, so that prose,
// which has a few here and there, runs with few branches it cannot predict.
// (Copied here rather than gathered by their places later: prose 0.96 of
// the time on AVX2 and AVX3_DL, and no gathers, which are slow on some
// processors.)
HWY_INLINE std::size_t FlattenLeads(const unsigned char *p, std::size_t len)
{
    const std::size_t words = (len + 63) / 64;
    std::uint64_t any[max_subblock / 64 / 64 + 1] = {};  // a bit for each word that has a lead
    for (std::size_t a = 0; a * 64 < words; ++a) {
        std::uint64_t summary = 0;  // in a register, not through memory
        for (std::size_t w = a * 64; w < words && w < a * 64 + 64; ++w) {
            std::uint64_t bits;
            std::memcpy(&bits, lead_marks + w * 8, 8);
            summary |= std::uint64_t{bits != 0} << (w % 64);
        }
        any[a] = summary;
    }
    std::size_t n = 0;
    for (std::size_t a = 0; a * 64 < words; ++a)
        for (std::uint64_t summary = any[a]; summary != 0; summary &= summary - 1) {
            const std::size_t at = (a * 64 + static_cast<std::size_t>(std::countr_zero(summary))) * 64;
            std::uint64_t bits;
            std::memcpy(&bits, lead_marks + at / 8, 8);
            if constexpr (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__)
                bits = __builtin_bswap64(bits);
            if (len - at < 64)
                bits &= (std::uint64_t{1} << (len - at)) - 1;
            const auto count = static_cast<std::size_t>(std::popcount(bits));
            std::uint32_t *const out = lead_bytes + n;
            const unsigned char *const from = p + at;
            for (std::size_t k = 0; k < 4; ++k, bits &= bits - 1)  // past the last: 63, not a branch
                std::memcpy(out + k, from + __builtin_ctzll(bits | 1ull << 63), 4);
            for (std::size_t k = 4; bits != 0; ++k, bits &= bits - 1)
                std::memcpy(out + k, from + std::countr_zero(bits), 4);
            n += count;
        }
    return n;
}

// Stages what CountCompressed found: `seen` of each frequent byte, `kept`
// other ASCII bytes in `compressed`, `n` code points in `points`; returns
// how many characters that is.
std::int64_t StageCompressed(count_stage &stage, const unsigned char *frequent, const std::uint64_t *seen,
                             std::size_t kept, std::size_t n)
{
    std::uint64_t characters = kept + n;
    for (std::size_t k = 0; k < kFrequent; ++k)
        if (frequent[k] < 0x80) {
            stage_pairs(stage, frequent[k], static_cast<std::uint32_t>(seen[k]));
            characters += seen[k];
        }
    stage_pairs(stage, compressed, kept);
    stage_points(stage, points, n);
    return static_cast<std::int64_t>(characters);
}

// The tables of FrequentClasses: bit k in the entries of the nibbles of
// frequent[k] (none for 0xFF, which fills the places left).
inline void ClassTables(const unsigned char *frequent, std::uint8_t *low, std::uint8_t *high)
{
    for (std::size_t k = 0; k < kFrequent; ++k)
        if (frequent[k] < 0x80) {
            low[frequent[k] & 0xF] |= static_cast<std::uint8_t>(1u << k);
            high[frequent[k] >> 4] |= static_cast<std::uint8_t>(1u << k);
        }
}

// The classes of `bytes`: bit k of a byte is set where it is frequent[k].
// That is where both its nibbles are those of frequent[k]: the AND of a
// lookup of each (a byte above 0x7F, whose high nibble no frequent byte
// has, gets no bit).
template <class V>
HWY_INLINE V FrequentClasses(V bytes, V table_low, V table_high)
{
    const hn::DFromV<V> d;
    return hn::And(hn::TableLookupBytes(table_low, hn::And(bytes, hn::Set(d, 0x0F))),
                   hn::TableLookupBytes(table_high, hn::ShiftRight<4>(bytes)));
}

// Adds to seen[k] how many times frequent[k] was counted in the levels of
// CompressPass, and clears them.
template <class V>
HWY_INLINE void ReadLevels(std::uint64_t *seen, V &ones, V &twos, V &fours, V &eights, V &b16, V &b32, V &b64,
                           V &b128)
{
    const hn::DFromV<V> d;
    for (std::size_t k = 0; k < kFrequent; ++k) {
        const auto bit = hn::Set(d, static_cast<std::uint8_t>(1u << k));
        const auto n = [&](V level) HWY_ATTR { return hn::CountTrue(d, hn::TestBit(level, bit)); };
        seen[k] += n(ones) + 2 * n(twos) + 4 * n(fours) + 8 * n(eights) + 16 * n(b16) + 32 * n(b32) + 64 * n(b64) +
                   128 * n(b128);
    }
    ones = twos = fours = eights = b16 = b32 = b64 = b128 = hn::Zero(d);
}

// The pass over p[0..len) of nearly all ASCII: counts the frequent bytes
// into seen, compresses the other ASCII bytes into `compressed` and returns
// how many, and marks the leads in lead_marks.
// The frequent bytes are counted bit by bit of their classes in carry-save
// form: bit k of lane j of the vector `ones` is the lowest bit of how many
// times frequent[k] was in lane j, `twos` the next, and so on up to 128 (as
// many as 248 vectors between readings); eight vectors are added at a time
// by a tree of carry-save adders.
std::size_t CompressPass(const unsigned char *p, std::size_t len, const unsigned char *frequent, std::uint64_t *seen)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    using V = hn::Vec<D8>;
    alignas(16) std::uint8_t low[16] = {}, high[16] = {};
    ClassTables(frequent, low, high);
    const auto table_low = hn::LoadDup128(d, low), table_high = hn::LoadDup128(d, high);
    auto ones = hn::Zero(d), twos = ones, fours = ones, eights = ones, b16 = ones, b32 = ones, b64 = ones, b128 = ones;
    std::size_t kept = 0;
    // One vector; the last (kTail) only as far as len. Returns its classes.
    const auto step = [&](std::size_t i, auto tail) HWY_ATTR {
        constexpr bool kTail = decltype(tail)::value;
        const auto bytes = hn::LoadU(d, p + i);
        const auto in = FirstBytes(d, len - i);
        const auto signed_bytes = hn::BitCast(di, bytes);
        const auto other = hn::RebindMask(d, hn::Lt(signed_bytes, hn::Zero(di)));
        const auto cont = hn::RebindMask(d, hn::Lt(signed_bytes, hn::Set(di, -64)));  // 0x80..0xBF
        const auto classes = FrequentClasses(bytes, table_low, table_high);
        const auto dropped = hn::Or(other, hn::Ne(classes, hn::Zero(d)));
        kept += CompressInto(d, bytes, kTail ? hn::AndNot(dropped, in) : hn::Not(dropped), compressed + kept);
        const auto other_in = kTail ? hn::And(other, in) : other;
        hn::StoreMaskBits(d, hn::AndNot(cont, other_in), lead_marks + i / 8);
        return kTail ? hn::IfThenElseZero(in, classes) : classes;
    };
    // Adds `carry` to `level`, leaving in it the carry to the next.
    const auto add = [&](V &level, V &carry) HWY_ATTR {
        const auto next = hn::And(level, carry);
        level = hn::Xor(level, carry);
        carry = next;
    };
    // Adds a and b to `level`; returns the carry to the next.
    const auto add2 = [&](V &level, V a, V b) HWY_ATTR {
        const auto half = hn::Xor(a, b);
        const auto carry = hn::Or(hn::And(a, b), hn::And(half, level));
        level = hn::Xor(half, level);
        return carry;
    };
    const auto settle = [&]() HWY_ATTR { ReadLevels(seen, ones, twos, fours, eights, b16, b32, b64, b128); };
    const std::size_t lanes = hn::Lanes(d);
    std::size_t i = 0;
    for (std::size_t groups = 0; i + 8 * lanes <= len; i += 8 * lanes) {
        const auto s0 = step(i, std::false_type{}), s1 = step(i + lanes, std::false_type{});
        const auto s2 = step(i + 2 * lanes, std::false_type{}), s3 = step(i + 3 * lanes, std::false_type{});
        const auto s4 = step(i + 4 * lanes, std::false_type{}), s5 = step(i + 5 * lanes, std::false_type{});
        const auto s6 = step(i + 6 * lanes, std::false_type{}), s7 = step(i + 7 * lanes, std::false_type{});
        const auto four_a = add2(twos, add2(ones, s0, s1), add2(ones, s2, s3));
        auto carry = add2(fours, four_a, add2(twos, add2(ones, s4, s5), add2(ones, s6, s7)));
        add(eights, carry), add(b16, carry), add(b32, carry), add(b64, carry), add(b128, carry);
        if (++groups % 31 == 0)  // at most 248 in a lane
            settle();
    }
    settle();
    for (; i < len; i += lanes) {  // fewer than eight vectors
        auto carry = i + lanes <= len ? step(i, std::false_type{}) : step(i, std::true_type{});
        add(ones, carry), add(twos, carry), add(fours, carry), add(eights, carry);
    }
    settle();
    return kept;
}

// Counts every character of p[0..len) of nearly all ASCII as above and the
// others by their leads, marked in the same pass and decoded after it
// (FlattenLeads, AssembleLeads), validating it as it goes: every lead is
// checked with the bytes it needs, and the bytes above 0x7F must be exactly
// the leads and the continuation bytes they need.
// Returns how many characters there are, or -1, having staged nothing, if
// p[0..len) is not whole legal sequences.
std::int64_t CountCompressed(const unsigned char *p, std::size_t len, const unsigned char *frequent, bool strict,
                             count_stage &stage)
{
    std::uint64_t seen[kFrequent] = {};
    const std::size_t kept = CompressPass(p, len, frequent, seen);
    // The bytes above 0x7F: every byte is one of them, a frequent byte or kept.
    std::size_t others = len - kept;
    for (std::size_t k = 0; k < kFrequent; ++k)
        others -= seen[k];
    const std::size_t n = FlattenLeads(p, len);
    if (!AssembleLeads<true>(n, strict, others - n) || !EndsWhole(p, len))
        return -1;
    return StageCompressed(stage, frequent, seen, kept, n);
}

// Whether the ASCII of p[0..len) is to be counted by pairs: if the caller
// made room for them (`pairs`), up to one byte in eight of the first 1 KiB
// (at most) not ASCII. The one place that chooses.
HWY_INLINE bool ByPairs(bool pairs, const unsigned char *p, std::size_t len)
{
    if (!pairs)
        return false;
    const D8 d;
    const hn::RebindToSigned<D8> di;
    const std::size_t sample = len < sample_bytes ? len : sample_bytes;
    std::size_t other = 0;
    for (std::size_t i = 0; i < sample; i += hn::Lanes(d)) {
        const auto bytes = hn::BitCast(di, hn::LoadU(d, p + i));
        other += hn::CountTrue(di, hn::And(hn::Lt(bytes, hn::Zero(di)), FirstBytes(di, sample - i)));
    }
    return other * 8 <= sample;
}

// The vector kernel pays with vectors of 128 bits or more; the emulated
// ones leave everything to the scalar scan, and so do vectors of 128 bits
// with text of nearly all ASCII, whose pairs the scalar scan counts faster
// than they are compressed 16 bytes at a time (SSE4, measured).
constexpr bool kKernel = HWY_TARGET != HWY_EMU128;
constexpr bool kCompress = hn::MaxLanes(D8()) >= 32;

// Takes sub-blocks from the front of the data (see vector_count.hpp):
// counted into stage, or with none validated only; with `every_step`, also
// by the steps the target leaves to others (see vector_count.hpp).
tally_vector_result Scan(const unsigned char *data, std::size_t size, std::size_t subblock, bool pairs, bool strict,
                         count_stage *stage, bool every_step)
{
    if (subblock > max_subblock)
        subblock = max_subblock;
    tally_vector_result r;
    unsigned char frequent[kFrequent];
    bool chosen = false;
    std::span<const std::uint16_t> pending;  // see CountByVector
    while ((kKernel || every_step) && r.consumed < size) {
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
        std::int64_t counted = -1;
        if (stage == nullptr)
            counted = Validate(p, len, strict) ? 0 : -1;
        else if (!ByPairs(pairs, p, len))
            counted = kGather || every_step ? CountByVector<true>(p, len, strict, *stage, pending)
                                            : CountByVector<false>(p, len, strict, *stage, pending);
        else if (kCompress || every_step) {
            if (!chosen)
                ChooseFrequent(p, len, frequent);
            chosen = true;
            counted = CountCompressed(p, len, frequent, strict, *stage);
        }
        if (counted < 0)
            break;
        r.characters += counted;
        r.consumed = end;
    }
    if (stage != nullptr)
        StagePending(*stage, pending, pending.size());
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
                                      bool strict, count_stage *stage, bool every_step) noexcept
{
    using namespace tally_vector;
    return HWY_DYNAMIC_DISPATCH(Scan)(data.data(), data.size(), subblock, pairs, strict, stage, every_step);
}
#endif  // HWY_ONCE
