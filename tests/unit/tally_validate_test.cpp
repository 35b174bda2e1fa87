// runetally's vector validation on every target the processor runs (and
// the emulated one), against the reference rule (utf8_sequence_is_legal, one
// sequence after another, with and without `strict`): every lead with every
// second byte and chosen later bytes, at offsets that put it across the
// vectors, cut short at the end of the data, and random text with a byte
// broken. And the kernel's operations with a native form held to their
// portable form.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "hex.hpp"
#include "tally_harness.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "tally_validate_test.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "vector_ops-inl.hpp"
#include "vector_validate-inl.hpp"

HWY_BEFORE_NAMESPACE();
namespace tally_validate_test {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;
namespace tv = tally_vector::HWY_NAMESPACE;

// Validate on data with zeros before and after it, as the kernel gives it a
// sub-block: 1 or 0, or -1 on a target without the kernel.
int ValidPadded(const unsigned char *data, std::size_t size, bool strict)
{
#if HWY_TARGET == HWY_SCALAR
    (void)data, (void)size, (void)strict;
    return -1;
#else
    alignas(64) static unsigned char buffer[128 + 16384 + 128];
    std::memset(buffer, 0, sizeof buffer);
    std::memcpy(buffer + 128, data, size);
    return tv::Validate(buffer + 128, size, strict) ? 1 : 0;
#endif
}

// The native and the portable forms of CompressInto (bytes; 16- and 32-bit
// lanes, which have the portable form alone, against the lanes selected one
// by one) and of StartIndex and PickStart on random bytes (at least 128
// readable) and a random mask: "" when they agree on the lanes that count.
#if HWY_TARGET != HWY_SCALAR
template <class D, typename T = hn::TFromD<D>>
bool CompressesAsSelected(D d, const unsigned char *bytes, std::uint64_t mask_bits)
{
    T lanes[hn::MaxLanes(d)], got[2 * hn::MaxLanes(d)] = {};
    std::memcpy(lanes, bytes, sizeof lanes);
    const std::size_t n = tv::CompressBits(d, hn::LoadU(d, lanes), mask_bits, got);
    std::size_t selected = 0;
    for (std::size_t i = 0; i < hn::Lanes(d); ++i)
        if ((mask_bits >> i & 1) != 0 && got[selected++] != lanes[i])
            return false;
    return n == selected;
}
#endif

std::string NativeAsPortable(const unsigned char *bytes, std::uint64_t mask_bits)
{
#if HWY_TARGET == HWY_SCALAR
    (void)bytes, (void)mask_bits;
    return "";
#else
    const tv::D8 d;
    std::uint8_t bits[8];
    for (int i = 0; i < 8; ++i)
        bits[i] = static_cast<std::uint8_t>(mask_bits >> (8 * i));
    const auto mask = hn::LoadMaskBits(d, bits);
    const std::size_t n = hn::CountTrue(d, mask);
    alignas(64) std::uint8_t native[128] = {}, portable[128] = {};
    if (tv::CompressInto(d, hn::LoadU(d, bytes), mask, native) != n ||
        tv::CompressPortable(d, hn::LoadU(d, bytes), mask, portable) != n || std::memcmp(native, portable, n) != 0)
        return "CompressInto, bytes";
    if (!CompressesAsSelected(hn::CappedTag<std::uint16_t, 32>(), bytes, mask_bits))
        return "CompressBits, 16-bit lanes";
    if (!CompressesAsSelected(hn::CappedTag<std::uint32_t, 16>(), bytes, mask_bits))
        return "CompressBits, 32-bit lanes";
    const auto index = tv::StartIndex(d, mask), index_portable = tv::StartIndexPortable(d, mask);
    hn::Store(index, d, native);
    hn::Store(index_portable, d, portable);
    if (std::memcmp(native, portable, n) != 0)
        return "StartIndex";
    for (int k = 0; k < 4; ++k) {
        hn::Store(tv::PickStart(d, bytes + k, hn::LoadU(d, bytes + k), index), d, native);
        hn::Store(tv::PickStartPortable(d, bytes + k, index), d, portable);
        if (std::memcmp(native, portable, n) != 0)
            return "PickStart, stream " + std::to_string(k);
    }
    return "";
#endif
}

// LeadErrors for every lead (0xC0..0xFF) with every second byte and chosen
// third and fourth bytes, by runetally's rule or the strict one: "" when it
// flags exactly the sequences the reference refuses.
std::string LeadsAsRule(bool strict)
{
#if HWY_TARGET == HWY_SCALAR
    (void)strict;
    return "";
#else
    const hn::CappedTag<std::int32_t, 16> d;
    const unsigned char chosen[] = {0x00, 0x7F, 0x80, 0x8F, 0xBF, 0xC0, 0xFF};
    unsigned char words[16][4];
    std::int32_t errors[16];
    std::size_t filled = 0;
    for (int b0 = 0xC0; b0 < 0x100; ++b0)
        for (int b1 = 0; b1 < 0x100; ++b1)
            for (const unsigned char b2 : chosen)
                for (const unsigned char b3 : chosen) {
                    const unsigned char seq[4] = {static_cast<unsigned char>(b0), static_cast<unsigned char>(b1), b2, b3};
                    std::memcpy(words[filled++], seq, 4);
                    if (filled < hn::Lanes(d) && !(b0 == 0xFF && b1 == 0xFF && b2 == 0xFF && b3 == 0xFF))
                        continue;
                    std::int32_t lanes[16];
                    std::memcpy(lanes, words, sizeof lanes);
                    hn::StoreU(tv::LeadErrors(d, hn::LoadU(d, lanes), strict), d, errors);
                    for (std::size_t k = 0; k < filled; ++k) {
                        const auto extra = static_cast<std::size_t>(utf8_extra_bytes[words[k][0]]);
                        const bool legal = extra <= 3 && utf8_sequence_is_legal({words[k], extra + 1}, strict);
                        if ((errors[k] == 0) != legal)
                            return (legal ? "refused " : "accepted ") + hex_dump(tally_harness::bytes(reinterpret_cast<char *>(words[k]), 4));
                    }
                    filled = 0;
                }
    return "";
#endif
}
}  // namespace HWY_NAMESPACE
}  // namespace tally_validate_test
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tally_validate_test {
HWY_EXPORT(ValidPadded);
HWY_EXPORT(NativeAsPortable);
HWY_EXPORT(LeadsAsRule);

using tally_harness::bytes;

using tally_harness::kernel_targets;

// "" when every target agrees with the reference on s, by runetally's rule
// and, if `strict_too`, by the strict one.
std::string check(const bytes &s, bool strict_too = true)
{
    for (const bool strict : {false, true}) {
        if (strict && !strict_too)
            break;
        const bool want = tally_harness::whole_legal(s, strict);
        for (const std::int64_t target : kernel_targets()) {
            tally_harness::use_path(target);
            const int got =
                HWY_DYNAMIC_DISPATCH(ValidPadded)(reinterpret_cast<const unsigned char *>(s.data()), s.size(), strict);
            if (got >= 0 && (got == 1) != want)
                return std::string(want ? "refused" : "accepted") + (strict ? " (strict)" : "") + " on " +
                       hwy::TargetName(target) + ": " + hex_dump(s);
        }
    }
    return "";
}

TEST(VectorValidation, EverySequenceAcrossVectors)
{
    const unsigned char chosen[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xE0, 0xF0, 0xFF};
    for (const std::size_t prefix : {std::size_t{0}, std::size_t{14}, std::size_t{30}, std::size_t{61}})
        for (int b0 = 0; b0 < 256; ++b0)
            for (int b1 = 0; b1 < 256; ++b1)
                for (const unsigned char b2 : chosen) {
                    if (b0 < 0xE0 && b2 != 0x80)
                        continue;
                    for (const unsigned char b3 : {0x80, 0x41}) {
                        bytes s(prefix, 'x');
                        s += {static_cast<char>(b0), static_cast<char>(b1), static_cast<char>(b2),
                              static_cast<char>(b3)};
                        const bool strict_too = prefix == 61 || b0 == 0xED;
                        ASSERT_EQ(check(s + "z", strict_too), "");
                        // Cut short by the end of the data, after one to three bytes.
                        for (std::size_t keep = 1; keep <= 3 && b3 == 0x80; ++keep) {
                            ASSERT_EQ(check(s.substr(0, prefix + keep), strict_too), "");
                        }
                    }
                }
    tally_harness::use_reference();
    EXPECT_EQ(targets_not_run(tally_harness::ran), "");
}

TEST(VectorValidation, RandomTextWithABrokenByte)
{
    static const char *const pieces[] = {"a", " ", "\n", "\xC3\xA9", "\xE2\x82\xAC", "\xED\xA0\x80", "\xEF\xBF\xBF",
                                         "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xDF\xBF", "\xE0\xA0\x80",
                                         "\xED\x9F\xBF", "\xED\xBF\xBF"};
    std::mt19937 rng(25);
    for (int i = 0; i < 10000; ++i) {
        bytes s;
        const std::size_t size = rng() % 300;
        while (s.size() < size)
            s += pieces[rng() % std::size(pieces)];
        if (i % 2 == 1 && !s.empty())
            s[rng() % s.size()] = static_cast<char>(rng() % 256);
        ASSERT_EQ(check(s), "");
    }
    tally_harness::use_reference();
}

// The check of a lead by itself (text of nearly all ASCII) against the
// reference rule, on every target.
TEST(VectorValidation, EveryLeadByItself)
{
    for (const bool strict : {false, true})
        for (const std::int64_t target : kernel_targets()) {
            tally_harness::use_path(target);
            ASSERT_EQ(HWY_DYNAMIC_DISPATCH(LeadsAsRule)(strict), "") << hwy::TargetName(target) << (strict ? ", strict" : "");
        }
    tally_harness::use_reference();
}

// Where a target has a native form of an operation (VBMI2's byte
// compression and VBMI's byte permutation on AVX3_DL, AVX-512's compression
// of 32-bit lanes on AVX3 too), it gives what the portable form, which
// every other target runs, gives.
TEST(VectorOperations, NativeAsPortable)
{
    std::mt19937_64 rng(31);
    alignas(64) unsigned char data[128];
    for (int i = 0; i < 3000; ++i) {
        for (unsigned char &b : data)
            b = static_cast<unsigned char>(rng());
        const std::uint64_t masks[] = {rng(), rng() & rng(), rng() | rng(), 0, ~std::uint64_t{0}};
        for (const std::uint64_t mask : masks)
            for (const std::int64_t target : kernel_targets()) {
                tally_harness::use_path(target);
                ASSERT_EQ(HWY_DYNAMIC_DISPATCH(NativeAsPortable)(data, mask), "") << hwy::TargetName(target);
            }
    }
    tally_harness::use_reference();
}
}  // namespace tally_validate_test
#endif  // HWY_ONCE
