// The operations runetally's kernel needs that Highway 1.0.3 lowers well on
// some targets only, per target (included as vector_validate-inl.hpp is).
// Each has a portable form, written with operations every target lowers
// (TableLookupBytes within 128-bit blocks, a table in static storage: Highway's
// own byte compression keeps its table in a local array, which GCC 12 copies
// onto the stack at every call), and a native one on AVX3_DL (VBMI2's byte
// compression, VBMI's byte permutation) and AVX3 (bytes compressed through
// AVX-512's compression of 32-bit lanes); tally_validate_test holds the two
// to each other.

#ifndef RUNEKIT_TALLY_VECTOR_OPS_SHARED
#define RUNEKIT_TALLY_VECTOR_OPS_SHARED
#include <array>
#include <cstdint>

namespace tally_vector {
// For each mask of 8 lanes, the lanes it selects in order, then the others
// in order: a compress table.
constexpr std::array<std::array<std::uint8_t, 8>, 256> make_compress_lanes() noexcept
{
    std::array<std::array<std::uint8_t, 8>, 256> table{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        int slot = 0;
        for (unsigned pass = 0; pass < 2; ++pass)
            for (unsigned lane = 0; lane < 8; ++lane)
                if (((mask >> lane) & 1) != pass)
                    table[mask][slot++] = static_cast<std::uint8_t>(lane);
    }
    return table;
}
alignas(64) inline constexpr auto compress_lanes = make_compress_lanes();
static_assert(compress_lanes[0x05][0] == 0 && compress_lanes[0x05][1] == 2 && compress_lanes[0x05][2] == 1 &&
              compress_lanes[0x80][0] == 7 && compress_lanes[0x80][7] == 6);

// The same for 16-bit lanes, as the byte indices that move them (lane j:
// bytes 2j and 2j + 1).
constexpr std::array<std::array<std::uint8_t, 16>, 256> make_compress_halves() noexcept
{
    std::array<std::array<std::uint8_t, 16>, 256> table{};
    for (std::size_t mask = 0; mask < 256; ++mask)
        for (std::size_t slot = 0; slot < 8; ++slot) {
            table[mask][2 * slot] = static_cast<std::uint8_t>(2 * compress_lanes[mask][slot]);
            table[mask][2 * slot + 1] = static_cast<std::uint8_t>(2 * compress_lanes[mask][slot] + 1);
        }
    return table;
}
alignas(64) inline constexpr auto compress_halves = make_compress_halves();

}  // namespace tally_vector
#endif  // RUNEKIT_TALLY_VECTOR_OPS_SHARED

// Highway's per-target include guard: once for each target.
#if defined(RUNEKIT_TALLY_VECTOR_OPS_INL) == defined(HWY_TARGET_TOGGLE)
#ifdef RUNEKIT_TALLY_VECTOR_OPS_INL
#undef RUNEKIT_TALLY_VECTOR_OPS_INL
#else
#define RUNEKIT_TALLY_VECTOR_OPS_INL
#endif

