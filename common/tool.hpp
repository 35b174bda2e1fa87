// What every tool of the suite shares: version, build date, bug address,
// the long options, messages on standard error and the checked end of
// standard output. Header-only, so that a tool can use it without linking
// any library of ours.
#pragma once

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "build_info.hpp"
#include "io.hpp"

// Prefix of a getopt option string that stops the scan at the first operand:
// GNU getopt reorders the arguments unless told so by a leading '+'; POSIX
// getopt stops there by itself.
#ifdef __GLIBC__
#define GETOPT_STOP_AT_OPERAND "+"
#else
#define GETOPT_STOP_AT_OPERAND ""
#endif

// The option lines of runeflip's and runepair's help texts.
inline constexpr char runekit_help_options[] =
    "       -h Print help information.\n"
    "       -v Print version information.\n";

inline constexpr char runekit_bug_address[] = "runekit-bugs@example.org";
inline constexpr char runekit_copyright[] = "Copyright (C) 2026 The runekit developers.";

// The version block of RuneAnatomy and runepair, a format for the tool's
// name, the version, the build date and the copyright line.
inline constexpr char runekit_version_text[] =
    "\n%s  %s\n"
    "Compiled %s\n"
    "%s\n"
    "Released under the terms of the GNU General Public License, version 3.\n\n";

// The two long options every tool answers before its first operand.
enum class long_option { none, help, version };

[[nodiscard]] inline long_option long_option_of(const char *arg) noexcept
{
    if (std::strcmp(arg, "--help") == 0)
        return long_option::help;
    if (std::strcmp(arg, "--version") == 0)
        return long_option::version;
    return long_option::none;
}

// What next_option returns for "--help" and "--version" (getopt's own
// results are characters or -1).
inline constexpr int option_long_help = 0x100;
inline constexpr int option_long_version = 0x101;

// Where an option scan stands: whether getopt is between two arguments (and
// not inside a group such as -cu).
struct option_scan {
    bool between_arguments = true;
};

// getopt(3) for a tool that also knows "--help" and "--version": an argument
// that is exactly one of them, met where an option argument may begin, is
// taken (optind passes it) and returned as option_long_help or
// option_long_version. Anywhere else, as the value of an option say, it is
// left to getopt, and any other "--xxx" stays getopt's unknown option '-'.
[[nodiscard]] inline int next_option(option_scan &scan, int argc, char *const argv[], const char *options) noexcept
{
    if (scan.between_arguments && optind < argc) {
        const long_option asked = long_option_of(argv[optind]);
        if (asked != long_option::none) {
            ++optind;
            return asked == long_option::help ? option_long_help : option_long_version;
        }
    }
    const int before = optind;
    const int option = getopt(argc, argv, options);
    scan.between_arguments = optind != before;
    return option;
}

// Writes the text that `format` and the values after it make (the
// conversions of printf) to standard error in a single write(2), so that
// tools sharing one standard error (xargs -P, make -j) never interleave two
// messages nor split one. It goes to the descriptor, past stdio; standard
// error is unbuffered, so no earlier text of stdio's is overtaken. The text
// is formatted on the stack, or on the heap when it is longer than 1 KiB;
// only when that storage cannot be had is it written in pieces. What the
// system takes only in part (a pipe, past PIPE_BUF bytes, when a signal
// comes) is finished by further writes. A failed write is ignored, there
// being nowhere left to report it; errno is left as it was, so that the
// caller may still use it.
[[gnu::format(printf, 1, 2)]] inline void write_message(const char *format, ...) noexcept
{
    const int saved = errno;
    std::array<char, 1024> local;
    std::va_list values;
    va_start(values, format);
    std::va_list again;
    va_copy(again, values);
    const int length = std::vsnprintf(local.data(), local.size(), format, values);
    va_end(values);
    if (length >= 0 && static_cast<std::size_t>(length) < local.size()) {
        (void)write_full(STDERR_FILENO, local.data(), static_cast<std::size_t>(length));
    } else if (length >= 0) {
        const std::size_t size = static_cast<std::size_t>(length) + 1;
        if (char *text = static_cast<char *>(std::malloc(size))) {
            (void)std::vsnprintf(text, size, format, again);
            (void)write_full(STDERR_FILENO, text, size - 1);
            std::free(text);
        } else {
            (void)vdprintf(STDERR_FILENO, format, again);
        }
    }
    va_end(again);
    errno = saved;
}

// Runs print(stream) on a stream in memory and writes what it printed to
// standard error in a single write(2), as write_message does; straight to
// standard error where no memory can be had for it.
template <class Print>
void write_gathered(Print print) noexcept
{
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *gathered = open_memstream(&text, &size);
    if (gathered == nullptr) {
        print(stderr);
        return;
    }
    print(gathered);
    if (std::fclose(gathered) == 0)
        (void)write_full(STDERR_FILENO, text, size);
    std::free(text);
}

// Reports a failed write of standard output: "<tool>: write error: <reason>".
inline void report_write_error(const char *tool, int error) noexcept
{
    write_message("%s: write error: %s\n", tool, std::strerror(error));
}

// Flushes standard output and ends the process with `status`. If anything
// written to standard output was lost, reports "<tool>: write error: <reason>"
// once on standard error and ends with `error_status` instead, so that a full
// disk is never reported as success.
[[noreturn]] inline void finish_stdout(const char *tool, int status, int error_status) noexcept
{
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        int error = errno != 0 ? errno : EIO;
        report_write_error(tool, error);
        std::_Exit(error_status);
    }
    std::exit(status);
}
