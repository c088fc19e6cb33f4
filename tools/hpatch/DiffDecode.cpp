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

// A stream decoded a buffer at a time.
class BufferedStream
{
public:
    explicit BufferedStream(ZstdReader &r)
        : m_reader(r)
        , m_buffer(size_t(64) << 10)
    {
    }

    // Makes at least n bytes available unless the stream ends first.
    void fill(size_t n)
    {
        if (m_end - m_pos >= n || m_drained)
            return;
        std::memmove(m_buffer.data(), m_buffer.data() + m_pos, m_end - m_pos);
        m_end -= m_pos;
        m_pos = 0;
        while (m_end < m_buffer.size() && !m_drained) {
            const size_t got = m_reader.readSome(m_buffer.data() + m_end, m_buffer.size() - m_end);
            m_end += got;
            m_drained = got == 0;
        }
    }
    const unsigned char *data() const { return m_buffer.data() + m_pos; }
    size_t available() const { return m_end - m_pos; }
    void consume(size_t n) { m_pos += n; }
    // True when the stream ended cleanly with every byte consumed.
    bool finish() { return available() == 0 && m_reader.finish(); }
    const ZstdReader &reader() const { return m_reader; }

private:
    ZstdReader &m_reader;
    std::vector<unsigned char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_drained = false;
};

// The diff stream with its runs of zeros expanded.
class ZeroRunReader
{
public:
    explicit ZeroRunReader(ZstdReader &r)
        : m_stream(r)
    {
    }

    // Writes n bytes of old plus the differences to dst. False when the
    // stream is damaged or shorter than n.
    bool addTo(unsigned char *dst, const unsigned char *old, uint64_t n)
    {
        while (n > 0) {
            if (m_zeros > 0) {
                const uint64_t k = std::min(m_zeros, n);
                std::memcpy(dst, old, static_cast<size_t>(k));
                dst += k;
                old += k;
                n -= k;
                m_zeros -= k;
                continue;
            }
            m_stream.fill(1 + MaxNumberBytes);
            const size_t have = m_stream.available();
            if (have == 0)
                return false;
            const unsigned char *p = m_stream.data();
            if (p[0] == 0) {
                uint64_t run = 0;
                const size_t used = decodeNumber(p + 1, have - 1, run);
                if (used == 0) {
                    m_damaged = true;
                    return false;
                }
                m_stream.consume(1 + used);
                m_zeros = run + 1;
                continue;
            }
            const size_t limit = static_cast<size_t>(std::min<uint64_t>(have, n));
            const void *zero = std::memchr(p, 0, limit);
            const size_t k = zero ? static_cast<size_t>(static_cast<const unsigned char *>(zero) - p) : limit;
            for (size_t i = 0; i < k; ++i)
                dst[i] = static_cast<unsigned char>(old[i] + p[i]);
            m_stream.consume(k);
            dst += k;
            old += k;
            n -= k;
        }
        return true;
    }
    bool finish() { return m_zeros == 0 && m_stream.finish(); }
    bool damaged() const { return m_damaged; }

private:
    BufferedStream m_stream;
    uint64_t m_zeros = 0;
    bool m_damaged = false;
};

} // namespace

Result decodeDiffSegment(const DiffStreams &streams, Span old, uint64_t outSize, const Emit &emit)
{
    ZstdReader control, diff, extra;
    if (!control.open(streams.control.data, static_cast<size_t>(streams.control.size))
        || !diff.open(streams.diff.data, static_cast<size_t>(streams.diff.size))
        || !extra.open(streams.extra.data, static_cast<size_t>(streams.extra.size)))
        return failure(OutOfMemory, "cannot create a decompression context");
    BufferedStream steps(control);
    ZeroRunReader diffBytes(diff);
    auto diffFailure
        = [&]() { return diffBytes.damaged() ? failure(Failed, "a run of zeros is damaged") : streamFailure(diff); };
    // The output a buffer at a time: written with plain writes, it costs the
    // system less than page faults on a mapping.
    std::vector<unsigned char> buffer(static_cast<size_t>(std::min<uint64_t>(Piece, outSize)));
    size_t filled = 0;
    auto flush = [&]() -> Result {
        const Result r = emit(buffer.data(), filled);
        filled = 0;
        return r;
    };
    uint64_t newPos = 0;
    uint64_t oldPos = 0;
    bool first = true;
    while (newPos < outSize) {
        DiffStep step;
        steps.fill(MaxStepBytes);
        const size_t used = decodeStep(steps.data(), steps.available(), step);
        if (used == 0)
            return control.failed() ? streamFailure(control) : failure(Failed, "a control step is damaged");
        steps.consume(used);
        // Every value is checked against what is left before it is used: a
        // patch must not reach outside the old file or the segment.
        const uint64_t left = outSize - newPos;
        if (step.diffLength > left || step.extraLength > left - step.diffLength || step.diffLength > old.size - oldPos)
            return failure(Failed, "a control step reaches past the segment or the old file");
        if (step.diffLength == 0 && step.extraLength == 0 && !first)
            return failure(Failed, "an empty control step");
        first = false;
        for (uint64_t done = 0; done < step.diffLength;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size() - filled, step.diffLength - done));
            if (!diffBytes.addTo(buffer.data() + filled, old.data + oldPos, n))
                return diffFailure();
            filled += n;
            oldPos += n;
            done += n;
            if (filled == buffer.size())
                if (const Result r = flush(); !r.ok())
                    return r;
        }
        for (uint64_t done = 0; done < step.extraLength;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size() - filled, step.extraLength - done));
            if (!extra.read(buffer.data() + filled, n))
                return streamFailure(extra);
            filled += n;
            done += n;
            if (filled == buffer.size())
                if (const Result r = flush(); !r.ok())
                    return r;
        }
        newPos += step.diffLength + step.extraLength;
        if (step.seek < 0 ? uint64_t(-step.seek) > oldPos : uint64_t(step.seek) > old.size - oldPos)
            return failure(Failed, "a control step reaches past the old file");
        oldPos = step.seek < 0 ? oldPos - uint64_t(-step.seek) : oldPos + uint64_t(step.seek);
    }
    if (filled > 0)
        if (const Result r = flush(); !r.ok())
            return r;
    if (!steps.finish())
        return control.failed() ? streamFailure(control) : failure(Failed, "control data after the segment's end");
    if (!diffBytes.finish())
        return diff.failed() ? streamFailure(diff) : failure(Failed, "diff data after the segment's end");
    if (!extra.finish())
        return streamFailure(extra);
    return {};
}

} // namespace hpatch
