#pragma once

#include <cstdint>

namespace pellucer {

/// The Windows C runtime's `rand` sequence (15-bit results, seed 1), reproduced so that the
/// anti-denormal noise is the same on every platform: glibc's `rand` returns 31-bit numbers
/// from a different generator. Each engine owns its own, so instances do not disturb each other.
class CrtRandom {
public:
    static constexpr int32_t kMax = 32767;

    int32_t next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int32_t>((state_ >> 16) & 0x7fffu);
    }

private:
    uint32_t state_ = 1;
};

} // namespace pellucer
