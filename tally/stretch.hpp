// Positions in valid text: the newlines and characters of a stretch of whole
// legal sequences, counted many bytes at a time.
#pragma once

#include <span>

#include "result.hpp"

// Adds the bytes, newlines (0x0A) and characters (bytes that are not of the
// form 10xxxxxx) of data to `at`.
void count_stretch(std::span<const unsigned char> data, input_position &at) noexcept;
