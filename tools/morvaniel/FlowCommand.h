#pragma once

#include <QString>

#include <functional>

class QCommandLineParser;
class QTextStream;
struct HostOptions;

namespace HostFlow {
class UpdateFlow;
}

// How the flow commands run: takes the parsed options of command (2 on bad
// usage), routes the library's messages, prints the flow to out, makes
// Ctrl+C stop it, starts the run with start and runs the application's event
// loop until the run finished. Returns the run's result.
int runFlowCommand(const QString &command, const QCommandLineParser &parser, QTextStream &out, QTextStream &err,
    const std::function<bool(HostFlow::UpdateFlow &)> &start);

// Starts a run with start and runs the application's event loop until the
// run finished; returns its result.
int runToEnd(HostFlow::UpdateFlow &flow, const std::function<bool(HostFlow::UpdateFlow &)> &start);

// Ctrl+C (SIGINT, SIGTERM) stops flow: every stage ends at once through the library.
void stopOnInterrupt(HostFlow::UpdateFlow &flow);
