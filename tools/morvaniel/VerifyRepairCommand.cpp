#include "VerifyRepairCommand.h"

#include "FlowCommand.h"
#include "UpdateFlow.h"

static int runCommand(
    const QString &name, bool repair, const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runFlowCommand(name, parser, out, err, [repair](HostFlow::UpdateFlow &flow) { return flow.verify(repair); });
}

int runVerifyCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runCommand(QStringLiteral("verify"), false, parser, out, err);
}

int runRepairCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return runCommand(QStringLiteral("repair"), true, parser, out, err);
}
