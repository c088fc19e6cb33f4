#pragma once

#include <QString>
#include <QVector>

class FlowSession;
struct FlowOptions;

// Checks every file of the installed version by MD5 and, with repair set,
// repairs the bad ones. Returns the exit code (0 all good or repaired, 1 bad
// files or a failure, 130 paused); badFiles gets what the first check found.
int checkInstall(FlowSession &session, const FlowOptions &options, bool repair, QVector<QString> &badFiles);
