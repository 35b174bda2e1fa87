// runeflip's vector kernel (see vector_reverse.hpp), written once with
// Highway and compiled for every target of the build (foreach_target.h);
// HWY_DYNAMIC_DISPATCH picks the best one the processor has.
//
// Reversing a line by characters is reversing it by bytes once each
// character has been turned around in place. With fwd(j) the continuation
// bytes of j's character up to and including j and back(j) those after j,
// g[j] = line[j + back(j) - fwd(j)] turns every character around, and the
// byte reversal of g is the result. back - fwd lies between -3 and 3, so g
// is a lane-by-lane choice among seven loads of the line, shifted by -3..3.
// The same loads tell whether the line is in the kernel's domain
// (OutOfDomain) and, by clusters, whether a character may join (MayJoin).
//
// Whole lines are taken from the reader's block as they are (the kernel
// finds their newlines itself), so that a line costs no call of its own; the
// first line that is not taken is left to the reader and reverse_line.
#include "vector_reverse.hpp"

#include <algorithm>
#include <cstdint>

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector_reverse.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace flip_vector {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

#if HWY_TARGET == HWY_SCALAR || HWY_TARGET == HWY_EMU128
// No vector instructions: every line goes to reverse_line.
bool Reverse(const unsigned char *, std::size_t, unsigned char *, const joining_table *) { return false; }
std::size_t ReverseLines(const unsigned char *, std::size_t, unsigned char *, std::size_t, std::uint64_t *,
                         const joining_table *) { return 0; }
#else

using D8 = hn::CappedTag<std::uint8_t, 64>;
using V8 = hn::Vec<D8>;

// Indexes that reverse the bytes within each 16-byte block.
alignas(16) constexpr std::uint8_t reverse_in_block[16] = {15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};

// The vector of line[first .. first + lanes), with every lane outside
// line[0 .. n) cleared when `edge` (the vector may then reach outside).
HWY_INLINE V8 LoadLine(D8 d, const unsigned char *line, std::size_t n, std::ptrdiff_t first, bool edge)
{
    const V8 v = hn::LoadU(d, line + first);
    if (!edge)
        return v;
    const auto lanes = static_cast<std::ptrdiff_t>(hn::Lanes(d));
    const std::ptrdiff_t below = first < 0 ? (-first < lanes ? -first : lanes) : 0;
    std::ptrdiff_t upto = static_cast<std::ptrdiff_t>(n) - first;
    upto = std::clamp(upto, std::ptrdiff_t{0}, lanes);
    const auto inside = hn::AndNot(hn::FirstN(d, static_cast<std::size_t>(below)), hn::FirstN(d, static_cast<std::size_t>(upto)));
    return hn::IfThenElseZero(inside, v);
}

// The byte reversal of each 16-byte block of v, the blocks in reverse order.
HWY_INLINE V8 ReverseBytes(D8 d, V8 v)
{
    return hn::ReverseBlocks(d, hn::TableLookupBytes(v, hn::LoadDup128(d, reverse_in_block)));
}

// The bytes around a line change nothing when the byte after it is no
// continuation byte (nothing after it can then be taken for part of its last
// character) and the three before it announce nothing that reaches into it:
// then the loads need no clearing (lanes before the line start are still
// ignored). Lines from the reader, with a newline on either side, are so.
HWY_INLINE bool QuietAround(const unsigned char *line, std::size_t n)
{
    return !is_continuation(line[n]) && line[-1] < 0xC0 && line[-2] < 0xE0 && line[-3] < 0xF0;
}

// joining.groups[16 * row + column] in every lane. With byte permutes over
// tables of 128 (AVX3_DL), the whole table at once; in the portable form,
// the row's byte (joining.rows), and for each row whose groups differ, its
// sixteen groups.
HWY_INLINE V8 LookupGroups(D8 d, const joining_table &joining, V8 row, V8 column)
{
#if HWY_TARGET == HWY_AVX3_DL
    const auto part = [&](int k) { return hn::LoadU(d, joining.groups.data() + 64 * k).raw; };
    if (const __m512i i = hn::Or(hn::ShiftLeft<4>(row), column).raw; !joining.portable)  // the high bit picks a half
        return V8{_mm512_mask_blend_epi8(_mm512_movepi8_mask(i), _mm512_permutex2var_epi8(part(0), i, part(1)), _mm512_permutex2var_epi8(part(2), i, part(3)))};
#endif
    V8 found = hn::TableLookupBytes(hn::LoadDup128(d, joining.rows.data()), row);
    for (std::size_t i = 0; i < joining.mixed_rows; ++i) {
        const std::uint8_t r = joining.mixed[i];
        const V8 groups = hn::TableLookupBytes(hn::LoadDup128(d, joining.groups.data() + 16 * r), column);
        found = hn::IfThenElse(hn::Eq(row, hn::Set(d, r)), groups, found);
    }
    return found;
}

// High bit set in every lane that begins a character the kernel cannot
// tell to be a grapheme cluster of its own: a lead of four bytes, or one of
// two or three whose code point's group is set in `joining` (a lead of two
// bytes read as standing where the first continuation byte of a lead of
// three stands, behind a lead whose low four bits are 0: code points below
// U+0800 lie in row 0).
HWY_INLINE V8 MayJoin(D8 d, V8 here, V8 after1, V8 after2, const joining_table &joining)
{
    const hn::RebindToSigned<D8> di;
    const auto lead = hn::RebindMask(d, hn::Lt(hn::BitCast(di, hn::And(here, hn::Add(here, here))), hn::Zero(di)));
    const auto three = hn::Eq(hn::And(here, hn::Set(d, 0xF0)), hn::Set(d, 0xE0));
    const V8 y = hn::IfThenElse(three, after1, here), z = hn::IfThenElse(three, after2, after1);
    // The code point's bits 12..15 (the row), 8..11 (the column) and 5..7
    // (the bit of the group).
    const V8 row = hn::IfThenElseZero(three, hn::And(here, hn::Set(d, 0x0F)));
    const V8 column = hn::And(hn::ShiftRight<2>(y), hn::Set(d, 0x0F));
    const V8 bit = hn::Or(hn::And(hn::ShiftLeft<1>(y), hn::Set(d, 6)), hn::And(hn::ShiftRight<5>(z), hn::Set(d, 1)));
    const auto four = hn::RebindMask(d, hn::Gt(hn::BitCast(di, here), hn::Set(di, -17)));  // F0..FF, or ASCII
    alignas(16) static constexpr std::uint8_t powers[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
    const V8 groups = LookupGroups(d, joining, row, column);
    const auto set = hn::TestBit(groups, hn::TableLookupBytes(hn::LoadDup128(d, powers), bit));
    return hn::VecFromMask(d, hn::And(lead, hn::Or(set, four)));
}

// High bit set in every lane where the line is out of the domain (see
// vector_domain): a byte is a continuation byte exactly where a lead one,
// two or three bytes before announces one, and no byte is F8 or above.
HWY_INLINE V8 OutOfDomain(D8 d, V8 before3, V8 before2, V8 before1, V8 here)
{
    // High bit: a lead C0.. one before, E0.. two before or F0.. three before.
    const V8 announced =
        hn::Or(hn::Or(hn::SaturatedSub(before1, hn::Set(d, 0x40)), hn::SaturatedSub(before2, hn::Set(d, 0x60))),
               hn::SaturatedSub(before3, hn::Set(d, 0x70)));
    const V8 continuation = hn::AndNot(hn::Add(here, here), here);  // high bit: 10xxxxxx
    return hn::Or(hn::Xor(announced, continuation), hn::SaturatedSub(here, hn::Set(d, 0x78)));
}

// Every character of the vector turned around in place: g[j] = line[j +
// back(j) - fwd(j)] (see the top of the file), a choice among the
// neighbours.
HWY_INLINE V8 TurnCharacters(D8 d, V8 before3, V8 before2, V8 before1, V8 here, V8 after1, V8 after2, V8 after3)
{
    const hn::RebindToSigned<D8> di;
    const auto below = hn::Set(di, -64);  // 0x80..0xBF are -128..-65
    const auto c0 = hn::Lt(hn::BitCast(di, here), below), c1 = hn::Lt(hn::BitCast(di, before1), below);
    const auto c2 = hn::Lt(hn::BitCast(di, before2), below), a1 = hn::Lt(hn::BitCast(di, after1), below);
    const auto a2 = hn::Lt(hn::BitCast(di, after2), below), a3 = hn::Lt(hn::BitCast(di, after3), below);
    const auto fwd2 = hn::And(c0, c1), fwd3 = hn::And(fwd2, c2);
    const auto back2 = hn::And(a1, a2), back3 = hn::And(back2, a3);
    // A true mask is -1: these sums are -fwd and -back.
    const auto minus_fwd = hn::Add(hn::Add(hn::VecFromMask(di, c0), hn::VecFromMask(di, fwd2)), hn::VecFromMask(di, fwd3));
    const auto minus_back = hn::Add(hn::Add(hn::VecFromMask(di, a1), hn::VecFromMask(di, back2)), hn::VecFromMask(di, back3));
    const auto shift = hn::Sub(minus_fwd, minus_back);  // back - fwd
    const auto pick = [&](int by, V8 from, V8 chosen) {
        return hn::IfThenElse(hn::RebindMask(d, hn::Eq(shift, hn::Set(di, static_cast<std::int8_t>(by)))), from, chosen);
    };
    V8 chosen = pick(1, after1, here);
    chosen = pick(2, after2, chosen);
    chosen = pick(3, after3, chosen);
    chosen = pick(-1, before1, chosen);
    chosen = pick(-2, before2, chosen);
    chosen = pick(-3, before3, chosen);
    return chosen;
}

// flip_vector_reverse's work: the line taken in vectors from its end, so
// that the output is written in order from its start. The vectors at either
// end have the lanes outside the line cleared unless the bytes around it
// are quiet. By clusters, a line is taken only where MayJoin finds no
// character in `joining`.
template <bool by_clusters>
HWY_INLINE bool ReverseLine(const unsigned char *line, std::size_t n, unsigned char *out, const joining_table *joining)
{
    // The last character must end within the line.
    if ((n >= 1 && line[n - 1] >= 0xC0) || (n >= 2 && line[n - 2] >= 0xE0) || (n >= 3 && line[n - 3] >= 0xF0))
        return false;
    const D8 d;
    const hn::RebindToSigned<D8> di;
    const std::size_t lanes = hn::Lanes(d);
    const bool quiet = QuietAround(line, n);
    auto bad = hn::Zero(d);
    for (std::size_t done = 0; done < n; done += lanes) {
        const std::ptrdiff_t first = static_cast<std::ptrdiff_t>(n) - static_cast<std::ptrdiff_t>(done + lanes);
        const bool edge = !quiet && (done == 0 || first < 3);
        // The line at `first` and its six neighbours, shifted by -3..3 bytes.
        const V8 before3 = LoadLine(d, line, n, first - 3, edge), before2 = LoadLine(d, line, n, first - 2, edge);
        const V8 before1 = LoadLine(d, line, n, first - 1, edge), here = LoadLine(d, line, n, first, edge);
        const V8 after1 = LoadLine(d, line, n, first + 1, edge), after2 = LoadLine(d, line, n, first + 2, edge);
        const V8 after3 = LoadLine(d, line, n, first + 3, edge);
        V8 wrong = OutOfDomain(d, before3, before2, before1, here);
        wrong = by_clusters ? hn::Or(wrong, MayJoin(d, here, after1, after2, *joining)) : wrong;
        // Lanes before the line start do not count.
        bad = hn::Or(bad, first < 0 ? hn::IfThenZeroElse(hn::FirstN(d, static_cast<std::size_t>(-first)), wrong) : wrong);
        // By clusters a line is often left (combining marks): at once.
        if (by_clusters && !hn::AllFalse(di, hn::Lt(hn::BitCast(di, bad), hn::Zero(di))))
            return false;
        const V8 chosen = TurnCharacters(d, before3, before2, before1, here, after1, after2, after3);
        hn::StoreU(ReverseBytes(d, chosen), d, out + done);
    }
    return hn::AllFalse(di, hn::Lt(hn::BitCast(di, bad), hn::Zero(di)));
}

bool Reverse(const unsigned char *line, std::size_t n, unsigned char *out, const joining_table *joining)
{
    return joining != nullptr ? ReverseLine<true>(line, n, out, joining) : ReverseLine<false>(line, n, out, nullptr);
}

// flip_vector_lines's work, a loop of its own by characters and by clusters.
template <bool by_clusters>
HWY_INLINE std::size_t TakeLines(const unsigned char *text, std::size_t size, unsigned char *out, std::size_t room,
                                 std::uint64_t *lines, const joining_table *joining)
{
    const D8 d;
    const hn::RebindToSigned<D8> di;
    const std::size_t lanes = hn::Lanes(d);
    const auto newline = hn::Set(d, '\n');
    std::size_t at = 0;
    std::uint64_t count = 0;
    while (at < size) {
        // The newline, and on the way whether the line is ASCII alone.
        std::size_t end = at;
        auto high = hn::Zero(d);
        for (;;) {
            const auto v = hn::LoadU(d, text + end);
            const std::intptr_t found = hn::FindFirstTrue(d, hn::Eq(v, newline));
            if (found >= 0) {
                high = hn::Or(high, hn::IfThenElseZero(hn::FirstN(d, static_cast<std::size_t>(found)), v));
                end += static_cast<std::size_t>(found);
                break;
            }
            high = hn::Or(high, v);
            end += lanes;
            if (end >= size)
                break;
        }
        if (end >= size || end + 1 > room)
            break;  // no newline in the data, or no room for the line
        const std::size_t n = end - at;
        if (hn::AllFalse(di, hn::Lt(hn::BitCast(di, high), hn::Zero(di)))) {
            // ASCII alone: the byte reversal, vector by vector from the end
            // (lanes before the line start land behind it in out).
            for (std::size_t done = 0; done < n; done += lanes) {
                const auto v = hn::LoadU(d, text + end - done - lanes);
                hn::StoreU(ReverseBytes(d, v), d, out + at + done);
            }
        } else if (!ReverseLine<by_clusters>(text + at, n, out + at, joining)) {
            break;  // left to the reader and reverse_line
        }
        out[end] = '\n';
        at = end + 1;
        ++count;
    }
    *lines += count;
    return at;
}

std::size_t ReverseLines(const unsigned char *text, std::size_t size, unsigned char *out, std::size_t room,
                         std::uint64_t *lines, const joining_table *joining)
{
    return joining != nullptr ? TakeLines<true>(text, size, out, room, lines, joining)
                              : TakeLines<false>(text, size, out, room, lines, nullptr);
}

#endif  // HWY_TARGET

}  // namespace HWY_NAMESPACE
}  // namespace flip_vector
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace flip_vector {
HWY_EXPORT(Reverse);
HWY_EXPORT(ReverseLines);
}  // namespace flip_vector

// (The dispatch names are looked up in flip_vector: where one target is
// built alone, they name its namespace there.)
bool flip_vector_reverse(std::span<const unsigned char> line, unsigned char *out, const joining_table *joining) noexcept
{
    using namespace flip_vector;
    return HWY_DYNAMIC_DISPATCH(Reverse)(line.data(), line.size(), out, joining);
}

std::size_t flip_vector_lines(const unsigned char *text, std::size_t size, unsigned char *out, std::size_t room,
                              std::uint64_t *lines, const joining_table *joining) noexcept
{
    using namespace flip_vector;
    return HWY_DYNAMIC_DISPATCH(ReverseLines)(text, size, out, room, lines, joining);
}
#endif  // HWY_ONCE
