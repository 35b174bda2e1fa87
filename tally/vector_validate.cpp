// runetally's vector validation on its own (see vector_validate.hpp),
// compiled for every target of the build (foreach_target.h) and chosen at
// run time, as the kernel of vector_count.cpp is: a sub-block is checked in
// place where the data reaches a vector beyond it, else in a copy with
// zeros before and after it.
#include "vector_validate.hpp"

#include <cstdint>
#include <cstring>

#include "utf8.hpp"

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "vector_validate.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

// The kernel's Validate, under another name in this file (vector_count.cpp
// defines it too).
#define Validate ValidateSubblock
#include "vector_validate-inl.hpp"

#ifndef RUNEKIT_TALLY_VALIDATE_SHARED
#define RUNEKIT_TALLY_VALIDATE_SHARED
namespace tally_validate {
constexpr std::size_t padding = 128;  // more than a vector and the look-around
constexpr std::size_t max_subblock = 16384;
alignas(64) unsigned char buffer[padding + max_subblock + padding];

// End of the sub-block that starts at pos: at most `subblock` bytes on, moved
// back to a character boundary; at the end of the data, before a last
// sequence that the data holds only in part.
std::size_t subblock_end(const unsigned char *data, std::size_t size, std::size_t pos, std::size_t subblock) noexcept
{
    if (size - pos > subblock) {
        std::size_t end = pos + subblock;
        for (int step = 0; step < 3 && end > pos && is_continuation(data[end]); ++step)
            --end;
        return end;
    }
    for (std::size_t back = 1; back <= 3 && back <= size - pos; ++back) {
        const unsigned char b = data[size - back];
        if (is_continuation(b))
            continue;
        if (static_cast<std::size_t>(utf8_extra_bytes[b]) >= back)
            return size - back;
        break;
    }
    return size;
}
}  // namespace tally_validate
#endif

HWY_BEFORE_NAMESPACE();
namespace tally_vector {
namespace HWY_NAMESPACE {

std::size_t ValidateFront(const unsigned char *data, std::size_t size, std::size_t subblock)
{
#if TALLY_KERNEL_TARGET
    using namespace tally_validate;
    if (subblock > max_subblock)
        subblock = max_subblock;
    std::size_t done = 0;
    while (done < size) {
        const std::size_t end = subblock_end(data, size, done, subblock);
        if (end <= done)
            break;
        const std::size_t len = end - done;
        const unsigned char *p = data + done;
        if (done < 3 || size - end < padding) {
            unsigned char *const copy = buffer + padding;
            std::memcpy(copy, p, len);
            std::memset(copy + len, 0, padding);
            p = copy;
        }
        if (!ValidateSubblock(p, len))
            break;
        done = end;
    }
    return done;
#else
    (void)data;
    (void)size;
    (void)subblock;
    return 0;
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace tally_vector
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace tally_vector {
HWY_EXPORT(ValidateFront);
}  // namespace tally_vector

std::size_t tally_vector_validate(std::span<const unsigned char> data, std::size_t subblock) noexcept
{
    using namespace tally_vector;
    return HWY_DYNAMIC_DISPATCH(ValidateFront)(data.data(), data.size(), subblock);
}
#endif
