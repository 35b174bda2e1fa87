// runetally's report of a decoding failure, gathered in memory and written
// at once, so that reports of runs sharing standard error never interleave.
#include "report.hpp"

#include <cstdlib>
#include <cstring>
#include <libintl.h>
#include <unistd.h>

#include "bits.hpp"
#include "tool.hpp"
#include "utf8.hpp"

namespace {
// The report line of r, without the file name.
void write_report_line(std::FILE *out, const count_result &r) noexcept
{
    const long long l = r.position.lines, c = r.position.characters, b = r.position.bytes;
    if (r.status == UTF8_TRUNCATED) {
        std::fprintf(out, gettext("Truncated UTF-8 sequence encountered at line %lld, character %lld, byte %lld.\n"),
                     l, c, b);
    } else if (r.status == UTF8_INVALID) {
        std::fprintf(out, gettext("Invalid UTF-8 code encountered at line %lld, character %lld, byte %lld.\n"), l, c,
                     b);
        explain_invalid_sequence(out, r.sequence);
    } else {
        // The line, cut to 126 bytes, then the system's reason, as perror
        // would write them.
        char text[128];
        std::snprintf(text, sizeof text - 1, gettext("Error reading input at line %lld, character %lld, byte %lld.\n"),
                      l, c, b);
        std::fprintf(out, "%s: %s\n", text, std::strerror(r.error));
    }
}
}  // namespace

bool report_decode_failure(const char *file, const count_result &r) noexcept
{
    if (r.status != UTF8_TRUNCATED && r.status != UTF8_INVALID && r.status != UTF8_READ_ERROR)
        return false;
    write_gathered([&](std::FILE *out) {
        if (file != nullptr)
            std::fprintf(out, "%s: ", file);
        write_report_line(out, r);
    });
    return true;
}

void explain_invalid_sequence(std::FILE *out, const unsigned char *sequence) noexcept
{
    const unsigned char b0 = sequence[0];
    if (is_continuation(b0)) {
        std::fprintf(out,
                     "The first byte, value 0x%02X, with bit pattern %s,\n"
                     "is not a valid first byte of a UTF-8 sequence because its high bits are 10.\n"
                     "A valid first byte must be of the form 0nnnnnnn or 11nnnnnn.\n",
                     b0, bit_string_8(b0));
        return;
    }
    if (b0 < 0xC0)
        return;
    const int e = utf8_extra_bytes[b0];
    const int n = e > 1 ? e : 1;
    for (int i = 1; i <= n; ++i) {
        const unsigned char bi = sequence[i];
        if (is_continuation(bi))
            continue;
        char lead_pattern[9];
        std::memcpy(lead_pattern, bit_string_8(b0), sizeof lead_pattern);
        std::fprintf(out,
                     "The sequence is not a valid UTF-8 character because\n"
                     "the first byte, value 0x%02X, bit pattern %s,\n"
                     "requires %d continuation bytes, but of the immediately\n"
                     "following bytes, byte %d, value 0x%02X, bit pattern\n"
                     "%s is not a valid continuation byte, since\n"
                     "its high bits are not 10.\n",
                     b0, lead_pattern, e, i, bi, bit_string_8(bi));
        return;
    }
    // Ill-formed with every continuation byte in place: an encoded surrogate
    // is the one such form that is explained (only the strict rule has it).
    if (b0 == 0xED && sequence[1] >= 0xA0)
        std::fputs("This sequence is technically not a valid UTF-8 character\n"
                   "because it encodes a surrogate codepoint which is legal only in UTF-16.\n",
                   out);
}
