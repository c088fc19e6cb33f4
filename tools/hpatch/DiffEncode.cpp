#include "DiffScan.h"
#include "OldIndex.h"
#include "SegmentEncode.h"
#include "ZstdStream.h"

#include <vector>

namespace hpatch {

Result encodeDiffSegment(
    const OldIndex &index, Span old, Span s, int level, DiffFiles &files, const SegmentProgress &progress)
{
    ZstdWriter writers[3];
    for (int i = 0; i < 3; ++i) {
        const Result r = writers[i].open(files.fds[i], files.path, level, StreamWindowLog);
        if (!r.ok())
            return r;
    }
    std::vector<unsigned char> diff;
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
        constexpr uint64_t piece = uint64_t(1) << 20;
        for (uint64_t done = 0; done < step.diffLength;) {
            const uint64_t n = std::min(piece, step.diffLength - done);
            diff.resize(static_cast<size_t>(n));
            const unsigned char *a = s.data + newPos + done;
            const unsigned char *b = old.data + oldPos + done;
            for (size_t i = 0; i < diff.size(); ++i)
                diff[i] = static_cast<unsigned char>(a[i] - b[i]);
            const Result r = writers[1].write(diff.data(), diff.size());
            if (!r.ok())
                return r;
            done += n;
        }
        return writers[2].write(s.data + newPos + step.diffLength, static_cast<size_t>(step.extraLength));
    };
    Result r = scanSegment(index, old.data, old.size, s.data, s.size, sink, progress);
    if (r.ok() && held)
        r = flush();
    for (int i = 0; i < 3 && r.ok(); ++i) {
        r = writers[i].finish();
        files.sizes[i] = writers[i].compressedSize();
    }
    return r;
}

} // namespace hpatch
