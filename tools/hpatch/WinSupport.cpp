#include "WinSupport.h"
#include "FileIo.h"

#include <cerrno>
#include <cstring>
#include <windows.h>

namespace hpatch {

std::wstring wideText(const std::string &utf8)
{
    if (utf8.empty())
        return std::wstring();
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], n);
    return wide;
}

std::string utf8Text(const wchar_t *wide)
{
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1)
        return std::string();
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &utf8[0], n, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(n - 1)); // without the terminating zero
    return utf8;
}

std::wstring widePath(const std::string &utf8)
{
    std::wstring path = wideText(utf8);
    // Game folders nest deeply: past MAX_PATH only the "\\?\" form reaches the
    // file, and that form must be absolute and use backslashes. The margin
    // leaves room for the temporary file's suffix.
    if (path.size() < MAX_PATH - 20 || path.rfind(L"\\\\?\\", 0) == 0)
        return path;
    const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0)
        return path;
    std::wstring full(n, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), n, &full[0], nullptr);
    if (written == 0 || written >= n)
        return path;
    full.resize(written);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

int errorFromWin32(unsigned long error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return 0;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
        return ENOMEM;
    case ERROR_FILE_TOO_LARGE:
        return EFBIG;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return ENOENT;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_ACCESS_DENIED:
        return EACCES;
    default:
        return win32ErrorBase + static_cast<int>(error & 0xFFFF);
    }
}

int lastWin32Error()
{
    return errorFromWin32(GetLastError());
}

std::string errorText(int err)
{
    if (err < win32ErrorBase)
        return std::strerror(err);
    const DWORD code = static_cast<DWORD>(err - win32ErrorBase);
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
            | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = n > 0 ? utf8Text(text) : std::string();
    if (text)
        LocalFree(text);
    while (!message.empty() && (message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    return (message.empty() ? std::string("system error") : message) + " (Windows error " + std::to_string(code) + ")";
}

} // namespace hpatch
