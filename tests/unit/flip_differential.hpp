// runeflip's differential checks, shared by the unit tests and the fuzz
// targets: the vector kernel on one line and the work loop on a text of many
// lines, on every vector target this build compiled and the processor runs,
// against reverse_line; and with -g's reversal by grapheme clusters (where
// built), its fast path and its segmenting path on one line against a plain
// segmentation, and the work loop with it. Each check returns nullptr when
// everything agrees, and otherwise what differs.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <sys/mman.h>  // memfd_create
#include <unistd.h>

#include "flip.hpp"
#if RUNEKIT_GRAPHEMES
#include <utf8proc.h>

#include "grapheme.hpp"
#endif
#include "reverse.hpp"
#include "utf8.hpp"
#include "vector_reverse.hpp"
#if RUNEKIT_VECTOR
#include "vector_targets.hpp"
#endif

namespace flip_check {
// reverse_line's contract one byte at a time, the reference it is held to:
// p runs from the line length down to 1 over b = line[p-1]; the bytes from p
// up to `limit` are the continuation bytes passed over since the character
// emitted last, and those the next lead does not claim are characters of
// their own.
inline reverse_result reverse_line_bytewise(std::span<const unsigned char> line, unsigned char *out) noexcept
{
    const unsigned char *in = line.data();
    std::int64_t limit = static_cast<std::int64_t>(line.size()), n = 0;
    const auto unclaimed = [&](std::int64_t from) {
        for (std::int64_t i = limit; i > from; --i)
            out[n++] = in[i - 1];
    };
    for (std::int64_t p = limit; p >= 1; --p) {
        const unsigned char b = in[p - 1];
        if (is_continuation(b))
            continue;
        const std::int64_t t = b < 0x80 ? 0 : utf8_extra_bytes[b];
        if (p + t > limit)
            return {reverse_status::truncated, 0, p, t, limit - p};
        unclaimed(p + t);
        for (std::int64_t i = 0; i <= t; ++i)
            out[n++] = in[p - 1 + i];
        limit = p - 1;
    }
    unclaimed(0);
    return {reverse_status::reversed, n, 0, 0, 0};
}

#if RUNEKIT_VECTOR
// The vector target whose code the dispatch last called, read from
// Highway's record of its choice; 0 when nothing was dispatched since the
// targets were last set, or the fallback was.
inline std::int64_t dispatched_target()
{
#if (HWY_TARGETS & (HWY_TARGETS - 1)) == 0
    return HWY_STATIC_TARGET;  // one target built: called without a choice
#else
    const std::size_t index = hwy::GetChosenTarget().GetIndex();
    if (index == 0 || index > HWY_MAX_DYNAMIC_TARGETS)
        return 0;
    return std::int64_t{1} << (index - 1 + HWY_HIGHEST_TARGET_BIT + 1 - HWY_MAX_DYNAMIC_TARGETS);
#endif
}

// Every vector target the checks have run, each once.
inline std::vector<std::int64_t> ran;
#endif

// Whether on_every_target has set a vector target, whose kernel takes the
// lines that qualify; without one the kernel takes none.
inline bool vector_target_set = false;


// Runs `check` with each vector target the processor runs chosen in turn,
// and then the fallback where built (once as built where there is no vector
// target);
// the first mismatch. A check that `dispatches` must run the kernel of
// every target the processor has (see processor_targets) that
// RUNEKIT_VECTOR_TARGET allows: one it did not is a failure too.
template <class Check> const char *on_every_target(Check check, bool dispatches)
{
#if RUNEKIT_VECTOR
    if (vector_targets().empty())
        return check();
    std::vector<std::int64_t> here;
    for (const std::int64_t target : vector_targets()) {
        hwy::SetSupportedTargetsForTest(target);
        vector_target_set = true;
        const char *wrong = check();
        vector_target_set = false;
        if (const std::int64_t called = dispatched_target(); called != 0) {
            here.push_back(called);
            if (std::find(ran.begin(), ran.end(), called) == ran.end())
                ran.push_back(called);
        }
        if (wrong != nullptr) {
            hwy::SetSupportedTargetsForTest(0);
            return wrong;
        }
    }
    // No vector target, where the build has the fallback: the kernel takes
    // nothing.
    const char *wrong = nullptr;
    if constexpr ((HWY_TARGETS & (HWY_SCALAR | HWY_EMU128)) != 0) {
        hwy::SetSupportedTargetsForTest(HWY_TARGETS & (HWY_SCALAR | HWY_EMU128));
        wrong = check();
    }
    hwy::SetSupportedTargetsForTest(0);
    if (wrong != nullptr)
        return wrong;
    static std::string missing;
    here.push_back(~::targets_allowed());  // those it takes away count as run
    missing = dispatches ? targets_not_run(here) : "";
    if (missing.empty())
        return nullptr;
    missing = "the kernel was not run on the vector targets " + missing;
    return missing.c_str();
#else
    (void)dispatches;
    return check();
#endif
}

// A character of `length` bytes with any lead of that length (overlong forms,
// surrogates and values above U+10FFFF included: they qualify).
inline std::string any_char(std::mt19937 &rng, int length)
{
    static const unsigned char first[] = {0x00, 0xC0, 0xE0, 0xF0}, span[] = {0x80, 0x20, 0x10, 0x08};
    std::string s(1, static_cast<char>(first[length - 1] + rng() % span[length - 1]));
    for (int i = 1; i < length; ++i)
        s += static_cast<char>(0x80 + rng() % 0x40);
    return s;
}

// A line of at least `size` bytes in the kernel's domain, mostly of characters of one length.
inline std::string random_line(std::mt19937 &rng, std::size_t size)
{
    const int main_length = 1 + static_cast<int>(rng() % 4);
    std::string s;
    while (s.size() < size)
        s += any_char(rng, rng() % 4 == 0 ? 1 + static_cast<int>(rng() % 4) : main_length);
    return s;
}

// The vector kernel on `line`, placed in a heap buffer with exactly
// flip_vector_padding bytes around it (so that the sanitizer builds catch an
// access beyond them) filled, as `seed` chooses, with bytes that look like
// leads, continuation bytes and newlines; the output has exactly that much
// room behind it. The kernel must take exactly the lines that qualify (none
// where no vector target runs) and write what reverse_line writes;
// reverse_line_fast must always give reverse_line's result.
// `line` placed in `in` as check_line says; the span of it there.
inline std::span<const unsigned char> place(const unsigned char *line, std::size_t n, unsigned seed,
                                            std::vector<unsigned char> &in)
{
    const std::size_t pad = flip_vector_padding;
    in.assign(n + 2 * pad, 0);
    static const unsigned char tricky[] = {0x80, 0xBF, 0xC3, 0xE2, 0xF0, 0xF4, 0xF7, 0xFF, 0x0A, 0x41};
    for (std::size_t i = 0; i < pad; ++i) {
        in[i] = tricky[(seed + i * 7) % std::size(tricky)];
        in[pad + n + i] = tricky[(seed + i * 3) % std::size(tricky)];
    }
    if (n != 0)
        std::memcpy(in.data() + pad, line, n);
    return {in.data() + pad, n};
}

inline const char *check_line(const unsigned char *line, std::size_t n, unsigned seed)
{
    std::vector<unsigned char> want(n + 1), in, out(n + flip_vector_padding);
    const reverse_result ref = reverse_line({line, n}, want.data());
    const bool should = vector_domain({line, n});
    if (should && (ref.status != reverse_status::reversed || ref.length != static_cast<std::int64_t>(n)))
        return "reverse_line does not keep every byte of a line in the domain";
    const std::span<const unsigned char> placed = place(line, n, seed, in);
    return on_every_target([&]() -> const char * {
        const bool take = should && vector_target_set;
        if (flip_vector_reverse(placed, out.data()) != take)
            return take ? "the kernel left out a line in its domain" : "the kernel took a line it must leave";
        if (take && std::memcmp(out.data(), want.data(), n) != 0)
            return "the kernel's text";
        const reverse_result fast = reverse_line_fast(placed, out.data());
        if (fast.status != ref.status || fast.position != ref.position || fast.needed != ref.needed ||
            fast.present != ref.present ||
            (ref.status == reverse_status::reversed && std::memcmp(out.data(), want.data(), n) != 0))
            return "reverse_line_fast";
        return nullptr;
    }, true);
}

#if RUNEKIT_GRAPHEMES
// Grapheme clusters reversed the plain way: the characters as reverse_line
// delimits them, found going forward; a well-formed one is a 1- to 4-byte
// sequence of a scalar value in its shortest form. Every pair of well-formed
// neighbours is asked of utf8proc in order (its state reset only after a
// sequence that is no character, which is a cluster of its own); a line with
// a lead cut short gets reverse_line's report.
inline reverse_result clusters_plain(std::span<const unsigned char> line, unsigned char *out)
{
    std::vector<std::size_t> starts;
    std::vector<std::int32_t> points;  // -1: no character
    for (std::size_t at = 0; at < line.size();) {
        const unsigned char b = line[at];
        const std::size_t e = b < 0xC0 ? 0 : static_cast<std::size_t>(utf8_extra_bytes[b]);
        std::size_t k = 1;
        while (k <= e && at + k < line.size() && is_continuation(line[at + k]))
            ++k;
        if (k <= e)
            return reverse_line_bytewise(line, out);
        std::int32_t c = is_continuation(b) || e > 3 ? -1 : static_cast<std::int32_t>(utf8_decode(line.subspan(at, e + 1)));
        const std::size_t shortest = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (shortest != e + 1 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = -1;
        starts.push_back(at);
        points.push_back(c);
        at += e + 1;
    }
    std::vector<bool> cut(points.size(), true);
    std::int32_t state = 0;
    for (std::size_t i = 1; i < points.size(); ++i) {
        if (points[i - 1] < 0 || points[i] < 0)
            state = 0;
        else
            cut[i] = utf8proc_grapheme_break_stateful(points[i - 1], points[i], &state);
    }
    std::size_t n = 0, end = line.size();
    for (std::size_t i = points.size(); i-- > 0;)
        if (cut[i]) {
            for (std::size_t j = starts[i]; j < end; ++j)
                out[n++] = line[j];
            end = starts[i];
        }
    return {reverse_status::reversed, static_cast<std::int64_t>(n), 0, 0, 0};
}

[[nodiscard]] inline bool same_result(const reverse_result &a, const reverse_result &b, const unsigned char *a_out,
                                      const unsigned char *b_out)
{
    if (a.status != b.status)
        return false;
    if (a.status == reverse_status::truncated)
        return a.position == b.position && a.needed == b.needed && a.present == b.present;
    return a.length == b.length && std::memcmp(a_out, b_out, static_cast<std::size_t>(a.length)) == 0;
}

#if RUNEKIT_VECTOR
// Whether the kernel must take `line` by clusters: in the kernel's domain, one
// of characters of one to three bytes none of which shares its group of 32
// code points (by the bits it carries, valid or not) with one that can join.
inline bool clusters_taken(std::span<const unsigned char> line)
{
    if (!vector_domain(line))
        return false;
    for (std::size_t at = 0; at < line.size();) {
        const std::size_t e = line[at] < 0x80 ? 0 : static_cast<std::size_t>(utf8_extra_bytes[line[at]]);
        if (e > 2)
            return false;
        const std::uint32_t group = utf8_decode(line.subspan(at, e + 1)) & ~31u;
        for (std::uint32_t c = group; c < group + 32 && e > 0; ++c)
            if (can_join(c))
                return false;
        at += e + 1;
    }
    return true;
}
#endif

// reverse_clusters (through its fast path where it applies, on every vector
// target), segment_clusters and the kernel by clusters (which must take
// the lines clusters_taken says, and no other) on `line`, against
// clusters_plain.
inline const char *check_clusters(std::span<const unsigned char> line)
{
    const std::size_t n = line.size();
    std::vector<unsigned char> want(n + 1), got(n + flip_vector_padding), in;
    const reverse_result ref = clusters_plain(line, want.data());
    // The line with the memory around it that the vector kernel may read.
    const std::span<const unsigned char> placed = place(line.data(), n, static_cast<unsigned>(n), in);
    if (!same_result(segment_clusters(placed, got.data()), ref, got.data(), want.data()))
        return "segment_clusters";
    return on_every_target([&]() -> const char * {
        if (!same_result(reverse_clusters(placed, got.data()), ref, got.data(), want.data()))
            return "reverse_clusters";
#if RUNEKIT_VECTOR
        // Asked first, so that can_join has learnt the line's blocks.
        const bool should = clusters_taken(line);
        // The table looked up as the target does, and in the portable form.
        joining_table portable = joining_learnt();
        portable.portable = true;
        const joining_table *const tables[] = {&joining_learnt(), &portable};
        for (const joining_table *table : tables) {
            const bool taken = flip_vector_reverse(placed, got.data(), table);
            if (taken != (vector_target_set && should))
                return taken ? "the kernel took by clusters a line it must leave" : "the kernel left a line of clusters";
            if (taken && (ref.status != reverse_status::reversed || std::memcmp(got.data(), want.data(), n) != 0))
                return "the kernel's clusters";
        }
#endif
        return nullptr;
    }, false);
}
#endif

// What the work loop must write for `text`, and how it must end: the lines
// reversed one by one with `reverse` (reverse_line by default), up to the
// first that is cut short.
inline flip_outcome reference_stream(const unsigned char *text, std::size_t size, std::vector<unsigned char> &output,
                                     reverse_result (*reverse)(std::span<const unsigned char>, unsigned char *) = nullptr)
{
    std::vector<unsigned char> buf(size + 1);
    std::uint64_t lines = 0;
    for (std::size_t at = 0; at < size;) {
        const void *nl = std::memchr(text + at, '\n', size - at);
        const std::size_t end = nl != nullptr ? static_cast<std::size_t>(static_cast<const unsigned char *>(nl) - text) : size;
        ++lines;
        const std::span<const unsigned char> line{text + at, end - at};
        const reverse_result r = reverse != nullptr ? reverse(line, buf.data()) : reverse_line(line, buf.data());
        if (r.status == reverse_status::truncated)
            return {flip_end::truncated, 0, lines, r};
        output.insert(output.end(), buf.data(), buf.data() + r.length);
        output.push_back('\n');
        at = end + 1;
    }
    return {flip_end::done, 0, 0, {}};
}

// The bytes a descriptor of a regular file holds.
inline std::vector<unsigned char> contents(int fd)
{
    std::vector<unsigned char> all(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)));
    if (!all.empty() && pread(fd, all.data(), all.size(), 0) != static_cast<ssize_t>(all.size()))
        all.clear();
    return all;
}

