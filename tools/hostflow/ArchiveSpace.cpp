#include "ArchiveSpace.h"

#include "core/GameUpdateContext.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <functional>

using namespace Morvaniel;

namespace HostFlow::ArchiveSpace {

namespace {

qint64 archiveBytesLeft(const GameUpdateContext &ctx, qint64 *total = nullptr)
{
    qint64 left = 0;
    qint64 all = 0;
    for (const DownloadFile &file : ctx.downloadList) {
        const QFileInfo partial(file.localPath);
        left += qMax<qint64>(0, file.size - (partial.isFile() ? partial.size() : 0));
        all += file.size;
    }
    if (total)
        *total = all;
    return left;
}

} // namespace

QVector<FreeSpace::Need> fullPack(const GameUpdateContext &ctx)
{
    // Two archives at most are on disk at once: one extracting, one coming
    // (ArchivePipeline); the two largest stand for them.
    QVector<qint64> left;
    for (const DownloadFile &file : ctx.downloadList) {
        const QFileInfo partial(file.localPath);
        left << qMax<qint64>(0, file.size - (partial.isFile() ? partial.size() : 0));
    }
    std::sort(left.begin(), left.end(), std::greater<qint64>());
    const qint64 cache = (left.size() > 0 ? left.at(0) : 0) + (left.size() > 1 ? left.at(1) : 0);
    const QDir game(ctx.setting.GamePath);
    qint64 files = 0;
    for (const PackFileInfo &file : ctx.newestInfo.fullPackFiles) {
        const QFileInfo there(game.filePath(file.path));
        files += qMax<qint64>(0, file.size - (there.isFile() ? there.size() : 0));
    }
    return { { ctx.setting.CachePath, cache }, { ctx.setting.GamePath, files } };
}

QVector<FreeSpace::Need> patchStep(const GameUpdateContext &ctx)
{
    qint64 total = 0;
    const qint64 left = archiveBytesLeft(ctx, &total);
    return { { ctx.setting.CachePath, left }, { ctx.setting.UnZipPath, total } };
}

} // namespace HostFlow::ArchiveSpace
