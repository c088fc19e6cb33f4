// Windows side of the platform seam: plain Win32 and the standard library, so
// that it builds with a cross compiler and runs under Wine without Qt.
#ifdef _WIN32

#include "util/Platform.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <iterator>
#include <memory>
#include <mutex>

namespace Platform {

namespace {

// Long-path aware: module and image names may exceed MAX_PATH.
constexpr DWORD kPathCapacity = 32768;

std::wstring toWide(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], size);
    return wide;
}

std::string toUtf8(const wchar_t *text, std::size_t length)
{
    if (length == 0)
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &narrow[0], size, nullptr, nullptr);
    return narrow;
}

struct HandleCloser
{
    void operator()(HANDLE h) const
    {
        if (h && h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
};
using Handle = std::unique_ptr<void, HandleCloser>;

std::string moduleFileName(DWORD pid)
{
    // Only the rights the call needs: all-access is refused for far more processes.
    Handle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process)
        return std::string();
    std::wstring buffer(kPathCapacity, L'\0');
    const DWORD length = K32GetModuleFileNameExW(process.get(), nullptr, &buffer[0], kPathCapacity);
    return toUtf8(buffer.data(), length);
}

// Libraries that may lack newer entry points are loaded once and kept for the
// life of the process; the lookups themselves happen once, under call_once.
HMODULE user32Module()
{
    static HMODULE module = LoadLibraryW(L"User32.dll");
    return module;
}

HMODULE shcoreModule()
{
    static HMODULE module = LoadLibraryW(L"Shcore.dll");
    return module;
}

template <typename F> F lookup(HMODULE module, const char *name)
{
    if (!module)
        return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

using SetContextFn = BOOL(WINAPI *)(HANDLE);
using SetAwarenessFn = HRESULT(WINAPI *)(int);
using SetAwareFn = BOOL(WINAPI *)();
using GetDpiForMonitorFn = HRESULT(WINAPI *)(HMONITOR, int, UINT *, UINT *);

struct DpiEntryPoints
{
    SetContextFn setContext = nullptr;
    SetAwarenessFn setAwareness = nullptr;
    SetAwareFn setAware = nullptr;
    GetDpiForMonitorFn getDpiForMonitor = nullptr;
};

const DpiEntryPoints &dpiEntryPoints()
{
    static DpiEntryPoints points;
    static std::once_flag once;
    std::call_once(once, [] {
        points.setContext = lookup<SetContextFn>(user32Module(), "SetProcessDpiAwarenessContext");
        points.setAware = lookup<SetAwareFn>(user32Module(), "SetProcessDPIAware");
        points.setAwareness = lookup<SetAwarenessFn>(shcoreModule(), "SetProcessDpiAwareness");
        points.getDpiForMonitor = lookup<GetDpiForMonitorFn>(shcoreModule(), "GetDpiForMonitor");
    });
    return points;
}

// Adapters from the shared switch's signatures to the system's.
void callSetContext(std::intptr_t context)
{
    dpiEntryPoints().setContext(reinterpret_cast<HANDLE>(context));
}

void callSetAwareness(ProcessDpiAwareness value)
{
    dpiEntryPoints().setAwareness(static_cast<int>(value));
}

void callSetAware()
{
    dpiEntryPoints().setAware();
}

} // namespace

bool ListProcesses(std::vector<ProcessEntry> &entries)
{
    entries.clear();
    Handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (snapshot.get() == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    if (!Process32FirstW(snapshot.get(), &entry))
        return false;
    do {
        ProcessEntry item;
        item.pid = entry.th32ProcessID;
        item.name = toUtf8(entry.szExeFile, wcsnlen(entry.szExeFile, MAX_PATH));
        item.path = moduleFileName(entry.th32ProcessID);
        entries.push_back(std::move(item));
        entry.dwSize = sizeof(entry);
    } while (Process32NextW(snapshot.get(), &entry));
    return true;
}

bool GetProcessImagePath(std::uint32_t pid, std::string &path)
{
    Handle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process)
        return false;
    std::wstring buffer(kPathCapacity, L'\0');
    const DWORD length = K32GetProcessImageFileNameW(process.get(), &buffer[0], kPathCapacity);
    if (length == 0)
        return false;
    path = DevicePathToDrivePath(toUtf8(buffer.data(), length), ListDosDrives());
    return true;
}

std::string ResolvedPath(const std::string &path)
{
    // A handle names the object itself, whatever spelling reached it; a
    // folder opens only with backup semantics.
    HANDLE handle = CreateFileW(toWide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::string();
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = GetFinalPathNameByHandleW(handle, &buffer[0], DWORD(buffer.size()), FILE_NAME_NORMALIZED);
    if (length >= buffer.size()) {
        buffer.assign(length + 1, L'\0');
        length = GetFinalPathNameByHandleW(handle, &buffer[0], DWORD(buffer.size()), FILE_NAME_NORMALIZED);
    }
    CloseHandle(handle);
    if (length == 0 || length >= buffer.size())
        return std::string();
    buffer.resize(length);
    // "\\?\C:\x" is "C:\x"; "\\?\UNC\server\share\x" is "\\server\share\x".
    if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        buffer = L"\\\\" + buffer.substr(8);
    else if (buffer.compare(0, 4, L"\\\\?\\") == 0)
        buffer = buffer.substr(4);
    return toUtf8(buffer.c_str(), buffer.size());
}

bool TerminateProcessById(std::uint32_t pid)
{
    Handle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    return process && TerminateProcess(process.get(), 0);
}

bool EqualsIgnoreCase(const std::string &a, const std::string &b)
{
    // The ordinal, case-insensitive comparison is the one the file system uses.
    const std::wstring wa = toWide(a);
    const std::wstring wb = toWide(b);
    return CompareStringOrdinal(wa.c_str(), static_cast<int>(wa.size()), wb.c_str(), static_cast<int>(wb.size()), TRUE)
        == CSTR_EQUAL;
}

std::string ToNativeSeparators(std::string path)
{
    for (char &c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string FileNameKey(std::string path)
{
    // Without LCMAP_LINGUISTIC_CASING the mapping follows the file system's
    // rules, the same that EqualsIgnoreCase compares by.
    std::wstring wide = toWide(path);
    if (wide.empty())
        return path;
    const int length = static_cast<int>(wide.size());
    if (LCMapStringEx(
            LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), length, &wide[0], length, nullptr, nullptr, 0)
        != length)
        return path;
    return toUtf8(wide.data(), wide.size());
}

std::string ExecutableFileName(const std::string &base)
{
    return base + ".exe";
}

std::vector<DosDrive> ListDosDrives()
{
    std::vector<DosDrive> drives;
    wchar_t names[512] = {};
    const DWORD length = GetLogicalDriveStringsW(static_cast<DWORD>(std::size(names) - 1), names);
    if (length == 0 || length >= std::size(names))
        return drives;
    // The list is "C:\", "D:\", ... each ended by a zero, the whole by another.
    for (const wchar_t *root = names; *root; root += wcslen(root) + 1) {
        const wchar_t drive[3] = { root[0], L':', L'\0' };
        wchar_t device[MAX_PATH + 1] = {};
        if (QueryDosDeviceW(drive, device, MAX_PATH) == 0)
            continue;
        drives.emplace_back(toUtf8(drive, 2), toUtf8(device, wcslen(device)));
    }
    return drives;
}

void SetProcessDpiAwarenessContext(std::intptr_t context)
{
    const DpiEntryPoints &points = dpiEntryPoints();
    DpiAwarenessFunctions functions;
    functions.setContext = points.setContext ? &callSetContext : nullptr;
    functions.setAwareness = points.setAwareness ? &callSetAwareness : nullptr;
    functions.setAware = points.setAware ? &callSetAware : nullptr;
    ApplyDpiAwareness(functions, context);
}

int GetDpiForWindow(std::uintptr_t window)
{
    const HWND hwnd = reinterpret_cast<HWND>(window);
    const DpiEntryPoints &points = dpiEntryPoints();
    if (points.getDpiForMonitor) {
        UINT dpiX = 0;
        UINT dpiY = 0;
        const int effectiveDpi = 0; // MDT_EFFECTIVE_DPI
        const HMONITOR monitor = MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST);
        if (SUCCEEDED(points.getDpiForMonitor(monitor, effectiveDpi, &dpiX, &dpiY)))
            return static_cast<int>(dpiX);
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    return dpi;
}

} // namespace Platform

#endif // _WIN32
