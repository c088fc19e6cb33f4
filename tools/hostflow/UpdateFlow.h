#pragma once

#include "FlowOptions.h"
#include "TransferProgress.h"
#include "UpdateReport.h"

#include "core/RemoteInfo.h"

#include <QJsonObject>
#include <QObject>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <memory>

class FlowSession;

namespace Morvaniel {
class GameUpdateContext;
}
Q_DECLARE_METATYPE(Morvaniel::RemoteInfo)

// The update flow of a host, one copy for every view: the command line prints
// what it reports, the launcher window shows it. A run (update, check, verify,
// checkLauncher, updateLauncher) works through the library's stages one after
// the other on the thread that calls it and ends with finished(result). The
// window runs it on a thread of its own; the library's workers are started
// and report on the application's main thread either way.
//
// pause(), answerFilesInUse() and setSpeedLimit() are called on the main thread.
class UpdateFlow : public QObject
{
    Q_OBJECT

public:
    enum Result { Ok = 0, Failed = 1, Paused = 130 };

    explicit UpdateFlow(QObject *parent = nullptr);
    ~UpdateFlow() override;

    void setOptions(const FlowOptions &options) { m_options = options; }
    const FlowOptions &options() const { return m_options; }

    // Installs or updates the game to the server's newest version: the full
    // pack or the patch chain, resuming what an earlier run left.
    int update();
    // Forgets a pause request before another run starts.
    void clearPause() { m_pauseRequested = false; }
    // Remote information and the installed and newest versions; an install
    // that claims the newest version is checked file by file (verified()).
    int check();
    // Checks every installed file by MD5; with repair the bad ones are fetched again.
    int verify(bool repair);
    // Whether the launcher's channel offers a newer launcher (launcherChecked()).
    int checkLauncher();
    // The launcher's own update into options().installDir.
    int updateLauncher();

    // A download pauses at once; any other stage ends first and the run stops
    // before its next download or patch step.
    void pause();
    bool pauseRequested() const { return m_pauseRequested.load(); }
    // The view's answer to filesInUse(): check again, or stop the run.
    void answerFilesInUse(bool retry);
    // KiB/s, below 1 unlimited; a running download follows at once.
    void setSpeedLimit(int kib);

    // What the last update run did; the bad files the last check or verify found.
    const UpdateReport &report() const { return m_report; }
    QVector<QString> badFiles() const { return m_badFiles; }
    QString launcherVersionReached() const { return m_launcherReached; }
    qint64 bytesDownloaded() const;
    int releasesAccepted() const;
    Morvaniel::GameUpdateContext &context();

    // For the parts of the flow: each emits the matching signal.
    void stage(const QString &name, const QString &detail = QString());
    void info(const QString &text, const QJsonObject &fields = QJsonObject());
    void warning(const QString &text);
    void error(const QString &text);

signals:
    // A stage begins: "download", "verify-archives", "extract", "merge", "repair", ...
    void stageChanged(const QString &stage, const QString &detail);
    // A log line; fields carry its values for a program that reads them.
    void message(const QString &text, const QJsonObject &fields);
    void warningRaised(const QString &text);
    // The library's and the flow's own error texts; the run fails.
    void errorRaised(const QString &text);
    void downloadStarted();
    void downloadProgress(const TransferProgress &progress);
    // Any other stage's progress, 0 to 1.
    void stageProgress(const QString &stage, double fraction);
    // A stage's progress reports are over.
    void progressEnded();
    void remoteInfoReceived(const Morvaniel::RemoteInfo &info);
    // installed is empty when nothing is installed.
    void versionsKnown(const QString &installed, const QString &newest);
    void stepStarted(const QString &from, const QString &to);
    // The update run reached version, with bytes from the network.
    void updated(const QString &version, qint64 bytes);
    void verified(const QString &version, const QStringList &badFiles);
    void launcherChecked(const QString &installed, const QString &newest);
    void launcherUpdated(const QString &version);
    // Files of the game that another program holds open; nothing is patched
    // until the view answers with answerFilesInUse().
    void filesInUse(const QStringList &paths);
    void finished(int result);

private:
    friend class FlowSession;
    int finish(int result);

    FlowOptions m_options;
    std::unique_ptr<FlowSession> m_session;
    UpdateReport m_report;
    QVector<QString> m_badFiles;
    QString m_launcherReached;
    std::atomic<bool> m_pauseRequested{ false };
};
