#include "FileIo.h"
#include "HPatch.h"
#include "PatchFormat.h"
#include "SegmentDecode.h"

#include <algorithm>
#include <new>
#include <thread>
#include <zlib.h>

namespace hpatch {

namespace {

Result damaged(const std::string &patchPath, const std::string &why)
{
    return failure(Failed, "patch " + patchPath + " is damaged: " + why);
}

// The old file's checksum, read on a second thread while the first one
// decodes: the result goes to a temporary file, so nothing that counts is
// written before the check.
class OldChecksum
{
public:
    static constexpr int OutOfMemoryError = -2;

    OldChecksum(int fd, uint64_t size)
    {
        m_thread = std::thread([this, fd, size]() {
            try {
                m_error = crcOfFile(fd, size, m_crc, {});
            } catch (const std::bad_alloc &) {
                m_error = OutOfMemoryError;
            }
        });
    }
    ~OldChecksum() { wait(); }
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    int error() const { return m_error; }
    uint32_t crc() const { return m_crc; }

private:
    std::thread m_thread;
    int m_error = 0;
    uint32_t m_crc = 0;
};

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
        // Both checks come before the target is touched: a patch for another
        // file must not produce garbage.
        if (oldSize != h.oldSize)
            return failure(Failed,
                "old file " + oldPath + " has " + std::to_string(oldSize) + " bytes, the patch was made for a file of "
                    + std::to_string(h.oldSize) + " bytes");
        Percent percent(progress, h.oldSize + h.newSize);
        percent.set(0);
        OldChecksum oldCheck(oldFd.get(), h.oldSize);
        auto oldMismatch = [&]() -> Result {
            oldCheck.wait();
            if (oldCheck.error() == OldChecksum::OutOfMemoryError)
                return failure(OutOfMemory, "out of memory");
            if (oldCheck.error())
                return errnoFailure(oldCheck.error(), "cannot read", oldPath);
            if (oldCheck.crc() != h.oldCrc)
                return failure(Failed, "old file " + oldPath + " does not match the patch (checksum differs)");
            return {};
        };
        // A failure while decoding reports a wrong old file first: that is
        // the likelier cause, and the one the user can act on.
        auto fail = [&](const Result &why) -> Result {
            const Result old = oldMismatch();
            return old.ok() ? why : old;
        };

        MappedRegion patchMap;
        if (const int err = patchMap.map(patchFd.get(), 0, patchSize, false))
            return fail(errnoFailure(err, "cannot map", patchPath));
        MappedRegion oldMap;
        if (const int err = oldMap.map(oldFd.get(), 0, h.oldSize, false))
            return fail(errnoFailure(err, "cannot map", oldPath));
        const Span old{ oldMap.data(), h.oldSize };

        TempFile out;
        if (const int err = out.create(outPath, fileExists(outPath) ? outPath : oldPath))
            return fail(errnoFailure(err, "cannot create a temporary file for", outPath));
        if (const int err = reserveBlocks(out.fd(), h.newSize))
            return fail(errnoFailure(err, "cannot reserve space for", outPath));

        uint32_t newCrc = static_cast<uint32_t>(crc32(0, nullptr, 0));
        PatchCursor cursor(patchMap.data(), patchSize);
        const uint64_t count = segmentCount(h);
        for (uint64_t i = 0; i < count; ++i) {
            const Region ns = newSegment(h, i);
            MappedRegion outMap;
            uint64_t checked = 0;
            // Failures of the output itself, told apart from a damaged patch.
            Result outputFailure;
            SegmentOutput output;
            output.map = [&](unsigned char *&data) -> Result {
                if (const int err = outMap.map(out.fd(), ns.begin, ns.size(), true))
                    outputFailure = errnoFailure(err, "cannot map the output for", outPath);
                data = outMap.data();
                return outputFailure;
            };
            // Checksums in pieces, while the output is still in the cache.
            output.produced = [&](uint64_t done) {
                if (done - checked < (uint64_t(256) << 10) && done != ns.size())
                    return;
                newCrc = crcUpdate(newCrc, outMap.data() + checked, done - checked);
                checked = done;
                percent.set(h.oldSize + ns.begin + done);
            };
            output.emit = [&](const unsigned char *data, size_t size) -> Result {
                if (const int err = pwriteAll(out.fd(), data, size, ns.begin + checked))
                    outputFailure = errnoFailure(err, "cannot write", outPath);
                newCrc = crcUpdate(newCrc, data, size);
                checked += size;
                percent.set(h.oldSize + ns.begin + checked);
                return outputFailure;
            };
            r = decodeSegment(h, cursor, old, i, output);
            if (!outputFailure.ok())
                return fail(outputFailure);
            if (!r.ok())
                return fail(r.code == Failed ? damaged(patchPath, r.message) : r);
            if (checked != ns.size()) // a frame's last piece
                newCrc = crcUpdate(newCrc, outMap.data() + checked, ns.size() - checked);
        }
        if (!cursor.atEnd())
            return fail(damaged(patchPath, "data after the last segment"));
        if (const Result bad = oldMismatch(); !bad.ok())
            return bad;
        if (newCrc != h.newCrc)
            return failure(Failed, "the patched result does not match the patch's checksum");
        // Windows cannot replace a file that is still open, and in place the
        // old file is the target.
        oldMap.unmap();
        patchMap.unmap();
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
