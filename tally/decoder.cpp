// runetally's validation: the byte-exact decoder and the scalar scan of a
// block in memory.
#include "decoder.hpp"

#include <cstring>

#include "io.hpp"
#include "vector_count.hpp"

#ifndef RUNEKIT_TALLY_SUBBLOCK_SIZE
#define RUNEKIT_TALLY_SUBBLOCK_SIZE 16384
#endif

const std::size_t tally_subblock_size = RUNEKIT_TALLY_SUBBLOCK_SIZE;

namespace {
unsigned char sequence_buffer[6];

}  // namespace

std::uint32_t read_utf8_char(int fd, int *length, const unsigned char **sequence) noexcept
{
    const ssize_t n = read_once(fd, sequence_buffer, 1);
    if (n == 0)
        return UTF8_END_OF_INPUT;
    if (n < 0)
        return UTF8_READ_ERROR;

    const int e = utf8_extra_bytes[sequence_buffer[0]];
    if (read_full(fd, sequence_buffer + 1, static_cast<std::size_t>(e)) != e)
        return UTF8_TRUNCATED;

    *length = e + 1;
    *sequence = sequence_buffer;
    const std::span<const unsigned char> seq(sequence_buffer, static_cast<std::size_t>(e) + 1);
    if (!utf8_sequence_is_legal(seq))
        return UTF8_INVALID;
    return utf8_decode(seq);
}

block_scan scan_block(std::span<const unsigned char> data, char_tally &tally) noexcept
{
    // The vector kernel takes what it can; the rest, from a character
    // boundary, is scanned here.
    const tally_vector_result v = tally_vector_scan(data, tally_subblock_size, tally);
    const bool pairs = stage_pairs_room(tally, data.size() - v.consumed);
    block_scan s{v.consumed, v.characters};
    const unsigned char *p = data.data() + v.consumed;
    const unsigned char *const end = data.data() + data.size();
    while (p < end) {
        std::uint64_t word;
        if (pairs && end - p >= 8 && (std::memcpy(&word, p, 8), (word & 0x8080808080808080u) == 0)) {
            stage_ascii8(word);
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
        stage_point(tally, utf8_decode(seq));
        ++s.characters;
        p += e + 1;
    }
    s.consumed = static_cast<std::size_t>(p - data.data());
    return s;
}
