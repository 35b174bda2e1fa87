// runetally: histogram of the characters of UTF-8 text in files or on
// standard input.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <libintl.h>
#include <unistd.h>

#include "merge.hpp"
#include "names.hpp"
#include "reader.hpp"
#include "report.hpp"
#include "table.hpp"
#include "tool.hpp"

#ifndef RUNEKIT_LOCALEDIR
#define RUNEKIT_LOCALEDIR "/usr/local/share/locale"
#endif

// Marks a text for the catalogue where it is looked up later.
#define N_(text) text

namespace {
constexpr int status_ok = 0;          // table written
constexpr int status_failure = 1;     // help, version, an input not read or not valid, write error
constexpr int status_bad_option = 2;  // invalid option

constexpr const char *help_lines[] = {
    N_("Filter to generate a histogram of the Unicode characters in the input.\n"),
    N_("       -c Suppress printing of counts and percentages.\n"),
    N_("       -g Suppress printing of glyphs.\n"),
    N_("       -u Suppress printing of code as text.\n"),
    N_("       -h Print this help message.\n"),
    N_("       -v Print version.\n"),
};
// Lines that --help adds after the -u line, for the modes that check many
// inputs (-h keeps its six lines).
constexpr int modes_after = 3;
constexpr const char *mode_lines[] = {
    N_("       -k Keep going: report each unreadable or invalid input, tabulate the rest.\n"),
    N_("       -l List the names of the inputs that are not valid UTF-8.\n"),
    N_("       -m Merge tables written by runetally (without -c and -u): add up their counts.\n"),
    N_("       --files0-from=F Read the names of the inputs from F, each ended by a NUL byte.\n"),
};

// --help writes this synopsis before the help text.
constexpr char usage_line[] = N_("Usage: %s [-cghklmuv] [--files0-from=F | file ...]\n");

// Help and version go to standard error for -h, -v and an invalid option
// (each time in a single write), to standard output for --help and
// --version.
void print_help(std::FILE *out, bool with_modes = false) noexcept
{
    for (int i = 0; i < static_cast<int>(std::size(help_lines)); ++i) {
        std::fputs(gettext(help_lines[i]), out);
        for (const char *line : mode_lines)
            if (with_modes && i == modes_after)
                std::fputs(gettext(line), out);
    }
}

void print_version(std::FILE *out) noexcept
{
    std::fprintf(out, "\n%s  %s\n", tally_tool_name, runekit_version);
    std::fprintf(out, gettext("Compiled %s.\n"), runekit_build_date);
    std::fprintf(out, "%s\n", runekit_copyright);
    std::fputs(gettext("Released under the terms of the GNU General Public License, version 3.\n"), out);
    std::fprintf(out, gettext("Report bugs to: %s.\n"), runekit_bug_address);
}

// What the options ask for besides the columns.
struct run_mode {
    bool keep_going = false;  // -k: a failing input is left out of the table
    bool list = false;        // -l: only the names of the failing inputs
    bool merge = false;       // -m: the inputs are tables, whose counts are added up
};

// Counters for every 21-bit code point; static, so the pages that are never
// touched are never materialised. Where a failing input must leave the table
// as it was (-k, -l), each input is counted into `input` first. Both are
// counted through the one stage.
char_tally tally, input;
count_stage stage;

// Counts the characters of the input on fd, named `name` (nullptr for
// standard input), into `into` and adds them to `characters`; true if it was
// read whole and valid. Otherwise it is reported (with -l an input that is
// not UTF-8 is listed instead).
bool count_text(int fd, const char *name, bool list, char_tally &into, std::int64_t &characters) noexcept
{
    const count_result r = count_fd(fd, stage, into);
    const bool whole = r.status == UTF8_END_OF_INPUT;
    if (whole)
        characters += r.position.characters;
    else if (list && r.status != UTF8_READ_ERROR)
        std::printf("%s\n", name != nullptr ? name : "-");
    else
        report_decode_failure(name, r);
    return whole;
}

// Reads one input, the named file or, for "-", standard input: counts its
// characters, or with -m adds up its table, into the table; true if it was
// read whole and valid. Otherwise it is reported (a file not opened, or as
// count_text and merge_input say), and where the mode allows going on what
// it held is left out: with -k or -l it is read into `input` first.
bool read_input(const char *name, run_mode mode, std::int64_t &characters) noexcept
{
    const bool named = std::strcmp(name, "-") != 0;
    const int fd = named ? ::open(name, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
    if (fd < 0) {
        report_unreadable(name, errno);
        return false;
    }
    const bool staged = mode.keep_going || mode.list;
    char_tally &into = staged ? input : tally;
    const bool whole = mode.merge ? merge_input(fd, name, mode.list, into, characters)
                                  : count_text(fd, named ? name : nullptr, mode.list, into, characters);
    if (named)
        ::close(fd);
    if (whole && mode.keep_going)
        count_add(tally, input);
    else if (staged)
        count_clear(input);
    return whole;
}

// Reads the options into columns and mode; help, version and an invalid
// option end the run here.
void read_options(int argc, char **argv, table_columns &columns, run_mode &mode, const char *&list) noexcept
{
    opterr = 0;
    option_scan scan;
    int option;
    while ((option = next_option_or_list(scan, argc, argv, GETOPT_STOP_AT_OPERAND "cghklmuv", list)) != -1) {
        switch (option) {
        case 'c':
            columns.counts = false;
            break;
        case 'g':
            columns.glyph = false;
            break;
        case 'k':
            mode.keep_going = true;
            break;
        case 'l':
            mode.list = true;
            break;
        case 'm':
            mode.merge = true;
            break;
        case 'u':
            columns.code = false;
            break;
        case 'h':
            write_gathered([](std::FILE *out) { print_help(out); });
            std::exit(status_failure);
        case 'v':
            write_gathered(print_version);
            std::exit(status_failure);
        case option_long_help:
            std::printf(gettext(usage_line), tally_tool_name);
            print_help(stdout, true);
            finish_stdout(tally_tool_name, status_ok, status_failure);
        case option_long_version:
            print_version(stdout);
            finish_stdout(tally_tool_name, status_ok, status_failure);
        default:
            write_gathered([](std::FILE *out) {
                std::fprintf(out, gettext("%s: invalid option flag %c\n"), tally_tool_name, optopt);
                print_version(out);
                print_help(out);
            });
            std::exit(status_bad_option);
        }
    }
}
}  // namespace

int main(int argc, char **argv)
{
    table_columns columns;
    run_mode mode;
    const char *list = nullptr;
    read_options(argc, argv, columns, mode, list);

    std::setlocale(LC_ALL, "");
    bindtextdomain("runekit", RUNEKIT_LOCALEDIR);
    textdomain("runekit");

    // Every argument from the first operand on names a file; none means
    // standard input; --files0-from names them instead. The table counts the
    // characters of all of them (with -m, adds up their tables); a failure
    // ends the run without it, unless -k or -l says go on.
    const bool go_on = mode.keep_going || mode.list;
    std::int64_t characters = 0;
    int status = status_ok;
    input_names names = open_inputs(argc, argv, optind, list);
    const char *name = nullptr;
    for (next_input got; (got = take_input(names, name)) != next_input::none;) {
        if (got == next_input::name && read_input(name, mode, characters))
            continue;
        if (!go_on)
            std::exit(status_failure);
        status = status_failure;
    }
    if (const int error = mode.list ? 0 : write_table(tally, characters, columns); error != 0) {
        report_write_error(tally_tool_name, error);
        return status_failure;
    }
    finish_stdout(tally_tool_name, status, status_failure);
}
