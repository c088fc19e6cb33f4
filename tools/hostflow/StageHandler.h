#pragma once

#include "Stage.h"

#include <functional>
#include <optional>

namespace Morvaniel {
class GameUpdateContext;
}

namespace HostFlow {

class FlowReporter;
class StageRunner;

// One kind of stage: starts the library's work for it and turns the library's
// final report into a StageEnd. StageRunner owns one handler per kind: a kind
// runs one stage at a time (kinds of other workers may run beside it).
class StageHandler
{
public:
    explicit StageHandler(StageRunner &runner)
        : m_runner(runner)
    {
    }
    virtual ~StageHandler() = default;
    StageHandler(const StageHandler &) = delete;
    StageHandler &operator=(const StageHandler &) = delete;

    // Starts the stage on the context as the runner's entry point prepared it.
    // The stage ends through finish() exactly once.
    virtual void start(Morvaniel::GameUpdateContext &ctx) = 0;
    // The run stops: the library's work ends early; finish() follows, at once
    // or with the library's final report.
    virtual void stop() = 0;
    // After finish(): gives back what the stage registered with the library.
    virtual void release() { }

protected:
    // Hands the end to the runner from the event loop, outside the library's
    // callback: the next stage may register another callback with the same worker.
    void finish(StageEnd end);
    FlowReporter &reporter();
    // False for a stage that runs in the background: its progress is not told.
    bool inView() const;

    StageRunner &m_runner;
};

// The register / start / final report / unregister of a library worker,
// written once: Info is the worker's callback record.
template <typename Info> class WorkerStage : public StageHandler
{
public:
    using StageHandler::StageHandler;

    void start(Morvaniel::GameUpdateContext &ctx) final
    {
        m_stopRequested = false;
        startAgain(ctx);
    }
    void stop() final
    {
        m_stopRequested = true;
        stopWorker();
    }
    void release() final { registerCallback({}); }

protected:
    virtual void registerCallback(std::function<void(Info &)> callback) = 0;
    virtual void startWorker(Morvaniel::GameUpdateContext &ctx) = 0;
    // Asks the worker to end early; its final report follows (or abandon()).
    virtual void stopWorker() = 0;
    virtual bool isFinal(const Info &info) const = 0;
    virtual void progress(const Info &) { }
    // The stage's end from the worker's final report, or nothing when the
    // handler goes on by itself (and ends the stage later with finish()).
    virtual std::optional<StageEnd> endOf(const Info &info) = 0;

    bool stopRequested() const { return m_stopRequested; }
    // Whether the worker's final report tells a job it stopped from one it
    // finished (then a report of success after stop() is a finished job's).
    virtual bool reportsStops() const { return true; }
    // The worker once more, within the same stage.
    void startAgain(Morvaniel::GameUpdateContext &ctx)
    {
        const quint64 run = ++m_run;
        registerCallback([this, run](Info &info) {
            // A report of a stage that already ended (a worker reporting late).
            if (run != m_run)
                return;
            if (!isFinal(info)) {
                progress(info);
                return;
            }
            ++m_run;
            std::optional<StageEnd> end = endOf(info);
            if (!end)
                return;
            // A worker that cannot tell may have left its job half done.
            if (m_stopRequested && !reportsStops())
                end->ok = false;
            finish(std::move(*end));
        });
        startWorker(ctx);
    }
    // Ends the stage without waiting for the worker (whose later reports are dropped).
    void abandon(StageEnd end)
    {
        ++m_run;
        finish(std::move(end));
    }

private:
    quint64 m_run = 0;
    bool m_stopRequested = false;
};

} // namespace HostFlow
