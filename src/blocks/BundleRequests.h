#pragma once

#include "blocks/BlockIndex.h"

#include <QVector>

namespace Morvaniel {

// How block frames are asked for: neighbours in a bundle share one range
// when at most mergeGap bytes lie between them, a request carries at most
// maxRanges ranges of at most maxBytes in all, and all its ranges lie in one
// bundle. wholeBundle: the server ignores Range, so every answer starts at
// the bundle's first byte; one request per bundle then takes all its blocks.
struct RequestShape
{
    qint64 mergeGap = 32 * 1024;
    int maxRanges = 16;
    qint64 maxBytes = qint64(32) << 20;
    bool wholeBundle = false;
};

struct ByteRange
{
    qint64 begin = 0; // first byte
    qint64 end = 0; // one past the last byte
    qint64 length() const { return end - begin; }
};

struct BundleRequest
{
    quint32 bundle = 0;
    QVector<ByteRange> ranges; // ascending, apart
    QVector<quint32> blocks; // the index's block numbers, by their place in the bundle
    qint64 bytes() const; // the body bytes a server that honours Range sends
};

// Groups the frames of blocks (the index's block numbers, any order, each
// once) into requests; each block lies whole within one range of one request.
QVector<BundleRequest> GroupBundleRequests(const BlockIndex &index, QVector<quint32> blocks, const RequestShape &shape);

} // namespace Morvaniel
