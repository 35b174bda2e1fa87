// runeflip: writes each line of UTF-8 text on standard input with its
// characters in reverse order.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "flip.hpp"
#if RUNEKIT_GRAPHEMES
#include "grapheme.hpp"
#endif
#include "tool.hpp"

namespace {
constexpr char tool_name[] = "runeflip";
// Messages about storage and output carry the short name.
constexpr char short_name[] = "rflip";

constexpr int status_ok = 0;         // end of input
constexpr int status_usage = 1;      // help, version, an operand
constexpr int status_failure = 2;    // unknown option, storage, reading or writing
constexpr int status_truncated = 3;  // a sequence cut short

// Help and version go to standard error for -h and -v (each in a single
// write), to standard output for --help (after a synopsis, and with -g where
// the build has it) and --version.
void print_help(std::FILE *out, const char *more_options = "") noexcept
{
    std::fputs("Read UTF-8 input line-by-line and emit reversed character-by-character.\n", out);
    std::fputs(runekit_help_options, out);
    std::fputs(more_options, out);
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

// Only the first argument counts (-g only alone, see main). Returns the
// exit status it calls for.
[[nodiscard]] int handle_argument(const char *arg) noexcept
{
    const long_option asked = long_option_of(arg);
    if (asked == long_option::help) {
#if RUNEKIT_GRAPHEMES
        std::printf("Usage: %s [-g | -hv]\n", tool_name);
        print_help(stdout, "       -g Reverse by grapheme clusters, the characters a reader sees.\n");
#else
        std::printf("Usage: %s [-hv]\n", tool_name);
        print_help(stdout);
#endif
        finish_stdout(short_name, status_ok, status_failure);
    }
    if (asked == long_option::version) {
        print_version(stdout);
        finish_stdout(short_name, status_ok, status_failure);
    }
    const bool g_and_more = RUNEKIT_GRAPHEMES && std::strcmp(arg, "-g") == 0;
    if (arg[0] != '-' || arg[1] == 'h' || g_and_more) {
        write_gathered([](std::FILE *out) { print_help(out); });
        return status_usage;
    }
    if (arg[1] == 'v') {
        write_gathered(print_version);
        return status_usage;
    }
    // For a lone "-" this writes the terminating NUL byte itself.
    write_message("Option %c not recognized.\n", arg[1]);
    return status_failure;
}

// Reports how the work ended and ends the process with its status.
[[noreturn]] void report(const flip_outcome &o) noexcept
{
    switch (o.end) {
    case flip_end::done:
        finish_stdout(short_name, status_ok, status_failure);
    case flip_end::write_error:
        report_write_error(short_name, o.error);
        std::_Exit(status_failure);
    case flip_end::no_memory:
        write_message("%s: failed to allocate storage.\n", short_name);
        std::exit(status_failure);
    case flip_end::read_error:
        write_message("%s: read error: %s\n", short_name, std::strerror(o.error));
        std::exit(status_failure);
    case flip_end::truncated:
        break;
    }
    const reverse_result &r = o.cut;
    write_message("Truncated UTF-8 sequence at byte %" PRId64 " of line %" PRIu64 "\n"
                  "%" PRId64 " continuation bytes %s required but only %" PRId64 " %s present.\n",
                  r.position, o.line, r.needed, r.needed > 1 ? "are" : "is", r.present, r.present > 1 ? "are" : "is");
    std::exit(status_truncated);
}
}  // namespace

int main(int argc, char **argv)
{
    const line_reverser *reverser = nullptr;
#if RUNEKIT_GRAPHEMES
    // -g alone: by grapheme clusters. Followed by anything, it is taken as
    // an operand.
    const line_reverser by_clusters{reverse_clusters, &joining_learnt()};
    if (argc == 2 && std::strcmp(argv[1], "-g") == 0) {
        reverser = &by_clusters;
        argc = 1;
    }
#endif
    if (argc > 1)
        return handle_argument(argv[1]);

    // On a terminal each line is shown as soon as it is finished.
    report(flip_stream(STDIN_FILENO, STDOUT_FILENO, isatty(STDOUT_FILENO) != 0, reverser));
}
