#include "patch/MergeThread.h"

#include "manifest/ManifestPathCheck.h"
#include "manifest/PatchManifest.h"
#include "patch/PatcherCallbackInfo.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <atomic>
#include <memory>

namespace Morvaniel {

namespace {

constexpr int ToolAttempts = 3;
// How often a wait for the tool looks up to see whether the owner is going away.
constexpr int WaitSliceMs = 50;
constexpr int ToolExitOutOfMemory = 22;
constexpr int ToolExitDiskFull = 24;
std::atomic<int> toolTimeoutMs{ 10800000 };

QString patchToolPath()
{
    return QFileUtils::ApplicationProgram(QStringLiteral("hpatchz"));
}

// The tool writes its result to "<file>.hpatch-XXXXXX" beside the file and
// renames it over the file at the end; a tool killed before that leaves it.
void removeToolLeftovers(const QString &outPath)
{
    const QFileInfo out(outPath);
    const QString prefix = out.fileName() + QLatin1String(".hpatch-");
    const QDir folder = out.dir();
    const QStringList entries = folder.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &name : entries) {
        if (name.size() == prefix.size() + 6 && name.startsWith(prefix))
            QFile::remove(folder.filePath(name));
    }
}

} // namespace

MergeThread::MergeThread(QObject *parent)
    : QThread(parent)
{
    connect(this, &QThread::finished, this, &MergeThread::finishedThread);
}

MergeThread::~MergeThread() = default;

void MergeThread::SetToolTimeoutMs(int ms)
{
    toolTimeoutMs = ms;
}

void MergeThread::SetPaths(const QString &manifestFilePath, const QString &targetPath, const QString &tempPath)
{
    m_bFatalError = false;
    m_errorString.clear();
    needMd5CheckPaksDir = false;
    Logger::LogInfo(QStringLiteral("MergeThread"), QStringLiteral("manifestFilePath is %1").arg(manifestFilePath));
    Logger::LogInfo(QStringLiteral("MergeThread"), QStringLiteral("_targetPath is %1").arg(targetPath));
    Logger::LogInfo(QStringLiteral("MergeThread"), QStringLiteral("_tempPath is %1").arg(tempPath));
    m_patchDir = QFileUtils::GetParentPath(manifestFilePath);
    const PatchManifest manifest = parsePatchManifest(QFileUtils::ReadText(manifestFilePath));
    m_newFiles = manifest.newFiles;
    m_delFiles = manifest.delFiles;
    m_patchFiles = manifest.patchFiles;
    _targetPath = targetPath;
    _tempPath = tempPath;
}

void MergeThread::finishedThread()
{
    emit MergeFinished(m_errorString, needMd5CheckPaksDir);
}

// Every path is checked before the first change: a patch that would write or
// delete outside the game folder changes nothing at all.
bool MergeThread::checkManifestPaths()
{
    QStringList paths = fileManifestPaths(m_patchFiles);
    for (const QString &path : fileManifestPaths(m_patchFiles))
        paths.append(path.left(path.indexOf(QLatin1String(".patch"))));
    paths += fileManifestPaths(m_newFiles);
    paths += fileManifestPaths(m_delFiles);
    QString bad;
    if (!FindUnsafeManifestPath(paths, bad))
        return true;
    m_bFatalError = true;
    m_errorString = UnsafeManifestPathError(bad);
    Logger::LogInfo(QStringLiteral("MergeThread"), m_errorString);
    return false;
}

// Without the tool no patch applies, and adding and deleting files around
// unpatched ones would leave a game that is neither version: checked before
// the first change.
bool MergeThread::checkPatchTool()
{
    if (m_bSkipPatchFiles || m_patchFiles.isEmpty())
        return true;
    const QFileInfo tool(patchToolPath());
    if (tool.isFile() && tool.isExecutable())
        return true;
    recordToolFailure(tool.filePath(), tool.exists() ? QStringLiteral("not executable") : QStringLiteral("not found"));
    return false;
}

void MergeThread::recordToolFailure(const QString &program, const QString &reason)
{
    m_bFatalError = true;
    m_errorString = QStringLiteral("hpatchz could not be started: %1 (%2)").arg(program, reason);
    Logger::LogInfo(QStringLiteral("MergeThread"), m_errorString);
}

// The owner is going away; whatever follows must not pass for a finished stage.
void MergeThread::recordStopped()
{
    m_bFatalError = true;
    m_errorString = QStringLiteral("patch stage stopped");
}

