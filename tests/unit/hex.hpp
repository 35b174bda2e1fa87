// Bytes as a failing test shows its input: the count, then the first 64 in
// hexadecimal.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

inline std::string hex_dump(std::string_view data)
{
    std::string text = std::to_string(data.size()) + " bytes:";
    char digits[4];
    for (std::size_t i = 0; i < data.size() && i < 64; ++i) {
        std::snprintf(digits, sizeof digits, " %02X", static_cast<unsigned char>(data[i]));
        text += digits;
    }
    return data.size() > 64 ? text + " ..." : text;
}
