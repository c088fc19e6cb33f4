#pragma once

class QThread;

// Ends a worker thread when its owner goes away: asks it to stop, gives it
// timeoutMs to reach a stopping point, and only then terminates it. Terminating
// at once could kill it while it holds the logger's lock and hang the process.
void stopWorkerThread(QThread *thread, unsigned long timeoutMs = 3000);
