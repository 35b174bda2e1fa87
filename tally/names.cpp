// runetally's inputs: the operands, or the names of a NUL-separated list.
#include "names.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {
constexpr std::string_view list_option = "--files0-from";

const char *const standard_input[] = {"-"};

// The list's next name, or none at its end (when it is closed).
next_input next_listed(input_names &names, const char *&name) noexcept
{
    errno = 0;
    // A last name without its NUL comes out as one with it.
    if (::getdelim(&names.name, &names.capacity, '\0', names.file) < 0) {
        if (std::ferror(names.file) || errno == ENOMEM) {
            report_unreadable(names.list, errno != 0 ? errno : EIO);
            return next_input::unreadable;
        }
        if (names.file != stdin)
            std::fclose(names.file);
        std::free(names.name);
        names = input_names{};  // no operands left: none from now on
        return next_input::none;
    }
    name = names.name;
    ++names.number;
    if (*name == '\0') {
        write_message("%s: %s:%lu: invalid zero-length file name\n", tally_tool_name, names.list, names.number);
        return next_input::failed;
    }
    if (std::strcmp(names.list, "-") == 0 && std::strcmp(name, "-") == 0) {
        write_message("%s: when reading file names from standard input, no file name of '-' allowed\n",
                      tally_tool_name);
        return next_input::failed;
    }
    return next_input::name;
}
}  // namespace

int next_option_or_list(option_scan &scan, int argc, char **argv, const char *options, const char *&list) noexcept
{
    while (scan.between_arguments && optind < argc) {
        const std::string_view arg = argv[optind];
        if (arg == list_option) {
            if (optind + 1 == argc) {
                write_message("%s: option --files0-from requires an argument\n", tally_tool_name);
                return option_list_missing;
            }
            list = argv[optind + 1];
            optind += 2;
        } else if (arg.size() > list_option.size() && arg.starts_with(list_option) &&
                   arg[list_option.size()] == '=') {
            list = argv[optind] + list_option.size() + 1;
            ++optind;
        } else {
            break;
        }
    }
    return next_option(scan, argc, argv, options);
}

inputs_opened open_inputs(int argc, char **argv, int first, const char *list, input_names &names) noexcept
{
    names = input_names{};
    if (list == nullptr) {
        const bool none = first >= argc;
        names.operands = none ? standard_input : argv;
        names.next = none ? 0 : first;
        names.count = none ? 1 : argc;
        return inputs_opened::opened;
    }
    if (first < argc) {
        write_message("%s: file operands cannot be combined with --files0-from\n", tally_tool_name);
        return inputs_opened::operands_with_list;
    }
    names.list = list;
    names.file = std::strcmp(list, "-") == 0 ? stdin : std::fopen(list, "re");
    if (names.file == nullptr) {
        report_unreadable(list, errno);
        return inputs_opened::list_unreadable;
    }
    return inputs_opened::opened;
}

next_input take_input(input_names &names, const char *&name) noexcept
{
    if (names.list != nullptr)
        return next_listed(names, name);
    if (names.next == names.count)
        return next_input::none;
    name = names.operands[names.next++];
    return next_input::name;
}

void report_unreadable(const char *name, int error) noexcept
{
    write_message("%s: %s: %s\n", tally_tool_name, name, std::strerror(error));
}
