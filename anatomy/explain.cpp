// The verdicts and the byte-and-bit report of one UTF-8 sequence.
#include "explain.hpp"

#include <algorithm>
#include <bit>

#include "bits.hpp"
#include "utf8.hpp"

namespace {

constexpr char hex_digits[] = "0123456789ABCDEF";

// The two header lines: every byte in hexadecimal, then in binary, each in a
// column nine characters wide under the width of "The sequence ".
void write_byte_columns(std::FILE *out, std::span<const unsigned char> seq) noexcept
{
    std::fputs("The sequence ", out);
    for (unsigned char b : seq)
        std::fprintf(out, "0x%02X     ", b);
    std::fputs("\n             ", out);
    for (unsigned char b : seq)
        std::fprintf(out, "%s ", bit_string_8(b));
    std::fputc('\n', out);
}

// How the lead byte announces the continuation bytes, and the payload bits
// each byte gives, grouped by byte.
void write_bit_account(std::FILE *out, std::span<const unsigned char> seq, int payload_bits) noexcept
{
    const int extra = static_cast<int>(seq.size()) - 1;
    const int lead_bits = 6 - extra;
    std::fprintf(out,
                 "The first byte tells us that there should be %d\n"
                 "continuation bytes since it begins with %d contiguous 1s.\n"
                 "There are %d following bytes and all are valid\n"
                 "continuation bytes since they all have high bits 10.\n",
                 extra, extra + 1, extra);
    std::fprintf(out, "The first byte contributes its low %d bits.\n", lead_bits);
    std::fprintf(out, "The remaining bytes each contribute their low 6 bits,\nfor a total of %d bits: ",
                 payload_bits);
    // The low bits of a byte, shifted to the top, are the leading digits.
    const auto lead = static_cast<std::uint8_t>(seq[0] << (extra + 2));
    std::fprintf(out, "%.*s ", lead_bits, bit_string_8(lead));
    for (unsigned char b : seq.subspan(1))
        std::fprintf(out, "%.*s ", 6, bit_string_8(static_cast<std::uint8_t>(b << 2)));
    std::fputc('\n', out);
}

// The value padded to 32 binary digits, and below it the hexadecimal guide,
// indented by exactly the text that precedes the binary digits.
void write_alignment(std::FILE *out, std::uint32_t v, int payload_bits) noexcept
{
    const int indent = std::fprintf(out, "This is padded to 32 places with %d zeros: ", 32 - payload_bits);
    std::fprintf(out, "%s\n", bit_string_32(v));
    std::fprintf(out, "%*s%s\n", std::max(indent, 0), "", spread_hex(v).data());
}

// The note that closes the report of a forbidden form; nothing for a valid one.
void write_closing_note(std::FILE *out, std::uint32_t v, sequence_form form) noexcept
{
    static constexpr char head[] = "This sequence is technically not a valid UTF-8 character\n";
    switch (form) {
    case sequence_form::valid:
        return;
    case sequence_form::out_of_range:
        std::fprintf(out, "%sbecause it encodes a value above 0x10FFFF, the largest Unicode codepoint.\n", head);
        return;
    case sequence_form::overlong: {
        const int shortest = shortest_length(v);
        std::fprintf(out, "%sbecause it is an overlong form: the shortest encoding of this value has %d %s.\n",
                     head, shortest, shortest == 1 ? "byte" : "bytes");
        return;
    }
    case sequence_form::surrogate:
        std::fprintf(out, "%sbecause it encodes a surrogate codepoint which is legal only in UTF-16.\n", head);
        return;
    }
}

// The full report of a sequence whose continuation bytes all have the form
// 10xxxxxx; returns the exit status.
[[nodiscard]] int write_report(std::FILE *out, std::span<const unsigned char> seq) noexcept
{
    const std::uint32_t v = utf8_decode(seq);
    const sequence_form form = classify_value(v, static_cast<int>(seq.size()));
    const int payload_bits = 6 + 5 * (static_cast<int>(seq.size()) - 1);
    write_byte_columns(out, seq);
    std::fprintf(out,
                 form == sequence_form::valid
                     ? "is a valid UTF-8 character encoding equivalent to UTF32 0x%08lX.\n"
                     : "is a UTF-8-like transformation equivalent to UTF32 0x%08lX.\n",
                 static_cast<unsigned long>(v));
    write_bit_account(out, seq, payload_bits);
    write_alignment(out, v, payload_bits);
    write_closing_note(out, v, form);
    return form == sequence_form::valid ? status_ok : status_invalid;
}

// Verdicts on a first byte that is judged alone.
[[nodiscard]] int explain_single(std::FILE *out, unsigned char b0) noexcept
{
    if (b0 < 0x80) {
        std::fprintf(out,
                     "The first byte, value 0x%02X, bit pattern %s, is a valid UTF-8 code by itself\n"
                     "since its high bit is 0.\n",
                     b0, bit_string_8(b0));
        return status_ok;
    }
    if (is_continuation(b0)) {
        std::fprintf(out,
                     "The first byte, value 0x%02X, with bit pattern %s,\n"
                     "is not a valid first byte of a UTF-8\n"
                     "sequence because its high bits are 10.\n"
                     "A valid first byte must be of the form 0nnnnnnn or 11nnnnnn.\n",
                     b0, bit_string_8(b0));
        return status_invalid;
    }
    std::fprintf(out,
                 "The first byte, value 0x%02X, with bit pattern %s,\n"
                 "is not a valid first byte of a UTF-8\n"
                 "sequence because it begins with %d contiguous 1s.\n"
                 "A first byte has at most 6 contiguous 1s.\n",
                 b0, bit_string_8(b0), std::countl_one(b0));
    return status_invalid;
}

}  // namespace

std::array<char, 30> spread_hex(std::uint32_t v) noexcept
{
    std::array<char, 30> text{};
    std::fill(text.begin(), text.end() - 1, ' ');
    for (int k = 0; k < 8; ++k)
        text[4 * k] = hex_digits[(v >> (28 - 4 * k)) & 0xF];
    text[29] = '\0';
    return text;
}

int explain_sequence(std::FILE *out, std::span<const unsigned char> bytes, int present) noexcept
{
    const unsigned char b0 = bytes[0];
    if (is_whole_verdict(b0))
        return explain_single(out, b0);

    const int needed = 1 + utf8_extra_bytes[b0];
    if (present < needed) {
        std::fprintf(out,
                     "The sequence is not a valid UTF-8 character\n"
                     "because the first byte, value 0x%02X, bit pattern %s,\n"
                     "tells us that a total of %d bytes are needed but\n"
                     " only %d bytes are present.\n",
                     b0, bit_string_8(b0), needed, present);
        return status_invalid;
    }
    const auto seq = bytes.first(static_cast<std::size_t>(needed));
    for (std::size_t i = 1; i < seq.size(); ++i) {
        if (!is_continuation(seq[i])) {
            std::fprintf(out,
                         "The sequence is not a valid UTF-8 character\n"
                         "because byte %d, value 0x%02X, bit pattern %s\n"
                         "is not a valid continuation byte, whose high bits must be 10.\n",
                         static_cast<int>(i + 1), seq[i], bit_string_8(seq[i]));
            return status_invalid;
        }
    }
    return write_report(out, seq);
}
