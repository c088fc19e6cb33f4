#include "FlowCommand.h"

#include "FlowPrinter.h"
#include "HostOptions.h"
#include "InterruptWatcher.h"
#include "ProgressPrinter.h"
#include "UpdateFlow.h"

#include <QCoreApplication>

using HostFlow::UpdateFlow;

int runFlowCommand(const QString &command, const QCommandLineParser &parser, QTextStream &out, QTextStream &err,
    const std::function<bool(UpdateFlow &)> &start)
{
    HostOptions options;
    if (!options.read(command, parser, err))
        return 2;
    routeLibraryMessages(options.verbose);
    ProgressPrinter printer(out, options.json);
    UpdateFlow flow;
    flow.setOptions(options);
    printFlow(flow, printer);
    stopOnInterrupt(flow);
    return runToEnd(flow, start);
}

int runToEnd(UpdateFlow &flow, const std::function<bool(UpdateFlow &)> &start)
{
    int result = UpdateFlow::Failed;
    const QMetaObject::Connection ended = QObject::connect(&flow, &UpdateFlow::finished, &flow, [&result](int r) {
        result = r;
        QCoreApplication::exit(r);
    });
    if (start(flow)) {
        // A Ctrl+C that came before the run began stops it at once.
        if (InterruptWatcher::wasRequested())
            flow.stop();
        QCoreApplication::exec();
    }
    QObject::disconnect(ended);
    return result;
}

void stopOnInterrupt(UpdateFlow &flow)
{
    QObject::connect(&InterruptWatcher::instance(), &InterruptWatcher::requested, &flow, [&flow]() {
        if (flow.running() && !flow.stopping())
            flow.reporter()->info(QStringLiteral("stopping (interrupted)"));
        flow.stop();
    });
}
