#include "unzip/ZipThread.h"

#include "unzip/ArchiverOutput.h"
#include "util/FolderGuard.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <QDebug>
#include <QDir>
#include <QProcess>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("ZipThread");
constexpr int WaitSliceMs = 10;
// Starting a program ends in success or failure within moments; the bound only
// keeps a wedged system from holding the thread for ever.
constexpr int StartTimeoutMs = 30000;

} // namespace

ZipThread::ZipThread(QObject *parent)
    : QThread(parent)
{
    connect(this, &QThread::finished, this, &ZipThread::finishedThread);
}

ZipThread::~ZipThread() = default;

QString ZipThread::archiverPath()
{
    static const QString path = QFileUtils::ApplicationProgram(QStringLiteral("7z"));
    return path;
}

void ZipThread::finishedThread()
{
    Logger::LogInfo(Tag, QStringLiteral("finishedThread"));
    emit DecompressFinished(m_lastExitCode, m_lastError);
}

void ZipThread::run()
{
    QProcess process;
    // A fresh extraction starts from an empty folder, but never by emptying a
    // disk, the program's own folder or a path that climbs out with "..".
    if (!m_bKeepTarget && !m_files.isEmpty()) {
        if (FolderGuard::IsProtectedFolder(m_targetDir))
            Logger::LogInfo(Tag, QStringLiteral("refusing to empty %1").arg(m_targetDir));
        else
            QFileUtils::DeleteFileOrFolder(m_targetDir);
    }
    for (int i = 0; i < m_files.size(); ++i) {
        if (!extract(process, i))
            return;
    }
}

bool ZipThread::extract(QProcess &process, int i)
{
    const QString &archive = m_files.at(i);
    const QString program = archiverPath();
    Logger::LogCritical(
        Tag, QStringLiteral("start unzip file, file is %1, unzip folder is %2").arg(archive, m_targetDir));
    Logger::LogInfo(QStringLiteral("Zipthread"), QStringLiteral("exepath is %1").arg(program));

    const QStringList arguments{ QStringLiteral("x"), QStringLiteral("-bsp1"), QStringLiteral("-y"),
        QStringLiteral("-o") + m_targetDir, archive };
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(StartTimeoutMs)) {
        m_lastExitCode = ArchiverNotStartedExitCode;
        m_lastError = QStringLiteral("7z could not be started: %1 (%2)").arg(program, process.errorString());
        Logger::LogInfo(Tag, m_lastError);
        Logger::LogInfo(Tag, QStringLiteral("Unzip %1 Failed").arg(archive));
        process.kill();
        process.waitForFinished(StartTimeoutMs);
        return false;
    }

    while (!process.waitForFinished(WaitSliceMs)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (isInterruptionRequested()) {
            // The owner is going away: the archiver must not outlive the job.
            process.kill();
            process.waitForFinished(StartTimeoutMs);
            m_lastExitCode = 255;
            m_lastError = QStringLiteral("extraction stopped");
            return false;
        }
        reportOutput(process.readAllStandardOutput(), i);
    }

    const QByteArray rest = process.readAllStandardOutput();
    if (!rest.isEmpty())
        Logger::LogInfo(Tag, QStringLiteral("DecompressFile:output is %1").arg(QString::fromLocal8Bit(rest)));

    const int exitCode = process.exitStatus() == QProcess::CrashExit ? ArchiverCrashedExitCode : process.exitCode();
    Logger::LogInfo(Tag, QStringLiteral("DecompressFile: exit code is %1").arg(exitCode));
    m_lastExitCode = exitCode;

    const QString errors = QString::fromLocal8Bit(process.readAllStandardError());
    qDebug() << errors;
    m_lastError = QDir::fromNativeSeparators(errors).simplified();
    const int crcAt = m_lastError.indexOf(QLatin1String("CRC Failed"));
    qDebug() << "crc failed" << crcAt;

    if (exitCode == 0) {
        Logger::LogInfo(Tag, QStringLiteral("Unzip %1 Success").arg(archive));
        return true;
    }
    if (crcAt < 0) {
        Logger::LogInfo(Tag, QStringLiteral("Unzip %1 Failed").arg(archive));
        return false;
    }
    qDebug() << "ignore crc failed" << m_lastError;
    m_lastExitCode = 0;
    return true;
}

void ZipThread::reportOutput(const QByteArray &output, int i)
{
    if (output.isEmpty())
        return;
    const QString chunk = QString::fromLocal8Bit(output);
    const int percent = archiverPercent(chunk);
    Logger::LogInfo(Tag, QStringLiteral("DecompressFile:percent is %1, output is %2").arg(percent).arg(chunk));
    if (percent >= 0)
        emit DecompressProgress(percent, i, m_files.size());
}

} // namespace Morvaniel
