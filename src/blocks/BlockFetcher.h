#pragma once

#include "MorvanielGlobal.h"
#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockJob.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace Morvaniel {

class BlockRun;

// Block delivery: installs, updates and repairs a game folder from the
// channel's block store. One run at a time; it reports to one callback on
// the thread that owns the worker (the host's GUI thread), about once a
// second and exactly once at its end. Checking, unpacking and writing run on
// a few threads of its own; requests and reports never leave the owner's
// event loop.
class MORVANIEL_EXPORT BlockFetcher : public QObject
{
    Q_OBJECT

public:
    // The singleton, created on first use as a child of the application object.
    static BlockFetcher *GetInstance();
    ~BlockFetcher() override;

    // Replaces the earlier callback.
    virtual void RegistCallbackFunc(std::function<void(BlockCallbackInfo &)> func);
    // Checks and plans the job as StartBlocks would, writing nothing: the
    // figures to compare with a patch chain (cost.preferBlocks). False with
    // error set when the job would be refused.
    bool PlanBlocks(const BlockJob &job, BlockCost &cost, QString &error);
    // Starts a run and returns at once; refused (logged, no report) while one
    // is going. A job started again after a pause, a stop, an error or a
    // killed process continues from the journal in its staging folder.
    void StartBlocks(const BlockJob &job);
    // Ends the running run once the blocks in flight are written; its final report has bPaused.
    void PauseBlocks();
    // Like PauseBlocks, but returns only when nothing is in flight any more
    // (for a host that is about to quit); the final report comes from the event loop.
    void StopBlocks();
    // KiB per second over all connections; 0 or below: unlimited. Applies to a running run at once.
    void SetSpeedLimit(int kib);
    bool IsRunning() const;

private:
    explicit BlockFetcher(QObject *parent);
    Q_DISABLE_COPY(BlockFetcher)

    void report(BlockCallbackInfo &info, bool final);

    QPointer<BlockRun> m_run;
    bool m_busy = false;
    int m_speedLimit = 0;
    std::function<void(BlockCallbackInfo &)> m_callback;
    BlockCallbackInfo m_info;
    static BlockFetcher *m_pBlockFetcherInstance;
};

} // namespace Morvaniel
