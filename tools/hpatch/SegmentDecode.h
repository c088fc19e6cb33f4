#pragma once

// Decoding one segment. Neither coding keeps a window of its own: a frame is
// decoded straight into the mapped output, which serves as its window; the
// difference coding's streams are read through bounded windows and its output,
// which never refers back, is handed on a piece at a time. A result with code
// Failed carries the reason the patch is damaged as its message.

#include "HPatch.h"
#include "PatchFormat.h"
#include "SegmentEncode.h"

#include <cstdint>
#include <functional>

namespace hpatch {

// Called with the bytes of the output done so far (growing).
using Produced = std::function<void(uint64_t done)>;
// Receives the next piece of a segment's output, in order.
using Emit = std::function<Result(const unsigned char *data, size_t size)>;

// Where a segment's output goes.
struct SegmentOutput
{
    // The whole segment as writable memory (a frame's window), or a failure.
    std::function<Result(unsigned char *&out)> map;
    Produced produced; // for the mapped output
    Emit emit; // for the difference coding
};

Result decodeFrameSegment(Span frame, Span prefix, unsigned char *out, uint64_t outSize, const Produced &produced);

struct DiffStreams
{
    Span control, diff, extra;
};

Result decodeDiffSegment(const DiffStreams &streams, Span old, uint64_t outSize, const Emit &emit);

// Reads the fields of a patch in order, never past its end.
class PatchCursor
{
public:
    // Starts after the header.
    PatchCursor(const unsigned char *data, uint64_t size)
        : m_data(data)
        , m_size(size)
        , m_pos(size < HeaderSize ? size : HeaderSize)
    {
    }
    bool take(uint64_t n, Span &span)
    {
        if (n > m_size - m_pos)
            return false;
        span = { m_data + m_pos, n };
        m_pos += n;
        return true;
    }
    bool u64(uint64_t &v)
    {
        Span s;
        if (!take(8, s))
            return false;
        v = getU64(s.data);
        return true;
    }
    bool atEnd() const { return m_pos == m_size; }

private:
    const unsigned char *m_data;
    uint64_t m_size;
    uint64_t m_pos;
};

// Decodes segment index of a patch with header h from the cursor's position
// against the whole old file.
Result decodeSegment(const Header &h, PatchCursor &cursor, Span old, uint64_t index, const SegmentOutput &output);

} // namespace hpatch
