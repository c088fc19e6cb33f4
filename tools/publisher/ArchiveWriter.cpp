#include "ArchiveWriter.h"

#include "ToolRun.h"

#include "util/QFileUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace Publisher {

QString findSevenZip()
{
    const QString beside = QFileUtils::ApplicationProgram(QStringLiteral("7z"));
    if (QFileInfo(beside).isExecutable())
        return beside;
    return QStandardPaths::findExecutable(QStringLiteral("7z"));
}

bool writeArchive(const QString &sevenZip, const QString &baseDir, const QStringList &relativePaths,
    const QString &archivePath, const QString &workDir, int level, QString &error)
{
    if (sevenZip.isEmpty()) {
        error = QStringLiteral("7-Zip (7z) was not found beside the program nor on PATH");
        return false;
    }
    // A list file keeps any number of names off the command line; names go in
    // as UTF-8 and -spd keeps "*" and "?" in them from acting as wildcards.
    // -snl stores a file that turned into a link since the scan as the link,
    // never as the content of its target.
    const QString listPath = QDir(workDir).absoluteFilePath(QFileInfo(archivePath).fileName() + QStringLiteral(".lst"));
    {
        QFile list(listPath);
        if (!list.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            error = QStringLiteral("cannot write %1").arg(listPath);
            return false;
        }
        list.write(relativePaths.join(QLatin1Char('\n')).toUtf8() + '\n');
    }
    // 7z updates an archive that already exists; the output must hold only this run's files.
    const QString partPath = archivePath + QStringLiteral(".part");
    QFile::remove(partPath);
    QFile::remove(archivePath);

    QProcess proc;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    proc.setProcessEnvironment(env);
    proc.setWorkingDirectory(baseDir);
    const QStringList args{ QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-mx=%1").arg(level),
        QStringLiteral("-mmt=2"), QStringLiteral("-mtm=off"), QStringLiteral("-mtc=off"), QStringLiteral("-mta=off"),
        QStringLiteral("-mtr=off"), QStringLiteral("-snl"), QStringLiteral("-spd"), QStringLiteral("-ssc"),
        QStringLiteral("-sse"), QStringLiteral("-scsUTF-8"), QStringLiteral("-bd"), QStringLiteral("-bso0"),
        QStringLiteral("-bsp0"), QDir(partPath).absolutePath(), QLatin1Char('@') + listPath };
    const bool finished = runTool(proc, sevenZip, args, [&partPath]() { QFile::remove(partPath); });
    QFile::remove(listPath);
    if (!finished || proc.exitCode() != 0) {
        error = QStringLiteral("7z failed on %1 (exit code %2): %3")
                    .arg(archivePath, QString::number(finished ? proc.exitCode() : -1),
                        QString::fromLocal8Bit(proc.readAllStandardError()).simplified());
        QFile::remove(partPath);
        return false;
    }
    if (!QFile::rename(partPath, archivePath)) {
        error = QStringLiteral("cannot rename %1 to %2").arg(partPath, archivePath);
        QFile::remove(partPath);
        return false;
    }
    return true;
}

} // namespace Publisher
