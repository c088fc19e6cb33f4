#include "blocks/BlockCutter.h"

#include "util/SplitMix64.h"

#include <array>

namespace Morvaniel {

namespace {

// A fixed table: the cuts, and with them every published block, depend on it.
// splitmix64 from seed 0x6d6f7276 ("morv").
const std::array<std::uint64_t, 256> &gear()
{
    static const std::array<std::uint64_t, 256> table = [] {
        std::array<std::uint64_t, 256> t{};
        SplitMix64 random{ 0x6d6f7276 };
        for (std::uint64_t &v : t)
            v = random.next();
        return t;
    }();
    return table;
}

int log2Of(std::uint32_t value)
{
    int bits = 0;
    while ((std::uint32_t(1) << (bits + 1)) <= value)
        ++bits;
    return bits;
}

// The top bits: each depends on the last 64 bytes, the low ones on fewer.
std::uint64_t topMask(int bits)
{
    return bits <= 0 ? 0 : ~std::uint64_t(0) << (64 - bits);
}

} // namespace

bool CutParameters::isValid() const
{
    return minSize >= 64 && avgSize > minSize && maxSize > avgSize && (avgSize & (avgSize - 1)) == 0
        && maxSize <= (std::uint32_t(1) << 26);
}

// Measured with bench_blockcut on a 1 GiB LargeGame (docs/server-layout.md):
// against 1 MiB blocks an update fetches half as much for 3 % more bytes of a
// fresh install, and a minimum of half the average keeps cutting plus
// hashing above 1 GB/s per core.
CutParameters CutParameters::standard()
{
    return CutParameters{ 128 * 1024, 256 * 1024, 1024 * 1024 };
}

namespace {

// Rolls the hash over [i, end) and returns the position after the first byte
// whose hash has every bit of mask clear (found), or end. Four bytes a round with one
// test for all four: the hash is a chain of one shift-and-add a byte, and the
// test per byte, not the chain, is what costs.
inline std::size_t roll(const unsigned char *data, std::size_t i, std::size_t end, std::uint64_t &h, std::uint64_t mask,
    const std::uint64_t *g, bool &found)
{
    found = true;
    std::uint64_t x = h;
    for (; i + 4 <= end; i += 4) {
        const std::uint64_t h1 = (x << 1) + g[data[i]];
        const std::uint64_t h2 = (h1 << 1) + g[data[i + 1]];
        const std::uint64_t h3 = (h2 << 1) + g[data[i + 2]];
        const std::uint64_t h4 = (h3 << 1) + g[data[i + 3]];
        if (!((h1 & mask) && (h2 & mask) && (h3 & mask) && (h4 & mask))) {
            return !(h1 & mask) ? i + 1 : !(h2 & mask) ? i + 2 : !(h3 & mask) ? i + 3 : i + 4;
        }
        x = h4;
    }
    for (; i < end; ++i) {
        x = (x << 1) + g[data[i]];
        if (!(x & mask))
            return i + 1;
    }
    h = x;
    found = false;
    return end;
}

} // namespace

std::size_t BlockCutter::nextCut(const unsigned char *data, std::size_t length, const CutParameters &p)
{
    if (length <= p.minSize)
        return length;
    const std::uint64_t *g = gear().data();
    const int bits = log2Of(p.avgSize);
    std::uint64_t h = 0;
    // Below the average size a cut needs one bit more to be clear, above it one bit less.
    const std::size_t normal = length < p.avgSize ? length : p.avgSize;
    bool found = false;
    const std::size_t at = roll(data, p.minSize, normal, h, topMask(bits + 1), g, found);
    if (found || normal == length)
        return at;
    const std::size_t end = length < p.maxSize ? length : p.maxSize;
    return roll(data, normal, end, h, topMask(bits - 1), g, found);
}

} // namespace Morvaniel
