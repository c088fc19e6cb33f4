#pragma once

// The two codings of one segment of the new file, each written to files of
// its own so that the writer can keep the smaller one.

#include "HPatch.h"

#include <cstdint>
#include <functional>
#include <string>

namespace hpatch {

class OldIndex;

// Receives the new bytes of the segment done so far.
using SegmentProgress = std::function<void(uint64_t done)>;

struct Span
{
    const unsigned char *data = nullptr;
    uint64_t size = 0;
};

// Writes s as one zstd frame with prefix as its reference into fd. Gives up
// (overLimit, still ok) as soon as the frame grows past limit bytes.
Result encodeFrameSegment(int fd, const std::string &path, Span prefix, Span s, int level, uint64_t limit,
    uint64_t &written, bool &overLimit, const SegmentProgress &progress);

struct DiffFiles
{
    int fds[3] = { -1, -1, -1 }; // control, diff, extra
    std::string path; // for messages
    uint64_t sizes[3] = { 0, 0, 0 };
    uint64_t total() const { return sizes[0] + sizes[1] + sizes[2]; }
};

// Writes the difference coding of s against the whole old file.
Result encodeDiffSegment(
    const OldIndex &index, Span old, Span s, int level, DiffFiles &files, const SegmentProgress &progress);

} // namespace hpatch
