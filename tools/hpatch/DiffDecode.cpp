#include "DiffCoding.h"
#include "FileIo.h"
#include "SegmentDecode.h"
#include "ZstdStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hpatch {

namespace {

constexpr uint64_t Piece = uint64_t(1) << 20;

Result streamFailure(const ZstdReader &r)
{
    if (r.outOfMemory())
        return failure(OutOfMemory, "out of memory while decoding");
    return failure(Failed, r.failed() ? r.error() : std::string("a stream ends early"));
}

// The control stream, decoded a buffer at a time.
class StepReader
{
public:
    explicit StepReader(ZstdReader &r)
        : m_reader(r)
        , m_buffer(size_t(64) << 10)
    {
    }

    // False at a damaged step or the stream's end (see ended()).
    bool next(DiffStep &step)
    {
        if (m_end - m_pos < MaxStepBytes && !m_drained) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
            m_end -= m_pos;
            m_pos = 0;
            while (m_end < m_buffer.size() && !m_drained) {
                const size_t got = m_reader.readSome(m_buffer.data() + m_end, m_buffer.size() - m_end);
                m_end += got;
                m_drained = got == 0;
            }
        }
        const size_t used = decodeStep(m_buffer.data() + m_pos, m_end - m_pos, step);
        m_pos += used;
        return used != 0;
    }
    bool empty() const { return m_pos == m_end; }

private:
    ZstdReader &m_reader;
    std::vector<unsigned char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_drained = false;
};

} // namespace

Result decodeDiffSegment(
    const DiffStreams &streams, Span old, unsigned char *out, uint64_t outSize, const Produced &produced)
{
    ZstdReader control, diff, extra;
    if (!control.open(streams.control.data, static_cast<size_t>(streams.control.size))
        || !diff.open(streams.diff.data, static_cast<size_t>(streams.diff.size))
        || !extra.open(streams.extra.data, static_cast<size_t>(streams.extra.size)))
        return failure(OutOfMemory, "cannot create a decompression context");
    StepReader steps(control);
    uint64_t newPos = 0;
    uint64_t oldPos = 0;
    bool first = true;
    while (newPos < outSize) {
        DiffStep step;
        if (!steps.next(step))
            return control.failed() ? streamFailure(control) : failure(Failed, "a control step is damaged");
        // Every value is checked against what is left before it is used: a
        // patch must not reach outside the old file or the segment.
        const uint64_t left = outSize - newPos;
        if (step.diffLength > left || step.extraLength > left - step.diffLength || step.diffLength > old.size - oldPos)
            return failure(Failed, "a control step reaches past the segment or the old file");
        if (step.diffLength == 0 && step.extraLength == 0 && !first)
            return failure(Failed, "an empty control step");
        first = false;
        for (uint64_t done = 0; done < step.diffLength;) {
            const uint64_t n = std::min(Piece, step.diffLength - done);
            unsigned char *o = out + newPos;
            if (!diff.read(o, static_cast<size_t>(n)))
                return streamFailure(diff);
            const unsigned char *b = old.data + oldPos;
            for (uint64_t i = 0; i < n; ++i)
                o[i] = static_cast<unsigned char>(o[i] + b[i]);
            newPos += n;
            oldPos += n;
            done += n;
            produced(newPos);
        }
        for (uint64_t done = 0; done < step.extraLength;) {
            const uint64_t n = std::min(Piece, step.extraLength - done);
            if (!extra.read(out + newPos, static_cast<size_t>(n)))
                return streamFailure(extra);
            newPos += n;
            done += n;
            produced(newPos);
        }
        if (step.seek < 0 ? uint64_t(-step.seek) > oldPos : uint64_t(step.seek) > old.size - oldPos)
            return failure(Failed, "a control step reaches past the old file");
        oldPos = step.seek < 0 ? oldPos - uint64_t(-step.seek) : oldPos + uint64_t(step.seek);
    }
    if (!steps.empty() || !control.finish())
        return control.failed() ? streamFailure(control) : failure(Failed, "control data after the segment's end");
    if (!diff.finish())
        return streamFailure(diff);
    if (!extra.finish())
        return streamFailure(extra);
    return {};
}

} // namespace hpatch
