// runetally's report of a decoding failure: where it is, and why the bytes
// there are not UTF-8.
#pragma once

#include <cstdio>

#include "result.hpp"

// For a TRUNCATED, INVALID or READ_ERROR result writes the located report to
// standard error in a single write(2), after "FILE: " when file is not null,
// and returns true; returns false, writing nothing, for any other status.
// The position is the 0-based line, character and byte of the failure.
bool report_decode_failure(const char *file, const count_result &r) noexcept;

// Explains why an ill-formed sequence is ill-formed, where the form of its
// bytes shows it; writes nothing for other reasons.
void explain_invalid_sequence(std::FILE *out, const unsigned char *sequence) noexcept;
