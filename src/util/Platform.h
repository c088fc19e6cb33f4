#pragma once

// The one place where the process and DPI helpers meet the operating system.
// The interface and the Windows implementation use the standard library only.
// Strings are UTF-8; paths use the platform's own separators.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Platform {

struct ProcessEntry
{
    std::uint32_t pid = 0;
    // The executable's file name as the process table reports it.
    std::string name;
    // The main module's full path; empty when the process cannot be opened.
    std::string path;
};

// A drive name ("C:") and the device it stands for ("\Device\HarddiskVolume2").
using DosDrive = std::pair<std::string, std::string>;

// --- Implemented once per platform (PlatformWin.cpp, PlatformPosix.cpp) ---

// Every process of the system in table order. false when no snapshot could be
// taken; entries is then empty.
bool ListProcesses(std::vector<ProcessEntry> &entries);

// The process's executable path as a usable file path (on Windows converted
// from the kernel's device path; empty when it lies on no drive letter).
// false when the process cannot be queried.
bool GetProcessImagePath(std::uint32_t pid, std::string &path);

// Ends the process at once (TerminateProcess with exit code 0 / SIGKILL).
bool TerminateProcessById(std::uint32_t pid);

// Equality as the platform's path names compare when letter case is ignored.
bool EqualsIgnoreCase(const std::string &a, const std::string &b);

std::string ToNativeSeparators(std::string path);

// path in a form where two names of one file are the same text: letters
// upper-cased by the file system's own table on Windows, unchanged where file
// names keep their case.
std::string FileNameKey(std::string path);

// The file name under which the system starts the program base: "7z" is
// "7z.exe" on Windows and stays "7z" elsewhere.
std::string ExecutableFileName(const std::string &base);

// The path the file system really acts on for an existing file or folder:
// links followed and, on Windows, short (8.3) names, trailing dots and
// blanks, "\\?\" prefixes and administrative shares ("\\localhost\c$")
// resolved to the drive path. Empty when path does not exist or cannot be
// resolved.
std::string ResolvedPath(const std::string &path);

// The system's drive table; empty where the platform has no drive letters.
std::vector<DosDrive> ListDosDrives();

// Context values are the Windows DPI_AWARENESS_CONTEXT handles (-1 ... -5).
// Outside Windows the toolkit handles scaling itself and this does nothing.
void SetProcessDpiAwarenessContext(std::intptr_t context);

// Horizontal DPI of the monitor showing the native window (an HWND on Windows,
// a Qt window id elsewhere, where the screen's logical DPI answers; 0 there
// without a GUI application).
int GetDpiForWindow(std::uintptr_t window);

// --- Rules shared by every platform (PlatformCommon.cpp) ---

// Id of the first entry whose path equals wanted (separators made native,
// letter case ignored); 0 when none does.
std::uint32_t FindProcessByPath(const std::vector<ProcessEntry> &entries, const std::string &wanted);

// true when path (with "/" separators) names a file inside folder or one of
// its sub-folders, letter case ignored. A folder whose name merely starts the
// same ("Game" against "Game2") does not count, and an empty folder holds nothing.
bool IsPathUnderFolder(const std::string &path, const std::string &folder);

// The first entry named exeName (case ignored) whose image path lies under
// folder; fills found and returns true, or returns false.
bool FindProcessUnderFolder(const std::vector<ProcessEntry> &entries, const std::string &folder,
    const std::string &exeName, ProcessEntry &found);

// Replaces a device prefix by its drive name ("\Device\HarddiskVolume2\x" with
// ("C:", "\Device\HarddiskVolume2") gives "C:\x"). The prefix must end at a
// path separator, so HarddiskVolume1 never claims HarddiskVolume10. Empty
// when no drive matches.
std::string DevicePathToDrivePath(const std::string &devicePath, const std::vector<DosDrive> &drives);

// PROCESS_DPI_AWARENESS values.
enum ProcessDpiAwareness { ProcessDpiUnaware = 0, ProcessSystemDpiAware = 1, ProcessPerMonitorDpiAware = 2 };

// Unknown contexts map to ProcessDpiUnaware: the state every process starts in.
ProcessDpiAwareness ProcessDpiAwarenessFromDpiAwarenessContext(std::intptr_t context);

// The entry points the awareness switch may use; null where the system lacks one.
struct DpiAwarenessFunctions
{
    void (*setContext)(std::intptr_t context) = nullptr; // User32 SetProcessDpiAwarenessContext
    void (*setAwareness)(ProcessDpiAwareness value) = nullptr; // Shcore SetProcessDpiAwareness
    void (*setAware)() = nullptr; // User32 SetProcessDPIAware
};

// The newest available entry point wins; with none but SetProcessDPIAware, an
// unaware context leaves the process alone.
void ApplyDpiAwareness(const DpiAwarenessFunctions &functions, std::intptr_t context);

} // namespace Platform
