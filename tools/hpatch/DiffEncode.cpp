#include "DiffScan.h"
#include "OldIndex.h"
#include "SegmentEncode.h"
#include "ZstdStream.h"

#include <vector>

namespace hpatch {

namespace {

// The diff stream's runs of zeros, each as a zero byte and its length - 1.
class ZeroRunWriter
{
public:
    explicit ZeroRunWriter(ZstdWriter &w)
        : m_writer(w)
    {
        m_out.reserve(Flush + 2 * MaxNumberBytes);
    }

    Result write(const unsigned char *a, const unsigned char *b, uint64_t n)
    {
        for (uint64_t i = 0; i < n; ++i) {
            const uint64_t same = matchLength(a + i, b + i, n - i);
            m_zeros += same;
            i += same;
            if (i == n)
                break;
            endRun();
            m_out.push_back(static_cast<unsigned char>(a[i] - b[i]));
            if (m_out.size() >= Flush) {
                const Result r = drain();
                if (!r.ok())
                    return r;
            }
        }
        return {};
    }
    Result finish()
    {
        endRun();
        return drain();
    }

private:
    static constexpr size_t Flush = size_t(1) << 20;

    void endRun()
    {
        if (m_zeros == 0)
            return;
        unsigned char number[MaxNumberBytes];
        m_out.push_back(0);
        m_out.insert(m_out.end(), number, number + encodeNumber(m_zeros - 1, number));
        m_zeros = 0;
    }
    Result drain()
    {
        const Result r = m_writer.write(m_out.data(), m_out.size());
        m_out.clear();
        return r;
    }

    ZstdWriter &m_writer;
    std::vector<unsigned char> m_out;
    uint64_t m_zeros = 0;
};

} // namespace

Result encodeDiffSegment(
    const OldIndex &index, Span old, Span s, int level, DiffFiles &files, const SegmentProgress &progress)
{
    ZstdWriter writers[3];
    for (int i = 0; i < 3; ++i) {
        const Result r = writers[i].open(files.fds[i], files.path, level, StreamWindowLog);
        if (!r.ok())
            return r;
    }
    ZeroRunWriter diff(writers[1]);
    // A step without bytes only moves the old position: it joins the step
    // before it, so that the reader can refuse empty steps after the first.
    bool held = false;
    DiffStep pending;
    auto flush = [&]() -> Result {
        unsigned char bytes[MaxStepBytes];
        held = false;
        return writers[0].write(bytes, encodeStep(pending, bytes));
    };
    const StepSink sink = [&](const DiffStep &step, uint64_t newPos, uint64_t oldPos) -> Result {
        if (held && step.diffLength == 0 && step.extraLength == 0) {
            pending.seek += step.seek;
            return {};
        }
        if (held) {
            const Result r = flush();
            if (!r.ok())
                return r;
        }
        pending = step;
        held = true;
        const Result r = diff.write(s.data + newPos, old.data + oldPos, step.diffLength);
        if (!r.ok())
            return r;
        return writers[2].write(s.data + newPos + step.diffLength, static_cast<size_t>(step.extraLength));
    };
    Result r = scanSegment(index, old.data, old.size, s.data, s.size, sink, progress);
    if (r.ok() && held)
        r = flush();
    if (r.ok())
        r = diff.finish();
    for (int i = 0; i < 3 && r.ok(); ++i) {
        r = writers[i].finish();
        files.sizes[i] = writers[i].compressedSize();
    }
    return r;
}

} // namespace hpatch
