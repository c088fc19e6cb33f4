#include "blocks/BlockRunSetup.h"

#include "trust/ReleaseListing.h"
#include "util/Blake2b.h"
#include "util/FolderGuard.h"
#include "util/FreeSpace.h"
#include "util/Sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace Morvaniel {

namespace {

const QByteArray SizesMagic = "MVBLKSZ1";
// Made first in a new staging folder: whatever else is there then is the run's.
const QString Marker = QStringLiteral("/.morvaniel-staging");

bool refuse(BlockError &code, QString &error, BlockError why, const QString &text)
{
    code = why;
    error = text;
    return false;
}

// Signed releases: the bytes as fetched must be the ones the accepted release lists.
bool listedAs(const QString &url, const QByteArray &bytes, QString &error)
{
    ListedFile listed;
    if (!ReleaseListing::lookup(url, listed)) {
        error = QStringLiteral("%1 is not listed in the signed release").arg(url);
        return false;
    }
    if (listed.size != bytes.size() || listed.blake2b != Blake2b::hash(bytes)) {
        error = QStringLiteral("%1 does not match the signed release").arg(url);
        return false;
    }
    return true;
}

QByteArray runDigestOf(const BlockJob &job)
{
    Sha256 h;
    const QByteArray target = Sha256::hash(job.targetIndex);
    const QByteArray installed = Sha256::hash(job.installedIndex);
    QStringList repair = job.repairFiles;
    std::sort(repair.begin(), repair.end());
    const QByteArray options
        = (QStringLiteral("check=%1;repair=").arg(job.checkInPlace ? 1 : 0) + repair.join(QLatin1Char('\n'))).toUtf8();
    h.addData(target.constData(), std::size_t(target.size()));
    h.addData(installed.constData(), std::size_t(installed.size()));
    h.addData(options.constData(), std::size_t(options.size()));
    QByteArray out(Sha256::DigestSize, Qt::Uninitialized);
    h.result(reinterpret_cast<unsigned char *>(out.data()));
    return out;
}

QString sizesPath(const QString &staging)
{
    return staging + QStringLiteral("/sizes");
}

bool readSizes(const QString &path, LocalFolderState &local)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> lines = f.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != SizesMagic)
        return false;
    for (int i = 1; i < lines.size(); ++i) {
        if (lines[i].isEmpty())
            continue;
        const int bar = lines[i].indexOf('|');
        bool ok = false;
        const qint64 size = bar > 0 ? lines[i].left(bar).toLongLong(&ok) : -1;
        if (!ok || size < -1)
            return false;
        local.sizes.insert(QString::fromUtf8(lines[i].mid(bar + 1)), size);
    }
    return true;
}

