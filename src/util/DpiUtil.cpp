#include "util/DpiUtil.h"

#include "util/Platform.h"

void DpiUtil::SetProcessDpiAwarenessContext(void *context)
{
    Platform::SetProcessDpiAwarenessContext(reinterpret_cast<std::intptr_t>(context));
}

int DpiUtil::GetDpiForWindow(WId window)
{
    return Platform::GetDpiForWindow(static_cast<std::uintptr_t>(window));
}
