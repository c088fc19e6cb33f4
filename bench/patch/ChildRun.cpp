#include "ChildRun.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

namespace PatchBench {

namespace {

// RssAnon of a running process in KiB, -1 once it is gone. Read with plain
// system calls: the sampler must not allocate or buffer between samples.
long rssAnonKiB(const char *statusPath)
{
    const int fd = open(statusPath, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf - 1);
    close(fd);
    if (n <= 0)
        return -1;
    buf[n] = '\0';
    const char *at = std::strstr(buf, "RssAnon:");
    return at ? std::atol(at + 8) : -1;
}

} // namespace

ChildRun runChild(const std::vector<std::string> &args, const std::string &stdoutPath, const std::string &stderrPath,
    double limitSeconds)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    ChildRun r;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return r;
    char statusPath[64];
    std::snprintf(statusPath, sizeof statusPath, "/proc/%d/status", int(pid));
    int status = 0;
    struct rusage usage;
    const struct timespec tick = { 0, 5 * 1000 * 1000 };
    for (;;) {
        // A zombie's status has no memory lines, so a sample is only taken
        // while the process still runs; then it is reaped with its usage.
        const long anon = rssAnonKiB(statusPath);
        if (anon > r.peakAnonKiB)
            r.peakAnonKiB = anon;
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid)
            break;
        if (done < 0)
            return r;
        if (limitSeconds > 0 && !r.timedOut
            && std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > limitSeconds) {
            r.timedOut = true;
            kill(pid, SIGKILL);
        }
        nanosleep(&tick, nullptr);
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    r.hwmKiB = usage.ru_maxrss;
    r.cpuSeconds
        = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    r.status = WIFEXITED(status) && !r.timedOut ? WEXITSTATUS(status) : -1;
    return r;
}

} // namespace PatchBench
