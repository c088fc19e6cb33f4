#include "blocks/BlockRun.h"

#include "blocks/BlockPool.h"
#include "blocks/BlockTransfer.h"
#include "blocks/FileTable.h"
#include "util/Logger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

namespace Morvaniel {

namespace {

const QString Tag = QStringLiteral("BlockRun");

// Local pieces queued on the pool at once: enough to keep its threads busy,
// few enough that fetched blocks, which go first, never wait long.
constexpr int LocalInFlight = 16;
constexpr int CheckpointTicks = 2;
constexpr int SpeedWindow = 10;

int poolThreads()
{
    return qBound(2, QThread::idealThreadCount(), 4);
}

// Removes the folders below root that held path and are empty now.
void removeEmptyFolders(const QString &root, const QString &path)
{
    QString dir = QFileInfo(path).absolutePath();
    const QString top = QDir(root).absolutePath();
    while (dir.startsWith(top + QLatin1Char('/'))
        && QDir(dir).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (!QDir().rmdir(dir))
            break;
        dir = QFileInfo(dir).absolutePath();
    }
}

} // namespace

BlockRun::BlockRun(BlockRunSetup setup, Report progress, Report final, QObject *parent)
    : QObject(parent)
    , m_setup(std::move(setup))
    , m_target(*m_setup.target)
    , m_progress(std::move(progress))
    , m_final(std::move(final))
    , m_files(std::make_unique<FileTable>())
    , m_pool(std::make_unique<BlockPool>(poolThreads()))
    , m_shape(m_setup.job.shape)
{
    m_info.cost = m_setup.plan.cost;
    m_info.bResumed = m_setup.resumed;
}

BlockRun::~BlockRun()
{
    abortTransfers();
    // The pool's threads touch the file table and the result list: both outlive them.
    m_pool.reset();
    m_files.reset();
}

void BlockRun::start()
{
    m_clock.start();
    setSpeedLimit(m_setup.job.speedLimitKiB);
    QString error;
    if (!m_journal.open(
            m_setup.staging + QStringLiteral("/journal"), m_setup.runDigest, m_setup.journal, m_setup.resumed, error)) {
        fail(BlockError::Disk, error);
        return;
    }
    buildPieces();
    Logger::LogInfo(Tag,
        QStringLiteral("block run for %1: %2 pieces, fetch %3 bytes in %4 blocks, copy %5, check %6, staged %7%8")
            .arg(m_target.version)
            .arg(m_pieces.size())
            .arg(m_setup.plan.cost.fetchBytes)
            .arg(m_setup.plan.cost.fetchBlocks)
            .arg(m_setup.plan.cost.copyBytes)
            .arg(m_setup.plan.cost.checkBytes)
            .arg(m_setup.plan.cost.stagedBytes)
            .arg(m_setup.resumed ? QStringLiteral(", resumed") : QString()));
    m_tick = new QTimer(this);
    connect(m_tick, &QTimer::timeout, this, &BlockRun::onTick);
    m_tick->start(1000);
    m_info.phase = 1;
    fillReport(m_info);
    if (m_progress)
        m_progress(m_info);
    if (m_setup.journal.commitBegun) {
        m_commitBegun = true;
        startFinish();
        return;
    }
    setUpNetwork();
    // Files that need no piece (new empty files, cut-only changes) are finished at once.
    for (int i = 0; i < m_fileStates.size(); ++i)
        maybeFinalize(quint32(i));
    m_started = true;
    feedLocal();
    dispatch();
    maybeComplete();
}

void BlockRun::buildPieces()
{
    const BlockPlan &plan = m_setup.plan;
    for (int i = 0; i < plan.files.size(); ++i) {
        const PlanFile &pf = plan.files[i];
        const IndexFile &f = m_target.files[int(pf.file)];
        FileState fs;
        fs.finalPath = m_setup.folder + QLatin1Char('/') + f.path;
        fs.staged = pf.staged;
        fs.path = pf.staged ? m_setup.staging + QStringLiteral("/files/%1.part").arg(pf.file) : fs.finalPath;
        fs.size = f.size;
        for (const PlanPiece &pp : pf.pieces) {
            Piece p;
            p.planFile = quint32(i);
            p.ref = pp.ref;
            p.source = pp.source;
            p.sourceFile = pp.sourceFile;
            p.sourceOffset = pp.sourceOffset;
            m_pieces.append(p);
            ++fs.left;
        }
        m_fileStates.append(fs);
    }
    m_filesLeft = m_fileStates.size();
    for (quint32 done : qAsConst(m_setup.journal.done)) {
        if (done >= quint32(m_pieces.size()) || m_pieces[int(done)].state == Piece::Done)
            continue;
        m_pieces[int(done)].state = Piece::Done;
        --m_fileStates[int(m_pieces[int(done)].planFile)].left;
        ++m_piecesDone;
    }
    for (quint32 unsure : qAsConst(m_setup.journal.unsure))
        if (unsure < quint32(m_pieces.size()) && m_pieces[int(unsure)].state != Piece::Done)
            m_pieces[int(unsure)].unsure = true;
    QSet<quint32> fetched;
    for (int i = 0; i < m_pieces.size(); ++i) {
        const Piece &p = m_pieces[i];
        const IndexBlock &b = m_target.blocks[int(m_target.refs[int(p.ref)].block)];
        if (p.source == PieceSource::Fetch)
            fetched.insert(m_target.refs[int(p.ref)].block);
        if (p.state == Piece::Done)
            continue;
        if (p.unsure || p.source != PieceSource::Fetch) {
            m_localTotal += b.size;
            m_localQueue.append(quint32(i));
        } else {
            m_waiting[m_target.refs[int(p.ref)].block].append(quint32(i));
        }
    }
    for (quint32 block : qAsConst(fetched)) {
        m_fetchTotal += m_target.blocks[int(block)].packedSize;
        if (!m_waiting.contains(block))
            m_fetchDone += m_target.blocks[int(block)].packedSize;
    }
    // The plan's order (bundle and offset), without the blocks already there.
    QVector<quint32> blocks;
    for (quint32 block : qAsConst(plan.fetchBlocks))
        if (m_waiting.contains(block))
            blocks.append(block);
    for (const BundleRequest &r : GroupBundleRequests(m_target, blocks, m_shape))
        m_requests.append(r);
    for (quint32 block : qAsConst(blocks))
        m_queued.insert(block);
}

QString BlockRun::pieceTarget(quint32 piece, qint64 &offset) const
{
    const Piece &p = m_pieces[int(piece)];
    offset = m_target.refs[int(p.ref)].offset;
    return m_fileStates[int(p.planFile)].path;
}

void BlockRun::post(std::function<Result(TaskScratch &)> task, bool urgent)
{
    ++m_tasks;
    m_pool->post([this, task = std::move(task)](TaskScratch &scratch) { pushResult(task(scratch)); }, urgent);
}

void BlockRun::pushResult(Result result)
{
    {
        std::lock_guard<std::mutex> lock(m_resultMutex);
        m_results.append(std::move(result));
    }
    if (!m_drainQueued.exchange(true))
        QMetaObject::invokeMethod(this, &BlockRun::drainResults, Qt::QueuedConnection);
}

void BlockRun::drainResults()
{
    m_drainQueued = false;
    QVector<Result> results;
    {
        std::lock_guard<std::mutex> lock(m_resultMutex);
        results.swap(m_results);
    }
    for (const Result &r : qAsConst(results)) {
        --m_tasks;
        switch (r.kind) {
        case Result::Local:
            onLocal(r);
            break;
        case Result::Block:
            onBlock(r);
            break;
        case Result::Finalize:
            onFinalize(r);
            break;
        case Result::Sync:
            onSync(r);
            break;
        case Result::Finish:
            onFinish(r);
            break;
        }
    }
    QString error;
    if (!m_journal.flush(error))
        fail(BlockError::Disk, error);
    if (m_ending == Running) {
        feedLocal();
        dispatch();
        readTransfers();
        maybeComplete();
    } else if (m_ending == Pausing || m_ending == Failing) {
        endWhenIdle();
    }
}

void BlockRun::feedLocal()
{
    while (m_ending == Running && m_localInFlight < LocalInFlight && m_localCursor < m_localQueue.size()) {
        const quint32 number = m_localQueue[m_localCursor++];
        Piece &p = m_pieces[int(number)];
        if (p.state != Piece::Pending)
            continue;
        p.state = Piece::Busy;
        ++m_localInFlight;
        const IndexRef &ref = m_target.refs[int(p.ref)];
        const IndexBlock &b = m_target.blocks[int(ref.block)];
        const FileState &fs = m_fileStates[int(p.planFile)];
        const BlockDigest digest = b.digest;
        const quint32 size = b.size;
        FileTable *files = m_files.get();
        std::function<BlockTasks::Outcome(TaskScratch &)> work;
        if (p.unsure || p.source == PieceSource::Keep) {
            // Where it was written (unsure), or where it is kept.
            const QString path = fs.path;
            const qint64 offset = ref.offset;
            work = [files, path, offset, size, digest](
                       TaskScratch &scratch) { return BlockTasks::check(*files, scratch, path, offset, size, digest); };
        } else {
            const QString source = p.copyFrom.isEmpty()
                ? m_setup.folder + QLatin1Char('/') + m_setup.plan.sources[int(p.sourceFile)]
                : p.copyFrom;
            const qint64 from = p.sourceOffset;
            const BlockTasks::Destination to{ fs.path, ref.offset, fs.size };
            work = [files, source, from, to, size, digest](TaskScratch &scratch) {
                return BlockTasks::copy(*files, scratch, source, from, to, size, digest);
            };
        }
        post(
            [number, work](TaskScratch &scratch) {
                Result r;
                r.kind = Result::Local;
                r.id = number;
                r.outcome = work(scratch);
                return r;
            },
            false);
    }
}

void BlockRun::onLocal(const Result &r)
{
    --m_localInFlight;
    Piece &p = m_pieces[int(r.id)];
    const quint32 size = m_target.blocks[int(m_target.refs[int(p.ref)].block)].size;
    m_localDone += size;
    const BlockTasks::Outcome::Code code = r.outcome.code;
    if (code == BlockTasks::Outcome::WriteFailed) {
        fail(BlockError::Disk, r.outcome.error);
        return;
    }
    if (p.unsure) {
        // A piece an earlier run wrote after its last checkpoint: kept if it is there, else done again.
        p.unsure = false;
        p.state = Piece::Pending;
        if (code == BlockTasks::Outcome::Ok) {
            pieceDone(r.id);
        } else if (p.source == PieceSource::Fetch) {
            toFetch(r.id);
        } else {
            m_localTotal += size;
            m_localQueue.append(r.id);
        }
        return;
    }
    if (code == BlockTasks::Outcome::Ok) {
        pieceDone(r.id);
        return;
    }
    // Not what the index says is there: the block comes from the server instead.
    if (p.source == PieceSource::Keep)
        ++m_repaired;
    Logger::LogInfo(Tag,
        QStringLiteral("%1 at %2 of %3 is not as listed; fetching it")
            .arg(m_target.blocks[int(m_target.refs[int(p.ref)].block)].digest.hex())
            .arg(m_target.refs[int(p.ref)].offset)
            .arg(m_fileStates[int(p.planFile)].finalPath));
    toFetch(r.id);
}

void BlockRun::toFetch(quint32 number)
{
    Piece &p = m_pieces[int(number)];
    p.source = PieceSource::Fetch;
    p.state = Piece::Pending;
    p.copyFrom.clear();
    const quint32 block = m_target.refs[int(p.ref)].block;
    if (!m_waiting.contains(block))
        m_fetchTotal += m_target.blocks[int(block)].packedSize;
    m_waiting[block].append(number);
    if (!m_inFlight.contains(block) && !m_queued.contains(block)) {
        m_extra.insert(block);
        m_queued.insert(block);
    }
}

void BlockRun::pieceDone(quint32 number)
{
    Piece &p = m_pieces[int(number)];
    p.state = Piece::Done;
    m_journal.append(BlockJournal::PieceDone, number);
    FileState &fs = m_fileStates[int(p.planFile)];
    if (p.source != PieceSource::Keep)
        m_dirty.insert(fs.path);
    --fs.left;
    ++m_piecesDone;
    maybeFinalize(p.planFile);
}

void BlockRun::maybeFinalize(quint32 planFile)
{
    FileState &fs = m_fileStates[int(planFile)];
    if (m_ending != Running || fs.left > 0 || fs.finalized || fs.finalizing)
        return;
    fs.finalizing = true;
    FileTable *files = m_files.get();
    const QString path = fs.path;
    const qint64 size = fs.size;
    post(
        [files, path, size, planFile](TaskScratch &) {
            Result r;
            r.kind = Result::Finalize;
            r.id = planFile;
            r.outcome = BlockTasks::finalize(*files, path, size);
            return r;
        },
        false);
}

void BlockRun::onFinalize(const Result &r)
{
    FileState &fs = m_fileStates[int(r.id)];
    fs.finalizing = false;
    if (r.outcome.code != BlockTasks::Outcome::Ok) {
        fail(BlockError::Disk, r.outcome.error);
        return;
    }
    fs.finalized = true;
    m_dirty.insert(fs.path);
    --m_filesLeft;
}

void BlockRun::maybeComplete()
{
    if (!m_started || m_ending != Running || m_filesLeft > 0 || m_tasks > 0 || activeTransfers() > 0
        || !m_waiting.isEmpty())
        return;
    startFinish();
}

void BlockRun::startFinish()
{
    m_ending = Finishing;
    m_info.phase = 2;
    if (m_commitBegun) {
        onSync(Result{ Result::Sync, 0, {}, -1, BlockTasks::Outcome() });
        return;
    }
    checkpoint(true);
}

void BlockRun::checkpoint(bool last)
{
    if (m_syncing)
        return;
    const quint32 covered = m_journal.pieceRecords();
    if (!last && covered == m_checkpointed)
        return;
    QString error;
    if (!m_journal.flush(error)) {
        fail(BlockError::Disk, error);
        return;
    }
    m_syncing = true;
    m_lastSync = last;
    const QStringList paths = m_dirty.values();
    m_dirty.clear();
    FileTable *files = m_files.get();
    post(
        [files, paths, covered](TaskScratch &) {
            Result r;
            r.kind = Result::Sync;
            r.bytes = covered;
            r.outcome = BlockTasks::sync(*files, paths);
            return r;
        },
        false);
}

void BlockRun::onSync(const Result &r)
{
    m_syncing = false;
    if (r.outcome.code != BlockTasks::Outcome::Ok) {
        fail(BlockError::Disk, r.outcome.error);
        return;
    }
    if (r.bytes >= 0) {
        m_journal.append(BlockJournal::Checkpoint, quint32(r.bytes));
        m_checkpointed = quint32(r.bytes);
    }
    if (m_ending != Finishing)
        return;
    if (!m_lastSync && !m_commitBegun) {
        // A routine sync was under way when the last piece landed: now the last one.
        checkpoint(true);
        return;
    }
    // Every piece is on disk: move the staged files into place, delete what the target lacks.
    QString error;
    if (!m_commitBegun) {
        m_journal.append(BlockJournal::CommitBegun);
        m_commitBegun = true;
    }
    if (!m_journal.flush(error)) {
        fail(BlockError::Disk, error);
        return;
    }
    m_files->closeAll();
    struct Move
    {
        QString from;
        QString to;
        qint64 size;
    };
    QVector<Move> moves;
    for (const FileState &fs : qAsConst(m_fileStates))
        if (fs.staged)
            moves.append(Move{ fs.path, fs.finalPath, fs.size });
    QStringList obsolete;
    for (const QString &path : qAsConst(m_setup.plan.obsolete))
        obsolete << m_setup.folder + QLatin1Char('/') + path;
    // Each old spelling with the target's spelling of the same name.
    QVector<QPair<QString, QString>> twins;
    for (const QString &path : qAsConst(m_setup.plan.caseTwins))
        for (const IndexFile &f : m_target.files)
            if (f.path.compare(path, Qt::CaseInsensitive) == 0)
                twins.append(
                    qMakePair(m_setup.folder + QLatin1Char('/') + path, m_setup.folder + QLatin1Char('/') + f.path));
    const QString folder = m_setup.folder;
    m_finishPosted = true;
    post(
        [moves, obsolete, twins, folder](TaskScratch &) {
            Result r;
            r.kind = Result::Finish;
            for (const Move &m : moves) {
                if (QFileInfo::exists(m.from)) {
                    QDir().mkpath(QFileInfo(m.to).absolutePath());
                    PositionalFile::Error e;
                    if (!PositionalFile::replace(m.from, m.to, e)) {
                        r.outcome.code = BlockTasks::Outcome::WriteFailed;
                        r.outcome.error = e.text;
                        return r;
                    }
                } else if (QFileInfo(m.to).size() != m.size) {
                    // Moved by an earlier run, or lost.
                    r.outcome.code = BlockTasks::Outcome::WriteFailed;
                    r.outcome.error = QStringLiteral("%1 is missing and %2 is not complete").arg(m.from, m.to);
                    return r;
                }
            }
            for (const QString &path : obsolete) {
                if (QFileInfo::exists(path) && !QFile::remove(path)) {
                    r.outcome.code = BlockTasks::Outcome::WriteFailed;
                    r.outcome.error = QStringLiteral("cannot delete %1").arg(path);
                    return r;
                }
                removeEmptyFolders(folder, path);
            }
            // Another spelling of a target file: delete it only where the folder
            // lists both names, that is where they are two files.
            for (const auto &twin : twins) {
                const QFileInfo old(twin.first);
                const QStringList names = old.dir().entryList(QDir::Files | QDir::Hidden | QDir::System);
                if (names.contains(old.fileName()) && names.contains(QFileInfo(twin.second).fileName()))
                    QFile::remove(twin.first);
            }
            return r;
        },
        false);
}

void BlockRun::onFinish(const Result &r)
{
    if (r.outcome.code != BlockTasks::Outcome::Ok) {
        fail(BlockError::Disk, r.outcome.error);
        return;
    }
    m_journal.close();
    m_files->closeAll();
    if (!QDir(m_setup.staging).removeRecursively())
        Logger::LogWarning(Tag, QStringLiteral("cannot remove %1").arg(m_setup.staging));
    if (m_tick)
        m_tick->stop();
    m_ending = Ended;
    finalReport(true);
}

void BlockRun::pause()
{
    if (m_ending != Running)
        return;
    Logger::LogInfo(Tag, QStringLiteral("pausing the block run"));
    m_ending = Pausing;
    abortTransfers();
    m_tasks -= m_pool->clearQueued();
    endWhenIdle();
}

void BlockRun::stop()
{
    if (m_ending == Running) {
        m_ending = Pausing;
        abortTransfers();
        m_tasks -= m_pool->clearQueued();
    }
    // Whatever is running is written and journaled before this returns; a
    // commit under way (moving staged files) is finished.
    while (m_tasks > 0 && !m_finalReported) {
        m_pool->waitIdle();
        drainResults();
    }
    endWhenIdle();
}

void BlockRun::fail(BlockError code, const QString &text)
{
    if (m_ending == Pausing || m_ending == Failing || m_ending == Ended)
        return;
    Logger::LogWarning(Tag, QStringLiteral("block run failed: %1").arg(text));
    m_error = code;
    m_errorText = text;
    m_ending = Failing;
    abortTransfers();
    m_tasks -= m_pool->clearQueued();
    endWhenIdle();
}

void BlockRun::endWhenIdle()
{
    if (m_tasks > 0 || m_ending == Ended || m_finalReported)
        return;
    QString error;
    m_journal.flush(error);
    m_journal.close();
    m_files->closeAll();
    if (m_tick)
        m_tick->stop();
    m_ending = Ended;
    finalReport(false);
}

void BlockRun::fillReport(BlockCallbackInfo &info)
{
    info.totalSize = m_fetchTotal;
    info.downloadedSize = m_fetchDone;
    info.localTotal = m_localTotal;
    info.localDone = m_localDone;
    info.wireBytes = m_wire;
    info.blocksTotal = m_pieces.size();
    info.blocksDone = m_piecesDone;
    info.repairedBlocks = m_repaired;
    const qint64 all = m_fetchTotal + m_localTotal;
    info.progress
        = all > 0 ? float(double(m_fetchDone + m_localDone) / double(all)) : (m_ending == Ended ? 1.0f : 0.0f);
}

void BlockRun::finalReport(bool finished)
{
    if (m_finalReported)
        return;
    m_finalReported = true;
    fillReport(m_info);
    m_info.phase = 3;
    m_info.bFinished = finished;
    m_info.bError = !finished && m_error != BlockError::None;
    m_info.bPaused = !finished && m_error == BlockError::None;
    m_info.errorCode = m_error;
    m_info.errorString = m_errorText;
    if (finished)
        m_info.progress = 1.0f;
    Logger::LogInfo(Tag,
        QStringLiteral("block run ended: %1, %2 of %3 block bytes fetched, %4 bytes received")
            .arg(finished            ? QStringLiteral("finished")
                    : m_info.bPaused ? QStringLiteral("paused")
                                     : m_errorText)
            .arg(m_fetchDone)
            .arg(m_fetchTotal)
            .arg(m_wire));
    // From the event loop: the host never gets the end of a run inside its own call.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_final)
                m_final(m_info);
        },
        Qt::QueuedConnection);
}

void BlockRun::onTick()
{
    if (m_ending == Ended)
        return;
    const qint64 delta = m_wire - m_lastWire;
    m_lastWire = m_wire;
    m_speedSamples.append(delta);
    if (m_speedSamples.size() > SpeedWindow)
        m_speedSamples.removeFirst();
    qint64 sum = 0;
    for (qint64 v : qAsConst(m_speedSamples))
        sum += v;
    m_info.speed = sum / m_speedSamples.size();
    fillReport(m_info);
    if (m_info.speed > 0)
        m_info.remainTime = int((m_info.totalSize - m_info.downloadedSize) / m_info.speed);
    if (++m_ticks % CheckpointTicks == 0 && m_ending == Running)
        checkpoint(false);
    if (m_ending == Running) {
        watchTransfers();
        dispatch();
        readTransfers();
    }
    if (m_progress && m_ending != Ended)
        m_progress(m_info);
}

} // namespace Morvaniel
