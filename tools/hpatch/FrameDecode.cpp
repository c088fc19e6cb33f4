#define ZSTD_STATIC_LINKING_ONLY // stable output buffer: decode straight into the mapped file
#include "FileIo.h"
#include "PatchFormat.h"
#include "SegmentDecode.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>

namespace hpatch {

namespace {

struct DCtxFree
{
    void operator()(ZSTD_DCtx *d) const { ZSTD_freeDCtx(d); }
};

} // namespace

Result decodeFrameSegment(Span frame, Span prefix, unsigned char *out, uint64_t outSize, const Produced &produced)
{
    std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
    if (!dctx)
        return failure(OutOfMemory, "cannot create a decompression context");
    ZSTD_DCtx *d = dctx.get();
    size_t ret = ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, MaxWindowLog);
    if (!ZSTD_isError(ret) && prefix.size > 0)
        ret = ZSTD_DCtx_refPrefix(d, prefix.data, prefix.size);
    if (ZSTD_isError(ret))
        return failure(Failed, std::string("cannot set up decompression: ") + ZSTD_getErrorName(ret));
    // Without it zstd would decode through a window buffer of its own, as
    // large as the frame asks for.
    ret = ZSTD_DCtx_setParameter(d, ZSTD_d_stableOutBuffer, 1);
    if (ZSTD_isError(ret))
        return failure(Failed, std::string("cannot set up decompression: ") + ZSTD_getErrorName(ret));

    ZSTD_outBuffer o = { out, static_cast<size_t>(outSize), 0 };
    // Input in pieces, so that each piece's output is checked while it is
    // still in the processor's cache.
    constexpr size_t piece = size_t(128) << 10;
    ZSTD_inBuffer in = { frame.data, 0, 0 };
    size_t hint = 1;
    while (in.pos < frame.size) {
        in.size = static_cast<size_t>(std::min<uint64_t>(frame.size, in.pos + piece));
        while (in.pos < in.size) {
            if (hint == 0)
                return failure(Failed, "data after the end of a segment");
            const size_t before = o.pos;
            const size_t inBefore = in.pos;
            hint = ZSTD_decompressStream(d, &o, &in);
            if (ZSTD_isError(hint)) {
                if (ZSTD_getErrorCode(hint) == ZSTD_error_memory_allocation)
                    return failure(OutOfMemory, "out of memory while decoding");
                return failure(Failed, ZSTD_getErrorName(hint));
            }
            if (o.pos == before && in.pos == inBefore)
                return failure(Failed, "a segment decodes to more than its size");
        }
        produced(o.pos);
    }
    if (hint != 0 || o.pos != outSize)
        return failure(Failed, "a segment is incomplete");
    return {};
}

} // namespace hpatch
