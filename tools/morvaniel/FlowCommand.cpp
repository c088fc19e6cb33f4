#include "FlowCommand.h"

#include "FlowPrinter.h"
#include "HostOptions.h"
#include "InterruptWatcher.h"
#include "ProgressPrinter.h"
#include "UpdateFlow.h"

#include "trust/ReleaseTrust.h"

int runFlowCommand(const QString &command, const QCommandLineParser &parser, QTextStream &out, QTextStream &err,
    const std::function<int(UpdateFlow &, const HostOptions &)> &run)
{
    HostOptions options;
    if (!options.read(command, parser, err))
        return 2;
    routeLibraryMessages(options.verbose);
    Morvaniel::ReleaseTrust::SetTrustedKeys(options.trustedKeys);
    ProgressPrinter printer(out, options.json);
    UpdateFlow flow;
    flow.setOptions(options);
    printFlow(flow, printer);
    pauseOnInterrupt(flow);
    return run(flow, options);
}

void pauseOnInterrupt(UpdateFlow &flow)
{
    QObject::connect(&InterruptWatcher::instance(), &InterruptWatcher::requested, &flow, &UpdateFlow::pause);
    // Ctrl+C may have come before the flow existed.
    if (InterruptWatcher::wasRequested())
        flow.pause();
}
