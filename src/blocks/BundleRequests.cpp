#include "blocks/BundleRequests.h"

#include <algorithm>

namespace Morvaniel {

qint64 BundleRequest::bytes() const
{
    qint64 total = 0;
    for (const ByteRange &r : ranges)
        total += r.length();
    return total;
}

QVector<BundleRequest> GroupBundleRequests(const BlockIndex &index, QVector<quint32> blocks, const RequestShape &shape)
{
    std::sort(blocks.begin(), blocks.end(), [&index](quint32 a, quint32 b) {
        const IndexBlock &x = index.blocks[int(a)];
        const IndexBlock &y = index.blocks[int(b)];
        return std::make_pair(x.bundle, x.bundleOffset) < std::make_pair(y.bundle, y.bundleOffset);
    });
    QVector<BundleRequest> out;
    for (const quint32 number : qAsConst(blocks)) {
        const IndexBlock &b = index.blocks[int(number)];
        const qint64 begin = b.bundleOffset;
        const qint64 end = begin + b.packedSize;
        BundleRequest *req = out.isEmpty() || out.last().bundle != b.bundle ? nullptr : &out.last();
        if (req && !shape.wholeBundle) {
            const ByteRange &last = req->ranges.last();
            const bool joins = begin - last.end <= shape.mergeGap;
            const qint64 grown = req->bytes() + (joins ? end - last.end : end - begin);
            if (grown > shape.maxBytes || (!joins && req->ranges.size() >= shape.maxRanges))
                req = nullptr;
        }
        if (!req) {
            out.append(BundleRequest());
            req = &out.last();
            req->bundle = b.bundle;
            req->ranges.append(ByteRange{ begin, end });
        } else if (shape.wholeBundle || begin - req->ranges.last().end <= shape.mergeGap) {
            req->ranges.last().end = end;
        } else {
            req->ranges.append(ByteRange{ begin, end });
        }
        req->blocks.append(number);
    }
    return out;
}

} // namespace Morvaniel
