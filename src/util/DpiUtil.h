#pragma once

#include "MorvanielGlobal.h"

#include <QtGui/qwindowdefs.h>

// DPI awareness of the process and the DPI of a window. On Windows the newest
// system entry point available is used (User32, then Shcore, then the legacy
// call), looked up once; elsewhere Qt's screen information answers.
class MORVANIEL_EXPORT DpiUtil
{
public:
    DpiUtil() = delete;

    // context is a DPI_AWARENESS_CONTEXT (DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, ...).
    // Does nothing outside Windows.
    static void SetProcessDpiAwarenessContext(void *context);

    // Horizontal DPI of the monitor nearest to the window (QWidget::winId()).
    // 0 without a GUI application.
    static int GetDpiForWindow(WId window);
};
