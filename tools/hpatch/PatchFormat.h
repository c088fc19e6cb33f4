#pragma once

// On-disk layout shared by the writer and the reader (all integers little-endian):
//   magic "MVHPZ\0\0\1" or "MVHPZ\0\0\2", oldSize u64, newSize u64,
//   oldCrc u32, newCrc u32, segmentSize u64, margin u64, then per segment:
//   version 1: compressed size u64 and one zstd frame (a FrameSegment);
//   version 2: one byte for the coding, then
//     FrameSegment: compressed size u64 and one zstd frame, as in version 1;
//     DiffSegment: control, diff and extra sizes (u64 each), then the three
//       zstd streams (see DiffCoding.h).
// Segment i holds new[i*segmentSize, ...). A frame uses as prefix the old bytes
// [i*segmentSize - margin, (i+1)*segmentSize + margin), clipped to the old file;
// a difference segment may copy from anywhere in the old file.

#include <cstddef>
#include <cstdint>

namespace hpatch {

constexpr unsigned char Magic[8] = { 'M', 'V', 'H', 'P', 'Z', 0, 0, 1 };
constexpr unsigned char MagicV2[8] = { 'M', 'V', 'H', 'P', 'Z', 0, 0, 2 };
constexpr size_t HeaderSize = 8 + 8 + 8 + 4 + 4 + 8 + 8;
constexpr int MaxWindowLog = 31;
constexpr uint64_t MaxWindow = uint64_t(1) << MaxWindowLog;

enum SegmentCoding : unsigned char {
    FrameSegment = 0,
    DiffSegment = 1,
};

struct Header
{
    int version = 2;
    uint64_t oldSize = 0;
    uint64_t newSize = 0;
    uint32_t oldCrc = 0;
    uint32_t newCrc = 0;
    uint64_t segmentSize = 0;
    uint64_t margin = 0;
};

struct Region
{
    uint64_t begin = 0;
    uint64_t end = 0;
    uint64_t size() const { return end - begin; }
};

void encodeHeader(const Header &h, unsigned char out[HeaderSize]);
// False when the bytes are no header of this format or its values cannot be
// valid (a patch from a hostile or broken source must not drive allocations).
bool decodeHeader(const unsigned char in[HeaderSize], Header &h);

// True when every segment fits the window with its reference region.
bool parametersFit(uint64_t segmentSize, uint64_t margin);
uint64_t segmentCount(const Header &h);
Region newSegment(const Header &h, uint64_t index);
Region oldRegion(const Header &h, uint64_t index);
// Smallest window log that lets a frame reach back over its whole prefix.
int windowLogFor(uint64_t prefixSize, uint64_t segmentSize);

void putU64(unsigned char *p, uint64_t v);
uint64_t getU64(const unsigned char *p);

} // namespace hpatch
