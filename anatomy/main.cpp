// RuneAnatomy: explains whether the UTF-8 sequence at an offset of a file, or
// at the start of standard input, is a valid character, and why.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <unistd.h>

#include "explain.hpp"
#include "input.hpp"
#include "io.hpp"
#include "tool.hpp"
#include "utf8.hpp"

namespace {
constexpr char tool_name[] = "RuneAnatomy";

// The help text, a format for the tool's name, and the synopsis that --help
// writes before it.
constexpr char help_text[] =
    "Determine and explain the validity of a potential UTF-8 byte sequence\n"
    "%s: ((-o Offset) <file name>)\n";
constexpr char usage_line[] = "Usage: %s [-hv] [-o offset] [file]\n";
constexpr char long_help_text[] =
    "       -o Start at this byte of the file; on standard input, skip this many\n"
    "          bytes from where it stands.\n"
    "       Options come before the file name; a second operand is refused.\n";

// Every run ends here, so that a lost write of standard output is reported.
[[noreturn]] void finish(int status) noexcept
{
    finish_stdout(tool_name, status, status_trouble);
}

// -h and -v: standard error, status 2. --help and --version: standard
// output, status 0.
[[noreturn]] void help(bool asked_long) noexcept
{
    if (!asked_long) {
        write_message(help_text, tool_name);
        finish(status_trouble);
    }
    std::printf(usage_line, tool_name);
    std::printf(help_text, tool_name);
    std::fputs(long_help_text, stdout);
    finish(status_ok);
}

[[noreturn]] void version(bool asked_long) noexcept
{
    if (!asked_long) {
        write_message(runekit_version_text, tool_name, runekit_version, runekit_build_date, runekit_copyright);
        finish(status_trouble);
    }
    std::printf(runekit_version_text, tool_name, runekit_version, runekit_build_date, runekit_copyright);
    finish(status_ok);
}

// The ends of a run that finds no sequence to explain: a failed positioning
// (status_invalid) or read (status_trouble) gives the system's description
// alone; an input that ends before its first byte, the tool's own message.
[[noreturn]] void system_failure(int error, int status) noexcept
{
    write_message("%s\n", std::strerror(error));
    finish(status);
}

[[noreturn]] void no_first_byte() noexcept
{
    write_message("%s: could not read first byte from input.\n", tool_name);
    finish(status_trouble);
}

// Opens the named file and positions it at `offset` from its start, or
// reports why not and ends the run. The open does not wait for a FIFO's
// writer; a FIFO cannot be positioned, which is reported like any other
// failed seek.
[[nodiscard]] int open_operand(const char *path, long long offset) noexcept
{
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK);
    if (fd >= 0)
        (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (fd < 0) {
        write_message("%s\n%s: unable to open file %s\n", std::strerror(errno), tool_name, path);
        finish(status_trouble);
    }
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        system_failure(errno, status_invalid);
    return fd;
}

// Moves standard input on by `offset` bytes from where it stands, or reports
// why not and ends the run: a negative offset as a file's lseek would refuse
// it, the end of the input as an offset past the end of a file.
[[nodiscard]] int position_stdin(long long offset) noexcept
{
    if (offset < 0)
        system_failure(EINVAL, status_invalid);
    const skip_result skipped = skip_input(STDIN_FILENO, offset);
    if (skipped == skip_result::failed)
        system_failure(errno, status_trouble);
    if (skipped == skip_result::ended)
        no_first_byte();
    return STDIN_FILENO;
}

// Reads the lead byte and the continuation bytes it announces into `buffer`;
// returns how many bytes of the sequence arrived (0 when reading the
// continuation bytes failed). Ends the run when there is no lead byte.
[[nodiscard]] int read_sequence(int fd, std::span<unsigned char> buffer) noexcept
{
    const ssize_t first = read_once(fd, buffer.data(), 1);
    if (first < 0)
        system_failure(errno, status_trouble);
    if (first == 0)
        no_first_byte();
    if (is_whole_verdict(buffer[0]))
        return 1;
    const auto extra = static_cast<std::size_t>(utf8_extra_bytes[buffer[0]]);
    return static_cast<int>(read_full(fd, buffer.data() + 1, extra)) + 1;
}

// The value of -o, or the end of the run: the first offset that cannot be
// read ends it, whether or not a file follows.
[[nodiscard]] long long offset_argument(const char *text) noexcept
{
    const std::optional<long long> offset = parse_offset(text);
    if (!offset) {
        write_message("%s: invalid offset %s\n", tool_name, text);
        finish(status_invalid);
    }
    return *offset;
}
}  // namespace

int main(int argc, char **argv)
{
    long long offset = 0;
    opterr = 0;
    option_scan scan;
    int option;
    while ((option = next_option(scan, argc, argv, GETOPT_STOP_AT_OPERAND "ho:v")) != -1) {
        switch (option) {
        case 'o':
            offset = offset_argument(optarg);
            break;
        case 'h':
        case option_long_help:
            help(option == option_long_help);
        case 'v':
        case option_long_version:
            version(option == option_long_version);
        default:
            write_message("Unrecognized option %c\n", optopt);
            finish(status_invalid);
        }
    }

    // Scanning stopped at the first operand, so anything after it, an
    // option included, is refused before the file is opened.
    if (argc - optind > 1) {
        write_message("%s: extra operand %s\n", tool_name, argv[optind + 1]);
        finish(status_invalid);
    }
    const int fd = optind < argc ? open_operand(argv[optind], offset) : position_stdin(offset);
    std::array<unsigned char, anatomy_max_bytes> buffer{};
    const int present = read_sequence(fd, buffer);
    finish(explain_sequence(stdout, buffer, present));
}
