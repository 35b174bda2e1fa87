// runetally's block scan: the vector kernel first, the rest one sequence at
// a time with the reference legality rule.
#include "scan.hpp"

#include <cstring>

#include "decoder.hpp"
#include "vector_count.hpp"

// Bytes the vector kernel validates at once (a few in test builds).
#ifndef RUNEKIT_TALLY_SUBBLOCK_SIZE
#define RUNEKIT_TALLY_SUBBLOCK_SIZE 16384
#endif

block_scan scan_block(std::span<const unsigned char> data, count_stage &stage) noexcept
{
    // The kernel takes what it can; the rest, from a character boundary, is
    // scanned here.
    const tally_vector_result v =
        tally_vector_scan(data, RUNEKIT_TALLY_SUBBLOCK_SIZE, stage_pairs_room(stage, data.size()), stage);
    const bool pairs = stage_pairs_room(stage, data.size() - v.consumed);
    block_scan s{v.consumed, v.characters};
    const unsigned char *p = data.data() + v.consumed;
    const unsigned char *const end = data.data() + data.size();
    while (p < end) {
        std::uint64_t word;
        if (pairs && end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080u) == 0)) {
            stage_ascii8(stage, word);
            p += 8;
            s.characters += 8;
            continue;
        }
        const int e = utf8_extra_bytes[*p];
        if (end - p <= e)
            break;  // the rest of this sequence is not in the block
        const std::span<const unsigned char> seq(p, static_cast<std::size_t>(e) + 1);
        if (!utf8_sequence_is_legal(seq)) {
            s.invalid = true;
            s.length = e + 1;
            break;
        }
        stage_point(stage, utf8_decode(seq));
        ++s.characters;
        p += e + 1;
    }
    s.consumed = static_cast<std::size_t>(p - data.data());
    return s;
}
