#include "ArchivePipeline.h"

#include "FlowReporter.h"
#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "download/DownloadPieces.h"
#include "util/QFileUtils.h"

using namespace Morvaniel;

namespace HostFlow {

namespace {

// One archive extracting and one coming: the game plus two archives at most.
constexpr int MaxHeld = 2;

} // namespace

ArchivePipeline::ArchivePipeline(FlowPart &owner)
    : FlowPart(owner)
{
}

QString ArchivePipeline::key(const DownloadFile &archive)
{
    return archive.fileName + QLatin1Char('|') + archive.md5;
}

void ArchivePipeline::run(const Pack &pack, BeforeWrite beforeFirstWrite, std::function<void()> then)
{
    m_pack = pack;
    m_started = true;
    m_beforeFirstWrite = std::move(beforeFirstWrite);
    m_then = std::move(then);
    m_nextDownload = 0;
    m_fetching = false;
    m_attempt = 0;
    m_ready.clear();
    m_extracting = -1;
    m_extracted = 0;
    m_written = false;
    m_ended = false;
    m_error.reset();
    // A fresh download empties the cache folder: only while nothing of the pack is in it.
    m_resumeFirst = false;
    for (const DownloadFile &file : qAsConst(m_pack.archives))
        m_resumeFirst = m_resumeFirst || PieceGroup::started(file);
    pump();
}

QVector<DownloadFile> ArchivePipeline::left() const
{
    return m_pack.archives.mid(m_extracted);
}

int ArchivePipeline::held() const
{
    return (m_extracting >= 0 ? 1 : 0) + m_ready.size() + (m_fetching ? 1 : 0);
}

bool ArchivePipeline::background()
{
    return m_nextDownload < m_pack.archives.size() || runner().running();
}

void ArchivePipeline::pump()
{
    if (m_ended)
        return;
    if (m_error) {
        // Whatever still runs ends first: then the run fails, once.
        if (runner().running())
            return;
        m_ended = true;
        fail(*m_error);
        return;
    }
    if (m_extracting < 0 && !m_ready.isEmpty())
        extract(m_ready.takeFirst());
    if (!m_fetching && m_nextDownload < m_pack.archives.size() && held() < MaxHeld)
        download(m_nextDownload++);
    if (m_extracted == m_pack.archives.size() && !runner().running()) {
        m_ended = true;
        m_then();
    }
}

void ArchivePipeline::failed(const FlowError &error)
{
    if (!m_error)
        m_error = error;
    // The rest of the pack waits for the next run; an extraction under way finishes.
    runner().cancel(Stage::Download);
    runner().cancel(Stage::FilesInUse);
    pump();
}

void ArchivePipeline::failedToRecord(const QString &error)
{
    FlowError e;
    e.kind = Failure::NotWritable;
    e.path = InstallState::statePath(ctx().setting.InstallPath);
    e.message = error;
    failed(e);
}

void ArchivePipeline::download(int i)
{
    m_fetching = true;
    const DownloadFile file = m_pack.archives.at(i);
    const bool partial = PieceGroup::started(file);
    const bool resume = i > 0 || m_attempt > 0 || m_resumeFirst;
    // Kept while the download runs: a restart after a stall reads it again.
    ctx().downloadList = { file };
    qint64 before = m_pack.doneBytes;
    for (int k = 0; k < i; ++k)
        before += m_pack.archives.at(k).size;
    runner().downloadShare(before, m_pack.wholeBytes);
    runner().beside(false);
    const QString detail
        = QStringLiteral("full pack: %1%2").arg(file.fileName, partial ? QStringLiteral(" (resuming)") : QString());
    runner().download(resume, detail, [this, i](const StageEnd &end) {
        if (!end.ok) {
            m_fetching = false;
            FlowError error = end.error;
            error.message += QStringLiteral(" (run again to resume)");
            failed(error);
            return;
        }
        if (m_error) {
            // The run fails already (the download came back from another server meanwhile).
            m_fetching = false;
            pump();
            return;
        }
        check(i);
    });
}

void ArchivePipeline::check(int i)
{
    const DownloadFile file = m_pack.archives.at(i);
    ctx().downloadList = { file };
    runner().beside(background());
    runner().checkArchives([this, i, file](const StageEnd &end) {
        if (end.ok) {
            out().report().archives << file.fileName;
            m_fetching = false;
            m_attempt = 0;
            m_ready << i;
            pump();
            return;
        }
        out().warning(end.error.message);
        if (m_attempt == 0 && !m_error) {
            m_attempt = 1;
            download(i); // the bad archive was deleted: once more
            return;
        }
        m_fetching = false;
        FlowError twice = end.error;
        twice.message = QStringLiteral("the archives failed their MD5 check twice");
        failed(twice);
    });
}

void ArchivePipeline::extract(int i)
{
    m_extracting = i;
    if (m_written) {
        unpack(i);
        return;
    }
    // Asked once, before anything of the game is written.
    const QString game = ctx().setting.GamePath;
    runner().beside(background());
    runner().filesFree(game, [this, i](const StageEnd &end) {
        if (!end.ok) {
            m_extracting = -1;
            failed(end.error);
            return;
        }
        QString error;
        if (!m_beforeFirstWrite(error)) {
            m_extracting = -1;
            failedToRecord(error);
            return;
        }
        m_written = true;
        unpack(i);
    });
}

void ArchivePipeline::unpack(int i)
{
    const DownloadFile file = m_pack.archives.at(i);
    const bool keepTarget = m_extracted > 0 || m_pack.keepTarget;
    const bool quiet = background();
    if (quiet) {
        out().info(QStringLiteral("extracting %1 beside the download").arg(file.fileName),
            { { QStringLiteral("archive"), file.fileName } });
    }
    runner().beside(quiet);
    runner().extract({ file.localPath }, ctx().setting.GamePath, keepTarget, [this, i](const StageEnd &end) {
        if (!end.ok) {
            m_extracting = -1;
            failed(end.error);
            return;
        }
        extracted(i);
    });
}

void ArchivePipeline::extracted(int i)
{
    const DownloadFile file = m_pack.archives.at(i);
    const QString dir = ctx().setting.InstallPath;
    QString error;
    QStringList done = InstallState::extractedArchives(dir, m_pack.version);
    done << key(file);
    m_extracting = -1;
    // Recorded before it goes: a run killed in between finds it recorded.
    if (!InstallState::recordExtracted(dir, m_pack.version, done, error)) {
        failedToRecord(error);
        return;
    }
    QFileUtils::DeleteFileOrFolder(file.localPath);
    ++m_extracted;
    pump();
}

} // namespace HostFlow
