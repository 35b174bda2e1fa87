// runetally's block scan: the vector kernel first, the rest one sequence at
// a time with the reference legality rule.
#include "scan.hpp"

#include <cstring>

#include "decoder.hpp"
#include "vector_count.hpp"

// Bytes the vector kernel validates at once (a few in test builds).
#ifdef RUNEKIT_TALLY_SUBBLOCK_SIZE
constexpr std::size_t subblock_size = RUNEKIT_TALLY_SUBBLOCK_SIZE;
#else
constexpr std::size_t subblock_size = tally_vector_max_subblock;
#endif

namespace {
// The whole legal sequences from data on, staged into stage if there is one
// (words of ASCII by pairs if `pairs`, which needs a stage).
template <bool kStage>
block_scan scan_scalar(const unsigned char *const data, const unsigned char *const end, bool pairs, bool strict,
                       count_stage *stage) noexcept
{
    block_scan s;
    const unsigned char *p = data;
    while (p < end) {
        std::uint64_t word;
        if (kStage && pairs && end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080u) == 0)) {
            stage_pairs(*stage, p, 8);
            p += 8;
            s.characters += 8;
            continue;
        }
        const int e = utf8_extra_bytes[*p];
        if (end - p <= e)
            break;  // the rest of this sequence is not in the block
        const std::span<const unsigned char> seq(p, static_cast<std::size_t>(e) + 1);
        if (!utf8_sequence_is_legal(seq, strict)) {
            s.invalid = true;
            s.length = e + 1;
            break;
        }
        if constexpr (kStage)
            stage_point(*stage, utf8_decode(seq));
        ++s.characters;
        p += e + 1;
    }
    s.consumed = static_cast<std::size_t>(p - data);
    return s;
}
}  // namespace

block_scan scan_block(std::span<const unsigned char> data, count_stage &stage, bool strict) noexcept
{
    // The kernel takes what it can; the rest, from a character boundary, is
    // scanned here.
    const bool pairs = stage_pairs_room(stage, data.size());
    const tally_vector_result v = tally_vector_scan(data, subblock_size, pairs, strict, &stage);
    block_scan s = scan_scalar<true>(data.data() + v.consumed, data.data() + data.size(), pairs, strict, &stage);
    s.consumed += v.consumed;
    s.characters += v.characters;
    return s;
}

std::size_t validate_block(std::span<const unsigned char> data, bool strict) noexcept
{
    const std::size_t v = tally_vector_scan(data, subblock_size, false, strict, nullptr).consumed;
    return v + scan_scalar<false>(data.data() + v, data.data() + data.size(), false, strict, nullptr).consumed;
}
