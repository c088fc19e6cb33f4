#pragma once

#include "ServerList.h"
#include "StageHandler.h"

#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockJob.h"

#include <QElapsedTimer>

namespace HostFlow {

// A block run of the library's block worker: the job is set before start().
// A stop pauses the run once its blocks in flight are written and journaled;
// the same job started again goes on from there.
class BlockStage : public WorkerStage<Morvaniel::BlockCallbackInfo>
{
public:
    using WorkerStage::WorkerStage;
    void setJob(const Morvaniel::BlockJob &job) { m_job = job; }
    void setSpeedLimit(int kib);
    // The job's addresses moved onto the run's current server.
    void rebase(const ServerList &servers);
    // Block bytes received in this handler's runs (answers' framing included).
    qint64 bytesDownloaded() const { return m_bytesDownloaded; }
    // The host quits: returns once nothing is in flight any more.
    void quit();

protected:
    void registerCallback(std::function<void(Morvaniel::BlockCallbackInfo &)> callback) override;
    void startWorker(Morvaniel::GameUpdateContext &ctx) override;
    void stopWorker() override;
    bool isFinal(const Morvaniel::BlockCallbackInfo &info) const override;
    void progress(const Morvaniel::BlockCallbackInfo &info) override;
    std::optional<StageEnd> endOf(const Morvaniel::BlockCallbackInfo &info) override;

private:
    void count(const Morvaniel::BlockCallbackInfo &info);
    // Keeps how far the run got in the install's state (now, or now and then).
    void keepProgress(const Morvaniel::BlockCallbackInfo &info, bool now);

    Morvaniel::BlockJob m_job;
    QString m_installDir;
    QElapsedTimer m_kept; // since the progress was last kept
    bool m_running = false;
    qint64 m_lastWire = 0;
    qint64 m_bytesDownloaded = 0;
};

} // namespace HostFlow
