#pragma once

#include <QString>
#include <QVector>

class HostSession;
class QCommandLineParser;
class QTextStream;
struct HostOptions;

// "morvaniel verify": checks every file of the installed version by MD5 (exit 0
// all good, 1 some bad, listed). "morvaniel repair": the same, then fetches and
// extracts the full-pack archives that hold the bad files.
int runVerifyCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
int runRepairCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);

// Shared by the commands and the demo: checks the install of options and, with
// repair set, repairs it. badFiles gets what the first check found.
int verifyOrRepair(HostSession &session, const HostOptions &options, bool repair, QVector<QString> &badFiles);
