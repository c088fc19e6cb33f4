#include "FlowReporter.h"

#include "util/Logger.h"

namespace HostFlow {

FlowReporter::FlowReporter(QObject *parent)
    : QObject(parent)
{
    qRegisterMetaType<TransferProgress>();
    qRegisterMetaType<Morvaniel::RemoteInfo>();
    qRegisterMetaType<HostFlow::Stage>();
    qRegisterMetaType<HostFlow::FlowError>();
}

void FlowReporter::reset()
{
    m_error = FlowError();
    m_report = UpdateReport();
    m_badFiles.clear();
}

void FlowReporter::warning(const QString &text)
{
    Logger::LogInfo(QStringLiteral("UpdateFlow"), QStringLiteral("warning: %1").arg(text));
    emit warningRaised(text);
}

QString FlowReporter::switchText(const QString &from, const QString &to, const QString &reason)
{
    return QStringLiteral("server %1 failed (%2); using %3").arg(from, reason, to);
}

void FlowReporter::switchedServer(const QString &from, const QString &to, const QString &reason)
{
    Logger::LogInfo(QStringLiteral("UpdateFlow"), QStringLiteral("warning: %1").arg(switchText(from, to, reason)));
    emit serverSwitched(from, to, reason);
}

void FlowReporter::fail(const FlowError &error)
{
    m_error = error;
    // The library's own text stays in the log; the views show the flow's sentence.
    Logger::LogInfo(QStringLiteral("UpdateFlow"),
        error.detail.isEmpty() ? QStringLiteral("error: %1").arg(error.message)
                               : QStringLiteral("error: %1 (%2)").arg(error.message, error.detail));
    emit errorRaised(error);
}

} // namespace HostFlow
