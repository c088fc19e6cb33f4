#include "InterruptWatcher.h"

#include <QCoreApplication>
#include <QPointer>

#include <atomic>

namespace {

std::atomic<bool> g_requested{ false };
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
}

InterruptWatcher &InterruptWatcher::instance()
{
    static QPointer<InterruptWatcher> watcher;
    if (!watcher) {
        Q_ASSERT(QCoreApplication::instance());
        watcher = new InterruptWatcher(QCoreApplication::instance());
        watcher->installHandler();
    }
    return *watcher;
}

bool InterruptWatcher::wasRequested()
{
    return g_requested.load();
}

void InterruptWatcher::markRequested()
{
    g_requested.store(true);
}
