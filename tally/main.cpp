// runetally: histogram of the characters of UTF-8 text in files or on
// standard input.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <libintl.h>
#include <unistd.h>

#include "table.hpp"
#include "tool.hpp"

#ifndef RUNEKIT_LOCALEDIR
#define RUNEKIT_LOCALEDIR "/usr/local/share/locale"
#endif

// Marks a text for the catalogue where it is looked up later.
#define N_(text) text

namespace {
constexpr char tool_name[] = "runetally";

constexpr int status_ok = 0;          // table written
constexpr int status_failure = 1;     // help, version, unreadable input, write error
constexpr int status_bad_option = 2;  // invalid option

constexpr const char *help_lines[] = {
    N_("Filter to generate a histogram of the Unicode characters in the input.\n"),
    N_("       -c Suppress printing of counts and percentages.\n"),
    N_("       -g Suppress printing of glyphs.\n"),
    N_("       -u Suppress printing of code as text.\n"),
    N_("       -k Keep going: report each unreadable or invalid input, tabulate the rest.\n"),
    N_("       -l List the names of the inputs that are not valid UTF-8.\n"),
    N_("       -h Print this help message.\n"),
    N_("       -v Print version.\n"),
};

// --help writes this synopsis before the help text.
constexpr char usage_line[] = N_("Usage: %s [-cghkluv] [file ...]\n");

// Help and version go to standard error for -h, -v and an invalid option,
// to standard output for --help and --version.
void print_help(std::FILE *out) noexcept
{
    for (const char *line : help_lines)
        std::fputs(gettext(line), out);
}

void print_version(std::FILE *out) noexcept
{
    std::fprintf(out, "\n%s  %s\n", tool_name, runekit_version);
    std::fprintf(out, gettext("Compiled %s.\n"), runekit_build_date);
    std::fprintf(out, "%s\n", runekit_copyright);
    std::fputs(gettext("Released under the terms of the GNU General Public License, version 3.\n"), out);
    std::fprintf(out, gettext("Report bugs to: %s.\n"), runekit_bug_address);
}

// Counters for every 21-bit code point; static, so the pages that are never
// touched are never materialised.
char_tally tally;

// Counts the characters of one input, the named file or, for "-", standard
// input, and returns how many there were. A file that cannot be opened, or a
// decoding failure (reported after the file's name), ends the run.
std::int64_t count_input(const char *name) noexcept
{
    const bool named = std::strcmp(name, "-") != 0;
    const int fd = named ? ::open(name, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s: %s\n", tool_name, name, std::strerror(errno));
        std::exit(status_failure);
    }
    const count_result r = count_fd(fd, tally);
    const input_position &p = r.position;
    if (named && r.status != UTF8_END_OF_INPUT) {
        const int error = errno;  // the report of a read error needs it
        std::fprintf(stderr, "%s: ", name);
        errno = error;
    }
    report_decode_failure(r.status, r.sequence, p.lines, p.characters, p.bytes);
    if (named)
        ::close(fd);
    return p.characters;
}
}  // namespace

int main(int argc, char **argv)
{
    table_columns columns;
    opterr = 0;
    option_scan scan;
    int option;
    while ((option = next_option(scan, argc, argv, GETOPT_STOP_AT_OPERAND "cghuv")) != -1) {
        switch (option) {
        case 'c':
            columns.counts = false;
            break;
        case 'g':
            columns.glyph = false;
            break;
        case 'u':
            columns.code = false;
            break;
        case 'h':
            print_help(stderr);
            return status_failure;
        case 'v':
            print_version(stderr);
            return status_failure;
        case option_long_help:
            std::printf(gettext(usage_line), tool_name);
            print_help(stdout);
            finish_stdout(tool_name, status_ok, status_failure);
        case option_long_version:
            print_version(stdout);
            finish_stdout(tool_name, status_ok, status_failure);
        default:
            std::fprintf(stderr, gettext("%s: invalid option flag %c\n"), tool_name, optopt);
            print_version(stderr);
            print_help(stderr);
            return status_bad_option;
        }
    }

    std::setlocale(LC_ALL, "");
    bindtextdomain("runekit", RUNEKIT_LOCALEDIR);
    textdomain("runekit");

    // Every argument from the first operand on names a file; none means
    // standard input. The table counts the characters of all of them.
    std::int64_t characters = 0;
    if (optind == argc)
        characters = count_input("-");
    for (int i = optind; i < argc; ++i)
        characters += count_input(argv[i]);

    write_table(tally, characters, columns);
    finish_stdout(tool_name, status_ok, status_failure);
}
