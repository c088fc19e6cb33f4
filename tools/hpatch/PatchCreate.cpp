#define ZSTD_STATIC_LINKING_ONLY // stable input buffer: no window-sized copy of the input
#include "FileIo.h"
#include "HPatch.h"
#include "PatchFormat.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>
#include <new>
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

Result createPatch(const std::string &oldPath, const std::string &newPath, const std::string &patchPath,
    const CreateOptions &options, const ProgressFn &progress)
{
    if (!parametersFit(options.segmentSize, options.margin))
        return failure(Failed, "segment size and margin do not fit zstd's 2 GiB window");
    try {
        int rawOld = -1;
        int rawNew = -1;
        Header h;
        Result r = openInput(oldPath, true, rawOld, h.oldSize);
        Fd oldFd(rawOld);
        if (!r.ok())
            return r;
        r = openInput(newPath, false, rawNew, h.newSize);
        Fd newFd(rawNew);
        if (!r.ok())
            return r;
        h.segmentSize = options.segmentSize;
        h.margin = options.margin;

        // Checksums read both files once, compression reads the new one again.
        Percent percent(progress, h.oldSize + 2 * h.newSize);
        percent.set(0);
        if (const int err = crcOfFile(oldFd.get(), h.oldSize, h.oldCrc, [&](uint64_t d) { percent.set(d); }))
            return errnoFailure(err, "cannot read", oldPath);
        if (const int err
            = crcOfFile(newFd.get(), h.newSize, h.newCrc, [&](uint64_t d) { percent.set(h.oldSize + d); }))
            return errnoFailure(err, "cannot read", newPath);

        TempFile out;
        if (const int err = out.create(patchPath, std::string()))
            return errnoFailure(err, "cannot create", patchPath);
        unsigned char header[HeaderSize];
        encodeHeader(h, header);
        if (const int err = writeAll(out.fd(), header, sizeof header))
            return errnoFailure(err, "cannot write", patchPath);

        std::unique_ptr<ZSTD_CCtx, CCtxFree> cctx(ZSTD_createCCtx());
        if (!cctx)
            return failure(OutOfMemory, "cannot create a compression context");
        std::vector<unsigned char> buffer(ZSTD_CStreamOutSize());
        uint64_t filePos = HeaderSize;
        const uint64_t base = h.oldSize + h.newSize;
        const uint64_t count = segmentCount(h);
        for (uint64_t i = 0; i < count; ++i) {
            const Region ns = newSegment(h, i);
            const Region os = oldRegion(h, i);
            MappedRegion newMap;
            MappedRegion oldMap;
            if (const int err = newMap.map(newFd.get(), ns.begin, ns.size(), false))
                return errnoFailure(err, "cannot map", newPath);
            if (const int err = oldMap.map(oldFd.get(), os.begin, os.size(), false))
                return errnoFailure(err, "cannot map", oldPath);

            ZSTD_CCtx *c = cctx.get();
            ZSTD_CCtx_reset(c, ZSTD_reset_session_and_parameters);
            const int windowLog = windowLogFor(os.size(), ns.size());
            size_t ret = ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, options.level);
            if (!ZSTD_isError(ret))
                ret = ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLog);
            if (!ZSTD_isError(ret))
                ret = ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
            // Long-distance matching finds the blocks of a large prefix that the
            // regular match finder's tables, sized for speed, cannot hold.
            if (!ZSTD_isError(ret) && os.size() > (uint64_t(1) << 20))
                ret = ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1);
            if (!ZSTD_isError(ret))
                ret = ZSTD_CCtx_setPledgedSrcSize(c, ns.size());
            if (!ZSTD_isError(ret) && os.size() > 0)
                ret = ZSTD_CCtx_refPrefix(c, oldMap.data(), os.size());
            if (ZSTD_isError(ret))
                return zstdFailure(ret, "cannot set up compression");
            // Optional: without it zstd copies the input into its own window.
            ZSTD_CCtx_setParameter(c, ZSTD_c_stableInBuffer, 1);

            const uint64_t sizePos = filePos;
            unsigned char sizeField[8] = {};
            if (const int err = writeAll(out.fd(), sizeField, sizeof sizeField))
                return errnoFailure(err, "cannot write", patchPath);
            filePos += sizeof sizeField;

            constexpr size_t chunk = size_t(8) << 20;
            ZSTD_inBuffer in = { newMap.data(), 0, 0 };
            uint64_t frameBytes = 0;
            for (;;) {
                in.size = static_cast<size_t>(std::min<uint64_t>(ns.size(), in.size + chunk));
                const bool end = in.size == ns.size();
                size_t remaining = 0;
                do {
                    ZSTD_outBuffer o = { buffer.data(), buffer.size(), 0 };
                    remaining = ZSTD_compressStream2(c, &o, &in, end ? ZSTD_e_end : ZSTD_e_continue);
                    if (ZSTD_isError(remaining))
                        return zstdFailure(remaining, "compression failed");
                    if (const int err = writeAll(out.fd(), buffer.data(), o.pos))
                        return errnoFailure(err, "cannot write", patchPath);
                    frameBytes += o.pos;
                } while (end ? remaining != 0 : in.pos < in.size);
                percent.set(base + ns.begin + in.pos);
                if (end)
                    break;
            }
            putU64(sizeField, frameBytes);
            if (const int err = pwriteAll(out.fd(), sizeField, sizeof sizeField, sizePos))
                return errnoFailure(err, "cannot write", patchPath);
            filePos += frameBytes;
        }
        if (const int err = out.commit())
            return errnoFailure(err, "cannot finish", patchPath);
        percent.set(base + h.newSize);
        return {};
    } catch (const std::bad_alloc &) {
        return failure(OutOfMemory, "out of memory");
    }
}

} // namespace hpatch
