// The parts of the file seam that are the same on every platform: exit codes
// and failure texts, CRC-32 and progress percentages.

#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <zlib.h>

namespace hpatch {

int exitCodeForErrno(int err)
{
    switch (err) {
    case ENOMEM:
        return OutOfMemory;
    case ENOSPC:
    case EFBIG:
#ifdef EDQUOT // no quotas in the Windows C runtime's errno set
    case EDQUOT:
#endif
        return DiskFull;
    default:
        return Failed;
    }
}

Result failure(int code, const std::string &message)
{
    Result r;
    r.code = code;
    r.message = message;
    return r;
}

Result errnoFailure(int err, const std::string &what, const std::string &path)
{
    return failure(exitCodeForErrno(err), what + " " + path + ": " + errorText(err));
}

uint32_t crcUpdate(uint32_t crc, const unsigned char *data, uint64_t size)
{
    // zlib takes 32-bit lengths.
    constexpr uint64_t step = uint64_t(1) << 30;
    while (size > 0) {
        const uint64_t n = std::min(size, step);
        crc = static_cast<uint32_t>(crc32(crc, data, static_cast<uInt>(n)));
        data += n;
        size -= n;
    }
    return crc;
}

int crcOfFile(int fd, uint64_t size, uint32_t &crc, const std::function<void(uint64_t)> &done)
{
    constexpr uint64_t window = uint64_t(64) << 20;
    crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
    MappedRegion map;
    for (uint64_t at = 0; at < size; at += window) {
        const uint64_t n = std::min(window, size - at);
        if (const int err = map.map(fd, at, n, false))
            return err;
        crc = crcUpdate(crc, map.data(), n);
        map.unmap();
        if (done)
            done(at + n);
    }
    return 0;
}

void Percent::set(uint64_t done)
{
    if (!m_fn)
        return;
    const int p = m_total == 0 ? 100 : static_cast<int>(std::min<uint64_t>(100, done * 100 / m_total));
    if (p > m_last) {
        m_last = p;
        m_fn(p);
    }
}

} // namespace hpatch
