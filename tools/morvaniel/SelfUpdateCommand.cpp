#include "SelfUpdateCommand.h"

#include "FlowCommand.h"
#include "UpdateFlow.h"

int runSelfUpdateCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runFlowCommand(QStringLiteral("self-update"), parser, out, err,
        [](HostFlow::UpdateFlow &flow) { return flow.updateLauncher(); });
}