void MergeThread::run()
{
    if (!checkManifestPaths() || !checkPatchTool())
        return;
    QFileUtils::CreateFolder(_tempPath);
    buildTasks();
    if (!m_bSkipPatchFiles) {
        Logger::LogInfo(QStringLiteral("MergeTag"), QStringLiteral("MergeThread Run"));
        m_mergeIndex = 0;
        for (const PatchTask &task : qAsConst(m_tasks)) {
            ++m_mergeIndex;
            Logger::LogInfo(QStringLiteral("MergeThread"), QStringLiteral("MergeIndex:%1").arg(m_mergeIndex));
            if (!runPatchTool(task))
                return;
            if (isInterruptionRequested()) {
                recordStopped();
                return;
            }
            auto it = m_patchProgress.find(task.diffPath);
            if (it != m_patchProgress.end())
                it->second = 100;
            emitPatchProgress();
        }
    }
    addNewFiles(fileManifestPaths(m_newFiles), _targetPath, m_patchDir);
    deleteFiles(fileManifestPaths(m_delFiles), _targetPath);
}

void MergeThread::buildTasks()
{
    Logger::LogInfo(QStringLiteral("mergethread"), QStringLiteral("patchFile begin"));
    m_tasks.clear();
    m_patchProgress.clear();
    for (const QString &path : fileManifestPaths(m_patchFiles)) {
        Logger::LogInfo(QStringLiteral("mergethread"), QStringLiteral("=> %1").arg(path));
        PatchTask task;
        task.relativePath = path.left(path.indexOf(QLatin1String(".patch")));
        task.oldPath = QFileUtils::CombinePath(_targetPath, task.relativePath);
        task.diffPath = QFileUtils::CombinePath(m_patchDir, path);
        task.outPath = task.oldPath;
        m_tasks.append(task);
        m_patchProgress.insert(task.diffPath, qMakePair(m_patchFiles.value(path).size, qint32(0)));
    }
    Logger::LogInfo(QStringLiteral("mergethread"), QStringLiteral("patchFile end"));
}

bool MergeThread::runPatchTool(const PatchTask &task)
{
    const QString program = patchToolPath();
    QStringList arguments{ task.oldPath, task.diffPath, task.outPath, QStringLiteral("-f"), QStringLiteral("-s-1m"),
        QStringLiteral("-C-old-new-diff") };
    if (QFileUtils::IsDirExist(task.oldPath))
        arguments << QStringLiteral("-c");
    qDebug() << "MergeThread " << program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));

    int exitCode = 0;
    for (int attempt = 0; attempt < ToolAttempts; ++attempt) {
        // Created here, so that its output signal is delivered on this thread
        // while waitForFinished blocks.
        const auto process = std::make_unique<QProcess>();
        QProcess *p = process.get();
        connect(
            p, &QProcess::readyReadStandardOutput, p, [this, p, &task]() { readToolOutput(p, task); },
            Qt::DirectConnection);
        p->start(program, arguments, QIODevice::ReadWrite);
        const bool stopped = !waitForTool(*p);
        qDebug() << "hpatch.exe output:" << p->readAllStandardOutput();
        if (stopped) {
            p->kill();
            p->waitForFinished(-1);
            removeToolLeftovers(task.outPath);
            if (isInterruptionRequested()) {
                recordStopped();
                return false;
            }
            recordFileInUse(task.oldPath);
            qDebug() << "MergeThread "
                     << " 60min later,hpatchz.exe still running";
            return false;
        }
        // A tool that could not start or that crashed did not patch: without
        // this its exit code 0 would count as success.
        if (p->error() == QProcess::FailedToStart || p->exitStatus() == QProcess::CrashExit) {
            exitCode = -1;
            Logger::LogInfo(QStringLiteral("MergeThread error"),
                QStringLiteral("output is ") + program + QLatin1Char(' ') + p->errorString());
            if (p->error() == QProcess::FailedToStart && attempt + 1 == ToolAttempts) {
                // The patches before this one are in; the files after it never will be.
                needMd5CheckPaksDir = m_mergeIndex > 1;
                recordToolFailure(program, p->errorString());
                return false;
            }
            continue;
        }
        exitCode = p->exitCode();
        qDebug() << "MergeThread exitCode:" << exitCode;
        if (exitCode == 0)
            break;
        const QByteArray error = p->readAllStandardError();
        if (!error.isEmpty())
            Logger::LogInfo(
                QStringLiteral("MergeThread error"), QStringLiteral("output is %1").arg(QString::fromLocal8Bit(error)));
    }
    if (exitCode == 0)
        return true;
    needMd5CheckPaksDir = true;
    if (exitCode == ToolExitOutOfMemory || exitCode == ToolExitDiskFull) {
        m_bFatalError = true;
        m_errorString = exitCode == ToolExitOutOfMemory ? QStringLiteral("运行内存不足，请清理后重试。")
                                                        : QStringLiteral("磁盘空间不足，请清理后重试。");
        qDebug() << "MergeThread fatalError:" << m_errorString;
        return false;
    }
    return true;
}

