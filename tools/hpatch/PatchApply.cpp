#define ZSTD_STATIC_LINKING_ONLY // stable output buffer: decode straight into the mapped file
#include "FileIo.h"
#include "HPatch.h"
#include "PatchFormat.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <memory>
#include <new>
#include <vector>
#include <zlib.h>

namespace hpatch {

namespace {

struct DCtxFree
{
    void operator()(ZSTD_DCtx *d) const { ZSTD_freeDCtx(d); }
};

Result damaged(const std::string &patchPath, const std::string &why)
{
    return failure(Failed, "patch " + patchPath + " is damaged: " + why);
}

} // namespace

Result applyPatch(
    const std::string &oldPath, const std::string &patchPath, const std::string &outPath, const ProgressFn &progress)
{
    try {
        int rawPatch = -1;
        uint64_t patchSize = 0;
        Result r = openInput(patchPath, false, rawPatch, patchSize);
        Fd patchFd(rawPatch);
        if (!r.ok())
            return r;
        unsigned char header[HeaderSize];
        Header h;
        if (patchSize < HeaderSize || readAll(patchFd.get(), header, sizeof header) != 0 || !decodeHeader(header, h))
            return failure(Failed, patchPath + " is no patch of this tool's format");

        int rawOld = -1;
        uint64_t oldSize = 0;
        r = openInput(oldPath, h.oldSize == 0, rawOld, oldSize);
        Fd oldFd(rawOld);
        if (!r.ok())
            return r;
        // Both checks run before anything is written: a patch for another
        // file must not produce garbage.
        if (oldSize != h.oldSize)
            return failure(Failed,
                "old file " + oldPath + " has " + std::to_string(oldSize) + " bytes, the patch was made for a file of "
                    + std::to_string(h.oldSize) + " bytes");
        Percent percent(progress, h.oldSize + h.newSize);
        percent.set(0);
        uint32_t oldCrc = 0;
        if (const int err = crcOfFile(oldFd.get(), h.oldSize, oldCrc, [&](uint64_t d) { percent.set(d); }))
            return errnoFailure(err, "cannot read", oldPath);
        if (oldCrc != h.oldCrc)
            return failure(Failed, "old file " + oldPath + " does not match the patch (checksum differs)");

        TempFile out;
        if (const int err = out.create(outPath, fileExists(outPath) ? outPath : oldPath))
            return errnoFailure(err, "cannot create a temporary file for", outPath);
        if (const int err = reserveBlocks(out.fd(), h.newSize))
            return errnoFailure(err, "cannot reserve space for", outPath);

        std::unique_ptr<ZSTD_DCtx, DCtxFree> dctx(ZSTD_createDCtx());
        if (!dctx)
            return failure(OutOfMemory, "cannot create a decompression context");
        std::vector<unsigned char> input(size_t(1) << 20);
        uint32_t newCrc = static_cast<uint32_t>(crc32(0, nullptr, 0));
        uint64_t patchPos = HeaderSize;
        const uint64_t count = segmentCount(h);
        for (uint64_t i = 0; i < count; ++i) {
            const Region ns = newSegment(h, i);
            const Region os = oldRegion(h, i);
            unsigned char sizeField[8];
            if (patchSize - patchPos < sizeof sizeField || readAll(patchFd.get(), sizeField, sizeof sizeField) != 0)
                return damaged(patchPath, "it ends early");
            patchPos += sizeof sizeField;
            const uint64_t frameSize = getU64(sizeField);
            if (frameSize > patchSize - patchPos)
                return damaged(patchPath, "it ends early");

            MappedRegion oldMap;
            MappedRegion outMap;
            if (const int err = oldMap.map(oldFd.get(), os.begin, os.size(), false))
                return errnoFailure(err, "cannot map", oldPath);
            if (const int err = outMap.map(out.fd(), ns.begin, ns.size(), true))
                return errnoFailure(err, "cannot map the output for", outPath);

            ZSTD_DCtx *d = dctx.get();
            ZSTD_DCtx_reset(d, ZSTD_reset_session_and_parameters);
            size_t ret = ZSTD_DCtx_setParameter(d, ZSTD_d_windowLogMax, MaxWindowLog);
            if (!ZSTD_isError(ret) && os.size() > 0)
                ret = ZSTD_DCtx_refPrefix(d, oldMap.data(), os.size());
            if (ZSTD_isError(ret))
                return failure(Failed, std::string("cannot set up decompression: ") + ZSTD_getErrorName(ret));
            // Optional: without it zstd decodes through a window buffer of its own.
            ZSTD_DCtx_setParameter(d, ZSTD_d_stableOutBuffer, 1);

            ZSTD_outBuffer o = { outMap.data(), static_cast<size_t>(ns.size()), 0 };
            uint64_t left = frameSize;
            size_t hint = 1;
            while (left > 0) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(input.size(), left));
                if (const int err = readAll(patchFd.get(), input.data(), n))
                    return err < 0 ? damaged(patchPath, "it ends early") : errnoFailure(err, "cannot read", patchPath);
                left -= n;
                patchPos += n;
                ZSTD_inBuffer in = { input.data(), n, 0 };
                while (in.pos < in.size) {
                    if (hint == 0)
                        return damaged(patchPath, "data after the end of a segment");
                    const size_t before = o.pos;
                    const size_t inBefore = in.pos;
                    hint = ZSTD_decompressStream(d, &o, &in);
                    if (ZSTD_isError(hint)) {
                        if (ZSTD_getErrorCode(hint) == ZSTD_error_memory_allocation)
                            return failure(OutOfMemory, "out of memory while decoding");
                        return damaged(patchPath, ZSTD_getErrorName(hint));
                    }
                    newCrc = crcUpdate(newCrc, outMap.data() + before, o.pos - before);
                    if (o.pos == before && in.pos == inBefore)
                        return damaged(patchPath, "a segment decodes to more than its size");
                }
                percent.set(h.oldSize + ns.begin + o.pos);
            }
            if (hint != 0 || o.pos != ns.size())
                return damaged(patchPath, "a segment is incomplete");
        }
        if (patchPos != patchSize)
            return damaged(patchPath, "data after the last segment");
        if (newCrc != h.newCrc)
            return failure(Failed, "the patched result does not match the patch's checksum");
        // Windows cannot replace a file that is still open, and in place the
        // old file is the target.
        oldFd.reset();
        if (const int err = out.commit())
            return errnoFailure(err, "cannot write", outPath);
        percent.set(h.oldSize + h.newSize);
        return {};
    } catch (const std::bad_alloc &) {
        return failure(OutOfMemory, "out of memory");
    }
}

} // namespace hpatch
