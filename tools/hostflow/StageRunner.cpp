#include "StageRunner.h"

#include "BlockStage.h"
#include "FetchStage.h"
#include "FlowReporter.h"
#include "WorkerStages.h"

#include "blocks/BlockJob.h"
#include "core/CoreSystem.h"
#include "core/GameUpdateContext.h"

#include <QPointer>
#include <QTimer>

#include <utility>

using namespace Morvaniel;

namespace HostFlow {

QString stageName(Stage stage)
{
    switch (stage) {
    case Stage::Fetch:
        return QStringLiteral("fetch");
    case Stage::Download:
        return QStringLiteral("download");
    case Stage::CheckArchives:
        return QStringLiteral("verify-archives");
    case Stage::FilesInUse:
        return QStringLiteral("in-use-check");
    case Stage::Extract:
        return QStringLiteral("extract");
    case Stage::Merge:
        return QStringLiteral("merge");
    case Stage::CheckInstall:
        return QStringLiteral("verify-install");
    case Stage::UpdateFiles:
        return QStringLiteral("update");
    case Stage::Blocks:
        return QStringLiteral("blocks");
    }
    return QString();
}

void StageHandler::finish(StageEnd end)
{
    m_runner.post(*this, std::move(end));
}

FlowReporter &StageHandler::reporter()
{
    return m_runner.reporter();
}

bool StageHandler::inView() const
{
    return m_runner.inView(*this);
}

StageRunner::StageRunner(FlowReporter &reporter, QObject *parent)
    : QObject(parent)
    , m_reporter(reporter)
    , m_fetch(new FetchStage(*this))
    , m_download(new DownloadStage(*this))
    , m_checkArchives(new VerifyStage(*this, Stage::CheckArchives))
    , m_inUse(new InUseStage(*this))
    , m_extract(new UnZipStage(*this))
    , m_merge(new PatchStage(*this, Stage::Merge))
    , m_checkInstall(new VerifyStage(*this, Stage::CheckInstall))
    , m_updateFiles(new PatchStage(*this, Stage::UpdateFiles))
    , m_blocks(new BlockStage(*this))
{
    m_handlers[int(Stage::Fetch)] = m_fetch.get();
    m_handlers[int(Stage::Download)] = m_download.get();
    m_handlers[int(Stage::CheckArchives)] = m_checkArchives.get();
    m_handlers[int(Stage::FilesInUse)] = m_inUse.get();
    m_handlers[int(Stage::Extract)] = m_extract.get();
    m_handlers[int(Stage::Merge)] = m_merge.get();
    m_handlers[int(Stage::CheckInstall)] = m_checkInstall.get();
    m_handlers[int(Stage::UpdateFiles)] = m_updateFiles.get();
    m_handlers[int(Stage::Blocks)] = m_blocks.get();
    // The library's workers are made on first use, on the GUI thread.
    GetCoreSystemInstance();
}

StageRunner::~StageRunner()
{
    for (Running &r : m_running) {
        if (!r.handler || r.endPosted)
            continue;
        // The worker's own thread must not go on writing the game for nobody;
        // the library keeps the callbacks, which point into this runner.
        if (r.handler == m_blocks.get())
            m_blocks->quit(); // nothing in flight once the runner is gone
        else
            r.handler->stop();
    }
    for (StageHandler *handler : m_handlers)
        handler->release();
}

GameUpdateContext &StageRunner::context()
{
    return *GetCoreSystemInstance()->GetCurGameUpdateContext();
}

bool StageRunner::running() const
{
    for (const Running &r : m_running) {
        if (r.handler)
            return true;
    }
    return false;
}

bool StageRunner::inView(const StageHandler &handler) const
{
    for (const Running &r : m_running) {
        if (r.handler == &handler)
            return !r.background;
    }
    return true;
}

void StageRunner::reset(const FlowOptions &options)
{
    m_stopping = false;
    m_stopEnd.reset();
    m_servers.reset(options);
}

bool StageRunner::switchServer(const FlowError &reason)
{
    const QString from = m_servers.current();
    if (m_stopping || !m_servers.skip())
        return false;
    const QString to = m_servers.current();
    m_servers.rebase(context());
    const QString why = reason.message.isEmpty() ? reason.detail : reason.message;
    m_reporter.switchedServer(from, to, why);
    return true;
}

bool StageRunner::retryElsewhere(const StageEnd &end, const QString &detail, bool background, Next &next)
{
    if (!ServerList::failedByServer(end) || !switchServer(end.error))
        return false;
    // Where other stages still run (an extraction beside a download), the
    // stage goes on beside them as it did; a download keeps its share of the
    // progress figure.
    const auto again = [this, background](bool download) {
        beside(background);
        if (download)
            downloadShare(m_download->shareBefore(), m_download->shareWhole());
    };
    switch (end.stage) {
    case Stage::Fetch:
        m_fetch->setRequest(m_servers.rebased(m_fetch->url()), m_fetch->maxBytes());
        again(false);
        start(Stage::Fetch, m_fetch->url(), std::move(next));
        return true;
    case Stage::Download:
        // The partial files stay: the next server is asked for the rest only.
        again(true);
        download(true, detail, std::move(next));
        return true;
    case Stage::CheckArchives:
        // The archives that failed are deleted; the others are whole and stay.
        again(true);
        download(true, QString(), [this, background, next = std::move(next)](const StageEnd &loaded) {
            if (!loaded.ok) {
                next(loaded);
                return;
            }
            beside(background);
            checkArchives(next);
        });
        return true;
    case Stage::Blocks:
        // The worker's journal keeps what it wrote: the same job goes on.
        m_blocks->rebase(m_servers);
        again(false);
        start(Stage::Blocks, detail, std::move(next));
        return true;
    default:
        return false;
    }
}

void StageRunner::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    for (Running &r : m_running) {
        if (r.handler && !r.endPosted)
            r.handler->stop();
    }
}