bool writeSizes(const QString &path, const LocalFolderState &local, QString &error)
{
    QByteArray text = SizesMagic + '\n';
    for (auto it = local.sizes.cbegin(); it != local.sizes.cend(); ++it)
        text += QByteArray::number(it.value()) + '|' + it.key().toUtf8() + '\n';
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace

QString BlockJob::effectiveStagingFolder() const
{
    return stagingFolder.isEmpty() ? QDir(folder).absolutePath() + QStringLiteral("/.morvaniel-blocks")
                                   : QDir(stagingFolder).absolutePath();
}

bool PrepareBlockRun(const BlockJob &job, BlockRunSetup &setup, BlockError &code, QString &error)
{
    setup = BlockRunSetup();
    setup.job = job;
    if (job.folder.isEmpty() || job.channelUrl.isEmpty())
        return refuse(
            code, error, BlockError::BadIndex, QStringLiteral("a block job needs a folder and a channel address"));
    setup.folder = QDir::cleanPath(QDir(job.folder).absolutePath());
    setup.staging = QDir::cleanPath(job.effectiveStagingFolder());
    // The staging folder is removed as a whole at the end: it must be the run's own.
    if (FolderGuard::IsProtectedFolder(setup.staging) || FolderGuard::IsSameOrInside(setup.folder, setup.staging))
        return refuse(code, error, BlockError::InTheWay,
            QStringLiteral("%1 cannot serve as the staging folder of %2").arg(setup.staging, setup.folder));
    // Ours when empty or marked as a run's.
    const QDir staging(setup.staging);
    if (staging.exists() && !staging.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
        && !QFileInfo::exists(setup.staging + Marker))
        return refuse(code, error, BlockError::InTheWay,
            QStringLiteral("%1 holds files of something else; a block run needs a staging folder of its own")
                .arg(setup.staging));

    auto target = std::make_shared<BlockIndex>();
    if (!BlockIndex::parse(job.targetIndex, *target, error))
        return refuse(code, error, BlockError::BadIndex, error);
    BlockIndex installed;
    const bool hasInstalled = !job.installedIndex.isEmpty();
    if (hasInstalled && !BlockIndex::parse(job.installedIndex, installed, error))
        return refuse(code, error, BlockError::BadIndex, QStringLiteral("installed version's %1").arg(error));
    if (ReleaseListing::required()) {
        if (!listedAs(job.targetIndexUrl, job.targetIndex, error)
            || (hasInstalled && !listedAs(job.installedIndexUrl, job.installedIndex, error)))
            return refuse(code, error, BlockError::Untrusted, error);
        QString base = job.channelUrl;
        while (base.endsWith(QLatin1Char('/')))
            base.chop(1);
        for (const IndexBundle &b : target->bundles) {
            const QString url = base + QLatin1Char('/') + BlockIndex::bundlePath(b.digest);
            ListedFile listed;
            if (!ReleaseListing::lookup(url, listed) || listed.size != b.size)
                return refuse(code, error, BlockError::Untrusted,
                    QStringLiteral("%1 is not listed in the signed release with %2 bytes").arg(url).arg(b.size));
        }
    }
    for (const QString &path : job.repairFiles)
        if (target->findFile(path) < 0)
            return refuse(code, error, BlockError::BadIndex,
                QStringLiteral("%1 is not a file of version %2").arg(path, target->version));

    setup.runDigest = runDigestOf(job);
    setup.target = target;
    const QString journal = setup.staging + QStringLiteral("/journal");
    LocalFolderState local;
    setup.resumed = BlockJournal::belongsTo(journal, setup.runDigest) && readSizes(sizesPath(setup.staging), local);
    if (!setup.resumed) {
        local = LocalFolderState();
        for (const QString &path : PlannedPaths(*target, hasInstalled ? &installed : nullptr)) {
            const QFileInfo info(setup.folder + QLatin1Char('/') + path);
            local.sizes.insert(path, info.isFile() ? info.size() : -1);
        }
    }
    PlanOptions options;
    options.checkInPlace = job.checkInPlace;
    options.repairFiles = job.repairFiles;
    options.shape = job.shape;
    options.patchChainBytes = job.patchChainBytes;
    setup.plan = PlanBlocks(*target, hasInstalled ? &installed : nullptr, local, options);
    setup.localAtStart = local;
    return true;
}

bool OpenBlockRun(BlockRunSetup &setup, BlockError &code, QString &error)
{
    if (!setup.resumed) {
        // Before anything is written: room for what the run adds. (A resumed
        // run took its room when it began.)
        if (!FreeSpace::check({ { setup.folder, setup.plan.cost.diskBytes } }, error))
            return refuse(code, error, BlockError::Disk, error);
        // Another job's leftovers: its staged files and journal mean nothing to this one.
        QDir(setup.staging).removeRecursively();
        QFile marker(setup.staging + Marker);
        if (!QDir().mkpath(setup.staging) || !marker.open(QIODevice::WriteOnly))
            return refuse(code, error, BlockError::Disk, QStringLiteral("cannot create %1").arg(setup.staging));
        marker.close();
        if (!writeSizes(sizesPath(setup.staging), setup.localAtStart, error))
            return refuse(code, error, BlockError::Disk, error);
        if (!QDir().mkpath(setup.staging + QStringLiteral("/files")))
            return refuse(code, error, BlockError::Disk, QStringLiteral("cannot create %1/files").arg(setup.staging));
    }
    for (const QString &path : qAsConst(setup.plan.inTheWay)) {
        const QString full = setup.folder + QLatin1Char('/') + path;
        if (QFileInfo(full).isFile() && !QFile::remove(full))
            return refuse(
                code, error, BlockError::InTheWay, QStringLiteral("cannot delete %1, which is in the way").arg(full));
    }
    return true;
}

} // namespace Morvaniel
