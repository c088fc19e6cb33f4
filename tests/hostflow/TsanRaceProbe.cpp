// Run under ThreadSanitizer only: a race of the kind the update flow could
// have, which the suppressions of tests/tsan.supp must leave visible. A
// worker thread that Qt starts and a slot that a queued call runs on the main
// thread (where the flow runs, inside QObject::event) write one int at the
// same time. The test passes when the sanitizer reports the race.
#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <atomic>

namespace {

// Volatile: every store stays, so that the two loops really write at once.
volatile int g_shared = 0;
// Relaxed: it makes the two writers overlap without ordering them.
std::atomic<bool> g_started{ false };

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QThread *worker = QThread::create([] {
        g_started.store(true, std::memory_order_relaxed);
        for (int i = 0; i < 1000000; ++i)
            g_shared = i;
    });
    QObject::connect(worker, &QThread::finished, &app, &QCoreApplication::quit);
    QTimer::singleShot(0, &app, [] {
        while (!g_started.load(std::memory_order_relaxed)) { }
        for (int i = 0; i < 1000000; ++i)
            g_shared = -i;
    });
    worker->start();
    const int code = app.exec();
    worker->wait();
    delete worker;
    return code;
}
