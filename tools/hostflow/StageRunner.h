#pragma once

#include "ServerList.h"
#include "Stage.h"

#include <QObject>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

namespace Morvaniel {
class GameUpdateContext;
struct BlockJob;
} // namespace Morvaniel

namespace HostFlow {

class BlockStage;
class DownloadStage;
class FetchStage;
class FlowReporter;
class InUseStage;
class PatchStage;
class StageHandler;
class UnZipStage;
class VerifyStage;

// Runs the library's stages, one at a time unless asked, on the thread that
// owns it (the GUI thread, where the library's workers report): an entry
// point prepares the context and starts the stage, the library's final report
// ends it, and the continuation the part gave goes on from there. Nothing waits.
//
// stop() ends the running stage through the library and refuses every stage
// started after it; a stage that the stop ended goes to the stopped handler
// instead of its continuation.
//
// Stages of different kinds may run at once when the part asks for it with
// beside() (a download beside an extraction): stop() then ends all of them,
// and the stopped handler runs once, after the last one ended.
//
// A stage that failed because of its server (see ServerList::failedByServer)
// runs again against the next server of the run, when there is one, before
// its continuation sees it: a download goes on from the bytes it has, and
// archives that failed their check are fetched again from there.
class StageRunner : public QObject
{
    Q_OBJECT

public:
    using Next = std::function<void(const StageEnd &)>;

    StageRunner(FlowReporter &reporter, QObject *parent);
    ~StageRunner() override;

    // The entry points; next gets the stage's end unless the run stopped.
    // The next stage may start while others run. A background stage is not
    // the one the views follow: its start says so and its progress is not told.
    void beside(bool background);
    // The next download's progress is told as part of a larger one: before
    // bytes of whole are done already (the earlier archives of a full pack).
    void downloadShare(qint64 before, qint64 whole);

    // A content request: the document as text, or as raw bytes (at most maxBytes).
    void fetchText(const QString &url, Next next);
    void fetchBytes(const QString &url, qint64 maxBytes, Next next);
    // The context's download list into the cache; resume keeps partial files,
    // otherwise the cache folder is emptied first.
    void download(bool resume, const QString &detail, Next next);
    // The MD5 of every archive of the context's download list; bad ones are deleted.
    void checkArchives(Next next);
    // Fails when another program holds a file under folder open and the view
    // answers the question filesInUse() with Cancel.
    void filesFree(const QString &folder, Next next);
    void extract(const QStringList &archives, const QString &target, bool keepTarget, Next next);
    void merge(const QString &patchDir, const QString &target, const QString &temp, Next next);
    // Every file of manifest under folder: by MD5 with every bad file listed,
    // or by size only up to the first bad one.
    void checkInstall(const QString &folder, const QString &manifest, bool byMd5, Next next);
    void updateFiles(const QString &target, const QString &source, const QString &oldManifest,
        const QString &newManifest, Next next);
    // A block run: the job's folder brought to its target index (the run's
    // speed limit applies); a stopped run goes on when the same job starts again.
    void blocks(const Morvaniel::BlockJob &job, const QString &detail, Next next);

    bool running() const;
    bool running(Stage stage) const { return m_running[int(stage)].handler != nullptr; }
    // Ends one running stage through the library, without stopping the run:
    // its continuation gets the end.
    void cancel(Stage stage);
    // A run begins: stop() of the last one is forgotten, and the run goes to
    // the first server of options.
    void reset(const FlowOptions &options);
    // The run's servers; apply() points Global::Var at the one in use.
    const ServerList &servers() const { return m_servers; }
    // Skips the server in use for the rest of the run because of reason and
    // goes on with the next one (logged, and told as serverSwitched); false
    // when there is none left.
    bool switchServer(const FlowError &reason);
    void stop();
    bool stopping() const { return m_stopping; }
    void setStoppedHandler(std::function<void(const StageEnd &)> handler) { m_stopped = std::move(handler); }

    // The view's answer to FlowReporter::filesInUse.
    void answerFilesInUse(bool retry);
    // KiB/s, below 1 unlimited: the running download follows at once.
    void setSpeedLimit(int kib);
    // Bytes that came over the network in this runner's downloads and block runs.
    qint64 bytesDownloaded() const;

    FlowReporter &reporter() { return m_reporter; }
    Morvaniel::GameUpdateContext &context();

private:
    friend class StageHandler;
    // A stage under way, by kind.
    struct Running
    {
        StageHandler *handler = nullptr;
        bool endPosted = false;
        bool background = false;
        QString detail; // as its start told it
        Next next;
    };
    void start(Stage stage, const QString &detail, Next next);
    // From StageHandler::finish: delivered from the event loop.
    void post(const StageHandler &handler, StageEnd end);
    void ended(int kind, StageEnd end);
    // Whether the views follow the handler's stage.
    bool inView(const StageHandler &handler) const;
    // The stopped handler, once every stage that the stop ended has ended.
    void stoppedWhenIdle();
    // The failed stage once more against the next server (beside the others
    // as it ran); false when there is none.
    bool retryElsewhere(const StageEnd &end, const QString &detail, bool background, Next &next);

    FlowReporter &m_reporter;
    std::unique_ptr<FetchStage> m_fetch;
    std::unique_ptr<DownloadStage> m_download;
    std::unique_ptr<VerifyStage> m_checkArchives;
    std::unique_ptr<InUseStage> m_inUse;
    std::unique_ptr<UnZipStage> m_extract;
    std::unique_ptr<PatchStage> m_merge;
    std::unique_ptr<VerifyStage> m_checkInstall;
    std::unique_ptr<PatchStage> m_updateFiles;
    std::unique_ptr<BlockStage> m_blocks;
    std::array<StageHandler *, StageCount> m_handlers{};
    std::array<Running, StageCount> m_running{};
    bool m_nextBeside = false;
    bool m_nextBackground = false;
    qint64 m_shareBefore = 0; // for the next download
    qint64 m_shareWhole = 0;
    std::optional<StageEnd> m_stopEnd; // a stopped stage's end, until the others ended too
    ServerList m_servers;
    bool m_stopping = false;
    std::function<void(const StageEnd &)> m_stopped;
};

} // namespace HostFlow
