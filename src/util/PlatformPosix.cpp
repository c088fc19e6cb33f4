// POSIX side of the platform seam: the process table comes from /proc, a kill
// is SIGKILL (as immediate as TerminateProcess), DPI is the screen's logical DPI.
#ifndef _WIN32

#include "util/Platform.h"

#include <QGuiApplication>
#include <QScreen>
#include <QString>
#include <QWindow>

#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <unistd.h>

#include <algorithm>

namespace Platform {

namespace {

bool readExeLink(std::uint32_t pid, std::string &path)
{
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = readlink(link.c_str(), &buffer[0], buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return false;
    buffer.resize(static_cast<std::size_t>(length));
    path = buffer;
    return true;
}

std::string commandName(std::uint32_t pid)
{
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

bool parsePid(const char *text, std::uint32_t &pid)
{
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value == 0 || value > static_cast<unsigned long>(INT_MAX))
        return false;
    pid = static_cast<std::uint32_t>(value);
    return true;
}

} // namespace

bool ListProcesses(std::vector<ProcessEntry> &entries)
{
    entries.clear();
    DIR *proc = opendir("/proc");
    if (!proc)
        return false;
    while (const dirent *item = readdir(proc)) {
        ProcessEntry entry;
        if (!parsePid(item->d_name, entry.pid))
            continue;
        if (readExeLink(entry.pid, entry.path))
            entry.name = entry.path.substr(entry.path.rfind('/') + 1);
        else
            entry.name = commandName(entry.pid);
        entries.push_back(std::move(entry));
    }
    closedir(proc);
    // A stable order like the system snapshot's: oldest ids first.
    std::sort(
        entries.begin(), entries.end(), [](const ProcessEntry &a, const ProcessEntry &b) { return a.pid < b.pid; });
    return true;
}

bool GetProcessImagePath(std::uint32_t pid, std::string &path)
{
    return readExeLink(pid, path);
}

std::string ResolvedPath(const std::string &path)
{
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return std::string();
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool TerminateProcessById(std::uint32_t pid)
{
    // kill() reads 0 and negative ids as whole process groups: never pass those on.
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX))
        return false;
    return kill(static_cast<pid_t>(pid), SIGKILL) == 0;
}

bool EqualsIgnoreCase(const std::string &a, const std::string &b)
{
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

std::string ToNativeSeparators(std::string path)
{
    return path;
}

std::string FileNameKey(std::string path)
{
    return path;
}

std::string ExecutableFileName(const std::string &base)
{
    return base;
}

std::vector<DosDrive> ListDosDrives()
{
    return std::vector<DosDrive>();
}

void SetProcessDpiAwarenessContext(std::intptr_t)
{
    // Qt scales for the screen on its own here; there is no process-wide switch.
}

int GetDpiForWindow(std::uintptr_t window)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 0;
    QScreen *screen = nullptr;
    // winId() would create a native window; only windows that have one can match.
    for (QWindow *candidate : QGuiApplication::allWindows()) {
        if (window != 0 && candidate->handle() && candidate->winId() == window) {
            screen = candidate->screen();
            break;
        }
    }
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? static_cast<int>(std::lround(screen->logicalDotsPerInchX())) : 0;
}

} // namespace Platform

#endif // _WIN32
