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

#include "located.hpp"
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
constexpr int status_bad_option = 2;  // invalid option, or options that do not go together

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
    N_("       -e List every invalid sequence as file:line:column: offset: reason.\n"),
    N_("       -s Strict: encoded surrogates (U+D800 to U+DFFF) are invalid.\n"),
    N_("       -0 With -l, end each name with a NUL byte instead of a newline.\n"),
    N_("       --files0-from=F Read the names of the inputs from F, each ended by a NUL byte.\n"),
};

// --help writes this synopsis before the help text.
constexpr char usage_line[] = N_("Usage: %s [-0cegklmsuv] [--files0-from=F | file ...]\n");

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
    bool located = false;     // -e: every ill-formed sequence located, no table
    bool strict = false;      // -s: encoded surrogates are ill-formed
    bool nul = false;         // -0: with -l, each name ends with a NUL byte
};

// How reading one input ended.
enum class input_outcome {
    whole,      // read whole and valid (with -m, a table whose counts were added)
    failed,     // reported or listed
    too_large,  // with -m, counts too large to add
};

// Counters for every 21-bit code point; static, so the pages that are never
// touched are never materialised. Where a failing input must leave the table
// as it was (-k, -l), each input is counted into `input` first. Both are
// counted through the one stage.
char_tally tally, input;
count_stage stage;

// With -l, a name in the list; nullptr is standard input.
void list_name(const char *name, run_mode mode) noexcept
{
    std::fputs(name != nullptr ? name : "-", stdout);
    std::putchar(mode.nul ? '\0' : '\n');
}

// Counts the characters of the input on fd, named `name` (nullptr for
// standard input), into `into` and adds them to `characters`; true if it was
// read whole and valid. Otherwise it is reported.
bool count_text(int fd, const char *name, run_mode mode, char_tally &into, std::int64_t &characters) noexcept
{
    const count_result r = count_fd(fd, stage, into, mode.strict);
    const bool whole = r.status == UTF8_END_OF_INPUT;
    if (whole)
        characters += r.position.characters;
    else
        report_decode_failure(name, r);
    return whole;
}

// With -l: validates the input on fd, counting nothing; an input that is
// not valid is listed, one that cannot be read reported.
bool validate_text(int fd, const char *name, run_mode mode) noexcept
{
    const count_result r = validate_fd(fd, mode.strict);
    if (r.status == UTF8_READ_ERROR)
        report_decode_failure(name, r);
    else if (r.status != UTF8_END_OF_INPUT)
        list_name(name, mode);
    return r.status == UTF8_END_OF_INPUT;
}

// With -e: writes the ill-formed sequences of the input on fd; true if it
// was read whole and held none. A read error is reported.
bool locate_text(int fd, const char *name, run_mode mode) noexcept
{
    const located_result r = locate_errors(fd, name != nullptr ? name : "-", mode.strict);
    if (r.end.status != UTF8_END_OF_INPUT)
        std::fflush(stdout);  // the lines before the report come first
    report_decode_failure(name, r.end);
    return r.end.status == UTF8_END_OF_INPUT && !r.ill_formed;
}

// With -m: adds up the table on fd; a table that is not one is listed with
// -l (merge_input reports it otherwise).
input_outcome merge_table(int fd, const char *name, run_mode mode, char_tally &into, std::int64_t &characters) noexcept
{
    const merge_outcome m = merge_input(fd, name, mode.list, into, characters);
    if (m == merge_outcome::not_table && mode.list)
        list_name(name, mode);
    return m == merge_outcome::added       ? input_outcome::whole
           : m == merge_outcome::too_large ? input_outcome::too_large
                                           : input_outcome::failed;
}

