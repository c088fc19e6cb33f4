#include "InterruptWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The self-pipe: the handler may do no more than write a byte; a notifier on
// the read end turns that byte into an event of the main thread.
int g_pipe[2] = { -1, -1 };

extern "C" void onSignal(int)
{
    const int saved = errno;
    InterruptWatcher::markRequested();
    const char byte = 1;
    // A full pipe already holds a wake-up.
    const ssize_t written = ::write(g_pipe[1], &byte, 1);
    (void)written;
    errno = saved;
}

bool makePipe()
{
    if (::pipe(g_pipe) != 0)
        return false;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC); // 7z and hpatchz need not inherit it
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return true;
}

} // namespace

void InterruptWatcher::installHandler()
{
    // Without the pipe Ctrl+C keeps its default: the process ends at once.
    if (!makePipe())
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this]() {
        char bytes[64];
        while (::read(g_pipe[0], bytes, sizeof bytes) > 0) { }
        emit requested();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}
