#pragma once

#include "StageHandler.h"

#include "download/DownloadCallbackInfo.h"
#include "patch/PatcherCallbackInfo.h"
#include "unzip/UnZipCallbackInfo.h"
#include "verify/CheckCallbackInfo.h"
#include "verify/VerifyCallbackInfo.h"

#include <QString>

// The handlers of the stages that a worker of the library runs; StageRunner's
// entry points fill the context's inputs before start().
namespace HostFlow {

class DownloadStage : public WorkerStage<Morvaniel::DownloadCallbackInfo>
{
public:
    using WorkerStage::WorkerStage;
    void setResume(bool resume) { m_resume = resume; }
    void setSpeedLimit(int kib);
    qint64 bytesDownloaded() const { return m_bytesDownloaded; }
    // The next run's progress as part of a larger one (StageRunner::downloadShare).
    void setShare(qint64 before, qint64 whole)
    {
        m_shareBefore = before;
        m_shareWhole = whole;
    }
    qint64 shareBefore() const { return m_shareBefore; }
    qint64 shareWhole() const { return m_shareWhole; }

protected:
    void registerCallback(std::function<void(Morvaniel::DownloadCallbackInfo &)> callback) override;
    void startWorker(Morvaniel::GameUpdateContext &ctx) override;
    // A pause: the download manager makes no report of it.
    void stopWorker() override;
    bool isFinal(const Morvaniel::DownloadCallbackInfo &info) const override;
    void progress(const Morvaniel::DownloadCallbackInfo &info) override;
    std::optional<StageEnd> endOf(const Morvaniel::DownloadCallbackInfo &info) override;

private:
    void count(const Morvaniel::DownloadCallbackInfo &info);

    Morvaniel::GameUpdateContext *m_ctx = nullptr;
    bool m_resume = false;
    bool m_running = false;
    qint64 m_atStart = -1;
    qint64 m_last = 0;
    qint64 m_bytesDownloaded = 0;
    bool m_limitPending = false;
    int m_limitKiB = -1;
    qint64 m_shareBefore = 0;
    qint64 m_shareWhole = 0; // 0: the run's own figures
};

// The verifier: the downloaded archives (CheckArchives) or an installed folder (CheckInstall).
class VerifyStage : public WorkerStage<Morvaniel::VerifyCallbackInfo>
{
public:
    VerifyStage(StageRunner &runner, Stage stage);
    void setByMd5(bool byMd5) { m_byMd5 = byMd5; }

protected:
    // A folder's check that stopped lists only the files it reached.
    bool reportsStops() const override { return m_stage == Stage::CheckArchives; }
    void registerCallback(std::function<void(Morvaniel::VerifyCallbackInfo &)> callback) override;
    void startWorker(Morvaniel::GameUpdateContext &ctx) override;
    void stopWorker() override;
    bool isFinal(const Morvaniel::VerifyCallbackInfo &info) const override { return info.bComplete; }
    void progress(const Morvaniel::VerifyCallbackInfo &info) override;
    std::optional<StageEnd> endOf(const Morvaniel::VerifyCallbackInfo &info) override;

private:
    Stage m_stage;
    bool m_byMd5 = true;
};

// The checker, and the question to the view when a file is held open: Retry
// checks again, Cancel fails the stage.
class InUseStage : public WorkerStage<Morvaniel::CheckCallbackInfo>
{
public:
    using WorkerStage::WorkerStage;
    void setFolder(const QString &folder) { m_folder = folder; }
    void answer(bool retry);

protected:
    // A check that stopped reports the files it did not reach as free.
    bool reportsStops() const override { return false; }
    void registerCallback(std::function<void(Morvaniel::CheckCallbackInfo &)> callback) override;
    void startWorker(Morvaniel::GameUpdateContext &ctx) override;
    void stopWorker() override;
    bool isFinal(const Morvaniel::CheckCallbackInfo &info) const override { return info.bComplete; }
    std::optional<StageEnd> endOf(const Morvaniel::CheckCallbackInfo &info) override;

private:
    QString m_folder;
    QString m_held;
    Morvaniel::GameUpdateContext *m_ctx = nullptr;
    bool m_asking = false;
};

class UnZipStage : public WorkerStage<Morvaniel::UnZipCallbackInfo>
{
public:
    using WorkerStage::WorkerStage;

protected:
    void registerCallback(std::function<void(Morvaniel::UnZipCallbackInfo &)> callback) override;
    void startWorker(Morvaniel::GameUpdateContext &ctx) override;
    void stopWorker() override;
    bool isFinal(const Morvaniel::UnZipCallbackInfo &info) const override { return info.bComplete; }
    void progress(const Morvaniel::UnZipCallbackInfo &info) override;
    std::optional<StageEnd> endOf(const Morvaniel::UnZipCallbackInfo &info) override;

private:
    QString m_target;
};

// The patcher: the game's merge stage (Merge) or the launcher's update stage (UpdateFiles).
class PatchStage : public WorkerStage<Morvaniel::PatcherCallbackInfo>
{
public:
    PatchStage(StageRunner &runner, Stage stage);

protected:
    void registerCallback(std::function<void(Morvaniel::PatcherCallbackInfo &)> callback) override;
    void startWorker(Morvaniel::GameUpdateContext &ctx) override;
    void stopWorker() override;
    bool isFinal(const Morvaniel::PatcherCallbackInfo &info) const override;
    void progress(const Morvaniel::PatcherCallbackInfo &info) override;
    std::optional<StageEnd> endOf(const Morvaniel::PatcherCallbackInfo &info) override;

private:
    Stage m_stage;
    QString m_target;
};

} // namespace HostFlow
