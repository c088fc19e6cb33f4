#include "FileIo.h"
#include "HPatch.h"
#include "OldIndex.h"
#include "PatchFormat.h"
#include "SegmentEncode.h"

#include <algorithm>
#include <memory>
#include <new>

namespace hpatch {

namespace {

// Appends [0, size) of a finished temporary file to the patch.
Result appendStaged(int from, uint64_t size, int to, const std::string &patchPath)
{
    constexpr uint64_t window = uint64_t(64) << 20;
    MappedRegion map;
    for (uint64_t at = 0; at < size; at += window) {
        const uint64_t n = std::min(window, size - at);
        if (const int err = map.map(from, at, n, false))
            return errnoFailure(err, "cannot map a temporary file for", patchPath);
        if (const int err = writeAll(to, map.data(), static_cast<size_t>(n)))
            return errnoFailure(err, "cannot write", patchPath);
    }
    return {};
}

struct SegmentDrafts
{
    TempFile diff[3];
    TempFile frame;
};

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

        // Checksums read both files once, each coding reads the new one again.
        Percent percent(progress, h.oldSize + 3 * h.newSize);
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

        // The difference coding copies from anywhere in the old file.
        MappedRegion oldMap;
        if (const int err = oldMap.map(oldFd.get(), 0, h.oldSize, false))
            return errnoFailure(err, "cannot map", oldPath);
        const Span old{ oldMap.data(), h.oldSize };
        const bool tryDiff = options.coding != Coding::Frame;
        const bool tryFrame = options.coding != Coding::Diff;
        OldIndex index;
        if (tryDiff)
            index.build(old.data, old.size);

        const uint64_t base = h.oldSize + h.newSize;
        const uint64_t count = segmentCount(h);
        for (uint64_t i = 0; i < count; ++i) {
            const Region ns = newSegment(h, i);
            const Region os = oldRegion(h, i);
            MappedRegion newMap;
            if (const int err = newMap.map(newFd.get(), ns.begin, ns.size(), false))
                return errnoFailure(err, "cannot map", newPath);
            const Span s{ newMap.data(), ns.size() };

            SegmentDrafts drafts;
            DiffFiles diff;
            diff.path = patchPath;
            uint64_t best = ~uint64_t(0);
            if (tryDiff) {
                for (int k = 0; k < 3; ++k) {
                    if (const int err = drafts.diff[k].create(patchPath, std::string()))
                        return errnoFailure(err, "cannot create a temporary file for", patchPath);
                    diff.fds[k] = drafts.diff[k].fd();
                }
                r = encodeDiffSegment(
                    index, old, s, options.level, diff, [&](uint64_t done) { percent.set(base + ns.begin + done); });
                if (!r.ok())
                    return r;
                best = diff.total();
            }
            percent.set(base + ns.end);
            uint64_t frameSize = 0;
            // Where the difference coding left little (a few small edits), a
            // frame cannot win by much, and its match finder would index the
            // whole prefix first: by far the slower step for a large file.
            const bool frameWorthIt = !tryDiff || best > ns.size() / 64;
            bool frameLost = !tryFrame || !frameWorthIt;
            if (!frameLost) {
                if (const int err = drafts.frame.create(patchPath, std::string()))
                    return errnoFailure(err, "cannot create a temporary file for", patchPath);
                const Span prefix{ old.data + os.begin, os.size() };
                r = encodeFrameSegment(drafts.frame.fd(), patchPath, prefix, s, options.level, best, frameSize,
                    frameLost, [&](uint64_t done) { percent.set(base + h.newSize + ns.begin + done); });
                if (!r.ok())
                    return r;
            }

            unsigned char fields[1 + 3 * 8];
            fields[0] = frameLost ? DiffSegment : FrameSegment;
            size_t fieldBytes = 1 + 8;
            if (frameLost) {
                for (int k = 0; k < 3; ++k)
                    putU64(fields + 1 + 8 * k, diff.sizes[k]);
                fieldBytes = sizeof fields;
            } else {
                putU64(fields + 1, frameSize);
            }
            if (const int err = writeAll(out.fd(), fields, fieldBytes))
                return errnoFailure(err, "cannot write", patchPath);
            if (frameLost) {
                for (int k = 0; k < 3 && r.ok(); ++k)
                    r = appendStaged(drafts.diff[k].fd(), diff.sizes[k], out.fd(), patchPath);
            } else {
                r = appendStaged(drafts.frame.fd(), frameSize, out.fd(), patchPath);
            }
            if (!r.ok())
                return r;
            percent.set(base + h.newSize + ns.end);
        }
        if (const int err = out.commit())
            return errnoFailure(err, "cannot finish", patchPath);
        percent.set(base + 2 * h.newSize);
        return {};
    } catch (const std::bad_alloc &) {
        return failure(OutOfMemory, "out of memory");
    }
}

} // namespace hpatch