// false when the tool is still running after the time-out or the owner asked
// the thread to stop.
bool MergeThread::waitForTool(QProcess &process)
{
    QElapsedTimer clock;
    clock.start();
    while (!process.waitForFinished(WaitSliceMs)) {
        if (process.state() == QProcess::NotRunning)
            return true;
        if (isInterruptionRequested() || clock.elapsed() >= toolTimeoutMs)
            return false;
    }
    return true;
}

void MergeThread::readToolOutput(QProcess *process, const PatchTask &task)
{
    const QString text = QString::fromLocal8Bit(process->readAllStandardOutput());
    qDebug() << "read patch progress:" << text;
    const QString marker = QStringLiteral("progress:(");
    const int at = text.indexOf(marker);
    if (at < 0)
        return;
    QString number = text.mid(at + marker.size());
    const int close = number.indexOf(QLatin1Char(')'));
    if (close >= 0)
        number.truncate(close);
    bool ok = false;
    const int value = number.toInt(&ok);
    if (!ok)
        return;
    auto it = m_patchProgress.find(task.diffPath);
    if (it == m_patchProgress.end())
        return;
    it->second = qBound(0, value, 100);
    emitPatchProgress();
}

void MergeThread::emitPatchProgress()
{
    quint64 total = 0;
    quint64 done = 0;
    for (const auto &entry : qAsConst(m_patchProgress)) {
        total += entry.first;
        // Multiplying first keeps whole percentages exact: 57 / 100.0 * 100
        // is 56.99..., which would truncate to 56.
        done = static_cast<quint64>(done + static_cast<double>(entry.second) * entry.first / 100.0);
    }
    emit MergeProgress(done, total, QVariant::fromValue<MergeStatus>(MergeStep::Patching));
}

void MergeThread::addNewFiles(const QStringList &paths, const QString &targetPath, const QString &patchDir)
{
    if (m_bFatalError)
        return;
    qulonglong count = 0;
    const qulonglong total = static_cast<qulonglong>(paths.size());
    for (const QString &path : paths) {
        ++count;
        const QString source = QFileUtils::CombinePath(patchDir, path);
        const QString destination = QFileUtils::CombinePath(targetPath, path);
        Logger::LogInfo(QStringLiteral("MergeThread"), QStringLiteral("AddFile %1 To %2").arg(source, destination));
        emit MergeProgress(count, total, QVariant::fromValue<MergeStatus>(MergeStep::Copying));
        if (QFileUtils::IsFileExist(source) && !QFileUtils::CopyOneFile(source, destination)) {
            recordFileInUse(destination);
            return;
        }
    }
}

void MergeThread::deleteFiles(const QStringList &paths, const QString &targetPath)
{
    if (m_bFatalError)
        return;
    qulonglong count = 0;
    const qulonglong total = static_cast<qulonglong>(paths.size());
    for (const QString &path : paths) {
        const QString full = QFileUtils::CombinePath(targetPath, path);
        ++count;
        emit MergeProgress(count, total, QVariant::fromValue<MergeStatus>(MergeStep::Deleting));
        const bool exists = QFileUtils::IsFileExist(full) || QFileUtils::IsDirExist(full);
        if (exists && !QFileUtils::DeleteFileOrFolder(full)) {
            recordFileInUse(full);
            return;
        }
        Logger::LogInfo(QStringLiteral("MergeThread"), QStringLiteral("DeleteFile %1").arg(full));
    }
}

void MergeThread::recordFileInUse(const QString &path)
{
    m_bFatalError = true;
    m_errorString = QStringLiteral("文件%1被占用中，无法修改或删除，请解除占用或者删除后再进行重试").arg(path);
}

} // namespace Morvaniel
