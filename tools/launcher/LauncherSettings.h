#pragma once

#include <QString>

// The window's own settings, kept through the library's settings component
// under keys of their own ("Launcher/..."), which the flow's saves of the
// update state leave alone.
struct LauncherSettings
{
    QString server;
    QString installDir;
    int speedLimitKiB = 0; // 0: unlimited
    bool autoUpdate = false;
    bool backgroundMusic = true;

    static LauncherSettings load();
    // Call on the thread that runs the flow (the store is not shared across threads).
    void save() const;
};
