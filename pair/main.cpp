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

// The help text, a format for the tool's name, the option lines and the bug
// address; the synopsis that --help writes before it.
constexpr char help_text[] =
    "Given a Unicode codepoint outside the BMP, report its surrogate decomposition\n"
    "The codepoint may be given in raw hex or preceded by either U+ or 0x\n"
    "Usage: %s [options] codepoint\n"
    "%s"
    "\n"
    "Report bugs to: %s\n\n";
constexpr char usage_line[] = "Usage: %s [-hv] codepoint\n";

// -h, -v and a wrong count: standard error, status 1.
[[noreturn]] void usage_help() noexcept
{
    write_message(help_text, tool_name, runekit_help_options, runekit_bug_address);
    finish_stdout(tool_name, status_usage, status_invalid);
}

[[noreturn]] void usage_version() noexcept
{
    write_message(runekit_version_text, tool_name, runekit_version, runekit_build_date, runekit_copyright);
    finish_stdout(tool_name, status_usage, status_invalid);
}

// --help and --version: standard output, status 0.
[[noreturn]] void answer_long_option(long_option asked) noexcept
{
    if (asked == long_option::help) {
        std::printf(usage_line, tool_name);
        std::printf(help_text, tool_name, runekit_help_options, runekit_bug_address);
    } else {
        std::printf(runekit_version_text, tool_name, runekit_version, runekit_build_date, runekit_copyright);
    }
    finish_stdout(tool_name, status_ok, status_invalid);
}

// Handles an argument that starts with '-': only its second character
// counts, so "-version" is -v and a lone "-" is no option at all.
[[noreturn]] void run_option(const char *arg) noexcept
{
    if (arg[1] == 'v')
        usage_version();
    if (arg[1] == 'h')
        usage_help();
    write_message("Unrecognized option.\n");
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
    // --help and --version answer whatever follows them. Otherwise the count
    // comes first: "-v extra" is a usage error, not a version request.
    if (argc > 1 && long_option_of(argv[1]) != long_option::none)
        answer_long_option(long_option_of(argv[1]));
    if (argc != 2)
        usage_help();
    const char *arg = argv[1];
    if (arg[0] == '-')
        run_option(arg);
    // One "U+" is skipped; what is left is the text that is parsed and quoted.
    if (arg[0] == 'U' && arg[1] == '+')
        arg += 2;

    const std::optional<std::uint32_t> codepoint = parse_codepoint(arg);
    if (!codepoint) {
        write_message("%s is not a valid codepoint.\n", arg);
        finish_stdout(tool_name, status_invalid, status_invalid);
    }
    write_answer(*codepoint);
    finish_stdout(tool_name, status_ok, status_invalid);
}
