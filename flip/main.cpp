// runeflip: writes each line of UTF-8 text on standard input with its
// characters in reverse order.
#include <cerrno>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "line_io.hpp"
#include "reverse.hpp"
#include "tool.hpp"
#include "vector_reverse.hpp"

namespace {
constexpr char tool_name[] = "runeflip";
// Messages about storage and output carry the short name.
constexpr char short_name[] = "rflip";

constexpr int status_ok = 0;         // end of input
constexpr int status_usage = 1;      // help, version, an operand
constexpr int status_failure = 2;    // unknown option, storage, reading or writing
constexpr int status_truncated = 3;  // a sequence cut short

// Output is gathered in blocks of this size (more for a longer line).
constexpr std::size_t output_bytes = std::size_t{1} << 20;

// Help and version go to standard error for -h and -v, to standard output
// for --help (after a synopsis) and --version.
void print_help(std::FILE *out) noexcept
{
    std::fputs("Read UTF-8 input line-by-line and emit reversed character-by-character.\n", out);
    std::fputs(runekit_help_options, out);
    std::fputs("\n", out);
}

void print_version(std::FILE *out) noexcept
{
    std::fprintf(out, "\n%s  %s\n", tool_name, runekit_version);
    std::fprintf(out, "Compiled %s\n", runekit_build_date);
    std::fprintf(out, "%s\n", runekit_copyright);
    std::fputs("This program is free software; you can redistribute it and/or modify\n", out);
    std::fputs("it under the terms of version 3 of the GNU General Public License\n", out);
    std::fputs("as published by the Free Software Foundation.\n", out);
    std::fprintf(out, "Report bugs to: %s\n", runekit_bug_address);
}

// Only the first argument counts. Returns the exit status it calls for.
[[nodiscard]] int handle_argument(const char *arg) noexcept
{
    const long_option asked = long_option_of(arg);
    if (asked == long_option::help) {
        std::printf("Usage: %s [-hv]\n", tool_name);
        print_help(stdout);
        finish_stdout(short_name, status_ok, status_failure);
    }
    if (asked == long_option::version) {
        print_version(stdout);
        finish_stdout(short_name, status_ok, status_failure);
    }
    if (arg[0] != '-' || arg[1] == 'h') {
        print_help(stderr);
        return status_usage;
    }
    if (arg[1] == 'v') {
        print_version(stderr);
        return status_usage;
    }
    // For a lone "-" this writes the terminating NUL byte itself.
    std::fprintf(stderr, "Option %c not recognized.\n", arg[1]);
    return status_failure;
}

// Writes what is gathered to standard output; a failed write ends the process.
void flush_or_fail(output_buffer &out) noexcept
{
    const int error = flush_output(out, STDOUT_FILENO);
    if (error != 0) {
        report_write_error(short_name, error);
        std::_Exit(status_failure);
    }
}

// The lines finished so far are written before any report, so that they
// stay written as if each had been written at once.
[[noreturn]] void fail_storage(output_buffer &out) noexcept
{
    flush_or_fail(out);
    std::fprintf(stderr, "%s: failed to allocate storage.\n", short_name);
    std::exit(status_failure);
}

[[noreturn]] void fail_read(output_buffer &out, int error) noexcept
{
    flush_or_fail(out);
    std::fprintf(stderr, "%s: read error: %s\n", short_name, std::strerror(error));
    std::exit(status_failure);
}

[[noreturn]] void fail_truncated(output_buffer &out, std::uint64_t line_number, const reverse_result &r) noexcept
{
    flush_or_fail(out);
    std::fprintf(stderr, "Truncated UTF-8 sequence at byte %" PRId64 " of line %" PRIu64 "\n", r.position,
                 line_number);
    std::fprintf(stderr, "%" PRId64 " continuation bytes %s required but only %" PRId64 " %s present.\n",
                 r.needed, r.needed > 1 ? "are" : "is", r.present, r.present > 1 ? "are" : "is");
    std::exit(status_truncated);
}

// Makes room in `out` for `needed` more bytes, writing out what is gathered
// first when it does not fit behind it.
void reserve_output(output_buffer &out, std::size_t needed) noexcept
{
    if (out.size - out.used >= needed)
        return;
    flush_or_fail(out);
    if (out.size < needed && !grow_output(out, needed))
        fail_storage(out);
}
}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1)
        return handle_argument(argv[1]);

    line_reader reader;
    output_buffer out{};
    if (!open_reader(reader, STDIN_FILENO) || !open_output(out, output_bytes))
        fail_storage(out);

    // On a terminal each line is shown as soon as it is finished.
    const bool by_line = isatty(STDOUT_FILENO) != 0;
    std::uint64_t line_number = 0;
    std::span<const unsigned char> line;
    for (;;) {
        // The whole lines the reader holds, through the vector kernel where
        // it applies; the next line, whatever it is, comes from read_line.
        flip_vector_lines(reader, out, line_number);
        if (by_line)
            flush_or_fail(out);  // before the reader may wait for more input
        const read_status got = read_line(reader, line);
        if (got == read_status::end)
            break;
        if (got == read_status::no_memory)
            fail_storage(out);
        if (got == read_status::read_error)
            fail_read(out, reader.error);
        ++line_number;
        reserve_output(out, line.size() + 1);
        // The reader's and the output's padding cover the vector kernel's.
        static_assert(line_padding >= flip_vector_padding);
        const reverse_result r = reverse_line_fast(line, out.data + out.used);
        if (r.status == reverse_status::truncated)
            fail_truncated(out, line_number, r);
        out.used += static_cast<std::size_t>(r.length);
        out.data[out.used++] = '\n';
    }
    flush_or_fail(out);
    finish_stdout(short_name, status_ok, status_failure);
}
