#pragma once

#include <QMetaType>
#include <QString>

namespace Launcher {

// What the window's one main button does next, and how it reads.
enum class MainAction {
    Checking, // asking the server; the button waits
    Install,
    Update,
    Pause,
    Pausing, // a pause was asked for; the running stage ends first
    Resume,
    Repair,
    Play,
    Maintenance // the server's maintenance switch is on
};

// The label of action: one short word (the server's maintenance text goes
// beside the button, where it may be long).
QString mainButtonLabel(MainAction action);
// Whether the button takes clicks in action.
bool mainButtonEnabled(MainAction action);

} // namespace Launcher

Q_DECLARE_METATYPE(Launcher::MainAction)
