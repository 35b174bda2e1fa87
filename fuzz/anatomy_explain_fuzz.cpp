// RuneAnatomy's explanation on any buffer of one to six bytes and any count of
// present bytes that fits it (from the first input byte). The buffer is copied to the heap at its
// exact size, so that a read past it is caught. The report must be the same
// on a second run, and its status and verdict must be what the legality rules
// say, worked out here from the bits: the number of leading ones of the lead,
// the bytes present, the first byte that is not 10xxxxxx, and for a complete
// sequence its value, judged out of range, overlong or surrogate in that
// order.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "explain.hpp"

namespace {
[[noreturn]] void fail(const char *what, const std::string &report) noexcept
{
    std::fprintf(stderr, "explanation mismatch: %s\nreport:\n%s\n", what, report.c_str());
    std::abort();
}

struct explained {
    std::string text;
    int status;
};

explained explain(std::span<const unsigned char> bytes, int present) noexcept
{
    char *data = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&data, &size);
    if (out == nullptr)
        std::abort();
    const int status = explain_sequence(out, bytes, present);
    std::fclose(out);
    explained r{std::string(data, size), status};
    std::free(data);
    return r;
}

std::string format(const char *pattern, unsigned long a, unsigned long b = 0) noexcept
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b);
    return text;
}

// The verdict the rules give: the status, and texts the report must hold.
struct verdict {
    int status;
    std::string phrase;
    std::string note;
};

// Value of a complete sequence of 10xxxxxx continuation bytes: the payload
// bits in order; for a six-byte lead the two low bits of the lead land in
// bits 31 and 30 (0xFE and 0xFF included), as the decoding rule wraps.
std::uint32_t payload(std::span<const unsigned char> seq) noexcept
{
    const auto e = static_cast<unsigned>(seq.size()) - 1;
    std::uint32_t v = e == 5 ? (seq[0] & 0x3u) << 30 : (seq[0] & (0x3Fu >> e)) << (6 * e);
    for (unsigned i = 1; i <= e; ++i)
        v |= static_cast<std::uint32_t>(seq[i] & 0x3F) << (6 * (e - i));
    return v;
}

verdict judge(std::span<const unsigned char> bytes, int present) noexcept
{
    const unsigned char b0 = bytes[0];
    if (b0 < 0x80)
        return {status_ok, "is a valid UTF-8 code by itself\nsince its high bit is 0.\n", ""};
    if (b0 < 0xC0)
        return {status_invalid, "is not a valid first byte of a UTF-8\nsequence because its high bits are 10.\n", ""};
    if (b0 >= 0xFE)
        return {status_invalid, b0 == 0xFE ? "because it begins with 7 contiguous 1s.\n" : "because it begins with 8 contiguous 1s.\n", ""};
    int ones = 0;
    while (ones < 6 && (b0 & (0x80 >> ones)) != 0)
        ++ones;
    const int have = present;
    if (have < ones)
        return {status_invalid, format("a total of %lu bytes are needed but\n only %lu bytes are present.\n",
                                        static_cast<unsigned long>(ones), static_cast<unsigned long>(have)),
                ""};
    for (int i = 1; i < ones; ++i)
        if ((bytes[static_cast<std::size_t>(i)] & 0xC0) != 0x80)
            return {status_invalid, format("because byte %lu, value 0x%02lX", static_cast<unsigned long>(i + 1),
                                            bytes[static_cast<std::size_t>(i)]),
                    ""};
    const std::uint32_t v = payload(bytes.first(static_cast<std::size_t>(ones)));
    const std::string value = format("is a UTF-8-like transformation equivalent to UTF32 0x%08lX.\n", v);
    const std::string head = "\nThis sequence is technically not a valid UTF-8 character\nbecause it ";
    const int shortest = v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;
    if (v > 0x10FFFF)
        return {status_invalid, value, head + "encodes a value above 0x10FFFF"};
    if (shortest < ones)
        return {status_invalid, value,
                head + "is an overlong form: the shortest encoding of this value has " + std::to_string(shortest) +
                    (shortest == 1 ? " byte.\n" : " bytes.\n")};
    if (v >= 0xD800 && v <= 0xDFFF)
        return {status_invalid, value, head + "encodes a surrogate codepoint"};
    return {status_ok, format("is a valid UTF-8 character encoding equivalent to UTF32 0x%08lX.\n", v), ""};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2 || size > 1 + anatomy_max_bytes)
        return -1;
    const std::size_t n = size - 1;
    const int present = data[0] % static_cast<int>(n + 1);  // 0 to n, as a caller passes it
    auto *copy = static_cast<unsigned char *>(std::malloc(n));
    std::memcpy(copy, data + 1, n);
    const std::span<const unsigned char> bytes(copy, n);

    const explained first = explain(bytes, present);
    const explained second = explain(bytes, present);
    std::free(copy);
    if (first.text != second.text || first.status != second.status)
        fail("two runs differ", first.text);
    const verdict want = judge(std::span<const unsigned char>(data + 1, n), present);
    if (first.status != want.status)
        fail("status", first.text);
    if (want.phrase.empty() ? !first.text.empty() : first.text.find(want.phrase) == std::string::npos)
        fail(("the report lacks: " + want.phrase).c_str(), first.text);
    // The closing note, if any, ends the report; a report without one has none.
    const std::size_t note = first.text.find("\nThis sequence is technically");
    if (want.note.empty() ? note != std::string::npos
                          : note == std::string::npos || first.text.compare(note, want.note.size(), want.note) != 0)
        fail(("the closing note is not: " + want.note).c_str(), first.text);
    return 0;
}