// A regular file (in memory) holding `text`, read from its start.
inline int file_of(const unsigned char *text, std::size_t size)
{
    const int fd = memfd_create("flip-check", MFD_CLOEXEC);
    if (fd < 0 || (size != 0 && write(fd, text, size) != static_cast<ssize_t>(size)) || lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    return fd;
}

// flip_stream on `text` from a regular file or from a pipe: the
// reference's output and outcome, the line number and report of a line cut
// short included. Any text but an empty one reaches the kernel. With a
// `reverser`, the loop runs with it, held to `reference`.
inline const char *check_stream(const unsigned char *text, std::size_t size, bool piped,
                                const line_reverser *reverser = nullptr,
                                reverse_result (*reference)(std::span<const unsigned char>, unsigned char *) = nullptr)
{
    std::vector<unsigned char> want_output;
    const flip_outcome want = reference_stream(text, size, want_output, reference);
    return on_every_target([&]() -> const char * {
        int in = -1, ends[2];
        std::thread writer;
        if (!piped) {
            in = file_of(text, size);
        } else if (pipe(ends) == 0) {
            in = ends[0];
            writer = std::thread([&] {
                for (std::size_t done = 0; done < size;) {
                    const ssize_t put = write(ends[1], text + done, size - done);
                    if (put <= 0)
                        break;
                    done += static_cast<std::size_t>(put);
                }
                close(ends[1]);
            });
        }
        const int out = file_of(nullptr, 0);
        const flip_outcome got = flip_stream(in, out, false, reverser);
        if (writer.joinable()) {
            unsigned char rest[4096];  // what the loop left, so that the writer ends
            while (read(in, rest, sizeof rest) > 0) {
            }
            writer.join();
        }
        close(in);
        const std::vector<unsigned char> output = contents(out);
        close(out);
        if (got.end != want.end || got.line != want.line)
            return "the work loop's ending or line number";
        if (want.end == flip_end::truncated && (got.cut.position != want.cut.position ||
                                                got.cut.needed != want.cut.needed || got.cut.present != want.cut.present))
            return "the work loop's truncation report";
        return output == want_output ? nullptr : "the work loop's output";
    }, size != 0 && reverser == nullptr);
}
}  // namespace flip_check
