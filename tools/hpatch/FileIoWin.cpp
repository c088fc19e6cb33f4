// The file seam on Windows: CRT fds over native handles, file mappings and
// positioned writes. Files are opened with every share mode, as POSIX opens
// lock nothing: the launcher, a virus scanner or the in-place rename of the
// result must not be blocked by a reader.

#include "FileIo.h"
#include "WinSupport.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <io.h>
#include <vector>
#include <windows.h>

namespace hpatch {

namespace {

HANDLE handleOf(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

uint64_t allocationGranularity()
{
    static const uint64_t size = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<uint64_t>(info.dwAllocationGranularity);
    }();
    return size;
}

// ReadFile and WriteFile take 32-bit counts.
constexpr size_t maxTransfer = size_t(1) << 30;

} // namespace

// Mapping rather than reading: the patch logic hands zstd whole regions of up
// to 2 GiB as prefix and as output buffer, and views of the file cache keep
// that within bounded memory just as mmap does.
int MappedRegion::map(int fd, uint64_t offset, uint64_t length, bool writable)
{
    unmap();
    if (length == 0)
        return 0;
    const uint64_t aligned = offset - offset % allocationGranularity();
    const uint64_t lead = offset - aligned;
    const size_t total = static_cast<size_t>(lead + length);
    // A mapping of the whole file; the view picks the region.
    HANDLE mapping
        = CreateFileMappingW(handleOf(fd), nullptr, writable ? PAGE_READWRITE : PAGE_READONLY, 0, 0, nullptr);
    if (!mapping)
        return lastWin32Error();
    void *base = MapViewOfFile(mapping, writable ? FILE_MAP_WRITE : FILE_MAP_READ, static_cast<DWORD>(aligned >> 32),
        static_cast<DWORD>(aligned & 0xFFFFFFFFu), total);
    const int err = base ? 0 : lastWin32Error();
    // The view keeps the mapping object alive.
    CloseHandle(mapping);
    if (!base)
        return err;
    m_base = base;
    m_baseLength = total;
    m_data = static_cast<unsigned char *>(base) + lead;
    m_length = length;
    m_writable = writable;
    return 0;
}

void MappedRegion::unmap()
{
    if (m_base) {
        // FlushFileBuffers covers data written through views only once the
        // views have handed their dirty pages over.
        if (m_writable)
            FlushViewOfFile(m_base, 0);
        UnmapViewOfFile(m_base);
    }
    m_base = nullptr;
    m_baseLength = 0;
    m_data = nullptr;
    m_length = 0;
    m_writable = false;
}

void MappedRegion::release()
{
    // Unlocking pages that are not locked takes them out of the working set.
    if (m_base)
        VirtualUnlock(m_base, m_baseLength);
}

// WriteFile and ReadFile rather than the CRT's _write and _read: their
// errors arrive unmapped, so a full disk is ERROR_DISK_FULL whatever the CRT.
int writeAll(int fd, const void *data, size_t size)
{
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(handleOf(fd), p, static_cast<DWORD>(std::min(size, maxTransfer)), &written, nullptr))
            return lastWin32Error();
        if (written == 0)
            return ENOSPC;
        p += written;
        size -= written;
    }
    return 0;
}

// No pwrite on Windows: a seek there and back gives the same result, as no
// other thread shares these files.
int pwriteAll(int fd, const void *data, size_t size, uint64_t offset)
{
    LARGE_INTEGER zero, position, target;
    zero.QuadPart = 0;
    target.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(handleOf(fd), zero, &position, FILE_CURRENT)
        || !SetFilePointerEx(handleOf(fd), target, nullptr, FILE_BEGIN))
        return lastWin32Error();
    const int err = writeAll(fd, data, size);
    if (!SetFilePointerEx(handleOf(fd), position, nullptr, FILE_BEGIN) && err == 0)
        return lastWin32Error();
    return err;
}

int readAll(int fd, void *data, size_t size)
{
    char *p = static_cast<char *>(data);
    while (size > 0) {
        DWORD got = 0;
        if (!ReadFile(handleOf(fd), p, static_cast<DWORD>(std::min(size, maxTransfer)), &got, nullptr))
            return lastWin32Error();
        if (got == 0)
            return -1;
        p += got;
        size -= got;
    }
    return 0;
}

int reserveBlocks(int fd, uint64_t size)
{
    if (size == 0)
        return 0;
    // A write through a view that finds no free cluster is an access
    // violation, not an error code: the clusters are allocated up front, where
    // a full disk fails with ERROR_DISK_FULL. Then the end of the file moves
    // over them, so that the mapping covers the whole result.
    FILE_ALLOCATION_INFO allocation;
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(handleOf(fd), FileAllocationInfo, &allocation, sizeof allocation)) {
        const DWORD error = GetLastError();
        if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED
            && error != ERROR_INVALID_PARAMETER)
            return errorFromWin32(error);
        // No allocation on this file system (or under Wine): writing zeros
        // reserves the clusters too.
        static const std::vector<char> zeros(1 << 20, 0);
        for (uint64_t at = 0; at < size; at += zeros.size()) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(zeros.size(), size - at));
            if (const int err = pwriteAll(fd, zeros.data(), n, at))
                return err;
        }
    }
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFileInformationByHandle(handleOf(fd), FileEndOfFileInfo, &end, sizeof end))
        return lastWin32Error();
    return 0;
}

Result openInput(const std::string &path, bool mayBeMissing, int &fd, uint64_t &size)
{
    size = 0;
    fd = -1;
    const std::wstring wide = widePath(path);
    HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const int err = lastWin32Error();
        if (mayBeMissing && err == ENOENT)
            return {};
        // Opening a folder as a file fails with "access denied".
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return failure(Failed, path + " is not a regular file (directory patches are not supported)");
        return errnoFailure(err, "cannot open", path);
    }
    fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY);
    if (fd < 0) {
        const int err = errno;
        CloseHandle(h);
        return errnoFailure(err, "cannot open", path);
    }
    LARGE_INTEGER length;
    if (!GetFileSizeEx(h, &length))
        return errnoFailure(lastWin32Error(), "cannot stat", path);
    if (GetFileType(h) != FILE_TYPE_DISK)
        return failure(Failed, path + " is not a regular file (directory patches are not supported)");
    size = static_cast<uint64_t>(length.QuadPart);
    return {};
}

bool fileExists(const std::string &path)
{
    return GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool sameFile(const std::string &a, const std::string &b)
{
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string *paths[2] = { &a, &b };
    for (int i = 0; i < 2; ++i) {
        // No access rights needed to read the identity; backup semantics lets
        // folders open too.
        HANDLE h = CreateFileW(widePath(*paths[i]).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        const BOOL ok = GetFileInformationByHandle(h, &info[i]);
        CloseHandle(h);
        if (!ok)
            return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber
        && info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

void Fd::reset()
{
    if (m_fd >= 0)
        _close(m_fd);
    m_fd = -1;
}

} // namespace hpatch
