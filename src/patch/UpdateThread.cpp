#include "patch/UpdateThread.h"

#include "core/Global.h"
#include "manifest/ManifestPathCheck.h"
#include "util/FolderGuard.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"
#include "util/TrustedRelease.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("UpdateThread");

bool isUpdaterPath(const QString &path)
{
    return path.startsWith(Global::Var::UpdateGUI + QLatin1Char('/'));
}

// A failure to delete or replace one of these installers is no error: they
// are often still running or locked by the system installer.
bool isRedistributableInstaller(const QString &path)
{
    return path.contains(QLatin1String("dxwebsetup")) || path.contains(QLatin1String("vc_redist"))
        || path.contains(QLatin1String("MicrosoftEdgeWebview2Setup"));
}

QString fileInUseError(const QString &path)
{
    return QStringLiteral("文件%1被占用中，无法修改，请解除占用后再进行重试").arg(path);
}

void listFilesRecursively(const QString &folder, QStringList &files)
{
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        if (entry.isDir())
            listFilesRecursively(entry.absoluteFilePath(), files);
        else
            files.append(entry.absoluteFilePath());
    }
}

} // namespace

UpdateThread::UpdateThread(QObject *parent)
    : QThread(parent)
{
    connect(this, &QThread::finished, this, &UpdateThread::finishedThread);
}

UpdateThread::~UpdateThread() = default;

void UpdateThread::SetInput(
    const QString &targetDir, const QString &sourceDir, const QString &oldManifestText, const QString &newManifestText)
{
    m_targetDir = targetDir;
    m_sourceDir = sourceDir;
    m_oldManifestText = oldManifestText;
    m_newManifestText = newManifestText;
    // Checked here, on the owner's thread: the signed release is the run's
    // and may end while this thread works. No old manifest is no text to check.
    m_manifestsUsable
        = (oldManifestText.isEmpty()
              || TrustedRelease::textUsable(oldManifestText, QStringLiteral("the launcher's old file manifest"), Tag))
        && TrustedRelease::textUsable(newManifestText, QStringLiteral("the launcher's new file manifest"), Tag);
}

void UpdateThread::finishedThread()
{
}

bool UpdateThread::checkManifestPaths()
{
    QString bad;
    if (!FindUnsafeManifestPath(fileManifestPaths(m_oldManifest) + fileManifestPaths(m_newManifest), bad))
        return true;
    const QString error = UnsafeManifestPathError(bad);
    Logger::LogInfo(Tag, error);
    emit UpdateFinished(error);
    return false;
}

void UpdateThread::run()
{
    qDebug() << "running";
    if (!m_manifestsUsable) {
        emit UpdateFinished(QStringLiteral("file manifests not checked against the signed release, nothing updated"));
        return;
    }
    m_oldManifest = parseFileManifest(m_oldManifestText);
    m_newManifest = parseFileManifest(m_newManifestText);
    if (!checkManifestPaths())
        return;

    for (auto it = m_oldManifest.cbegin(); it != m_oldManifest.cend(); ++it) {
        const QString &path = it.key();
        if (isUpdaterPath(path) || m_newManifest.contains(path))
            continue;
        const QString full = QFileUtils::CombinePath(m_targetDir, path);
        Logger::LogInfo(Tag, QStringLiteral("Delete file %1").arg(full));
        if (!removeChecked(full))
            return;
    }

    const QString staging = stagingDir();
    const QString updaterSource
        = QDir::fromNativeSeparators(QFileUtils::CombinePath(m_sourceDir, Global::Var::UpdateGUI));
    // The staging folder is a name the host sets: one that is no folder of the
    // target's own (empty, or climbing out) is written to but never emptied.
    const bool stagingInsideTarget = FolderGuard::IsSameOrInside(staging, m_targetDir)
        && FolderGuard::ComparablePath(staging) != FolderGuard::ComparablePath(m_targetDir)
        && !FolderGuard::IsProtectedFolder(staging);
    if (!stagingInsideTarget)
        Logger::LogInfo(Tag, QStringLiteral("refusing to delete %1").arg(staging));
    else if (!removeChecked(staging))
        return;

    int total = 0;
    for (auto it = m_newManifest.cbegin(); it != m_newManifest.cend(); ++it) {
        if (!isUpdaterPath(it.key()))
            ++total;
    }
    QStringList updaterFiles;
    if (QFileUtils::IsDirExist(updaterSource))
        listFilesRecursively(updaterSource, updaterFiles);
    total += updaterFiles.size();
    int done = 0;

    copyTree(updaterSource, staging, true, done, total);

    for (auto it = m_newManifest.cbegin(); it != m_newManifest.cend(); ++it) {
        const QString &path = it.key();
        if (isUpdaterPath(path))
            continue;
        QString destination = QFileUtils::CombinePath(m_targetDir, path);
        const QString source = QFileUtils::CombinePath(m_sourceDir, path);
        Logger::LogInfo(Tag, QStringLiteral("copy %1 to %2").arg(source, destination));
        // The launcher's background video may be playing right now; the new
        // one waits beside it.
        if (destination.contains(QLatin1String("bg.wmv")))
            destination += QLatin1String(".copy");
        if (!QFileUtils::CopyOneFile(source, destination) && !isRedistributableInstaller(source)) {
            emit UpdateFinished(fileInUseError(destination));
            return;
        }
        ++done;
        emit UpdateProgress(done, total);
    }

    if (done != total) {
        // Some updater file could not be staged: say so instead of leaving the
        // host waiting for an end that never comes. The source stays for a retry.
        const QString error = QStringLiteral("更新程序文件复制不完整（%1/%2），请重试").arg(done).arg(total);
        Logger::LogInfo(Tag, error);
        emit UpdateFinished(error);
        return;
    }
    removeSource();
    emit UpdateFinished(QString());
}

