// The differential checks of runetally's counting paths, shared by the unit
// tests and the fuzz targets. The reference is the byte-at-a-time reader on
// the scalar code; each check returns "" when the paths agree and otherwise
// says what differs. Linked with the small-block library (blocks of 61 bytes,
// vector sub-blocks of 24), so that short inputs cross many boundaries.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <thread>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "decoder.hpp"
#include "reader.hpp"
#include "scan.hpp"
#if RUNEKIT_VECTOR
#include "vector_count.hpp"
#include "vector_targets.hpp"
#endif

namespace tally_harness {
using bytes = std::string;

inline char_tally want_tally, got_tally;
inline count_stage stage;

// The vector targets the checks below ran, each once.
inline std::vector<std::int64_t> ran;

inline std::span<const unsigned char> span_of(const bytes &s)
{
    return {reinterpret_cast<const unsigned char *>(s.data()), s.size()};
}

// The code paths to hold against the reference: every vector target this
// processor runs (0 stands for the build's only path without vectors).
inline std::vector<std::int64_t> paths()
{
#if RUNEKIT_VECTOR
    return vector_targets();
#else
    return {0};
#endif
}

inline void use_path(std::int64_t target)
{
#if RUNEKIT_VECTOR
    if (target != HWY_SCALAR && std::find(ran.begin(), ran.end(), target) == ran.end())
        ran.push_back(target);
    hwy::SetSupportedTargetsForTest(target);
#else
    (void)target;
#endif
}

inline void use_reference()
{
#if RUNEKIT_VECTOR
    use_path(HWY_SCALAR);
#endif
}

// Independent statement of legality: the shortest form of a Unicode scalar
// value or (unless strict) surrogate, up to four bytes, with 10xxxxxx
// continuation bytes.
inline bool oracle_legal(const std::vector<unsigned char> &s, bool strict = false)
{
    const unsigned char b0 = s[0];
    if (b0 < 0x80)
        return s.size() == 1;
    const int len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 0;
    if (len == 0 || b0 >= 0xF8 || static_cast<int>(s.size()) != len)
        return false;
    std::uint32_t v = b0 & (0x7Fu >> len);
    for (int i = 1; i < len; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return false;
        v = (v << 6) | (s[i] & 0x3Fu);
    }
    const int shortest = v < 0x80 ? 1 : v < 0x800 ? 2 : v < 0x10000 ? 3 : 4;
    return v <= 0x10FFFF && shortest == len && !(strict && v >= 0xD800 && v <= 0xDFFF);
}

// The reference of scan_block and validate_block: the legal sequences at
// the front of data, one after another by the reference rule.
inline block_scan reference_scan(std::span<const unsigned char> data, bool strict)
{
    block_scan s;
    while (s.consumed < data.size()) {
        const std::size_t length = static_cast<std::size_t>(utf8_extra_bytes[data[s.consumed]]) + 1;
        if (data.size() - s.consumed < length)
            break;
        if (!utf8_sequence_is_legal(data.subspan(s.consumed, length), strict)) {
            s.invalid = true;
            s.length = static_cast<int>(length);
            break;
        }
        s.consumed += length;
        ++s.characters;
    }
    return s;
}

// Whether s is whole legal sequences, one after another, by the reference rule.
inline bool whole_legal(const bytes &s, bool strict = false)
{
    const block_scan r = reference_scan(span_of(s), strict);
    return r.consumed == s.size();
}

inline std::string same_counts(const char_tally &want, const char_tally &got)
{
    if (std::memcmp(want.touched, got.touched, sizeof want.touched) != 0)
        return "touched pages differ";
    for (std::size_t page = 0; page < count_pages; ++page) {
        const std::size_t first = page << count_page_shift, size = sizeof(std::int64_t) << count_page_shift;
        if (!want.touched[page] || std::memcmp(&want.char_counts[first], &got.char_counts[first], size) == 0)
            continue;
        for (std::size_t k = first;; ++k)
            if (want.char_counts[k] != got.char_counts[k])
                return "count of U+" + std::to_string(k) + ": " + std::to_string(got.char_counts[k]) +
                       " instead of " + std::to_string(want.char_counts[k]);
    }
    return "";
}

// Text of nearly all ASCII, as prose is (its frequent bytes, DEL, line ends),
// with a character of more than one byte in about one byte in 30.
template <class Random>
bytes prose_text(Random &rng, std::size_t size)
{
    static const char ascii[] = " etaoinshrdlu\n.,QZ\x7F";
    static const char *const others[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xE6\x97\xA5", "\xED\xA0\x80",
                                         "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xC2\x80"};
    bytes s;
    while (s.size() < size)
        if (rng() % 30 == 0)
            s += others[rng() % std::size(others)];
        else
            s += ascii[rng() % (sizeof ascii - 1)];
    return s;
}

// A regular file in memory holding input, positioned at its start.
inline int memory_file(const bytes &input)
{
    const int fd = memfd_create("tally-harness", MFD_CLOEXEC);
    if (fd < 0 || write(fd, input.data(), input.size()) != static_cast<ssize_t>(input.size()) ||
        lseek(fd, 0, SEEK_SET) != 0)
        std::abort();
    return fd;
}

// The thread that feeds the pipe being read, if any. (A thread rather than
// a child process: forking this process, with its tables, took 0.3 ms a
// pipe, most of the time of the checks of small inputs.)
inline std::thread writer;

// A pipe that delivers input `piece` bytes at a time from a thread, or,
// where the pipe holds it all in one piece, already filled and closed.
inline int input_pipe(const bytes &input, std::size_t piece)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::abort();
    if (input.size() <= 60000 && piece >= input.size()) {
        (void)fcntl(fds[1], F_SETPIPE_SZ, 1 << 16);
        if (write(fds[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
            std::abort();
    } else {
        writer = std::thread([&input, piece, fd = fds[1]] {
            for (std::size_t at = 0; at < input.size(); at += piece)
                if (write(fd, input.data() + at, std::min(piece, input.size() - at)) < 0)
                    break;
            close(fd);
        });
        return fds[0];
    }
    close(fds[1]);
    return fds[0];
}

// What a count of a descriptor gave, and what it left for the next reader.
struct outcome {
    count_result result;
    bytes sequence;  // the failing sequence, for UTF8_INVALID
    bytes rest;
};

// How a descriptor is read: byte by byte (the reference), in blocks, or in
// blocks validated only (validate_fd counts nothing).
enum class read_path { bytewise, blocks, validating };

inline outcome run(int fd, char_tally &t, read_path how, bool strict = false)
{
    count_clear(t);
    outcome o;
    o.result = how == read_path::bytewise ? count_bytewise(fd, stage, t, strict)
               : how == read_path::blocks ? count_fd(fd, stage, t, strict)
                                          : validate_fd(fd, strict);
    if (o.result.status == UTF8_INVALID)
        o.sequence.assign(reinterpret_cast<const char *>(o.result.sequence),
                          static_cast<std::size_t>(utf8_extra_bytes[o.result.sequence[0]]) + 1);
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        o.rest.append(buf, static_cast<std::size_t>(n));
    close(fd);
    if (writer.joinable())
        writer.join();
    return o;
}

inline std::string same_outcome(const outcome &want, const outcome &got)
{
    const input_position &a = want.result.position, &b = got.result.position;
    if (got.result.status != want.result.status)
        return "status " + std::to_string(got.result.status) + " instead of " + std::to_string(want.result.status);
    if (a.lines != b.lines || a.characters != b.characters || a.bytes != b.bytes)
        return "position " + std::to_string(b.lines) + "/" + std::to_string(b.characters) + "/" +
               std::to_string(b.bytes) + " instead of " + std::to_string(a.lines) + "/" +
               std::to_string(a.characters) + "/" + std::to_string(a.bytes);
    if (got.sequence != want.sequence)
        return "failing sequence";
    if (got.rest != want.rest)
        return "bytes left for the next reader";
    return "";
}

// count_fd from a regular file and from a pipe fed `piece` bytes at a time,
// on every path, against the byte-at-a-time reader on a pipe.
inline std::string check_descriptors(const bytes &input, std::size_t piece)
{
    use_reference();
    const outcome want = run(input_pipe(input, piece), want_tally, read_path::bytewise);
    for (const std::int64_t path : paths()) {
        use_path(path);
        for (const bool file : {true, false}) {
            const outcome got = run(file ? memory_file(input) : input_pipe(input, piece), got_tally, read_path::blocks);
            std::string differs = same_outcome(want, got);
            if (differs.empty())
                differs = same_counts(want_tally, got_tally);
            if (!differs.empty())
                return differs + (file ? " (regular file" : " (pipe") + ", path " + std::to_string(path) + ")";
        }
    }
    use_reference();
    return "";
}

// scan_block of data through stage into t, on the path in use; on the scalar code.
inline block_scan scan_counted(std::span<const unsigned char> data, char_tally &t, bool strict)
{
    count_clear(t);
    stage.table = &t;
    const block_scan s = scan_block(data, stage, strict);
    count_flush(stage);
    return s;
}

inline block_scan scalar_scan(std::span<const unsigned char> data, char_tally &t, bool strict = false)
{
    use_reference();
    return scan_counted(data, t, strict);
}

#if RUNEKIT_VECTOR
// Whether runetally's kernel takes anything on a target: it has one for
// every target with vectors; and whether it takes all legal text (with
// vectors of 128 bits it leaves text of nearly all ASCII to the scalar scan).
inline bool kernel_target(std::int64_t target)
{
    return (target & (HWY_SCALAR | HWY_EMU128)) == 0;
}

inline bool kernel_takes_all(std::int64_t target)
{
    return (target & (HWY_AVX2 | HWY_AVX3 | HWY_AVX3_DL)) != 0;
}

// The targets to hold the kernel to the scalar scan on: those of the
// processor and the emulated one where the build has it (the kernel runs
// there only with every step).
inline std::vector<std::int64_t> kernel_targets()
{
    std::vector<std::int64_t> all = vector_targets();
    if ((HWY_TARGETS & HWY_EMU128) != 0)
        all.push_back(HWY_EMU128);
    return all;
}

// Whether s is empty or the first bytes of some legal sequence.
inline bool begins_legal_sequence(const bytes &s)
{
    if (s.empty())
        return true;
    const std::size_t length = static_cast<std::size_t>(utf8_extra_bytes[static_cast<unsigned char>(s[0])]) + 1;
    if (s.size() >= length)
        return false;
    for (const unsigned char fill : {0x80, 0x90, 0xA0, 0xBF}) {
        unsigned char seq[6];
        for (std::size_t i = 0; i < length; ++i)
            seq[i] = i < s.size() ? static_cast<unsigned char>(s[i]) : fill;
        if (utf8_sequence_is_legal({seq, length}))
            return true;
    }
    return false;
}

// The kernel alone with sub-blocks of `subblock` bytes, on every target: what
// it takes is whole legal sequences, counted exactly (the scalar scan of that
// prefix); on input legal up to at most a last partial sequence it takes all
// of the legal part; elsewhere it stops less than one sub-block (and a few
// bytes of moving back) before the point where the scalar scan stops.
// Validation alone takes at least as much (the same where it takes all).
inline std::string check_kernel(const bytes &input, std::size_t subblock, bool strict = false)
{
    const block_scan whole = scalar_scan(span_of(input), want_tally, strict);
    for (const std::int64_t target : kernel_targets())
        for (const bool every_step : {false, true}) {
            use_path(target);
            count_clear(got_tally);
            stage.table = &got_tally;
            const bool pairs = stage_pairs_room(stage, input.size());
            const tally_vector_result got = tally_vector_scan(span_of(input), subblock, pairs, strict, &stage, every_step);
            count_flush(stage);
            const std::string where = std::string(" (") + hwy::TargetName(target) + (every_step ? ", every step)" : ")");
            const bool active = (every_step || kernel_takes_all(target)) && subblock >= 4;
            const std::size_t valid =
                tally_vector_scan(span_of(input), subblock, false, strict, nullptr, every_step).consumed;
            if (valid < got.consumed || (active && valid != got.consumed))
                return "validation alone took another length" + where;
            const bool legal_rest = !whole.invalid && begins_legal_sequence(input.substr(whole.consumed));
            if (got.consumed > whole.consumed)
                return "the kernel took more than the scalar scan" + where;
            if (!every_step && !kernel_target(target) && got.consumed != 0)
                return "a target without the kernel took something" + where;
            if (active && legal_rest && got.consumed != whole.consumed)
                return "the kernel stopped early in legal input" + where;
            if (active && whole.consumed >= got.consumed + std::min(subblock, tally_vector_max_subblock) + 4)
                return "the kernel stopped more than a sub-block early" + where;
            const block_scan prefix = scalar_scan(span_of(input).first(got.consumed), want_tally, strict);
            if (prefix.consumed != got.consumed || prefix.invalid || prefix.characters != got.characters)
                return "what the kernel took is not whole legal sequences, or miscounted" + where;
            if (std::string differs = same_counts(want_tally, got_tally); !differs.empty())
                return differs + where;
        }
    use_reference();
    return "";
}
#endif

// scan_block and validate_block on every path against the reference rule,
// with and without `strict`: what they take, where and why they stop, and
// (scan_block) the characters and counts.
inline std::string check_blocks(const bytes &input)
{
    for (const bool strict : {false, true}) {
        const block_scan want = reference_scan(span_of(input), strict);
        (void)scalar_scan(span_of(input).first(want.consumed), want_tally);
        for (const std::int64_t path : paths()) {
            use_path(path);
            const block_scan got = scan_counted(span_of(input), got_tally, strict);
            const std::size_t valid = validate_block(span_of(input), strict);
            const std::string where = std::string(strict ? " (strict" : " (") + ", path " + std::to_string(path) + ")";
            if (got.consumed != want.consumed || got.invalid != want.invalid || got.length != want.length ||
                got.characters != want.characters)
                return "scan_block stopped at " + std::to_string(got.consumed) + " instead of " +
                       std::to_string(want.consumed) + where;
            if (valid != want.consumed)
                return "validate_block took " + std::to_string(valid) + " instead of " + std::to_string(want.consumed) +
                       where;
            if (std::string differs = same_counts(want_tally, got_tally); !differs.empty())
                return differs + " (scan_block" + where + ")";
        }
    }
    use_reference();
    return "";
}
}  // namespace tally_harness
