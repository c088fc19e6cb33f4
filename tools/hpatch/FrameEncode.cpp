#define ZSTD_STATIC_LINKING_ONLY // stable input buffer: no window-sized copy of the input
#include "FileIo.h"
#include "PatchFormat.h"
#include "SegmentEncode.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace hpatch {

namespace {

struct CCtxFree
{
    void operator()(ZSTD_CCtx *c) const { ZSTD_freeCCtx(c); }
};

Result zstdFailure(size_t ret, const std::string &what)
{
    const int code = ZSTD_getErrorCode(ret) == ZSTD_error_memory_allocation ? OutOfMemory : Failed;
    return failure(code, what + ": " + ZSTD_getErrorName(ret));
}

} // namespace

Result encodeFrameSegment(int fd, const std::string &path, Span prefix, Span s, int level, uint64_t limit,
    uint64_t &written, bool &overLimit, const SegmentProgress &progress)
{
    written = 0;
    overLimit = false;
    std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
    if (!cctx)
        return failure(OutOfMemory, "cannot create a compression context");
    ZSTD_CCtx *c = cctx.get();
    const int windowLog = windowLogFor(prefix.size, s.size);
    size_t ret = ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level);
    if (!ZSTD_isError(ret))
        ret = ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLog);
    if (!ZSTD_isError(ret))
        ret = ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
    // Long-distance matching finds the blocks of a large prefix that the
    // regular match finder's tables, sized for speed, cannot hold.
    if (!ZSTD_isError(ret) && prefix.size > (uint64_t(1) << 20))
        ret = ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1);
    if (!ZSTD_isError(ret))
        ret = ZSTD_CCtx_setPledgedSrcSize(c, s.size);
    if (!ZSTD_isError(ret) && prefix.size > 0)
        ret = ZSTD_CCtx_refPrefix(c, prefix.data, prefix.size);
    if (ZSTD_isError(ret))
        return zstdFailure(ret, "cannot set up compression");
    // Optional: without it zstd copies the input into its own window.
    ZSTD_CCtx_setParameter(c, ZSTD_c_stableInBuffer, 1);

    std::vector<unsigned char> buffer(ZSTD_CStreamOutSize());
    constexpr size_t chunk = size_t(8) << 20;
    ZSTD_inBuffer in = { s.data, 0, 0 };
    for (;;) {
        in.size = static_cast<size_t>(std::min<uint64_t>(s.size, in.size + chunk));
        const bool end = in.size == s.size;
        size_t remaining = 0;
        do {
            ZSTD_outBuffer o = { buffer.data(), buffer.size(), 0 };
            remaining = ZSTD_compressStream2(c, &o, &in, end ? ZSTD_e_end : ZSTD_e_continue);
            if (ZSTD_isError(remaining))
                return zstdFailure(remaining, "compression failed");
            if (const int err = writeAll(fd, buffer.data(), o.pos))
                return errnoFailure(err, "cannot write", path);
            written += o.pos;
            if (written > limit) {
                overLimit = true;
                return {};
            }
        } while (end ? remaining != 0 : in.pos < in.size);
        if (progress)
            progress(in.pos);
        if (end)
            return {};
    }
}

} // namespace hpatch
