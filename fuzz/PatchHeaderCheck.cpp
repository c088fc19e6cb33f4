#include "PatchHeaderCheck.h"

#include "PatchFormat.h"
#include "SegmentDecode.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::string checkSegment(const hpatch::Header &h, uint64_t index)
{
    const hpatch::Region ns = hpatch::newSegment(h, index);
    const hpatch::Region os = hpatch::oldRegion(h, index);
    if (ns.begin > ns.end || ns.end > h.newSize || ns.size() > h.segmentSize)
        return "new segment " + std::to_string(index) + " leaves the new file";
    if (os.begin > os.end || os.end > h.oldSize)
        return "old region " + std::to_string(index) + " leaves the old file";
    if (os.size() + ns.size() > hpatch::MaxWindow)
        return "segment " + std::to_string(index) + " does not fit the window";
    const int log = hpatch::windowLogFor(os.size(), ns.size());
    if (log < 10 || log > hpatch::MaxWindowLog)
        return "window log " + std::to_string(log) + " out of range";
    return {};
}

// Decodes the segments after an accepted header against an old file of the
// announced size, as hpatchz would; small sizes only, so that each input
// runs fast. Sanitizers catch any access outside the buffers.
std::string checkPatchBody(const hpatch::Header &h, const uint8_t *data, size_t size)
{
    if (h.oldSize > (64 << 10) || h.newSize > (256 << 10))
        return {};
    std::vector<unsigned char> old(static_cast<size_t>(h.oldSize));
    for (size_t i = 0; i < old.size(); ++i)
        old[i] = static_cast<unsigned char>(i * 131 + (i >> 8));
    std::vector<unsigned char> out(static_cast<size_t>(h.newSize));
    hpatch::PatchCursor cursor(data, size);
    const hpatch::Span oldSpan{ old.data(), old.size() };
    for (uint64_t i = 0; i < hpatch::segmentCount(h); ++i) {
        const hpatch::Region ns = hpatch::newSegment(h, i);
        uint64_t last = 0;
        bool backwards = false;
        hpatch::SegmentOutput output;
        output.map = [&](unsigned char *&data) -> hpatch::Result {
            data = out.data() + ns.begin;
            return {};
        };
        output.produced = [&](uint64_t done) {
            backwards = backwards || done < last || done > ns.size();
            last = done;
        };
        output.emit = [&](const unsigned char *piece, size_t n) -> hpatch::Result {
            backwards = backwards || n == 0 || n > ns.size() - last;
            if (!backwards)
                std::memcpy(out.data() + ns.begin + last, piece, n);
            last += backwards ? 0 : n;
            return {};
        };
        const hpatch::Result r = hpatch::decodeSegment(h, cursor, oldSpan, i, output);
        if (backwards)
            return "a segment wrote outside its size";
        if (r.code != hpatch::Ok && r.code != hpatch::Failed && r.code != hpatch::OutOfMemory)
            return "a segment failed with exit code " + std::to_string(r.code);
        if (!r.ok())
            return {};
    }
    return {};
}

} // namespace

std::string checkPatchHeader(const uint8_t *data, size_t size)
{
    // A patch shorter than its header is refused before the reader sees it.
    if (size < hpatch::HeaderSize)
        return {};
    unsigned char bytes[hpatch::HeaderSize];
    std::memcpy(bytes, data, sizeof bytes);
    hpatch::Header h;
    if (!hpatch::decodeHeader(bytes, h))
        return {};

    unsigned char again[hpatch::HeaderSize];
    hpatch::encodeHeader(h, again);
    if (std::memcmp(bytes, again, sizeof bytes) != 0)
        return "an accepted header does not encode back to its bytes";

    const uint64_t count = hpatch::segmentCount(h);
    if (h.newSize > 0 && (count == 0 || (count - 1) * h.segmentSize >= h.newSize))
        return "segment count does not cover the new file exactly";
    // The first and the last few segments: a header may announce billions.
    for (uint64_t i = 0; i < std::min<uint64_t>(count, 4); ++i) {
        const std::string error = checkSegment(h, i);
        if (!error.empty())
            return error;
    }
    for (uint64_t i = count > 4 ? count - 4 : count; i < count; ++i) {
        const std::string error = checkSegment(h, i);
        if (!error.empty())
            return error;
    }
    return checkPatchBody(h, data, size);
}
