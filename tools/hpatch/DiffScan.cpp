#include "DiffScan.h"

#include "OldIndex.h"

#include <algorithm>

namespace hpatch {

namespace {

// Where the current alignment already matches this far, no other candidate is
// looked up: in a file with few changes nearly every position is such.
constexpr int64_t GoodEnough = 64;

struct Scanner
{
    const OldIndex &index;
    const unsigned char *old;
    int64_t oldSize;
    const unsigned char *s;
    int64_t n;

    bool same(int64_t newPos, int64_t oldPos) const
    {
        return oldPos >= 0 && oldPos < oldSize && old[oldPos] == s[newPos];
    }

    // The longest match at scan: the current alignment's or an indexed one.
    int64_t search(int64_t scan, int64_t offset, int64_t &pos) const
    {
        int64_t best = 0;
        const int64_t at = scan + offset;
        if (at >= 0 && at < oldSize) {
            best = static_cast<int64_t>(
                matchLength(old + at, s + scan, static_cast<uint64_t>(std::min(n - scan, oldSize - at))));
            pos = at;
            if (best >= GoodEnough)
                return best;
        }
        uint64_t found = 0;
        const int64_t len = static_cast<int64_t>(index.longest(s + scan, static_cast<uint64_t>(n - scan), found));
        if (len > best) {
            best = len;
            pos = static_cast<int64_t>(found);
        }
        return best;
    }
};

} // namespace

Result scanSegment(const OldIndex &index, const unsigned char *old, uint64_t oldSize, const unsigned char *s,
    uint64_t n, const StepSink &sink, const ScanProgress &progress)
{
    const Scanner sc{ index, old, static_cast<int64_t>(oldSize), s, static_cast<int64_t>(n) };
    const int64_t newSize = sc.n;
    int64_t scan = 0, len = 0, pos = 0;
    int64_t lastScan = 0, lastPos = 0, lastOffset = 0;
    int64_t reported = 0;
    while (scan < newSize) {
        int64_t oldScore = 0;
        int64_t scsc = scan += len;
        for (; scan < newSize; ++scan) {
            len = sc.search(scan, lastOffset, pos);
            for (; scsc < scan + len; ++scsc)
                if (sc.same(scsc, scsc + lastOffset))
                    ++oldScore;
            if ((len == oldScore && len != 0) || len > oldScore + 8)
                break;
            if (sc.same(scan, scan + lastOffset))
                --oldScore;
        }
        if (len == oldScore && scan != newSize)
            continue;

        // Extend the previous match forward and this one backward, each as
        // far as more than half of the bytes agree.
        int64_t lenF = 0;
        {
            int64_t score = 0, best = 0;
            for (int64_t i = 0; lastScan + i < scan && lastPos + i < sc.oldSize;) {
                if (old[lastPos + i] == s[lastScan + i])
                    ++score;
                ++i;
                if (score * 2 - i > best * 2 - lenF) {
                    best = score;
                    lenF = i;
                }
            }
        }
        int64_t lenB = 0;
        if (scan < newSize) {
            int64_t score = 0, best = 0;
            for (int64_t i = 1; scan >= lastScan + i && pos >= i; ++i) {
                if (old[pos - i] == s[scan - i])
                    ++score;
                if (score * 2 - i > best * 2 - lenB) {
                    best = score;
                    lenB = i;
                }
            }
        }
        if (lastScan + lenF > scan - lenB) {
            // The two extensions overlap: split where the most bytes agree.
            const int64_t overlap = (lastScan + lenF) - (scan - lenB);
            int64_t score = 0, best = 0, lenS = 0;
            for (int64_t i = 0; i < overlap; ++i) {
                if (s[lastScan + lenF - overlap + i] == old[lastPos + lenF - overlap + i])
                    ++score;
                if (s[scan - lenB + i] == old[pos - lenB + i])
                    --score;
                if (score > best) {
                    best = score;
                    lenS = i + 1;
                }
            }
            lenF += lenS - overlap;
            lenB -= lenS;
        }

        DiffStep step;
        step.diffLength = static_cast<uint64_t>(lenF);
        step.extraLength = static_cast<uint64_t>((scan - lenB) - (lastScan + lenF));
        step.seek = (pos - lenB) - (lastPos + lenF);
        if (scan == newSize)
            step.seek = 0;
        const Result r = sink(step, static_cast<uint64_t>(lastScan), static_cast<uint64_t>(lastPos));
        if (!r.ok())
            return r;
        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
        if (progress && lastScan - reported >= (int64_t(1) << 22)) {
            reported = lastScan;
            progress(static_cast<uint64_t>(lastScan));
        }
    }
    return {};
}

} // namespace hpatch