void StageRunner::cancel(Stage stage)
{
    Running &r = m_running[int(stage)];
    if (r.handler && !r.endPosted)
        r.handler->stop();
}

void StageRunner::beside(bool background)
{
    m_nextBeside = true;
    m_nextBackground = background;
}

void StageRunner::downloadShare(qint64 before, qint64 whole)
{
    m_shareBefore = before;
    m_shareWhole = whole;
}

void StageRunner::start(Stage stage, const QString &detail, Next next)
{
    const bool beside = std::exchange(m_nextBeside, false);
    const bool background = std::exchange(m_nextBackground, false);
    Q_ASSERT(beside || !running());
    Running &r = m_running[int(stage)];
    Q_ASSERT(!r.handler);
    r.handler = m_handlers[int(stage)];
    r.endPosted = false;
    r.background = background;
    r.detail = detail;
    r.next = std::move(next);
    if (m_stopping) {
        StageEnd end;
        end.stage = stage;
        post(*r.handler, end);
        return;
    }
    emit m_reporter.stageStarted(stage, detail, background);
    r.handler->start(context());
}

void StageRunner::post(const StageHandler &handler, StageEnd end)
{
    for (int kind = 0; kind < StageCount; ++kind) {
        Running &r = m_running[kind];
        if (r.handler != &handler || r.endPosted)
            continue;
        r.endPosted = true;
        QTimer::singleShot(0, this, [this, kind, end]() { ended(kind, end); });
        return;
    }
}

void StageRunner::ended(int kind, StageEnd end)
{
    Running &r = m_running[kind];
    StageHandler *handler = r.handler;
    const bool background = r.background;
    const QString detail = r.detail;
    Next next = std::move(r.next);
    r = Running();
    if (handler)
        handler->release();
    if (end.stage != Stage::Fetch && !background)
        emit m_reporter.progressEnded();
    if (m_stopping && !end.ok) {
        if (!m_stopEnd)
            m_stopEnd = end;
        stoppedWhenIdle();
        return;
    }
    const QPointer<StageRunner> alive(this);
    if (!end.ok && retryElsewhere(end, detail, background, next))
        return;
    if (next)
        next(end);
    // A stage that finished beside one the stop ended: the run ends with the last.
    if (alive)
        stoppedWhenIdle();
}

void StageRunner::stoppedWhenIdle()
{
    if (!m_stopping || !m_stopEnd || running())
        return;
    const StageEnd end = *std::exchange(m_stopEnd, std::nullopt);
    if (m_stopped)
        m_stopped(end);
}

