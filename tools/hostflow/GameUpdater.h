#pragma once

#include "FlowPart.h"

#include <QString>

#include <memory>

namespace HostFlow {

class ArchivePipeline;
class BlockDelivery;
class GameRepair;

// The game update, end to end: settings, remote information, guide manifest,
// plan, and then either the full pack or the patch chain step by step until
// the newest version, recording the reached version after every step.
class GameUpdater : public FlowPart
{
public:
    GameUpdater(StageRunner &runner, const FlowOptions &options, Finish finish);
    // Inside another part, which uses prepare() only.
    explicit GameUpdater(FlowPart &owner);
    ~GameUpdater() override;

    void start() override;
    void stopped() override;
    // Saves the install's state too: the next run goes on from there.
    void fail(const FlowError &error) override;
    using FlowPart::fail;

    // The start of start(): the install's state, the remote information and
    // the plan to the newest version, which newest() then names. An update
    // that stopped in its merge stage is finished first with finishMerge only.
    void prepare(bool finishMerge, std::function<void()> then);
    QString newest() const { return m_newest; }

private:
    void plan(std::function<void()> then);
    void planned();
    // The archives: the full pack or the patch chain, as planned.
    void byArchives();
    // Its archives are extracted while the others still download (ArchivePipeline).
    void installFullPack(const QString &manifest);
    void applyPatchStep();
    void resumeInterruptedMerge(std::function<void()> then);
    // Downloads the context's download list (continuing partial files) and
    // checks every archive's MD5; a bad archive is fetched once more.
    void downloadAndCheck(const QString &what, int attempt, std::function<void()> then);
    // Records version as reached once the game matches it: with verifyAll
    // every file is checked by MD5 and the bad ones repaired.
    void finishStep(const QString &version, bool verifyAll, std::function<void()> then);
    void tidyLetterCaseTwins(const QString &manifestText);
    void done();
    // The install's state; false (the run failed) when it could not be written.
    bool save();
    // The game folder is about to be written.
    bool writingGame();

    // What a stopped or failed run leaves of the download list for the next.
    void keepDownloadList();

    std::unique_ptr<GameRepair> m_repair;
    std::unique_ptr<ArchivePipeline> m_pack;
    std::unique_ptr<BlockDelivery> m_blocks;
    QString m_newest;
    qint64 m_bytesBefore = 0;
};

} // namespace HostFlow
