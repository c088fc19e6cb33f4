// Qt 5's QMutex synchronises through futexes that ThreadSanitizer does not see,
// so the destruction of a finished QThread's wait condition (ours, and that of
// QtTest's watchdog thread) looks like a race with the thread's last wakeAll().
// The reports are about Qt's internals, not about this code; ThreadSanitizer
// reads this hook at start-up.
extern "C" __attribute__((visibility("default"))) const char *__tsan_default_suppressions()
{
    return "race:QWaitCondition::~QWaitCondition\n"
           "race:QTest::qRun\n";
}
