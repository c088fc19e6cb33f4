#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>

#include <atomic>
#include <utility>

// A local event loop for one stage, on the thread that waits. finish() may be
// called on any thread (the library reports on the main thread): it ends the
// wait, or makes exec() return at once when it came first.
class StageWait
{
public:
    void finish()
    {
        m_finished = true;
        wake();
    }
    // Ends the wait without a final report.
    void interrupt() { wake(); }
    bool finished() const { return m_finished; }
    void exec()
    {
        if (!m_finished)
            m_loop.exec();
    }

private:
    void wake() { QMetaObject::invokeMethod(&m_loop, &QEventLoop::quit, Qt::QueuedConnection); }

    QEventLoop m_loop;
    std::atomic<bool> m_finished{ false };
};

// Runs f on the application's main thread, where the library's workers live
// and report, and returns when it ran.
template <typename F> void onMainThread(F &&f)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (QThread::currentThread() == app->thread())
        f();
    else
        QMetaObject::invokeMethod(app, std::forward<F>(f), Qt::BlockingQueuedConnection);
}