// Reads the input open on fd as the mode says: counts its characters, or
// with -m adds up its table, into `into`; with -l validates it; with -e
// locates its ill-formed sequences.
input_outcome read_by_mode(int fd, const char *name, run_mode mode, char_tally &into,
                           std::int64_t &characters) noexcept
{
    if (mode.merge)
        return merge_table(fd, name, mode, into, characters);
    const char *const shown = std::strcmp(name, "-") != 0 ? name : nullptr;
    bool whole;
    if (mode.located)
        whole = locate_text(fd, shown, mode);
    else if (mode.list)
        whole = validate_text(fd, shown, mode);
    else
        whole = count_text(fd, shown, mode, into, characters);
    return whole ? input_outcome::whole : input_outcome::failed;
}

// Reads one input, the named file or, for "-", standard input. Where the
// mode allows going on after an input has failed, what it held is left out:
// with -k or -l it is read into `input` first.
input_outcome read_input(const char *name, run_mode mode, std::int64_t &characters) noexcept
{
    const bool named = std::strcmp(name, "-") != 0;
    const int fd = named ? ::open(name, O_RDONLY | O_CLOEXEC) : STDIN_FILENO;
    if (fd < 0) {
        const int error = errno;
        if (mode.located)
            std::fflush(stdout);  // the lines of the inputs before come first
        report_unreadable(name, error);
        return input_outcome::failed;
    }
    const bool staged = mode.keep_going || mode.list;
    char_tally &into = staged ? input : tally;
    const input_outcome got = read_by_mode(fd, name, mode, into, characters);
    if (named)
        ::close(fd);
    if (got == input_outcome::whole && mode.keep_going)
        count_add(tally, input);
    else if (staged)
        count_clear(input);
    return got;
}

// Reads the options into columns and mode; help, version and an invalid
// option end the run here.
void read_options(int argc, char **argv, table_columns &columns, run_mode &mode, const char *&list) noexcept
{
    opterr = 0;
    option_scan scan;
    int option;
    while ((option = next_option_or_list(scan, argc, argv, GETOPT_STOP_AT_OPERAND "0ceghklmsuv", list)) != -1) {
        switch (option) {
        case '0':
            mode.nul = true;
            break;
        case 'c':
            columns.counts = false;
            break;
        case 'e':
            mode.located = true;
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
        case 's':
            mode.strict = true;
            break;
        case 'u':
            columns.code = false;
            break;
        case option_list_missing:
            std::exit(status_bad_option);
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
    if (mode.located && (mode.list || mode.merge)) {
        write_message("%s: -e cannot be combined with -l or -m\n", tally_tool_name);
        return status_bad_option;
    }

    std::setlocale(LC_ALL, "");
    bindtextdomain("runekit", RUNEKIT_LOCALEDIR);
    textdomain("runekit");

    // Every argument from the first operand on names a file; none means
    // standard input; --files0-from names them instead. The table counts the
    // characters of all of them (with -m, adds up their tables); a failure
    // ends the run without it, unless -k, -l or -e says go on.
    const bool go_on = mode.keep_going || mode.list || mode.located;
    std::int64_t characters = 0;
    int status = status_ok;
    input_names names;
    switch (open_inputs(argc, argv, optind, list, names)) {
    case inputs_opened::opened:
        break;
    case inputs_opened::operands_with_list:
        return status_bad_option;
    case inputs_opened::list_unreadable:
        finish_stdout(tally_tool_name, status_failure, status_failure);
    }
    const char *name = nullptr;
    for (next_input got; (got = take_input(names, name)) != next_input::none;) {
        if (got == next_input::unreadable)
            finish_stdout(tally_tool_name, status_failure, status_failure);
        const input_outcome read = got == next_input::name ? read_input(name, mode, characters) : input_outcome::failed;
        if (read == input_outcome::whole)
            continue;
        if (read == input_outcome::too_large) {
            write_message("%s: counts too large to add\n", tally_tool_name);
            finish_stdout(tally_tool_name, status_failure, status_failure);
        }
        if (!go_on)
            std::exit(status_failure);
        status = status_failure;
    }
    const bool table = !mode.list && !mode.located;
    if (const int error = table ? write_table(tally, characters, columns) : 0; error != 0) {
        report_write_error(tally_tool_name, error);
        return status_failure;
    }
    finish_stdout(tally_tool_name, status, status_failure);
}
