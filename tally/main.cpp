// runetally: histogram of the characters of UTF-8 text on standard input.
#include <clocale>
#include <cstdio>
#include <cstdlib>
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
    N_("       -h Print this help message.\n"),
    N_("       -v Print version.\n"),
};

void print_help() noexcept
{
    for (const char *line : help_lines)
        std::fputs(gettext(line), stderr);
}

void print_version() noexcept
{
    std::fprintf(stderr, "\n%s  %s\n", tool_name, runekit_version);
    std::fprintf(stderr, gettext("Compiled %s.\n"), runekit_build_date);
    std::fprintf(stderr, "%s\n", runekit_copyright);
    std::fputs(gettext("Released under the terms of the GNU General Public License, version 3.\n"), stderr);
    std::fprintf(stderr, gettext("Report bugs to: %s.\n"), runekit_bug_address);
}

// Counters for every 21-bit code point; static, so the pages that are never
// touched are never materialised.
char_tally tally;

}  // namespace

int main(int argc, char **argv)
{
    table_columns columns;
    opterr = 0;
    int option;
    while ((option = getopt(argc, argv, GETOPT_STOP_AT_OPERAND "cghuv")) != -1) {
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
            print_help();
            return status_failure;
        case 'v':
            print_version();
            return status_failure;
        default:
            std::fprintf(stderr, gettext("%s: invalid option flag %c\n"), tool_name, optopt);
            print_version();
            print_help();
            return status_bad_option;
        }
    }

    std::setlocale(LC_ALL, "");
    bindtextdomain("runekit", RUNEKIT_LOCALEDIR);
    textdomain("runekit");

    const count_result r = count_fd(STDIN_FILENO, tally);
    const input_position &p = r.position;
    report_decode_failure(r.status, r.sequence, p.lines, p.characters, p.bytes);

    write_table(tally, p.characters, columns);
    finish_stdout(tool_name, status_ok, status_failure);
}
