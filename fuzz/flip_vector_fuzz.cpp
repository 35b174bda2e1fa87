// runeflip's vector kernel on any line, on every Highway target this build
// compiled and the processor runs, against reverse_line: where the kernel
// takes a line it must write exactly what reverse_line writes, and it must
// take exactly the lines in which every lead C0..F7 is followed by exactly
// its continuation bytes and every continuation byte belongs to such a lead.
// The line lies in a heap buffer with exactly flip_vector_padding bytes
// around it, filled with bytes that look like leads and continuation bytes
// (chosen by the last input byte), and the output has exactly that much room
// behind it, so that ASan catches any access beyond the padding.
// The input is also taken as text of many lines through the program's loop
// (flip_vector_lines for the whole lines the reader holds, read_line and
// reverse_line_fast for the next), with an output buffer of a size chosen by
// the first input byte, against reverse_line line by line: the same output,
// line count and truncation report.
#include <hwy/targets.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "line_io.hpp"
#include "reverse.hpp"
#include "utf8.hpp"
#include "vector_reverse.hpp"
#include "vector_targets.hpp"

namespace {
[[noreturn]] void fail(const char *what) noexcept
{
    std::fprintf(stderr, "vector reversal mismatch: %s\n", what);
    std::abort();
}

bool qualifies(const std::uint8_t *line, std::size_t n) noexcept
{
    for (std::size_t i = 0; i < n;) {
        const unsigned char b = line[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b < 0xC0 || b >= 0xF8)
            return false;
        const std::size_t e = static_cast<std::size_t>(utf8_extra_bytes[b]);
        for (std::size_t k = 1; k <= e; ++k)
            if (i + k >= n || !is_continuation(line[i + k]))
                return false;
        i += e + 1;
    }
    return true;
}
}  // namespace

struct loop_outcome {
    std::vector<unsigned char> output;
    std::uint64_t lines = 0;
    bool truncated = false;
    reverse_result report{};
};

loop_outcome reference_loop(const std::uint8_t *data, std::size_t size) noexcept
{
    loop_outcome o;
    std::vector<unsigned char> buf(size + 1);
    for (std::size_t at = 0; at < size;) {
        const void *nl = std::memchr(data + at, '\n', size - at);
        const std::size_t end = nl != nullptr ? static_cast<std::size_t>(static_cast<const std::uint8_t *>(nl) - data) : size;
        ++o.lines;
        const reverse_result r = reverse_line({data + at, end - at}, buf.data());
        if (r.status == reverse_status::truncated) {
            o.truncated = true;
            o.report = r;
            break;
        }
        o.output.insert(o.output.end(), buf.data(), buf.data() + r.length);
        o.output.push_back('\n');
        at = end + 1;
    }
    return o;
}

loop_outcome program_loop(const std::uint8_t *data, std::size_t size, std::size_t output_size) noexcept
{
    loop_outcome o;
    const int fd = memfd_create("flip-fuzz", MFD_CLOEXEC);
    if (fd < 0 || (size != 0 && write(fd, data, size) != static_cast<ssize_t>(size)) || lseek(fd, 0, SEEK_SET) != 0)
        fail("cannot set up the input");
    line_reader reader;
    output_buffer out{};
    if (!open_reader(reader, fd) || !open_output(out, output_size))
        fail("no storage");
    std::span<const unsigned char> line;
    for (;;) {
        flip_vector_lines(reader, out, o.lines);
        o.output.insert(o.output.end(), out.data, out.data + out.used);
        out.used = 0;
        if (read_line(reader, line) != read_status::line)
            break;
        ++o.lines;
        if (out.size < line.size() + 1 && !grow_output(out, line.size() + 1))
            fail("no storage");
        const reverse_result r = reverse_line_fast(line, out.data);
        if (r.status == reverse_status::truncated) {
            o.truncated = true;
            o.report = r;
            break;
        }
        o.output.insert(o.output.end(), out.data, out.data + r.length);
        o.output.push_back('\n');
    }
    close_reader(reader);
    std::free(out.data);
    close(fd);
    return o;
}

void check_loop(const std::uint8_t *data, std::size_t size) noexcept
{
    const loop_outcome want = reference_loop(data, size);
    const std::size_t output_size = 1 + (size != 0 ? data[0] : 0u) % 200;
    for (const std::int64_t target : vector_targets()) {
        hwy::SetSupportedTargetsForTest(target);
        const loop_outcome got = program_loop(data, size, output_size);
        if (got.lines != want.lines || got.truncated != want.truncated)
            fail("program loop: lines or truncation");
        if (want.truncated && (got.report.position != want.report.position || got.report.needed != want.report.needed ||
                               got.report.present != want.report.present))
            fail("program loop: truncation report");
        if (got.output != want.output)
            fail("program loop: output");
    }
    hwy::SetSupportedTargetsForTest(0);
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::size_t pad = flip_vector_padding;
    std::vector<unsigned char> want(size + 1);
    const reverse_result ref = reverse_line({data, size}, want.data());
    const bool should = qualifies(data, size);
    if (should && (ref.status != reverse_status::reversed || ref.length != static_cast<std::int64_t>(size)))
        fail("reverse_line does not keep every byte of a line that qualifies");

    auto *in = static_cast<unsigned char *>(std::malloc(size + 2 * pad));
    auto *out = static_cast<unsigned char *>(std::malloc(size + pad));
    static const unsigned char tricky[] = {0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xF4, 0xF7, 0xFF, 0x0A, 0x41};
    const unsigned seed = size != 0 ? data[size - 1] : 0;
    for (std::size_t i = 0; i < pad; ++i) {
        in[i] = tricky[(seed + i * 7) % std::size(tricky)];
        in[pad + size + i] = tricky[(seed + i * 3) % std::size(tricky)];
    }
    if (size != 0)
        std::memcpy(in + pad, data, size);
    for (const std::int64_t target : vector_targets()) {
        hwy::SetSupportedTargetsForTest(target);
        const bool took = flip_vector_reverse({in + pad, size}, out);
        if (took != should)
            fail(took ? "took a line that needs care" : "left out a line that qualifies");
        if (took && std::memcmp(out, want.data(), size) != 0)
            fail("reversed text");
    }
    hwy::SetSupportedTargetsForTest(0);
    std::free(in);
    std::free(out);
    check_loop(data, size);
    return 0;
}
