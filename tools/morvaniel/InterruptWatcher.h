#pragma once

#include <QObject>

// Ctrl+C as an event of the main thread. The handler (SIGINT and SIGTERM on
// POSIX, the console's Ctrl+C and Ctrl+Break on Windows) only notes the request
// and wakes the main thread, whose event loop then emits requested(). The
// handler stays installed once the watcher exists: the process keeps running
// and each command decides how to stop.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    // The one watcher of the process, a child of the application object;
    // the first call installs the handler.
    static InterruptWatcher &instance();
    // True from the first Ctrl+C on, even before requested() has been emitted.
    static bool wasRequested();
    // For the platform's handler only: async-signal-safe.
    static void markRequested();

signals:
    // On the main thread, after each wake-up of the handler.
    void requested();

private:
    explicit InterruptWatcher(QObject *parent);
    // One file per platform.
    void installHandler();
};
