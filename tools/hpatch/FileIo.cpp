#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libgen.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace hpatch {

namespace {

uint64_t pageSize()
{
    static const uint64_t size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
}

std::string folderOf(const std::string &path)
{
    std::vector<char> copy(path.begin(), path.end());
    copy.push_back('\0');
    return dirname(copy.data());
}

} // namespace

int MappedRegion::map(int fd, uint64_t offset, uint64_t length, bool writable)
{
    unmap();
    if (length == 0)
        return 0;
    const uint64_t aligned = offset - offset % pageSize();
    const uint64_t lead = offset - aligned;
    const size_t total = static_cast<size_t>(lead + length);
    void *base = mmap(nullptr, total, writable ? PROT_READ | PROT_WRITE : PROT_READ,
        writable ? MAP_SHARED : MAP_PRIVATE, fd, static_cast<off_t>(aligned));
    if (base == MAP_FAILED)
        return errno;
    m_base = base;
    m_baseLength = total;
    m_data = static_cast<unsigned char *>(base) + lead;
    m_length = length;
    madvise(m_base, m_baseLength, MADV_SEQUENTIAL);
    return 0;
}

void MappedRegion::unmap()
{
    if (m_base)
        munmap(m_base, m_baseLength);
    m_base = nullptr;
    m_baseLength = 0;
    m_data = nullptr;
    m_length = 0;
}

void MappedRegion::release()
{
    if (m_base)
        madvise(m_base, m_baseLength, MADV_DONTNEED);
}

int exitCodeForErrno(int err)
{
    switch (err) {
    case ENOMEM:
        return OutOfMemory;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
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
    return failure(exitCodeForErrno(err), what + " " + path + ": " + std::strerror(err));
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

// Repeats a partial write until every byte is out. step(p, n, done) writes
// from p at most n bytes, done bytes into the transfer.
template <typename Step> static int writeLoop(const void *data, size_t size, Step step)
{
    const char *p = static_cast<const char *>(data);
    uint64_t done = 0;
    while (size > 0) {
        const ssize_t n = step(p, size, done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        p += n;
        size -= static_cast<size_t>(n);
        done += static_cast<uint64_t>(n);
    }
    return 0;
}

int writeAll(int fd, const void *data, size_t size)
{
    return writeLoop(data, size, [fd](const char *p, size_t n, uint64_t) { return write(fd, p, n); });
}

int pwriteAll(int fd, const void *data, size_t size, uint64_t offset)
{
    return writeLoop(data, size, [fd, offset](const char *p, size_t n, uint64_t done) {
        return pwrite(fd, p, n, static_cast<off_t>(offset + done));
    });
}

int readAll(int fd, void *data, size_t size)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = read(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return -1;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return 0;
}

int reserveBlocks(int fd, uint64_t size)
{
    if (size == 0)
        return 0;
    const int err = posix_fallocate(fd, 0, static_cast<off_t>(size));
    if (err != EOPNOTSUPP && err != EINVAL)
        return err;
    // No fallocate on this file system: writing zeros reserves the blocks too.
    static const std::vector<char> zeros(1 << 20, 0);
    for (uint64_t at = 0; at < size; at += zeros.size()) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), size - at));
        if (const int e = pwriteAll(fd, zeros.data(), n, at))
            return e;
    }
    return 0;
}

TempFile::~TempFile()
{
    if (m_fd >= 0) {
        close(m_fd);
        unlink(m_path.c_str());
    }
}

int TempFile::create(const std::string &target, const std::string &modeFrom)
{
    m_target = target;
    std::vector<char> name(target.begin(), target.end());
    const std::string suffix = ".hpatch-XXXXXX";
    name.insert(name.end(), suffix.begin(), suffix.end());
    name.push_back('\0');
    m_fd = mkstemp(name.data());
    if (m_fd < 0)
        return errno;
    m_path = name.data();
    struct stat st;
    const mode_t mode = (!modeFrom.empty() && stat(modeFrom.c_str(), &st) == 0) ? (st.st_mode & 07777) : 0644;
    fchmod(m_fd, mode);
    return 0;
}

int TempFile::commit()
{
    if (fsync(m_fd) != 0) {
        const int err = errno;
        // A sync that the file system does not offer is no failure of the data.
        if (err != EINVAL && err != EROFS)
            return err;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (close(fd) != 0) {
        const int err = errno;
        unlink(m_path.c_str());
        return err;
    }
    if (rename(m_path.c_str(), m_target.c_str()) != 0) {
        const int err = errno;
        unlink(m_path.c_str());
        return err;
    }
    // Make the rename itself durable.
    const int dir = open(folderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return 0;
}

Result openInput(const std::string &path, bool mayBeMissing, int &fd, uint64_t &size)
{
    size = 0;
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (mayBeMissing && errno == ENOENT)
            return {};
        return errnoFailure(errno, "cannot open", path);
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        return errnoFailure(errno, "cannot stat", path);
    if (!S_ISREG(st.st_mode))
        return failure(Failed, path + " is not a regular file (directory patches are not supported)");
    size = static_cast<uint64_t>(st.st_size);
    return {};
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

Fd::~Fd()
{
    if (m_fd >= 0)
        close(m_fd);
}

} // namespace hpatch
