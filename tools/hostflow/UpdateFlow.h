#pragma once

#include "FlowOptions.h"
#include "FlowReporter.h"

#include <QObject>
#include <QStringList>
#include <QVector>

#include <memory>

namespace Morvaniel {
class GameUpdateContext;
}

namespace HostFlow {

class FlowPart;
class InstallLock;
class StageRunner;

// The update flow of a host, one copy for every view, as a job in the manner
// of KDE's KJob: a run (update, check, verify, checkLauncher, updateLauncher)
// starts and returns at once, advances from the library's callbacks on the
// GUI thread, and ends with finished(result), exactly once, also when it
// failed or was stopped. One run at a time; a run holds the lock of its
// install folder from start to end.
//
// The job owns the reporter (the views connect to reporter()'s signals), the
// stage runner that drives the library, and the part of the flow that the
// run is made of.
class UpdateFlow : public QObject
{
    Q_OBJECT

public:
    enum Result { Ok = 0, Failed = 1, Paused = 130 };

    explicit UpdateFlow(QObject *parent = nullptr);
    // A run still going is stopped; finished() no longer comes.
    ~UpdateFlow() override;

    void setOptions(const FlowOptions &options) { m_options = options; }
    const FlowOptions &options() const { return m_options; }

    // The runs. Each returns false (and starts nothing) while another run is going.
    // Installs or updates the game to the server's newest version: the full
    // pack or the patch chain, resuming what an earlier run left.
    bool update();
    // Remote information and the installed and newest versions; an install
    // that claims the newest version is checked (verified()).
    bool check();
    // Checks every installed file by MD5; with repair the bad ones are fetched again.
    bool verify(bool repair);
    // Whether the launcher's channel offers a newer launcher (launcherChecked()).
    bool checkLauncher();
    // The launcher's own update into options().installDir.
    bool updateLauncher();

    bool running() const { return m_running; }
    // Ends the run: a download pauses at once, extraction and the merge stage
    // stop through the library, a content request is aborted, an open
    // question is closed. The run then finishes with Paused; the saved stage
    // makes the next run go on from there.
    void stop();
    bool stopping() const;
    // The view's answer to FlowReporter::filesInUse: check again, or stop the run.
    void answerFilesInUse(bool retry);
    // KiB/s, below 1 unlimited; a running download follows at once.
    void setSpeedLimit(int kib);

    FlowReporter *reporter() const { return m_reporter; }
    // What the last update run did; the bad files the last check or verify found.
    const UpdateReport &report() const { return m_reporter->report(); }
    QVector<QString> badFiles() const { return m_reporter->badFiles(); }
    QString launcherVersionReached() const { return m_reporter->launcherVersionReached(); }
    qint64 bytesDownloaded() const;
    int releasesAccepted() const { return m_reporter->releasesAccepted(); }
    Morvaniel::GameUpdateContext &context();

signals:
    void finished(int result);

private:
    bool begin(std::unique_ptr<FlowPart> part);
    void end(int result);

    FlowOptions m_options;
    FlowReporter *m_reporter;
    StageRunner *m_runner;
    std::unique_ptr<InstallLock> m_lock;
    std::unique_ptr<FlowPart> m_part;
    bool m_running = false;
    bool m_ending = false;
};

} // namespace HostFlow
