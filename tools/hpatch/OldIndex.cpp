#include "OldIndex.h"

#include <algorithm>
#include <cstring>

namespace hpatch {

namespace {

uint64_t load64(const unsigned char *p)
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A candidate is compared this far before the best one is followed to its end:
// long runs of equal bytes would otherwise be walked once per candidate.
constexpr uint64_t CandidateReach = 1 << 16;
// A match this long is taken without looking at the rest of the chain.
constexpr uint64_t LongEnough = 4096;

} // namespace

uint64_t matchLength(const unsigned char *a, const unsigned char *b, uint64_t n)
{
    uint64_t i = 0;
    while (i + 8 <= n) {
        const uint64_t x = load64(a + i) ^ load64(b + i);
        if (x != 0)
            return i + static_cast<uint64_t>(__builtin_ctzll(x) >> 3);
        i += 8;
    }
    while (i < n && a[i] == b[i])
        ++i;
    return i;
}

uint64_t OldIndex::hashAt(const unsigned char *p) const
{
    uint64_t h = load64(p) * 0x9E3779B97F4A7C15ull;
    h ^= load64(p + 8) * 0xC2B2AE3D27D4EB4Full;
    return h >> m_shift;
}

void OldIndex::build(const unsigned char *old, uint64_t size)
{
    m_old = old;
    m_size = size;
    // Small files (compiled code) get deeper chains: many of their keys look
    // alike. In large ones a chain walk is mostly cache misses, and text-like
    // content would make every position walk a long chain.
    const uint64_t maxEntries = IndexBudget / 4 / 2;
    m_step = std::max<uint64_t>(1, (size + maxEntries - 1) / maxEntries);
    m_depth = size <= (uint64_t(16) << 20) ? 32 : 8;
    m_head.clear();
    m_next.clear();
    if (size < Key + 8)
        return;
    const uint64_t count = (size - Key) / m_step + 1;
    unsigned bits = 16;
    while (bits < 30 && (uint64_t(2) << bits) < count)
        ++bits;
    m_shift = 64 - bits;
    m_head.assign(size_t(1) << bits, 0);
    m_next.assign(count, 0);
    uint64_t previous = ~uint64_t(0);
    for (uint64_t j = 0; j < count; ++j) {
        const unsigned char *p = old + j * m_step;
        // Runs of one repeated key would fill a chain with equal candidates;
        // the run's first position finds the run.
        const uint64_t word = load64(p);
        if (j > 0 && word == previous && load64(p + 8) == load64(p + 8 - m_step))
            continue;
        previous = word;
        const uint64_t h = hashAt(p);
        m_next[j] = m_head[h];
        m_head[h] = static_cast<uint32_t>(j + 1);
    }
}

uint64_t OldIndex::longest(const unsigned char *s, uint64_t n, uint64_t &pos) const
{
    if (m_head.empty() || n < Key)
        return 0;
    uint64_t best = 0;
    uint32_t entry = m_head[hashAt(s)];
    for (unsigned d = 0; entry != 0 && d < m_depth; ++d) {
        const uint64_t at = uint64_t(entry - 1) * m_step;
        entry = m_next[entry - 1];
        const uint64_t reach = std::min<uint64_t>({ n, m_size - at, CandidateReach });
        if (reach <= best || load64(m_old + at) != load64(s))
            continue;
        const uint64_t len = matchLength(m_old + at, s, reach);
        if (len > best) {
            best = len;
            pos = at;
            if (best >= LongEnough)
                break;
        }
    }
    if (best == CandidateReach)
        best += matchLength(m_old + pos + best, s + best, std::min(n, m_size - pos) - best);
    return best;
}

} // namespace hpatch
