#include "DiffCoding.h"

namespace hpatch {

namespace {

constexpr uint64_t NumberLimit = uint64_t(1) << 62;

} // namespace

size_t encodeNumber(uint64_t v, unsigned char *p)
{
    size_t n = 0;
    while (v >= 0x80) {
        p[n++] = static_cast<unsigned char>(v | 0x80);
        v >>= 7;
    }
    p[n++] = static_cast<unsigned char>(v);
    return n;
}

size_t decodeNumber(const unsigned char *p, size_t n, uint64_t &v)
{
    v = 0;
    for (size_t i = 0; i < n && i < 10; ++i) {
        v |= uint64_t(p[i] & 0x7f) << (7 * i);
        if (!(p[i] & 0x80))
            return v < NumberLimit ? i + 1 : 0;
        if (i + 1 == MaxNumberBytes) // more would reach past 2^63
            return 0;
    }
    return 0;
}

size_t encodeStep(const DiffStep &step, unsigned char out[MaxStepBytes])
{
    const uint64_t seek = step.seek < 0 ? (uint64_t(-(step.seek + 1)) << 1) | 1 : uint64_t(step.seek) << 1;
    size_t n = encodeNumber(step.diffLength, out);
    n += encodeNumber(step.extraLength, out + n);
    return n + encodeNumber(seek, out + n);
}

size_t decodeStep(const unsigned char *p, size_t n, DiffStep &step)
{
    uint64_t seek = 0;
    const size_t a = decodeNumber(p, n, step.diffLength);
    const size_t b = a ? decodeNumber(p + a, n - a, step.extraLength) : 0;
    const size_t c = b ? decodeNumber(p + a + b, n - a - b, seek) : 0;
    if (!c)
        return 0;
    step.seek = (seek & 1) ? -int64_t(seek >> 1) - 1 : int64_t(seek >> 1);
    return a + b + c;
}

} // namespace hpatch
