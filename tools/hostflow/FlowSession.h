#pragma once

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>

class StageWait;
class UpdateFlow;

namespace Morvaniel {
class GameUpdateContext;
struct PatcherCallbackInfo;
struct VerifyCallbackInfo;
} // namespace Morvaniel

// Drives the library one stage at a time: starts a worker through its
// component, then runs a local event loop until the worker's final callback
// report. The workers are started, and report, on the application's main
// thread; the session itself may run on another one (the window's flow
// thread), whose loop the final report ends. What the stages report goes out
// through the flow's signals.
class FlowSession
{
    Q_DISABLE_COPY(FlowSession)

public:
    explicit FlowSession(UpdateFlow &flow);
    ~FlowSession();

    Morvaniel::GameUpdateContext &ctx();
    UpdateFlow &flow() { return m_flow; }

    // A content request (GET). False with error set when it fails.
    bool fetchText(const QString &url, QString &text, QString &error);
    // A GET of raw bytes, at most maxBytes of them. False with error set when it fails.
    bool fetchBytes(const QString &url, qint64 maxBytes, QByteArray &bytes, QString &error);

    // Signed releases, when the host trusts keys (ReleaseTrust::SetTrustedKeys):
    // fetches and accepts <Host>/<channel>/release.json and its signature for
    // this run (the install's state file keeps what it accepted). True at once
    // when signed releases are off.
    bool acceptRelease(const QString &channel, QString &error);
    // fetchText of a manifest a planner reads; with signed releases on, its
    // text must be what the run's accepted release lists.
    bool fetchManifest(const QString &url, QString &text, QString &error);
    // Releases accepted in this session.
    int releasesAccepted() const { return m_releasesAccepted; }

    enum class DownloadEnd { Done, Paused, Failed };
    // Downloads ctx().downloadList into the cache. resume keeps partial files
    // (ResumeDownload), otherwise the cache folder is emptied first (StartDownload).
    DownloadEnd download(bool resume, QString &error);
    // Archive mode: the MD5 of every downloaded file of ctx().downloadList.
    bool verifyArchives(QString &error);
    // keepTarget false empties target first (a full install).
    bool extract(const QStringList &archives, const QString &target, bool keepTarget, QString &error);
    // The merge stage (bGameUpdate set). needMd5Check tells that a patch did not apply.
    bool merge(const QString &patchDir, const QString &target, const QString &temp, bool &needMd5Check, QString &error);
    // The update stage of the launcher's own files (bGameUpdate clear).
    bool updateFiles(const QString &target, const QString &source, const QString &oldManifest,
        const QString &newManifest, QString &error);
    // Manifest mode with failure collection: every file by MD5. Returns the bad paths.
    QVector<QString> verifyInstall(const QString &folder, const QString &manifestText, bool withPakFolder);
    // Before the game folder is written: true when no other program holds one
    // of its files open. Otherwise the flow asks its view (filesInUse) and
    // checks again until the view gives up, which leaves error set.
    bool gameFilesFree(QString &error);

    // Bytes that came over the network in this session's downloads.
    qint64 bytesDownloaded() const { return m_bytesDownloaded; }

    // Main thread only: a running download pauses at once.
    void pauseDownload();
    // Main thread only: the view's answer to filesInUse.
    void answerFilesInUse(bool retry);
    // Main thread only: KiB/s for the running download and the next ones.
    void setSpeedLimit(int kib);

private:
    Morvaniel::PatcherCallbackInfo runPatchStage();
    // Starts the verifier on the context as prepared and returns its final report.
    Morvaniel::VerifyCallbackInfo runVerify();

    UpdateFlow &m_flow;
    qint64 m_bytesDownloaded = 0;
    int m_releasesAccepted = 0;
    // Main thread only: how to pause the running download, and a limit not applied yet.
    std::function<void()> m_pauseDownload;
    bool m_limitPending = false;
    int m_limitKiB = -1;
    // The wait for the view's answer to filesInUse.
    QMutex m_answerLock;
    StageWait *m_answer = nullptr;
    bool m_retry = false;
};