#include <cstddef>
#include <cstring>

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace tally_vector {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
#if HWY_TARGET != HWY_SCALAR  // vectors of one lane: no kernel

// Whether the target compresses the bytes of d (whole 512-bit vectors) with
// AVX-512: by VPCOMPRESSB (VBMI2) or, on AVX3, by Highway's four VPCOMPRESSD
// into memory (AVX3 prose 0.88 of the base where the table was 1.06-1.09).
template <class D>
constexpr bool kNative = (HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL) && hn::MaxLanes(D()) == 64 &&
                         sizeof(hn::TFromD<D>) == 1;

// The mask's bits, lane 0 in the lowest (at most 64 lanes).
template <class D>
HWY_INLINE std::uint64_t MaskBits(D d, hn::Mask<D> m)
{
    std::uint8_t bytes[8] = {};
    hn::StoreMaskBits(d, m, bytes);
    std::uint64_t bits = 0;
    if constexpr (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)
        std::memcpy(&bits, bytes, 8);
    else
        for (std::size_t i = 0; i < 8; ++i)
            bits |= std::uint64_t{bytes[i]} << (8 * i);
    return bits;
}

// CompressInto: stores the bytes of v that `keep` selects at out, in order,
// and returns how many; writes up to a vector at out. The portable form
// compresses 8 lanes at a time through the table. CompressBits: the same
// for lanes of any size, given as bits (lane 0 in the lowest), in the
// portable form.
template <class D, typename T = hn::TFromD<D>>
HWY_INLINE std::size_t CompressBits(D d, hn::Vec<D> v, std::uint64_t bits, T *out)
{
    alignas(64) T lanes[hn::MaxLanes(d)];
    hn::Store(v, d, lanes);
    const hn::CappedTag<T, 8> d8;
    const hn::Rebind<std::uint8_t, decltype(d8)> d_index;
    std::size_t n = 0;
    for (std::size_t i = 0; i < hn::Lanes(d); i += hn::Lanes(d8)) {
        const unsigned byte = (bits >> i) & ((1u << hn::Lanes(d8)) - 1);
        const auto index = hn::LoadU(d_index, compress_lanes[byte].data());
        if constexpr (sizeof(T) == 1) {
            hn::StoreU(hn::TableLookupBytes(hn::LoadU(d8, lanes + i), index), d8, out + n);
        } else if constexpr (sizeof(T) == 2) {
            const hn::Repartition<std::uint8_t, decltype(d8)> d_bytes;
            const auto from = hn::LoadU(d_bytes, compress_halves[byte].data());
            hn::StoreU(hn::BitCast(d8, hn::TableLookupBytes(hn::BitCast(d_bytes, hn::LoadU(d8, lanes + i)), from)), d8,
                       out + n);
        } else {
            hn::StoreU(hn::TableLookupLanes(hn::LoadU(d8, lanes + i), hn::IndicesFromVec(d8, hn::PromoteTo(d8, index))),
                       d8, out + n);
        }
        n += static_cast<std::size_t>(hwy::PopCount(byte));
    }
    return n;
}

template <class D, typename T = hn::TFromD<D>>
HWY_INLINE std::size_t CompressPortable(D d, hn::Vec<D> v, hn::Mask<D> keep, T *out)
{
    return CompressBits(d, v, MaskBits(d, keep), out);
}

template <class D, typename T = hn::TFromD<D>>
HWY_INLINE std::size_t CompressInto(D d, hn::Vec<D> v, hn::Mask<D> keep, T *out)
{
#if HWY_TARGET == HWY_AVX3 || HWY_TARGET == HWY_AVX3_DL
    if constexpr (kNative<D>)  // VPCOMPRESSB; four VPCOMPRESSD on AVX3
        return HWY_TARGET == HWY_AVX3 ? hn::CompressStore(v, keep, d, out) : (hn::StoreU(hn::Compress(v, keep), d, out), hn::CountTrue(d, keep));
    else
#endif
        return CompressPortable(d, v, keep, out);
}

// StartIndex: the numbers of the lanes that `starts` selects, in order (lanes
// past them: anything); PickStart: the bytes of v, the vector at p, at the
// lanes an index names. Natively one compression and one byte permutation
// (VPERMB) a vector; in the portable form each 128-bit block of the bytes is
// looked up in turn, lanes whose index is not in it getting all bits set,
// which looks up a zero.
template <class D>
HWY_INLINE hn::Vec<D> StartIndexPortable(D d, hn::Mask<D> starts)
{
    alignas(64) std::uint8_t index_bytes[hn::MaxLanes(d) + 8] = {};
    CompressPortable(d, hn::Iota(d, 0), starts, index_bytes);
    return hn::Load(d, index_bytes);
}

template <class D>
HWY_INLINE hn::Vec<D> PickStartPortable(D d, const unsigned char *p, hn::Vec<D> index)
{
    auto picked = hn::Zero(d);
    for (std::size_t block = 0; block < hn::Lanes(d); block += 16) {
        const auto in_block = hn::Sub(index, hn::Set(d, static_cast<std::uint8_t>(block)));
        const auto from = hn::Or(in_block, hn::VecFromMask(d, hn::Gt(in_block, hn::Set(d, 15))));
        picked = hn::Or(picked, hn::TableLookupBytesOr0(hn::LoadDup128(d, p + block), from));
    }
    return picked;
}

template <class D>
HWY_INLINE hn::Vec<D> StartIndex(D d, hn::Mask<D> starts)
{
#if HWY_TARGET == HWY_AVX3_DL
    if constexpr (kNative<D>)
        return hn::Compress(hn::Iota(d, 0), starts);
    else
#endif
        return StartIndexPortable(d, starts);
}

template <class D>
HWY_INLINE hn::Vec<D> PickStart(D d, const unsigned char *p, hn::Vec<D> v, hn::Vec<D> index)
{
#if HWY_TARGET == HWY_AVX3_DL
    if constexpr (kNative<D>)
        return hn::Vec<D>{_mm512_permutexvar_epi8(index.raw, v.raw)};
    else
#endif
    {
        (void)v;
        return PickStartPortable(d, p, index);
    }
}

#endif  // HWY_TARGET
}  // namespace HWY_NAMESPACE
}  // namespace tally_vector
HWY_AFTER_NAMESPACE();

#endif  // RUNEKIT_TALLY_VECTOR_OPS_INL
