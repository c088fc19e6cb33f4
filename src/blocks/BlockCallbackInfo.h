#pragma once

#include "blocks/BlockCost.h"

#include <QString>

namespace Morvaniel {

// Why a block run failed. The numbers are stable.
enum class BlockError : int {
    None = 0,
    BadIndex = 1, // an index that does not parse or breaks a rule; nothing was written
    Untrusted = 2, // signed releases: an index or bundle the accepted release does not list so; nothing was written
    Network = 3, // requests kept failing (after retries); the run can resume
    Tampered = 4, // a block did not match its digest twice, or a bundle came with another length than its index gives;
                  // nothing of it was written
    Disk = 5, // a file could not be read, written, resized or moved (a full disk included); the run can resume
    InTheWay = 6, // something in the folder stands where a file or folder must go
};

// The block worker's one report record, reused from report to report.
// Progress reports come about once a second while a run works; every run
// ends with exactly one final report: bFinished, bPaused or bError.
struct BlockCallbackInfo
{
    float progress = 0.0f; // work done / work planned (bytes fetched, copied and checked)
    bool bFinished = false; // the folder holds the target version, every written byte checked
    bool bPaused = false; // ended by PauseBlocks or StopBlocks; starting the same job resumes it
    bool bError = false;
    bool bResumed = false; // this run continued an earlier one's journal
    int phase = 0; // 0 starting, 1 working, 2 moving staged files and deleting, 3 ended
    qint64 downloadedSize = 0; // block bytes fetched and written (earlier runs of the same job included)
    qint64 totalSize = 0; // block bytes to fetch in all
    qint64 localDone = 0; // bytes copied or checked inside the folder
    qint64 localTotal = 0;
    qint64 wireBytes = 0; // bytes received from the server in this run, all answers included
    qint64 speed = 0; // bytes per second received, moving average
    int remainTime = 0; // seconds; kept while speed is 0
    qint64 blocksDone = 0; // places of the target written or checked
    qint64 blocksTotal = 0;
    qint64 repairedBlocks = 0; // kept blocks that failed their check and were replaced
    BlockCost cost; // the plan's figures
    BlockError errorCode = BlockError::None;
    QString errorString;
};

} // namespace Morvaniel
