// Platform-independent rules of the process and DPI seam. Standard library
// only, like the Windows side.
#include "util/Platform.h"

namespace Platform {

namespace {

constexpr std::intptr_t kContextUnaware = -1;
constexpr std::intptr_t kContextSystemAware = -2;
constexpr std::intptr_t kContextPerMonitorAware = -3;
constexpr std::intptr_t kContextPerMonitorAwareV2 = -4;
constexpr std::intptr_t kContextUnawareGdiScaled = -5;

bool isSeparator(char c)
{
    return c == '/' || c == '\\';
}

char asciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Device names are plain ASCII ("\Device\HarddiskVolume2"), so an ASCII fold
// is all the drive table needs.
bool startsWithAsciiIgnoreCase(const std::string &text, const std::string &prefix)
{
    if (prefix.size() > text.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (asciiUpper(text[i]) != asciiUpper(prefix[i]))
            return false;
    }
    return true;
}

std::string withSlashes(std::string path)
{
    for (char &c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}

} // namespace

std::uint32_t FindProcessByPath(const std::vector<ProcessEntry> &entries, const std::string &wanted)
{
    const std::string native = ToNativeSeparators(wanted);
    if (native.empty())
        return 0;
    for (const ProcessEntry &entry : entries) {
        if (!entry.path.empty() && EqualsIgnoreCase(entry.path, native))
            return entry.pid;
    }
    return 0;
}

bool IsPathUnderFolder(const std::string &filePath, const std::string &folder)
{
    // Both sides compare with one separator so that a folder written either way matches.
    const std::string path = withSlashes(filePath);
    std::string base = withSlashes(folder);
    while (base.size() > 1 && isSeparator(base.back()))
        base.pop_back();
    if (base.empty())
        return false;
    // "/" (or "C:/" reduced to "C:") is a root: everything below it counts.
    const std::size_t cut = isSeparator(base.back()) ? base.size() - 1 : base.size();
    if (path.size() <= cut + 1 || !isSeparator(path[cut]))
        return false;
    return EqualsIgnoreCase(path.substr(0, cut), base.substr(0, cut));
}

bool FindProcessUnderFolder(const std::vector<ProcessEntry> &entries, const std::string &folder,
    const std::string &exeName, ProcessEntry &found)
{
    for (const ProcessEntry &entry : entries) {
        if (entry.name.empty() || !EqualsIgnoreCase(entry.name, exeName))
            continue;
        std::string path;
        if (!GetProcessImagePath(entry.pid, path))
            continue;
        path = withSlashes(path);
        if (path.find_first_not_of(" \t\r\n") == std::string::npos)
            continue;
        if (IsPathUnderFolder(path, folder)) {
            found = entry;
            found.path = path;
            return true;
        }
    }
    return false;
}

std::string DevicePathToDrivePath(const std::string &devicePath, const std::vector<DosDrive> &drives)
{
    for (const DosDrive &drive : drives) {
        const std::string &device = drive.second;
        if (device.empty() || !startsWithAsciiIgnoreCase(devicePath, device))
            continue;
        if (devicePath.size() > device.size() && !isSeparator(devicePath[device.size()]))
            continue;
        return drive.first + devicePath.substr(device.size());
    }
    return std::string();
}

ProcessDpiAwareness ProcessDpiAwarenessFromDpiAwarenessContext(std::intptr_t context)
{
    switch (context) {
    case kContextSystemAware:
        return ProcessSystemDpiAware;
    case kContextPerMonitorAware:
    case kContextPerMonitorAwareV2:
        return ProcessPerMonitorDpiAware;
    case kContextUnaware:
    case kContextUnawareGdiScaled:
    default:
        return ProcessDpiUnaware;
    }
}

void ApplyDpiAwareness(const DpiAwarenessFunctions &functions, std::intptr_t context)
{
    if (functions.setContext)
        functions.setContext(context);
    else if (functions.setAwareness)
        functions.setAwareness(ProcessDpiAwarenessFromDpiAwarenessContext(context));
    else if (context != kContextUnaware && functions.setAware)
        functions.setAware();
}

} // namespace Platform
