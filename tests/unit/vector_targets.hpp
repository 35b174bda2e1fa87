// The vector targets of the kernels that this processor runs (Highway's
// scalar and emulated ones left out), for the tests that hold each kernel to
// the scalar code on every one of them.
#pragma once

#include <cstdint>
#include <vector>

#include <hwy/targets.h>

inline const std::vector<std::int64_t> &vector_targets() noexcept
{
    static const std::vector<std::int64_t> targets = [] {
        hwy::SetSupportedTargetsForTest(0);  // what the processor has
        std::vector<std::int64_t> found;
        for (const std::int64_t t : hwy::SupportedAndGeneratedTargets())
            if (t != HWY_SCALAR && t != HWY_EMU128)
                found.push_back(t);
        return found;
    }();
    return targets;
}
