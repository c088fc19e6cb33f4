#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QtGlobal>

#include <functional>

class ProgressPrinter;
class QCommandLineParser;
class QTextStream;
struct HostOptions;

namespace Morvaniel {
class GameUpdateContext;
struct PatcherCallbackInfo;
struct VerifyCallbackInfo;
} // namespace Morvaniel

// Drives the library the way a launcher GUI does, one stage at a time: starts a
// worker through its component, then runs a local event loop until the
// worker's final callback report. Every callback arrives on this thread.
// Ctrl+C arrives here as an event too (InterruptWatcher): a download pauses at
// once, any other stage is allowed to end first.
class HostSession
{
    Q_DISABLE_COPY(HostSession)

public:
    explicit HostSession(ProgressPrinter &printer);
    ~HostSession();

    // How the session commands start: takes the parsed options of command (2
    // on bad usage), routes the library's messages, installs the interrupt
    // handler and hands run a session printing to out. Returns what run returns.
    static int runCommand(const QString &command, const QCommandLineParser &parser, QTextStream &out, QTextStream &err,
        const std::function<int(HostSession &, const HostOptions &)> &run);

    Morvaniel::GameUpdateContext &ctx();
    ProgressPrinter &printer() { return m_printer; }

    // Installs the Ctrl+C handler; interrupted() turns true after the first Ctrl+C.
    static void installInterruptHandler();
    static bool interrupted();

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

    // Bytes that came over the network in this session's downloads.
    qint64 bytesDownloaded() const { return m_bytesDownloaded; }

private:
    Morvaniel::PatcherCallbackInfo runPatchStage();
    // Starts the verifier on the context as prepared and returns its final report.
    Morvaniel::VerifyCallbackInfo runVerify();

    ProgressPrinter &m_printer;
    qint64 m_bytesDownloaded = 0;
    int m_releasesAccepted = 0;
};
