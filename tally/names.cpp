// runetally's inputs: the operands, or the names of a NUL-separated list.
#include "names.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

#include "io.hpp"

namespace {
constexpr int status_failure = 1;  // the list cannot be opened or read
constexpr int status_usage = 2;    // as for an invalid option

constexpr std::string_view list_option = "--files0-from";
constexpr std::size_t first_capacity = std::size_t{1} << 16;

const char *const standard_input[] = {"-"};

[[noreturn]] void list_unreadable(const input_names &names, int error) noexcept
{
    report_unreadable(names.list, error);
    finish_stdout(tally_tool_name, status_failure, status_failure);
}

// Makes room after the bytes still to be handed out, which move to the
// start of the buffer; a name as long as the whole buffer doubles it.
void make_room(input_names &names) noexcept
{
    std::memmove(names.buffer, names.buffer + names.begin, names.end - names.begin);
    names.end -= names.begin;
    names.begin = 0;
    if (names.end < names.capacity)
        return;
    void *grown = std::realloc(names.buffer, 2 * names.capacity + 1);
    if (grown == nullptr)
        list_unreadable(names, ENOMEM);
    names.buffer = static_cast<char *>(grown);
    names.capacity *= 2;
}

// Reads the next block of the list; at its end, closes it.
void read_list(input_names &names) noexcept
{
    make_room(names);
    const ssize_t n = read_once(names.fd, names.buffer + names.end, names.capacity - names.end);
    if (n < 0)
        list_unreadable(names, errno);
    names.end += static_cast<std::size_t>(n);
    if (n == 0) {
        names.list_read = true;
        if (names.fd != STDIN_FILENO)
            ::close(names.fd);
    }
}

// The name of the list's next entry, which ends at `stop`.
next_input listed(input_names &names, const char *&name, std::size_t stop) noexcept
{
    name = names.buffer + names.begin;
    names.buffer[stop] = '\0';  // for a last name without its NUL
    names.begin = stop < names.end ? stop + 1 : stop;
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
                std::exit(status_usage);
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

input_names open_inputs(int argc, char **argv, int first, const char *list) noexcept
{
    input_names names;
    if (list == nullptr) {
        const bool none = first >= argc;
        names.operands = none ? standard_input : argv;
        names.next = none ? 0 : first;
        names.count = none ? 1 : argc;
        return names;
    }
    if (first < argc) {
        write_message("%s: file operands cannot be combined with --files0-from\n", tally_tool_name);
        std::exit(status_usage);
    }
    names.list = list;
    names.fd = std::strcmp(list, "-") == 0 ? STDIN_FILENO : ::open(list, O_RDONLY | O_CLOEXEC);
    if (names.fd < 0)
        list_unreadable(names, errno);
    names.buffer = static_cast<char *>(std::malloc(first_capacity + 1));
    if (names.buffer == nullptr)
        list_unreadable(names, ENOMEM);
    names.capacity = first_capacity;
    return names;
}

next_input take_input(input_names &names, const char *&name) noexcept
{
    if (names.list == nullptr) {
        if (names.next == names.count)
            return next_input::none;
        name = names.operands[names.next++];
        return next_input::name;
    }
    for (;;) {
        const char *from = names.buffer + names.begin;
        if (const void *nul = std::memchr(from, '\0', names.end - names.begin))
            return listed(names, name, static_cast<std::size_t>(static_cast<const char *>(nul) - names.buffer));
        if (names.list_read && names.begin < names.end)
            return listed(names, name, names.end);
        if (names.list_read) {
            std::free(names.buffer);
            names = input_names{};  // no operands left: none from now on
            return next_input::none;
        }
        read_list(names);
    }
}

void report_unreadable(const char *name, int error) noexcept
{
    write_message("%s: %s: %s\n", tally_tool_name, name, std::strerror(error));
}
