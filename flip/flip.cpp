// runeflip's work loop (see flip.hpp): whole lines through the vector
// kernel where it applies, every other line through read_line and
// reverse_line_fast; a fault in a mapped input caught and read again.
#include "flip.hpp"

#include <csetjmp>
#include <csignal>

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

// The loop's state, which a fault in the mapped input leaves consistent:
// every access to the input happens in a call to another file, after which
// the state is updated, and the line count only once a line is in `out`.
struct flip_loop {
    line_reader reader;
    output_buffer out;
    int fd;
    bool by_line;
    line_reverser reverser;  // nullptr: by characters, through the vector kernel
    std::uint64_t line_number = 0;
    std::size_t line_from = 0;  // where in reader.text the work in progress began
};

flip_outcome run(flip_loop &s) noexcept
{
    line_reader &reader = s.reader;
    output_buffer &out = s.out;
    std::span<const unsigned char> line;
    for (;;) {
        // The whole lines the reader holds, through the vector kernel where
        // it applies; the next line, whatever it is, comes from read_line.
        // With a reverser, only the lines of ASCII alone, which it too
        // reverses byte by byte.
        s.line_from = reader.start;
        flip_vector_lines(reader, out, s.line_number, s.reverser != nullptr);
        if (int error = s.by_line ? flush_output(out, s.fd) : 0; error != 0)
            return {flip_end::write_error, error, 0, {}};
        s.line_from = reader.start;
        const read_status got = read_line(reader, line);
        if (got == read_status::end)
            return ended(out, s.fd, {flip_end::done, 0, 0, {}});
        if (got != read_status::line)
            return ended(out, s.fd, {got == read_status::no_memory ? flip_end::no_memory : flip_end::read_error,
                                     reader.error, 0, {}});
        if (const flip_outcome room = reserve_output(out, s.fd, line.size() + 1); room.end != flip_end::done)
            return room;
        unsigned char *to = out.bytes.data() + out.used;
        const reverse_result r = s.reverser != nullptr ? s.reverser(line, to) : reverse_line_fast(line, to);
        if (r.status == reverse_status::truncated)
            return ended(out, s.fd, {flip_end::truncated, 0, s.line_number + 1, r});
        out.used += static_cast<std::size_t>(r.length);
        out.bytes.data()[out.used++] = '\n';
        ++s.line_number;
    }
}

// A page of a mapped file that cannot be read (the file shrank, or its
// device failed) raises SIGBUS; one within the mapping jumps back here.
sigjmp_buf fault_jump;
const mapped_bytes *volatile fault_map;

void on_fault(int, siginfo_t *info, void *) noexcept
{
    const auto *at = static_cast<const unsigned char *>(info->si_addr);
    const mapped_bytes &m = *fault_map;
    if (m.base != nullptr && at >= m.base && at < m.base + m.size)
        siglongjmp(fault_jump, 1);
    std::signal(SIGBUS, SIG_DFL);  // not ours: the access is made again and ends the process
}

// run, with a fault in the mapped input caught: false if one cut it short.
// (Kept apart, so that no local of the function calling sigsetjmp changes.)
[[nodiscard]] bool run_guarded(flip_loop &s, flip_outcome &o) noexcept
{
    if (sigsetjmp(fault_jump, 1) != 0)
        return false;
    o = run(s);
    return true;
}
}  // namespace

flip_outcome flip_stream(int in, int fd, bool by_line, line_reverser reverser) noexcept
{
    flip_loop s{{}, {}, fd, by_line, reverser};
    if (!open_reader(s.reader, in) || !reserve_bytes(s.out.bytes, output_bytes))
        return {flip_end::no_memory, 0, 0, {}};
    // The reader's and the output's padding cover the vector kernel's.
    static_assert(line_padding >= flip_vector_padding);
    if (s.reader.map.base == nullptr)
        return run(s);
    struct sigaction catcher {}, before {};
    catcher.sa_sigaction = on_fault;
    catcher.sa_flags = SA_SIGINFO;
    fault_map = &s.reader.map;
    sigaction(SIGBUS, &catcher, &before);
    flip_outcome o;
    // After a fault the rest is read with read(2) from the line in
    // progress on, which then meets the file's new end or the device's
    // error just as reading alone would have.
    while (!run_guarded(s, o))
        read_from(s.reader, s.line_from);
    sigaction(SIGBUS, &before, nullptr);
    return o;
}

