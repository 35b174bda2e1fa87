// runeflip's reversal on any line. Both routines must give what a forward
// model of the rules gives: the line splits into groups, each a byte that is
// not a continuation byte followed by the run of continuation bytes after it;
// an ASCII byte is a character by itself, a lead byte takes the first t bytes
// of its run (t as its length prefix announces) and every other byte of the
// run is a character by itself, as is each byte of a run at the start of the
// line. The line is cut short if some lead has fewer than t bytes in its run;
// the report names the last such lead. Reversing the result again must give
// the line back; on valid UTF-8 the result must also decode to the code
// points in reverse order.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "flip_differential.hpp"

namespace {
using bytes = std::vector<unsigned char>;

[[noreturn]] void fail(const char *what) noexcept
{
    std::fprintf(stderr, "reversal mismatch: %s\n", what);
    std::abort();
}

// Continuation bytes a lead byte announces, from its count of leading ones.
int announced(unsigned char lead) noexcept
{
    int ones = 0;
    while (ones < 8 && (lead & (0x80 >> ones)) != 0)
        ++ones;
    return ones >= 7 ? 5 : ones - 1;  // 0xFE and 0xFF count as six-byte leads
}

struct model {
    reverse_result result;
    bytes text;
};

model forward_model(const bytes &line) noexcept
{
    std::vector<bytes> characters;
    model m{{reverse_status::reversed, 0, 0, 0, 0}, {}};
    auto character = [&](std::size_t from, std::size_t to) {
        characters.emplace_back(line.begin() + static_cast<std::ptrdiff_t>(from),
                                line.begin() + static_cast<std::ptrdiff_t>(to));
    };
    std::size_t i = 0;
    for (; i < line.size() && (line[i] & 0xC0) == 0x80; ++i)
        character(i, i + 1);  // unclaimed at the start
    while (i < line.size()) {
        const std::size_t lead = i++;
        while (i < line.size() && (line[i] & 0xC0) == 0x80)
            ++i;
        const auto run = static_cast<std::int64_t>(i - lead - 1);
        const std::int64_t t = line[lead] < 0x80 ? 0 : announced(line[lead]);
        if (run < t) {
            m.result = {reverse_status::truncated, 0, static_cast<std::int64_t>(lead) + 1, t, run};
            continue;
        }
        const std::size_t end = lead + static_cast<std::size_t>(t) + 1;
        character(lead, end);
        for (std::size_t k = end; k < i; ++k)
            character(k, k + 1);  // unclaimed behind the lead's share
    }
    if (m.result.status == reverse_status::truncated)
        return m;
    for (auto c = characters.rbegin(); c != characters.rend(); ++c)
        m.text.insert(m.text.end(), c->begin(), c->end());
    m.result.length = static_cast<std::int64_t>(m.text.size());
    return m;
}

// The code points of strictly valid UTF-8, or nothing.
std::optional<std::vector<std::uint32_t>> decode(const bytes &s) noexcept
{
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < s.size();) {
        const unsigned char b = s[i];
        const int n = b < 0x80 ? 0 : b < 0xC2 ? -1 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : b < 0xF5 ? 3 : -1;
        if (n < 0 || i + static_cast<std::size_t>(n) >= s.size())
            return std::nullopt;
        std::uint32_t v = n == 0 ? b : b & (0x3Fu >> n);
        for (int k = 1; k <= n; ++k) {
            if ((s[i + static_cast<std::size_t>(k)] & 0xC0) != 0x80)
                return std::nullopt;
            v = (v << 6) | (s[i + static_cast<std::size_t>(k)] & 0x3Fu);
        }
        const std::uint32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (v < least[n] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF))
            return std::nullopt;
        out.push_back(v);
        i += static_cast<std::size_t>(n) + 1;
    }
    return out;
}

// Runs a routine into a buffer of exactly the line's size on the heap, so
// that a write past it is caught.
model run(reverse_result (*routine)(std::span<const unsigned char>, unsigned char *), const bytes &line) noexcept
{
    auto *out = static_cast<unsigned char *>(std::malloc(line.empty() ? 1 : line.size()));
    model m{routine(line, out), {}};
    if (m.result.status == reverse_status::reversed) {
        if (m.result.length < 0 || static_cast<std::size_t>(m.result.length) > line.size())
            fail("length out of bounds");
        m.text.assign(out, out + m.result.length);
    }
    std::free(out);
    return m;
}

void expect_same(const model &want, const model &got) noexcept
{
    const reverse_result &a = want.result, &b = got.result;
    if (a.status != b.status)
        fail("status");
    if (a.status == reverse_status::truncated &&
        (a.position != b.position || a.needed != b.needed || a.present != b.present))
        fail("truncation report");
    if (a.status == reverse_status::reversed && (a.length != b.length || want.text != got.text))
        fail("reversed text");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const bytes line(data, data + size);
    const model want = forward_model(line);
    const model fast = run(reverse_line, line);
    expect_same(want, fast);
    expect_same(want, run(flip_check::reverse_line_bytewise, line));
    if (fast.result.status != reverse_status::reversed)
        return 0;
    if (run(reverse_line, fast.text).text != line)
        fail("reversing twice does not give the line back");

    const auto points = decode(line);
    if (!points)
        return 0;
    const auto flipped = decode(fast.text);
    if (!flipped || flipped->size() != points->size() ||
        !std::equal(points->rbegin(), points->rend(), flipped->begin()))
        fail("valid text does not come out as its code points reversed");
    return 0;
}
