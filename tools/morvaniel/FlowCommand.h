#pragma once

#include <QString>

#include <functional>

class QCommandLineParser;
class QTextStream;
class UpdateFlow;
struct HostOptions;

// How the flow commands start: takes the parsed options of command (2 on bad
// usage), routes the library's messages, makes Ctrl+C pause the flow, and
// hands run a flow printed to out. Returns what run returns.
int runFlowCommand(const QString &command, const QCommandLineParser &parser, QTextStream &out, QTextStream &err,
    const std::function<int(UpdateFlow &, const HostOptions &)> &run);

// Ctrl+C pauses flow: a download at once, any other stage once it ended.
void pauseOnInterrupt(UpdateFlow &flow);
