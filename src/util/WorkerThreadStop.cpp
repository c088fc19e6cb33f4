#include "util/WorkerThreadStop.h"

#include <QThread>

void stopWorkerThread(QThread *thread, unsigned long timeoutMs)
{
    if (!thread || !thread->isRunning())
        return;
    thread->requestInterruption();
    if (thread->wait(timeoutMs))
        return;
    thread->terminate();
    thread->wait();
}
