// The temporary result file on Windows: created exclusively beside the
// target, flushed with FlushFileBuffers and moved over the target with
// MoveFileExW.

#include "FileIo.h"
#include "WinSupport.h"

#include <cerrno>
#include <cstdint>
#include <io.h>
#include <windows.h>

namespace hpatch {

namespace {

// Attributes of the original that the result keeps, as the POSIX side keeps
// the mode bits.
constexpr DWORD keptAttributes
    = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Six name characters as mkstemp picks them; CREATE_NEW makes the name
// exclusive, so they need to be unlikely, not unpredictable.
std::string randomSuffix(uint64_t &state)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        state += 0x9E3779B97F4A7C15ull; // splitmix64
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        suffix += letters[z % (sizeof letters - 1)];
    }
    return suffix;
}

void removeFile(const std::string &path)
{
    DeleteFileW(widePath(path).c_str());
}

// A virus scanner or indexer opens new files for a moment; a replace that
// meets it fails with a sharing error and succeeds a little later.
// Returns 0 or the Win32 error.
DWORD moveOver(const std::wstring &from, const std::wstring &to)
{
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return 0;
        const DWORD error = GetLastError();
        if (attempt == 9 || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION))
            return error;
        Sleep(50 * (attempt + 1));
    }
}

} // namespace

TempFile::~TempFile()
{
    if (m_fd >= 0) {
        _close(m_fd);
        removeFile(m_path);
    }
}

int TempFile::create(const std::string &target, const std::string &modeFrom)
{
    m_target = target;
    m_attributes = 0;
    if (!modeFrom.empty()) {
        const DWORD attributes = GetFileAttributesW(widePath(modeFrom).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES)
            m_attributes = attributes & keptAttributes;
    }
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint64_t state = static_cast<uint64_t>(counter.QuadPart) ^ (uint64_t(GetCurrentProcessId()) << 32);
    for (int attempt = 0;; ++attempt) {
        const std::string path = target + ".hpatch-" + randomSuffix(state);
        HANDLE h = CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
            FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if ((error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) && attempt < 100)
                continue;
            return errorFromWin32(error);
        }
        m_fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), 0);
        if (m_fd < 0) {
            const int err = errno;
            CloseHandle(h);
            removeFile(path);
            return err;
        }
        m_path = path;
        return 0;
    }
}

int TempFile::commit()
{
    if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(m_fd)))) {
        const DWORD error = GetLastError();
        // A flush that the file system does not offer is no failure of the data.
        if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED)
            return errorFromWin32(error);
    }
    const int fd = m_fd;
    m_fd = -1;
    if (_close(fd) != 0) {
        const int err = errno;
        removeFile(m_path);
        return err;
    }
    const std::wstring from = widePath(m_path);
    const std::wstring to = widePath(m_target);
    // Unlike rename(), MoveFileExW refuses to replace a read-only file.
    const DWORD old = GetFileAttributesW(to.c_str());
    if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesW(to.c_str(), old & ~FILE_ATTRIBUTE_READONLY);
    if (const DWORD error = moveOver(from, to)) {
        if (old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY))
            SetFileAttributesW(to.c_str(), old);
        removeFile(m_path);
        return errorFromWin32(error);
    }
    if (m_attributes != 0) {
        const DWORD now = GetFileAttributesW(to.c_str());
        if (now != INVALID_FILE_ATTRIBUTES)
            SetFileAttributesW(to.c_str(), (now & ~keptAttributes) | m_attributes);
    }
    return 0;
}

} // namespace hpatch
