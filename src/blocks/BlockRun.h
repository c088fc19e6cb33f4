#pragma once

#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockJob.h"
#include "blocks/BlockJournal.h"
#include "blocks/BlockPlan.h"
#include "blocks/BlockTasks.h"
#include "blocks/RangeReplyParser.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

namespace Morvaniel {

class BlockPool;
class FileTable;
class TaskScratch;

// Everything a run needs, prepared and checked before anything is written
// (see BlockRunSetup).
struct BlockRunSetup
{
    BlockJob job;
    std::shared_ptr<const BlockIndex> target;
    BlockPlan plan;
    LocalFolderState localAtStart; // the sizes the plan was made from
    QString folder; // absolute
    QString staging; // absolute
    BlockJournal::State journal;
    bool resumed = false;
    QByteArray runDigest;
};

// One block run: the plan carried out. Local pieces (blocks kept or moved
// inside the folder) and fetched blocks are checked, unpacked and written on
// a small pool of threads; requests, the journal and every report live on the
// thread that created the run. Reports go to the two functions given; the
// final one is made exactly once.
class BlockRun : public QObject
{
    Q_OBJECT

public:
    using Report = std::function<void(BlockCallbackInfo &)>;

    BlockRun(BlockRunSetup setup, Report progress, Report final, QObject *parent = nullptr);
    ~BlockRun() override;

    void start();
    // Ends the run once the blocks in flight are written and journaled; the final report has bPaused.
    void pause();
    // The same, returning only when nothing is in flight any more; the final report follows from the event loop.
    void stop();
    void setSpeedLimit(int kib);
    bool ended() const { return m_ending != Running; }

private:
    enum Ending { Running, Finishing, Pausing, Failing, Ended };

    struct Piece
    {
        quint32 planFile = 0;
        quint32 ref = 0;
        PieceSource source = PieceSource::Fetch;
        quint32 sourceFile = 0;
        qint64 sourceOffset = 0;
        enum State : quint8 { Pending, Busy, Done } state = Pending;
        bool unsure = false; // written by an earlier run after its last checkpoint
        QString copyFrom; // a Copy from a place this run wrote (a block that arrived while it waited)
    };
    struct FileState
    {
        QString path; // where its blocks are written: the game file, or its staging file
        QString finalPath; // the game file
        qint64 size = 0;
        int left = 0; // pieces not done
        bool staged = false;
        bool finalized = false;
        bool finalizing = false;
    };
    struct Result
    {
        enum Kind { Local, Block, Finalize, Sync, Finish } kind = Local;
        quint32 id = 0; // piece (Local), block (Block), plan file (Finalize)
        QVector<quint32> pieces; // Block: the pieces it was written to
        qint64 bytes = 0;
        BlockTasks::Outcome outcome;
    };
    struct Transfer;

    // Setting out.
    void buildPieces();
    void queueLocal(quint32 piece);
    void startFinish();

    // Pool tasks and their results.
    void post(std::function<Result(TaskScratch &)> task, bool urgent);
    void pushResult(Result result);
    void drainResults();
    void onLocal(const Result &r);
    void onBlock(const Result &r);
    void onFinalize(const Result &r);
    void onSync(const Result &r);
    void onFinish(const Result &r);
    void feedLocal();
    void pieceDone(quint32 piece);
    void toFetch(quint32 piece);
    void maybeFinalize(quint32 planFile);
    void checkpoint(bool last);
    void maybeComplete();

    // Network (BlockRunNetwork.cpp).
    void setUpNetwork();
    void dispatch();
    void startTransfer(const BundleRequest &request);
    void onReadyRead();
    void readTransfers();
    bool readTransfer(Transfer &t, qint64 &budget, bool force);
    bool beginTransfer(Transfer &t);
    void takeBytes(Transfer &t, qint64 offset, const char *data, qint64 length);
    void blockArrived(Transfer &t, int frame);
    void onTransferFinished(Transfer *t);
    void transferFailed(Transfer &t, const QString &why);
    void endTransfer(Transfer &t);
    void abortTransfers();
    void reapTransfers();
    int activeTransfers() const;
    void watchTransfers();
    void regroup();
    void onTick();

    // Ending.
    void fail(BlockError code, const QString &text);
    void endWhenIdle();
    void finalReport(bool finished);
    void fillReport(BlockCallbackInfo &info);
    QString pieceTarget(quint32 piece, qint64 &offset) const;

    BlockRunSetup m_setup;
    const BlockIndex &m_target;
    Report m_progress;
    Report m_final;
    BlockCallbackInfo m_info;
    std::unique_ptr<FileTable> m_files;
    std::unique_ptr<BlockPool> m_pool;
    BlockJournal m_journal;
    Ending m_ending = Running;
    bool m_started = false; // pieces built and first work handed out
    bool m_finalReported = false;
    BlockError m_error = BlockError::None;
    QString m_errorText;

    QVector<Piece> m_pieces;
    QVector<FileState> m_fileStates;
    QVector<quint32> m_localQueue;
    int m_localCursor = 0;
    int m_localInFlight = 0;
    int m_tasks = 0; // posted, result not yet handled
    int m_filesLeft = 0;
    bool m_syncing = false;
    bool m_commitBegun = false;
    bool m_finishPosted = false;
    bool m_lastSync = false; // the sync before the commit
    quint32 m_checkpointed = 0;
    QSet<QString> m_dirty;

    std::mutex m_resultMutex;
    QVector<Result> m_results;
    std::atomic<bool> m_drainQueued{ false };

    // Blocks to fetch: the pieces waiting for each, requests not yet sent,
    // blocks needing a new request.
    QHash<quint32, QVector<quint32>> m_waiting;
    QList<BundleRequest> m_requests;
    QSet<quint32> m_queued; // in m_requests or m_extra
    QSet<quint32> m_extra;
    QSet<quint32> m_inFlight; // in a transfer, or being unpacked
    QHash<quint32, int> m_corrupt;
    RequestShape m_shape;
    QVector<QPointer<QNetworkAccessManager>> m_managers;
    std::vector<std::unique_ptr<Transfer>> m_transfers;
    int m_nextManager = 0;
    int m_failuresInRow = 0;
    QString m_lastFailure;
    qint64 m_retryAtMs = 0;
    bool m_dispatchTimed = false;
    QElapsedTimer m_clock;
    QPointer<QTimer> m_tick;
    QPointer<QTimer> m_pumpTimer;
    qint64 m_unpackBytes = 0; // packed bytes handed to the pool, not yet written
    qint64 m_limitBytes = 0; // per second; 0: none
    double m_tokens = 0;
    qint64 m_tokensAtMs = 0;

    // Figures.
    qint64 m_fetchTotal = 0;
    qint64 m_fetchDone = 0;
    qint64 m_localTotal = 0;
    qint64 m_localDone = 0;
    qint64 m_wire = 0;
    qint64 m_lastWire = 0;
    QVector<qint64> m_speedSamples;
    qint64 m_repaired = 0;
    qint64 m_piecesDone = 0;
    int m_ticks = 0;
};

} // namespace Morvaniel
