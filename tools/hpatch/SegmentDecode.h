#pragma once

// Decoding one segment straight into the mapped output. Neither coding keeps
// a window of its own: a frame uses the output as its window, the difference
// coding's streams are read through bounded windows. A result with code
// Failed carries the reason the patch is damaged as its message.

#include "HPatch.h"
#include "SegmentEncode.h"

#include <cstdint>
#include <functional>

namespace hpatch {

// Called with the bytes of the output done so far (growing).
using Produced = std::function<void(uint64_t done)>;

Result decodeFrameSegment(Span frame, Span prefix, unsigned char *out, uint64_t outSize, const Produced &produced);

struct DiffStreams
{
    Span control, diff, extra;
};

Result decodeDiffSegment(
    const DiffStreams &streams, Span old, unsigned char *out, uint64_t outSize, const Produced &produced);

} // namespace hpatch
