// The file seam on POSIX systems: mmap, plain fds, posix_fallocate.

#include "FileIo.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hpatch {

namespace {

uint64_t pageSize()
{
    static const uint64_t size = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return size;
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
    m_writable = writable;
    madvise(m_base, m_baseLength, MADV_SEQUENTIAL);
    return 0;
}

void MappedRegion::unmap()
{
    // Dirty pages of a shared mapping reach the file through the page cache;
    // the fsync of TempFile::commit() makes them durable.
    if (m_base)
        munmap(m_base, m_baseLength);
    m_base = nullptr;
    m_baseLength = 0;
    m_data = nullptr;
    m_length = 0;
    m_writable = false;
}

void MappedRegion::release()
{
    if (m_base)
        madvise(m_base, m_baseLength, MADV_DONTNEED);
}

std::string errorText(int err)
{
    return std::strerror(err);
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

bool fileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool sameFile(const std::string &a, const std::string &b)
{
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

void Fd::reset()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

} // namespace hpatch
