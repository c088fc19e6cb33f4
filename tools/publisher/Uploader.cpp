#include "Uploader.h"

#include "core/Global.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace Publisher {

namespace {

enum Step { Immutable, Documents, Guide, Release, Signature, StepCount };

Step stepOf(const QString &path)
{
    if (path.endsWith(QLatin1String(".7z")) || path.endsWith(QLatin1String(".bundle")))
        return Immutable;
    if (path.endsWith(QLatin1String("/release.json")))
        return Release;
    if (path.endsWith(QLatin1String("/release.json.sig")))
        return Signature;
    // <channel>/manifest.txt; a version's manifest lies one folder deeper.
    if (path.count(QLatin1Char('/')) == 1 && path.endsWith(QLatin1Char('/') + Global::Var::GuideManifestName))
        return Guide;
    return Documents;
}

bool runRclone(const QString &program, const QStringList &arguments, QString &error)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    // rclone bounds every connection itself (--contimeout, --timeout) and retries.
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        const QString said = QString::fromLocal8Bit(p.readAll()).trimmed();
        error = QStringLiteral("rclone %1 failed (%2): %3")
                    .arg(arguments.value(0),
                        p.error() == QProcess::FailedToStart ? p.errorString() : QString::number(p.exitCode()),
                        said.right(800));
        return false;
    }
    return true;
}

} // namespace

QStringList layoutFiles(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = QDir(root).relativeFilePath(it.next());
        if (!relative.startsWith(QLatin1String(".publish-work/")))
            files << relative;
    }
    files.sort();
    return files;
}

bool uploadPublication(const UploadOptions &options, const QString &root, const QStringList &written,
    const QStringList &removed, const ProgressFn &progress, QString &error)
{
    const QString rclone
        = options.rclone.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("rclone")) : options.rclone;
    if (rclone.isEmpty()) {
        error = QStringLiteral("rclone was not found on PATH (Debian: apt-get install rclone)");
        return false;
    }
    QTemporaryDir lists;
    if (!lists.isValid()) {
        error = QStringLiteral("cannot create a temporary folder: %1").arg(lists.errorString());
        return false;
    }
    const QStringList common{ QStringLiteral("--no-traverse"), QStringLiteral("--retries"), QStringLiteral("3"),
        QStringLiteral("--low-level-retries"), QStringLiteral("5"), QStringLiteral("--contimeout"),
        QStringLiteral("15s"), QStringLiteral("--timeout"), QStringLiteral("60s") };
    auto listFile = [&](const QString &name, const QStringList &paths) {
        const QString path = lists.filePath(name);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write((paths.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0)
            return QString();
        return path;
    };
    QVector<QStringList> steps(StepCount);
    for (const QString &path : written)
        if (!steps[stepOf(path)].contains(path))
            steps[stepOf(path)] << path;
    for (int s = 0; s < StepCount; ++s) {
        if (steps[s].isEmpty())
            continue;
        const QString list = listFile(QStringLiteral("step%1").arg(s), steps[s]);
        if (list.isEmpty()) {
            error = QStringLiteral("cannot write a file list in %1").arg(lists.path());
            return false;
        }
        if (progress)
            progress(QStringLiteral("uploading %1 files: %2%3")
                         .arg(steps[s].size())
                         .arg(steps[s].first(), steps[s].size() > 1 ? QStringLiteral(", ...") : QString()));
        if (!runRclone(rclone,
                QStringList{
                    QStringLiteral("copy"), root, options.destination, QStringLiteral("--files-from-raw"), list }
                    + common,
                error))
            return false;
    }
    if (!removed.isEmpty()) {
        const QString list = listFile(QStringLiteral("removed"), removed);
        if (progress)
            progress(QStringLiteral("removing %1 files from %2").arg(removed.size()).arg(options.destination));
        if (list.isEmpty()) {
            error = QStringLiteral("cannot write a file list in %1").arg(lists.path());
            return false;
        }
        if (!runRclone(rclone,
                QStringList{ QStringLiteral("delete"), options.destination, QStringLiteral("--files-from-raw"), list }
                    + common,
                error))
            return false;
    }
    return true;
}

} // namespace Publisher
