#include "DiffTool.h"

#include "ToolRun.h"

#include "util/QFileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace Publisher {

QString defaultDiffTool()
{
    return QFileUtils::ApplicationProgram(QStringLiteral("hdiffz"));
}

bool createBinaryPatch(
    const QString &tool, const QString &oldPath, const QString &newPath, const QString &patchPath, QString &error)
{
    QDir().mkpath(QFileInfo(patchPath).absolutePath());
    QProcess proc;
    // Progress lines are of no use here and would only pile up in memory.
    proc.setStandardOutputFile(QProcess::nullDevice());
    const bool finished = runTool(proc, tool, { oldPath, newPath, patchPath });
    if (!finished || proc.exitCode() != 0 || !QFileInfo(patchPath).isFile()) {
        error = QStringLiteral("%1 failed on %2 (exit code %3): %4")
                    .arg(tool, newPath, QString::number(finished ? proc.exitCode() : -1),
                        QString::fromLocal8Bit(proc.readAllStandardError()).simplified());
        return false;
    }
    return true;
}

} // namespace Publisher
