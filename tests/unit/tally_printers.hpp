// How GoogleTest shows runetally's results when a check fails: by field,
// with the status named. (The failing sequence lies in a buffer that the
// next read may reuse, so it is not shown from here.)
#pragma once

#include <ostream>

#include "result.hpp"

inline void PrintTo(const input_position &p, std::ostream *os)
{
    *os << "{lines " << p.lines << ", characters " << p.characters << ", bytes " << p.bytes << "}";
}

inline void PrintTo(const count_result &r, std::ostream *os)
{
    if (r.status == UTF8_END_OF_INPUT)
        *os << "{end of input";
    else if (r.status == UTF8_TRUNCATED)
        *os << "{truncated";
    else if (r.status == UTF8_INVALID)
        *os << "{invalid";
    else if (r.status == UTF8_READ_ERROR)
        *os << "{read error";
    else
        *os << "{status " << r.status;
    *os << " at ";
    PrintTo(r.position, os);
    *os << "}";
}
