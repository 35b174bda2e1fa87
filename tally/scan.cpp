// runetally's block scan: the vector kernel first, the rest one sequence at
// a time with the reference legality rule.
#include "scan.hpp"

#include <cstring>

#include "decoder.hpp"
#include "vector_count.hpp"
#include "vector_validate.hpp"

// Bytes the vector kernel validates at once (a few in test builds).
#ifndef RUNEKIT_TALLY_SUBBLOCK_SIZE
#define RUNEKIT_TALLY_SUBBLOCK_SIZE 16384
#endif

namespace {
block_scan scan_lenient(std::span<const unsigned char> data, count_stage &stage) noexcept
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

// The first encoded surrogate's lead (ED, then A0..BF) at or after `from`,
// or data.size().
std::size_t next_surrogate(std::span<const unsigned char> data, std::size_t from) noexcept
{
    const unsigned char *const begin = data.data();
    const unsigned char *const end = begin + data.size();
    for (const unsigned char *p = begin + from; p < end; ++p) {
        p = static_cast<const unsigned char *>(std::memchr(p, 0xED, static_cast<std::size_t>(end - p)));
        if (p == nullptr)
            break;
        if (end - p >= 2 && p[1] >= 0xA0 && p[1] <= 0xBF)
            return static_cast<std::size_t>(p - begin);
    }
    return data.size();
}
}  // namespace

block_scan scan_block(std::span<const unsigned char> data, count_stage &stage, bool strict) noexcept
{
    if (!strict)
        return scan_lenient(data, stage);
    // The lenient scan up to each encoded surrogate; what stops it short of
    // the end is judged here by the strict rule.
    block_scan s;
    for (;;) {
        const std::size_t limit = next_surrogate(data, s.consumed);
        const block_scan t = scan_lenient(data.subspan(s.consumed, limit - s.consumed), stage);
        s.consumed += t.consumed;
        s.characters += t.characters;
        if (t.invalid || s.consumed == data.size()) {
            s.invalid = t.invalid;
            s.length = t.length;
            return s;
        }
        const unsigned char *const p = data.data() + s.consumed;
        const auto length = static_cast<std::size_t>(utf8_extra_bytes[*p]) + 1;
        if (data.size() - s.consumed < length)
            return s;  // held only in part
        if (!utf8_sequence_is_legal({p, length}, true)) {
            s.invalid = true;
            s.length = static_cast<int>(length);
            return s;
        }
        stage_point(stage, utf8_decode({p, length}));
        ++s.characters;
        s.consumed += length;
    }
}

std::size_t validate_block(std::span<const unsigned char> data, bool strict) noexcept
{
    // The vector check where there is one (runetally's lenient rule, so up to
    // the first encoded surrogate with `strict`), then one by one.
    std::size_t valid = tally_vector_validate(data, RUNEKIT_TALLY_SUBBLOCK_SIZE);
    if (strict)
        valid = next_surrogate(data.first(valid), 0);
    const unsigned char *p = data.data() + valid;
    const unsigned char *const end = data.data() + data.size();
    while (p < end) {
        std::uint64_t words[2];
        if (end - p >= 16 && (std::memcpy(words, p, 16), ((words[0] | words[1]) & 0x8080808080808080u) == 0)) {
            p += 16;
            continue;
        }
        const auto length = static_cast<std::size_t>(utf8_extra_bytes[*p]) + 1;
        if (static_cast<std::size_t>(end - p) < length || !utf8_sequence_is_legal({p, length}, strict))
            break;
        p += length;
    }
    return static_cast<std::size_t>(p - data.data());
}
