// Check program of the Windows platform layer. Built with mingw-w64 and run
// under Wine by run_wincheck.sh; no Qt here, as the layer itself has none.
// Prints one line per check and exits 0 when every check holds.
#include "util/Platform.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

int g_failures = 0;

void check(bool ok, const char *what, const std::string &detail = std::string())
{
    std::printf("%s: %s%s%s\n", ok ? "PASS" : "FAIL", what, detail.empty() ? "" : " -- ", detail.c_str());
    std::fflush(stdout);
    if (!ok)
        ++g_failures;
}

std::string narrow(const std::wstring &wide)
{
    const int size
        = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring widen(const std::string &text)
{
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

std::string ownPath()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    return narrow(std::wstring(buffer, length));
}

// Letter case flipped and separators turned to "/": the same file, written differently.
std::string disguise(std::string path)
{
    for (char &c : path) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        else if (c == '\\')
            c = '/';
    }
    return path;
}

void checkProcessTable()
{
    const std::string self = ownPath();
    std::vector<Platform::ProcessEntry> entries;
    check(Platform::ListProcesses(entries) && !entries.empty(), "process snapshot");
    const std::uint32_t pid = Platform::FindProcessByPath(entries, disguise(self));
    check(pid == GetCurrentProcessId(), "own process found by its path in other case and separators",
        disguise(self) + " -> " + std::to_string(pid));
    check(Platform::FindProcessByPath(entries, self + ".missing") == 0, "no process for a path nobody runs");
}

void checkDevicePaths()
{
    const std::vector<Platform::DosDrive> drives = Platform::ListDosDrives();
    check(!drives.empty(), "drive table lists at least one drive");
    for (const Platform::DosDrive &drive : drives)
        std::printf("     drive %s = %s\n", drive.first.c_str(), drive.second.c_str());

    std::string image;
    const bool ok = Platform::GetProcessImagePath(GetCurrentProcessId(), image);
    check(
        ok && Platform::EqualsIgnoreCase(image, ownPath()), "own device path converts to the drive-letter path", image);

    const std::string key = Platform::FileNameKey("Cache/Full_1.7z \xc3\xa4");
    check(key == Platform::FileNameKey("cache/FULL_1.7Z \xc3\x84"), "file name keys ignore letter case", key);
}

struct Child
{
    PROCESS_INFORMATION info = {};
    bool started = false;
};

Child startChild(const std::wstring &exe)
{
    Child child;
    std::wstring command = L"\"" + exe + L"\" --sleep";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    child.started
        = CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child.info)
        != 0;
    return child;
}

bool running(const Child &child)
{
    return child.started && WaitForSingleObject(child.info.hProcess, 0) == WAIT_TIMEOUT;
}

void stop(Child &child)
{
    if (!child.started)
        return;
    TerminateProcess(child.info.hProcess, 1);
    WaitForSingleObject(child.info.hProcess, 10000);
    CloseHandle(child.info.hThread);
    CloseHandle(child.info.hProcess);
    child.started = false;
}

void checkKill()
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring base = std::wstring(temp) + L"wincheck-" + std::to_wstring(GetCurrentProcessId());
    // "game2" starts like "game": it must not count as lying under it.
    const std::wstring folders[] = { base + L"\\game", base + L"\\game2", base + L"\\other" };
    CreateDirectoryW(base.c_str(), nullptr);
    std::vector<Child> children;
    const std::wstring self = widen(ownPath());
    for (const std::wstring &folder : folders) {
        CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring exe = folder + L"\\child.exe";
        CopyFileW(self.c_str(), exe.c_str(), FALSE);
        children.push_back(startChild(exe));
    }
    check(children[0].started && children[1].started && children[2].started, "three same-named children started");

    // Every child must be in the table before the search means anything; bounded wait.
    std::vector<Platform::ProcessEntry> entries;
    for (int attempt = 0; attempt < 100; ++attempt) {
        Platform::ListProcesses(entries);
        int seen = 0;
        for (const Platform::ProcessEntry &entry : entries) {
            for (const Child &child : children)
                seen += child.started && entry.pid == child.info.dwProcessId;
        }
        if (seen == 3)
            break;
        Sleep(100);
    }

    Platform::ProcessEntry found;
    const std::string folder = disguise(narrow(folders[0]));
    const bool matched = Platform::FindProcessUnderFolder(entries, folder, "CHILD.EXE", found);
    check(matched && found.pid == children[0].info.dwProcessId, "the child under the folder is the one chosen",
        found.path);
    check(matched && Platform::TerminateProcessById(found.pid), "terminate succeeds");
    DWORD exitCode = 1;
    const bool ended = WaitForSingleObject(children[0].info.hProcess, 20000) == WAIT_OBJECT_0
        && GetExitCodeProcess(children[0].info.hProcess, &exitCode) && exitCode == 0;
    check(ended, "the chosen child ended with exit code 0");
    check(running(children[1]) && running(children[2]), "same-named children elsewhere still run");

    for (Child &child : children)
        stop(child);
    for (const std::wstring &dir : folders) {
        DeleteFileW((dir + L"\\child.exe").c_str());
        RemoveDirectoryW(dir.c_str());
    }
    RemoveDirectoryW(base.c_str());
}

void checkDpi()
{
    Platform::SetProcessDpiAwarenessContext(-4);
    const int dpi = Platform::GetDpiForWindow(0);
    check(dpi > 0, "a window DPI is reported", std::to_string(dpi));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--sleep") {
        Sleep(120000);
        return 3;
    }
    // run_wincheck.sh looks for this line to tell "Wine could not start" from a failure.
    std::printf("wincheck: started\n");
    std::fflush(stdout);
    checkProcessTable();
    checkDevicePaths();
    checkKill();
    checkDpi();
    std::printf("wincheck: %d failure(s)\n", g_failures);
    return g_failures == 0 ? 0 : 1;
}
