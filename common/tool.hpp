// What every tool of the suite shares: version, build date, bug address and
// the checked end of standard output. Header-only, so that a tool can use it
// without linking any library of ours.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "build_info.hpp"

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

// Reports a failed write of standard output: "<tool>: write error: <reason>".
inline void report_write_error(const char *tool, int error) noexcept
{
    std::fprintf(stderr, "%s: write error: %s\n", tool, std::strerror(error));
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
