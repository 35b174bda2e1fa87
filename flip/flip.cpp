// runeflip's work loop (see flip.hpp): whole lines through the vector
// kernel where it applies, every other line through read_line and
// reverse_line_fast.
#include "flip.hpp"

#include "line_io.hpp"
#include "vector_reverse.hpp"

namespace {
// Output is gathered in blocks of this size (more for a longer line).
#ifdef RUNEKIT_FLIP_OUTPUT_SIZE
constexpr std::size_t output_bytes = RUNEKIT_FLIP_OUTPUT_SIZE;
#else
constexpr std::size_t output_bytes = std::size_t{1} << 20;
#endif

// `ending`, once what is gathered is written; the write_error if that fails.
[[nodiscard]] flip_outcome ended(output_buffer &out, int fd, flip_outcome ending) noexcept
{
    const int error = flush_output(out, fd);
    return error == 0 ? ending : flip_outcome{flip_end::write_error, error, 0, {}};
}

// Makes room in `out` for `needed` more bytes, writing out what is gathered
// first when it does not fit behind it. Returns `done`, or how the loop ends.
[[nodiscard]] flip_outcome reserve_output(output_buffer &out, int fd, std::size_t needed) noexcept
{
    if (out.bytes.size - out.used >= needed)
        return {flip_end::done, 0, 0, {}};
    if (const int error = flush_output(out, fd); error != 0)
        return {flip_end::write_error, error, 0, {}};
    return {reserve_bytes(out.bytes, needed) ? flip_end::done : flip_end::no_memory, 0, 0, {}};
}

// Hands the whole lines of the reader's block to the vector kernel (see
// flip_vector_lines); read_line hands out the line it leaves.
void vector_lines(line_reader &r, output_buffer &out, std::uint64_t &line_number,
                  const joining_table *joining) noexcept
{
    // The reader's and the output's padding cover the vector kernel's.
    static_assert(line_padding >= flip_vector_padding);
    if (r.start >= r.end)
        return;
    const std::size_t taken = flip_vector_lines(r.block.data() + r.start, r.end - r.start, out.bytes.data() + out.used,
                                                out.bytes.size - out.used, &line_number, joining);
    r.start += taken;
    out.used += taken;
}
}  // namespace

flip_outcome flip_stream(int in, int fd, bool by_line, const line_reverser *reverser) noexcept
{
    line_reader reader;
    output_buffer out;
    if (!open_reader(reader, in) || !reserve_bytes(out.bytes, output_bytes))
        return {flip_end::no_memory, 0, 0, {}};
    std::uint64_t line_number = 0;
    std::span<const unsigned char> line;
    for (;;) {
        // The whole lines the reader holds, through the vector kernel where
        // it applies; the next line, whatever it is, comes from read_line.
        // With a reverser, only the lines whose characters are each a
        // cluster of their own, which it too reverses by characters.
        vector_lines(reader, out, line_number, reverser != nullptr ? reverser->joining : nullptr);
        if (int error = by_line ? flush_output(out, fd) : 0; error != 0)
            return {flip_end::write_error, error, 0, {}};
        const read_status got = read_line(reader, line);
        if (got == read_status::end)
            return ended(out, fd, {flip_end::done, 0, 0, {}});
        if (got != read_status::line)
            return ended(out, fd, {got == read_status::no_memory ? flip_end::no_memory : flip_end::read_error,
                                   reader.error, 0, {}});
        if (const flip_outcome room = reserve_output(out, fd, line.size() + 1); room.end != flip_end::done)
            return room;
        unsigned char *to = out.bytes.data() + out.used;
        const reverse_result r = reverser != nullptr ? reverser->reverse(line, to) : reverse_line_fast(line, to);
        if (r.status == reverse_status::truncated)
            return ended(out, fd, {flip_end::truncated, 0, line_number + 1, r});
        out.used += static_cast<std::size_t>(r.length);
        out.bytes.data()[out.used++] = '\n';
        ++line_number;
    }
}
