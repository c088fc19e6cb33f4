#pragma once

#include <cstdint>

namespace Morvaniel {

// splitmix64: a tiny generator whose sequence is fixed by its definition,
// unlike the distributions of <random>. Published data depend on it (the block
// cutter's table, the sample game), so its output must never change.
struct SplitMix64
{
    std::uint64_t state;

    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

} // namespace Morvaniel
