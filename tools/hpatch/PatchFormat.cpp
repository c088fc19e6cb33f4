#include "PatchFormat.h"

#include <algorithm>
#include <cstring>

namespace hpatch {

namespace {

void putU32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t getU32(const unsigned char *p)
{
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

} // namespace

void putU64(unsigned char *p, uint64_t v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint64_t getU64(const unsigned char *p)
{
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | p[i];
    return v;
}

void encodeHeader(const Header &h, unsigned char out[HeaderSize])
{
    std::memcpy(out, h.version == 1 ? Magic : MagicV2, sizeof Magic);
    putU64(out + 8, h.oldSize);
    putU64(out + 16, h.newSize);
    putU32(out + 24, h.oldCrc);
    putU32(out + 28, h.newCrc);
    putU64(out + 32, h.segmentSize);
    putU64(out + 40, h.margin);
}

bool decodeHeader(const unsigned char in[HeaderSize], Header &h)
{
    if (std::memcmp(in, Magic, sizeof Magic) == 0)
        h.version = 1;
    else if (std::memcmp(in, MagicV2, sizeof MagicV2) == 0)
        h.version = 2;
    else
        return false;
    h.oldSize = getU64(in + 8);
    h.newSize = getU64(in + 16);
    h.oldCrc = getU32(in + 24);
    h.newCrc = getU32(in + 28);
    h.segmentSize = getU64(in + 32);
    h.margin = getU64(in + 40);
    // Sizes beyond 2^62 cannot be files; refusing them keeps every sum below
    // free of overflow.
    const uint64_t limit = uint64_t(1) << 62;
    return h.oldSize < limit && h.newSize < limit && parametersFit(h.segmentSize, h.margin);
}

bool parametersFit(uint64_t segmentSize, uint64_t margin)
{
    if (segmentSize == 0 || segmentSize > MaxWindow || margin > MaxWindow)
        return false;
    return 2 * segmentSize + 2 * margin <= MaxWindow;
}

uint64_t segmentCount(const Header &h)
{
    return (h.newSize + h.segmentSize - 1) / h.segmentSize;
}

Region newSegment(const Header &h, uint64_t index)
{
    Region r;
    r.begin = index * h.segmentSize;
    r.end = std::min(h.newSize, r.begin + h.segmentSize);
    return r;
}

Region oldRegion(const Header &h, uint64_t index)
{
    const uint64_t at = index * h.segmentSize;
    Region r;
    r.begin = std::min(h.oldSize, at > h.margin ? at - h.margin : 0);
    r.end = std::min(h.oldSize, at + h.segmentSize + h.margin);
    return r;
}

int windowLogFor(uint64_t prefixSize, uint64_t segmentSize)
{
    const uint64_t reach = prefixSize + segmentSize;
    int log = 10;
    while (log < MaxWindowLog && (uint64_t(1) << log) < reach)
        ++log;
    return log;
}

} // namespace hpatch
