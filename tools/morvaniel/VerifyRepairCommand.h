#pragma once

class QCommandLineParser;
class QTextStream;

// "morvaniel verify": checks every file of the installed version by MD5 (exit 0
// all good, 1 some bad, listed). "morvaniel repair": the same, then fetches and
// extracts the full-pack archives that hold the bad files.
int runVerifyCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
int runRepairCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err);
