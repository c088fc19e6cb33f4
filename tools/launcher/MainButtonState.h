#pragma once

#include <QString>

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

// The label of action; maintenance shows the server's text (or a word of ours
// when it gave none).
QString mainButtonLabel(MainAction action, const QString &maintenanceText = QString());
// Whether the button takes clicks in action.
bool mainButtonEnabled(MainAction action);
