#include "UpdateCommand.h"

#include "FlowCommand.h"
#include "UpdateFlow.h"

int runUpdateCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runFlowCommand(
        QStringLiteral("update"), parser, out, err, [](HostFlow::UpdateFlow &flow) { return flow.update(); });
}
