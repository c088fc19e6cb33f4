#include "FileIo.h"
#include "SegmentDecode.h"

namespace hpatch {

Result decodeSegment(const Header &h, PatchCursor &cursor, Span old, uint64_t index, const SegmentOutput &output)
{
    const Region ns = newSegment(h, index);
    unsigned char coding = FrameSegment;
    Span field;
    if (h.version >= 2) {
        if (!cursor.take(1, field))
            return failure(Failed, "it ends early");
        coding = field.data[0];
    }
    if (coding == FrameSegment) {
        uint64_t frameSize = 0;
        Span frame;
        if (!cursor.u64(frameSize) || !cursor.take(frameSize, frame))
            return failure(Failed, "it ends early");
        const Region os = oldRegion(h, index);
        unsigned char *out = nullptr;
        const Result r = output.map(out);
        if (!r.ok())
            return r;
        return decodeFrameSegment(frame, { old.data + os.begin, os.size() }, out, ns.size(), output.produced);
    }
    if (coding == DiffSegment) {
        uint64_t sizes[3];
        DiffStreams streams;
        Span *spans[3] = { &streams.control, &streams.diff, &streams.extra };
        for (int k = 0; k < 3; ++k)
            if (!cursor.u64(sizes[k]))
                return failure(Failed, "it ends early");
        for (int k = 0; k < 3; ++k)
            if (!cursor.take(sizes[k], *spans[k]))
                return failure(Failed, "it ends early");
        return decodeDiffSegment(streams, old, ns.size(), output.emit);
    }
    return failure(Failed, "a segment of unknown coding");
}

} // namespace hpatch
