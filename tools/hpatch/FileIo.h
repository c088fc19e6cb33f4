#pragma once

// The file system seam of the patch tool: mapped file regions, error codes and
// the temporary-file-then-rename pattern. FileIoPosix.cpp and TempFilePosix.cpp
// implement it with POSIX calls, FileIoWin.cpp and TempFileWin.cpp with Win32;
// FileIoCommon.cpp holds what both share. Paths are UTF-8 on every platform.
//
// Files are CRT-style int descriptors on both: on Windows they wrap the native
// handle (_open_osfhandle), so the patch logic is the same everywhere.
// Error codes are errno values; on Windows a system error without an errno
// equivalent is carried as win32ErrorBase + its code, so its own text reaches
// the message.

#include "HPatch.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace hpatch {

// A read-only or writable mapping of [offset, offset + length) of a file. The
// offset need not be aligned to pages or to the allocation granularity.
// Move-only; unmaps on destruction.
class MappedRegion
{
public:
    MappedRegion() = default;
    MappedRegion(const MappedRegion &) = delete;
    MappedRegion &operator=(const MappedRegion &) = delete;
    ~MappedRegion() { unmap(); }

    // Returns 0 or the error code of the failure.
    int map(int fd, uint64_t offset, uint64_t length, bool writable);
    void unmap();
    // Lets the system drop the pages; the data stays in the file.
    void release();

    unsigned char *data() const { return m_data; }
    uint64_t size() const { return m_length; }

private:
    void *m_base = nullptr;
    size_t m_baseLength = 0;
    unsigned char *m_data = nullptr;
    uint64_t m_length = 0;
    bool m_writable = false;
};

// Error codes above this one are Windows system error codes (plus this base).
constexpr int win32ErrorBase = 0x20000000;

// Exit code for a failed system call: 22 for lack of memory, 24 for a full
// disk (or a file-size limit), 1 otherwise.
int exitCodeForErrno(int err);
// The system's text for an error code.
std::string errorText(int err);
Result failure(int code, const std::string &message);
Result errnoFailure(int err, const std::string &what, const std::string &path);

// CRC-32 of [0, size) of a file, read through a moving mapping. Reports
// progress with the bytes done so far. Returns 0 or an error code.
int crcOfFile(int fd, uint64_t size, uint32_t &crc, const std::function<void(uint64_t)> &done);
uint32_t crcUpdate(uint32_t crc, const unsigned char *data, uint64_t size);

// Writes all bytes at the file's current position. Returns 0 or an error code.
int writeAll(int fd, const void *data, size_t size);
// Writes at an offset; the file's current position is the same afterwards.
int pwriteAll(int fd, const void *data, size_t size, uint64_t offset);
// Reads exactly size bytes. Returns 0, an error code, or -1 at a premature end.
int readAll(int fd, void *data, size_t size);

// Makes the file size bytes long with its disk blocks reserved, so that writes
// through a mapping cannot fault later.
int reserveBlocks(int fd, uint64_t size);

// A temporary file "<target>.hpatch-XXXXXX" beside a target, removed unless
// committed.
class TempFile
{
public:
    TempFile() = default;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;
    ~TempFile();

    // Returns 0 or an error code. modeFrom: an existing file whose permissions
    // (on Windows: attributes) the result takes over (may be empty).
    int create(const std::string &target, const std::string &modeFrom);
    int fd() const { return m_fd; }
    // Flushes to disk, closes and renames over the target. Returns 0 or an
    // error code; after a failure the temporary file is removed here or, at
    // the latest, by the destructor.
    int commit();

private:
    int m_fd = -1;
    std::string m_path;
    std::string m_target;
    unsigned long m_attributes = 0; // Windows: attributes for the result
};

// Opens a regular file for reading and gives its size. A missing file is
// allowed only when mayBeMissing (fd -1, size 0).
Result openInput(const std::string &path, bool mayBeMissing, int &fd, uint64_t &size);

// Whether something exists at the path.
bool fileExists(const std::string &path);
// Whether both paths name the same existing file (links included).
bool sameFile(const std::string &a, const std::string &b);

// Turns bytes done into a percentage and reports it when it grows.
class Percent
{
public:
    Percent(const ProgressFn &fn, uint64_t total)
        : m_fn(fn)
        , m_total(total)
    {
    }
    void set(uint64_t done);

private:
    const ProgressFn &m_fn;
    uint64_t m_total;
    int m_last = -1;
};

// An fd closed on scope exit, or earlier by reset().
class Fd
{
public:
    explicit Fd(int fd = -1)
        : m_fd(fd)
    {
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    void reset();

private:
    int m_fd;
};

} // namespace hpatch
