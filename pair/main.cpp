// runepair: the UTF-16 surrogate pair of a code point given in hexadecimal.
#include <cstdint>
#include <cstdio>
#include <optional>

#include "codepoint.hpp"
#include "tool.hpp"

namespace {
constexpr char tool_name[] = "runepair";

// Exit statuses.
constexpr int status_ok = 0;       // answer written
constexpr int status_usage = 1;    // help, version, wrong number of arguments
constexpr int status_invalid = 2;  // unrecognised option, invalid code point, write error

void print_help() noexcept
{
    std::fputs("Given a Unicode codepoint outside the BMP, report its surrogate decomposition\n"
               "The codepoint may be given in raw hex or preceded by either U+ or 0x\n",
               stderr);
    std::fprintf(stderr, "Usage: %s [options] codepoint\n", tool_name);
    std::fputs(runekit_help_options, stderr);
    std::fputs("\n", stderr);
    std::fprintf(stderr, "Report bugs to: %s\n\n", runekit_bug_address);
}

void print_version() noexcept
{
    std::fprintf(stderr, "\n%s  %s\n", tool_name, runekit_version);
    std::fprintf(stderr, "Compiled %s\n", runekit_build_date);
    std::fprintf(stderr, "%s\n", runekit_copyright);
    std::fputs("Released under the terms of the GNU General Public License, version 3.\n\n", stderr);
}

// Handles an argument that starts with '-': only its second character
// counts, so "-version" is -v and a lone "-" is no option at all.
[[noreturn]] void run_option(const char *arg) noexcept
{
    if (arg[1] == 'v') {
        print_version();
        finish_stdout(tool_name, status_usage, status_invalid);
    }
    if (arg[1] == 'h') {
        print_help();
        finish_stdout(tool_name, status_usage, status_invalid);
    }
    std::fputs("Unrecognized option.\n", stderr);
    finish_stdout(tool_name, status_invalid, status_invalid);
}

// Writes the pair for a supplementary code point, or the plane-0 notice.
void write_answer(std::uint32_t v) noexcept
{
    if (needs_surrogates(v)) {
        const surrogate_pair pair = surrogates_of(v);
        std::printf("The surrogate representation of U+%X is U+%4X U+%4X\n",
                    static_cast<unsigned>(v), static_cast<unsigned>(pair.high),
                    static_cast<unsigned>(pair.low));
    } else {
        std::printf("The codepoint U+%04x falls within plane 0.\n", static_cast<unsigned>(v));
    }
}
}  // namespace

int main(int argc, char **argv)
{
    // The count comes first: "-v extra" is a usage error, not a version request.
    if (argc != 2) {
        print_help();
        finish_stdout(tool_name, status_usage, status_invalid);
    }
    const char *arg = argv[1];
    if (arg[0] == '-')
        run_option(arg);
    // One "U+" is skipped; what is left is the text that is parsed and quoted.
    if (arg[0] == 'U' && arg[1] == '+')
        arg += 2;

    const std::optional<std::uint32_t> codepoint = parse_codepoint(arg);
    if (!codepoint) {
        std::fprintf(stderr, "%s is not a valid codepoint.\n", arg);
        finish_stdout(tool_name, status_invalid, status_invalid);
    }
    write_answer(*codepoint);
    finish_stdout(tool_name, status_ok, status_invalid);
}
