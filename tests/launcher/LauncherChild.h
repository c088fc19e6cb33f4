#pragma once

#include <QProcessEnvironment>
#include <QString>

// The launcher test program run as a child process: a window that starts
// against a server, optionally starts the update, and is closed by the
// player at one point of the run. The child tells its parent on stdout:
// "closing" when it closes the window, "run ended <run> <result>" for every
// run. The library's own messages stay out of stderr, which then holds only
// what a sanitizer has to say.
namespace LauncherChild {

struct Plan
{
    QString server;
    QString installDir;
    QString launcherDir;
    // A stage's name ("fetch", "download", ...; a download once bytes arrived),
    // or "question" for the files-in-use question.
    QString closeAt;
    bool startUpdate = false; // click the main button after the first check; close in that run
    // The player's automatic update is on; the close comes in the game's
    // check, after the launcher's own.
    bool autoUpdate = false;
    int speedLimitKiB = 0;
    QString hold; // MORVANIEL_TEST_HOLD for the tools the child starts
};

QProcessEnvironment environment(const Plan &plan);
// True in a process that environment() made a child.
bool wanted();
int run(int &argc, char **argv);

} // namespace LauncherChild
