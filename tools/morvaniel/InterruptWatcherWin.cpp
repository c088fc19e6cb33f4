#include "InterruptWatcher.h"

#include <QCoreApplication>

#include <windows.h>

namespace {

// Runs on a thread that the system starts for the event: posting an event to
// the application object is safe from any thread.
BOOL WINAPI onConsoleEvent(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    InterruptWatcher::markRequested();
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, []() { emit InterruptWatcher::instance().requested(); }, Qt::QueuedConnection);
    return TRUE;
}

} // namespace

void InterruptWatcher::installHandler()
{
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}
