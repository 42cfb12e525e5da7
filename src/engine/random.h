// The runtime library's rand(): a linear congruential generator with results 0..32767. Its own object so that
// runs are reproducible when seeded.
#pragma once

#include <cstdint>

namespace quillet {

class RandomSource {
public:
    explicit RandomSource(uint32_t seed = 1) : state_(seed) {}
    void Seed(uint32_t seed) { state_ = seed; }
    int Next() {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFF);
    }

private:
    uint32_t state_;
};

} // namespace quillet