// The package is unpacked into a folder of its own ("UnZip/launcher_1.1"),
// and that folder's parent (the download cache) goes with it. The parent may
// lie inside the target - the default cache is a folder of the program's -
// as long as none of the files just placed lies in it. Where it holds the
// target or the program, only the source folder goes, and not even that when
// it holds them itself.
void UpdateThread::removeSource()
{
    const auto disposable = [this](const QString &folder) {
        return !FolderGuard::IsProtectedFolder(folder) && !FolderGuard::IsSameOrInside(m_targetDir, folder);
    };
    const QString parent = QFileUtils::GetParentPath(m_sourceDir);
    if (disposable(parent) && (!FolderGuard::IsSameOrInside(parent, m_targetDir) || !holdsPlacedFiles(parent)))
        QFileUtils::DeleteFileOrFolder(parent);
    else if (disposable(m_sourceDir))
        QFileUtils::DeleteFileOrFolder(m_sourceDir);
    else
        Logger::LogInfo(Tag, QStringLiteral("source folder %1 holds the target or the program, kept").arg(m_sourceDir));
}

bool UpdateThread::holdsPlacedFiles(const QString &folder) const
{
    if (FolderGuard::IsSameOrInside(stagingDir(), folder) || FolderGuard::IsSameOrInside(folder, stagingDir()))
        return true;
    for (auto it = m_newManifest.cbegin(); it != m_newManifest.cend(); ++it) {
        if (!isUpdaterPath(it.key())
            && FolderGuard::IsSameOrInside(QFileUtils::CombinePath(m_targetDir, it.key()), folder))
            return true;
    }
    return false;
}

QString UpdateThread::stagingDir() const
{
    return QDir::fromNativeSeparators(QFileUtils::CombinePath(m_targetDir, Global::Var::UpdateGUITemp));
}

bool UpdateThread::removeChecked(const QString &path)
{
    qDebug() << "cannotDeleteFileOrFolder" << path;
    if (!QFileUtils::IsFileExist(path) && !QFileUtils::IsDirExist(path))
        return true;
    if (QFileUtils::DeleteFileOrFolder(path))
        return true;
    if (isRedistributableInstaller(path)) {
        qDebug() << path << " is using ";
        return true;
    }
    emit UpdateFinished(fileInUseError(path));
    return false;
}

bool UpdateThread::copyTree(const QString &sourceDir, const QString &destinationDir, bool replace, int &done, int total)
{
    QDir destination(destinationDir);
    if (!destination.exists() && !destination.mkpath(destination.absolutePath()))
        return false;
    const QFileInfoList entries = QDir(sourceDir).entryInfoList();
    for (const QFileInfo &entry : entries) {
        if (entry.fileName() == QLatin1String(".") || entry.fileName() == QLatin1String(".."))
            continue;
        const QString target = destination.filePath(entry.fileName());
        if (entry.isDir()) {
            if (!copyTree(entry.absoluteFilePath(), target, replace, done, total))
                return false;
            continue;
        }
        if (replace && QFileInfo::exists(target))
            QFile::remove(target);
        if (!QFile::copy(entry.absoluteFilePath(), target))
            return false;
        ++done;
        emit UpdateProgress(done, total);
        Logger::LogInfo(Tag, QStringLiteral("move file %1 => %2").arg(entry.absoluteFilePath(), target));
    }
    return true;
}

} // namespace Morvaniel
