// Runs one block job and prints a line per report, so that a test can kill
// it at a chosen point: "progress <places done> <bytes fetched>", then
// "finished", "paused" or "error <code> <text>".
//
//   blockrun_child <folder> <channel url> <target index file> [<installed index file>]
//                  [--connections n] [--repair path]... [--small-disk size]
// --small-disk (POSIX, in a mount namespace of its own): a tmpfs of that size
// over the folder first; after the run "left <n>" counts what is in it.
#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockJob.h"
#include "core/BlockComponent.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <sys/mount.h>
#endif

namespace {

// What a failed mount exits with, so that the test can skip.
constexpr int MountFailed = 77;

bool mountSmallDisk(const QString &folder, const QString &size)
{
#ifdef Q_OS_UNIX
    const QByteArray options = "size=" + size.toLatin1();
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0)
        return true;
    std::printf("mount failed: %s\n", std::strerror(errno));
#else
    Q_UNUSED(folder)
    Q_UNUSED(size)
    std::printf("mount failed: no mounts here\n");
#endif
    return false;
}

} // namespace

using namespace Morvaniel;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    BlockJob job;
    QString smallDisk;
    for (int i = 0; i + 1 < args.size();) {
        if (args[i] == QLatin1String("--connections")) {
            job.connections = args[i + 1].toInt();
            args.erase(args.begin() + i, args.begin() + i + 2);
        } else if (args[i] == QLatin1String("--small-disk")) {
            smallDisk = args[i + 1];
            args.erase(args.begin() + i, args.begin() + i + 2);
        } else if (args[i] == QLatin1String("--repair")) {
            job.repairFiles << args[i + 1];
            args.erase(args.begin() + i, args.begin() + i + 2);
        } else {
            ++i;
        }
    }
    if (args.size() < 3)
        return 2;
    job.folder = args[0];
    if (!smallDisk.isEmpty() && !mountSmallDisk(job.folder, smallDisk))
        return MountFailed;
    job.channelUrl = args[1];
    auto read = [](const QString &path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    job.targetIndex = read(args[2]);
    job.targetIndexUrl = job.channelUrl + QStringLiteral("/blocks/") + QFileInfo(args[2]).fileName();
    if (args.size() > 3) {
        job.installedIndex = read(args[3]);
        job.installedIndexUrl = job.channelUrl + QStringLiteral("/blocks/") + QFileInfo(args[3]).fileName();
    }
    std::shared_ptr<BlockComponent> blocks = GetBlockComponent();
    blocks->RegistCallbackFunc([&](BlockCallbackInfo &info) {
        if (info.bFinished)
            std::printf("finished\n");
        else if (info.bPaused)
            std::printf("paused\n");
        else if (info.bError)
            std::printf("error %d %s\n", int(info.errorCode), qPrintable(info.errorString));
        else
            std::printf("progress %lld %lld\n", info.blocksDone, info.downloadedSize);
        std::fflush(stdout);
        if (info.bFinished || info.bPaused || info.bError) {
            std::printf("left %d\n",
                int(QDir(job.folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size()));
            std::fflush(stdout);
            app.exit(info.bFinished ? 0 : 1);
        }
    });
    std::printf("started\n");
    std::fflush(stdout);
    blocks->StartBlocks(job);
    return app.exec();
}