void StageRunner::fetchText(const QString &url, Next next)
{
    m_fetch->setRequest(m_servers.rebased(url), 0);
    start(Stage::Fetch, m_fetch->url(), std::move(next));
}

void StageRunner::fetchBytes(const QString &url, qint64 maxBytes, Next next)
{
    m_fetch->setRequest(m_servers.rebased(url), maxBytes);
    start(Stage::Fetch, m_fetch->url(), std::move(next));
}

void StageRunner::download(bool resume, const QString &detail, Next next)
{
    m_download->setResume(resume);
    m_download->setShare(std::exchange(m_shareBefore, 0), std::exchange(m_shareWhole, 0));
    m_servers.rebase(context());
    start(Stage::Download, detail, std::move(next));
}

void StageRunner::checkArchives(Next next)
{
    GameUpdateContext &c = context();
    c.verifySingle = true;
    c.updateMode = UpdateModeUpdate;
    c.verifyFileList.clear();
    c.verifyMd5List.clear();
    for (const DownloadFile &file : qAsConst(c.downloadList)) {
        c.verifyFileList.append(file.localPath);
        c.verifyMd5List.append(file.md5);
    }
    start(Stage::CheckArchives, QString(), std::move(next));
}

void StageRunner::filesFree(const QString &folder, Next next)
{
    m_inUse->setFolder(folder);
    start(Stage::FilesInUse, folder, std::move(next));
}

void StageRunner::extract(const QStringList &archives, const QString &target, bool keepTarget, Next next)
{
    GameUpdateContext &c = context();
    c.unzipFiles = archives.toVector();
    c.unzipTargetDir = target;
    c.updateMode = keepTarget ? UpdateModeRepair : UpdateModeUpdate;
    start(Stage::Extract, target, std::move(next));
}

void StageRunner::merge(const QString &patchDir, const QString &target, const QString &temp, Next next)
{
    GameUpdateContext &c = context();
    c.bGameUpdate = true;
    c.patchDir = patchDir;
    c.mergeTargetPath = target;
    c.mergeTempPath = temp;
    c.skipPatchFiles = false;
    start(Stage::Merge, target, std::move(next));
}

void StageRunner::checkInstall(const QString &folder, const QString &manifest, bool byMd5, Next next)
{
    GameUpdateContext &c = context();
    c.verifySingle = false;
    c.verifyFolder = folder;
    c.verifyManifestText = manifest;
    c.needMd5Check = byMd5;
    c.needMd5CheckPaksDir = byMd5;
    // Failure collection: every file by MD5, every failure listed. Without
    // it the verifier compares sizes and stops at the first difference.
    c.updateMode = byMd5 ? UpdateModeRepair : UpdateModeUpdate;
    m_checkInstall->setByMd5(byMd5);
    start(Stage::CheckInstall, folder, std::move(next));
}

void StageRunner::updateFiles(
    const QString &target, const QString &source, const QString &oldManifest, const QString &newManifest, Next next)
{
    GameUpdateContext &c = context();
    c.bGameUpdate = false;
    c.updateTargetDir = target;
    c.updateSourceDir = source;
    c.oldFileManifestText = oldManifest;
    c.newFileManifestText = newManifest;
    start(Stage::UpdateFiles, target, std::move(next));
}

void StageRunner::blocks(const BlockJob &job, const QString &detail, Next next)
{
    m_blocks->setJob(job);
    m_blocks->rebase(m_servers);
    const int limit = context().setting.LimitSpeed;
    m_blocks->setSpeedLimit(limit);
    start(Stage::Blocks, detail, std::move(next));
}

void StageRunner::answerFilesInUse(bool retry)
{
    if (running(Stage::FilesInUse))
        m_inUse->answer(retry);
}

void StageRunner::setSpeedLimit(int kib)
{
    m_download->setSpeedLimit(kib);
    m_blocks->setSpeedLimit(kib);
    // The next block run of this run starts with it too.
    context().setting.LimitSpeed = kib < 1 ? -1 : kib;
}

qint64 StageRunner::bytesDownloaded() const
{
    return m_download->bytesDownloaded() + m_blocks->bytesDownloaded();
}

} // namespace HostFlow
