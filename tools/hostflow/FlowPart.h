#pragma once

#include "FlowError.h"
#include "FlowOptions.h"
#include "StageRunner.h"

#include "trust/ReleasePolicy.h"
#include "util/FreeSpace.h"

#include <QString>
#include <QVector>

#include <functional>

namespace Morvaniel {
class GameUpdateContext;
}

namespace HostFlow {

class FlowReporter;

// A piece of the flow (the game's update, a repair, the launcher's update):
// a chain of stages, each started with a continuation that goes on from its
// end. A part ends its run once, with finish() or fail(); a part inside
// another (a repair inside an update) fails the outer one's run.
class FlowPart
{
public:
    enum Result { Ok = 0, Failed = 1, Paused = 130 };
    using Finish = std::function<void(int result)>;

    FlowPart(StageRunner &runner, const FlowOptions &options, Finish finish);
    explicit FlowPart(FlowPart &owner);
    virtual ~FlowPart();
    FlowPart(const FlowPart &) = delete;
    FlowPart &operator=(const FlowPart &) = delete;

    // Begins the run; returns at once.
    virtual void start() { }
    // The run was stopped (its stage ended through the library): what the
    // next run needs is saved here.
    virtual void stopped() { }
    // Ends the run as failed, with error told to the views.
    virtual void fail(const FlowError &error);
    void fail(const QString &message, Failure kind = Failure::Other);

protected:
    Morvaniel::GameUpdateContext &ctx() { return m_runner.context(); }
    FlowReporter &out() { return m_runner.reporter(); }
    StageRunner &runner() { return m_runner; }
    const FlowOptions &options() const { return m_options; }
    void finish(int result);
    // True when the volumes have room for needs; otherwise the run fails with
    // "needs X, has Y free on <volume>" (a full disk), before anything is written.
    bool roomFor(const QVector<Morvaniel::FreeSpace::Need> &needs);
    // ok, or the run fails because the install's state file could not be written.
    bool stateWritten(bool ok, const QString &error);

    // A stage's continuation that goes on with then when the stage did what
    // it was asked, and fails the run with the stage's error otherwise;
    // prefix (when given) goes before the error's message.
    StageRunner::Next onDone(std::function<void(const StageEnd &)> then, const QString &prefix = QString());
    // What an unfinished update left of the context's download list in the
    // cache (partialDownload), for a view that offers to resume it.
    void reportPartialDownload();
    // A document of the server as text.
    void fetchText(const QString &url, std::function<void(const QString &)> then);
    // A document a planner reads: with signed releases on, its text must be
    // what the run's accepted release lists.
    void fetchManifest(const QString &url, std::function<void(const QString &)> then);
    // Signed releases, when the host trusts keys: <Host>/<channel>/release.json
    // and its signature fetched and accepted for this run. The install's state
    // file keeps what was accepted once the whole run has succeeded: a run
    // that fails after the acceptance leaves the install able to take the
    // release it had before. At once when signed releases are off.
    void acceptRelease(const QString &channel, std::function<void()> then);

private:
    struct AcceptedChannel
    {
        QString channel;
        QString installDir;
        Morvaniel::AcceptedRelease release;
    };
    FlowPart &root() { return m_owner ? m_owner->root() : *this; }
    // Writes what the run accepted; false when the state could not be written.
    bool keepAcceptedReleases();

    QVector<AcceptedChannel> m_accepted; // on the root part only
    StageRunner &m_runner;
    const FlowOptions m_options; // a copy: the view may change its own while the run goes on
    Finish m_finish;
    FlowPart *m_owner = nullptr;
};

} // namespace HostFlow
