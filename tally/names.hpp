// runetally's inputs: their names, from the operands or from a file of names
// each ended by a NUL byte (--files0-from), read as they are needed, so that
// memory follows the longest name, not their number.
#pragma once

#include <cstddef>
#include <cstdio>

#include "tool.hpp"

inline constexpr char tally_tool_name[] = "runetally";

// Where the names come from: operands[next..count), or with a list, the file
// `list` (as given; "-" is standard input) read through `file` into `name`.
struct input_names {
    const char *const *operands = nullptr;
    int next = 0;
    int count = 0;
    const char *list = nullptr;
    std::FILE *file = nullptr;
    char *name = nullptr;      // the last name read from the list
    std::size_t capacity = 0;  // bytes allocated for it
    unsigned long number = 0;  // names taken from the list so far
};

enum class next_input {
    name,        // the next input's name
    failed,      // a name that names no input, reported: that input has failed
    none,        // no more inputs
    unreadable,  // the list cannot be read, reported
};

// What next_option_or_list returns for "--files0-from" without F, reported.
inline constexpr int option_list_missing = 0x200;

// next_option, after taking every "--files0-from=F" or "--files0-from F"
// that stands where an option may begin into `list` (the last one counts).
[[nodiscard]] int next_option_or_list(option_scan &scan, int argc, char **argv, const char *options,
                                      const char *&list) noexcept;

// How open_inputs went.
enum class inputs_opened {
    opened,
    operands_with_list,  // file operands as well as a list, reported
    list_unreadable,     // a list that cannot be opened, reported
};

// The inputs: the operands argv[first..argc), standard input when there are
// none, or the names in `list` when it is not null.
[[nodiscard]] inputs_opened open_inputs(int argc, char **argv, int first, const char *list,
                                        input_names &names) noexcept;

// The next input: its name in `name`, valid until the next call. An empty
// name, or "-" in a list read from standard input, is reported as failed.
[[nodiscard]] next_input take_input(input_names &names, const char *&name) noexcept;

// "runetally: NAME: reason": a file that cannot be opened or read.
void report_unreadable(const char *name, int error) noexcept;
