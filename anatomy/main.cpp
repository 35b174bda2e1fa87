// RuneAnatomy: explains whether the UTF-8 sequence at an offset of a file, or
// at the start of standard input, is a valid character, and why.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

#include "explain.hpp"
#include "input.hpp"
#include "io.hpp"
#include "tool.hpp"
#include "utf8.hpp"

namespace {
constexpr char tool_name[] = "RuneAnatomy";

constexpr const char *help_lines[] = {
    "Determine and explain the validity of a potential UTF-8 byte sequence\n",
    "%s: ((-o Offset) <file name>)\n",
};

constexpr const char *version_lines[] = {
    "\n%s  %s\n",
    "Compiled %s\n",
    "%s\n",
    "Released under the terms of the GNU General Public License, version 3.\n\n",
};

// Every run ends here, so that a lost write of standard output is reported.
[[noreturn]] void finish(int status) noexcept
{
    finish_stdout(tool_name, status, status_trouble);
}

[[noreturn]] void help() noexcept
{
    std::fputs(help_lines[0], stderr);
    std::fprintf(stderr, help_lines[1], tool_name);
    finish(status_trouble);
}

[[noreturn]] void version() noexcept
{
    std::fprintf(stderr, version_lines[0], tool_name, runekit_version);
    std::fprintf(stderr, version_lines[1], runekit_build_date);
    std::fprintf(stderr, version_lines[2], runekit_copyright);
    std::fputs(version_lines[3], stderr);
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
        std::perror(nullptr);
        std::fprintf(stderr, "%s: unable to open file %s\n", tool_name, path);
        finish(status_trouble);
    }
    if (::lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        std::perror(nullptr);
        finish(status_invalid);
    }
    return fd;
}

// Reads the lead byte and the continuation bytes it announces into `buffer`;
// returns how many bytes of the sequence arrived (0 when reading the
// continuation bytes failed). Ends the run when there is no lead byte.
[[nodiscard]] int read_sequence(int fd, std::span<unsigned char> buffer) noexcept
{
    const ssize_t first = read_once(fd, buffer.data(), 1);
    if (first < 0) {
        std::perror(nullptr);
        finish(status_trouble);
    }
    if (first == 0) {
        std::fprintf(stderr, "%s: could not read first byte from input.\n", tool_name);
        finish(status_trouble);
    }
    if (is_whole_verdict(buffer[0]))
        return 1;
    const auto extra = static_cast<std::size_t>(utf8_extra_bytes[buffer[0]]);
    return static_cast<int>(read_full(fd, buffer.data() + 1, extra)) + 1;
}
}  // namespace

int main(int argc, char **argv)
{
    long long offset = 0;
    opterr = 0;
    int option;
    while ((option = getopt(argc, argv, GETOPT_STOP_AT_OPERAND "ho:v")) != -1) {
        switch (option) {
        case 'o':
            offset = parse_offset(optarg);
            break;
        case 'h':
            help();
        case 'v':
            version();
        default:
            std::fprintf(stderr, "Unrecognized option %c\n", optopt);
            finish(status_invalid);
        }
    }

    const int fd = optind < argc ? open_operand(argv[optind], offset) : STDIN_FILENO;
    std::array<unsigned char, anatomy_max_bytes> buffer{};
    const int present = read_sequence(fd, buffer);
    finish(explain_sequence(stdout, buffer, present));
}
