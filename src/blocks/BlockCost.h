#pragma once

#include <QtGlobal>

namespace Morvaniel {

// What a block run costs, as planned: the figure a host compares with the
// patch chain before it chooses how to update.
struct BlockCost
{
    qint64 fetchBytes = 0; // bytes asked from the server (block frames and the small gaps merged with them)
    qint64 fetchBlocks = 0; // distinct blocks fetched
    qint64 requests = 0; // ranged requests, with the run's request shape
    qint64 copyBytes = 0; // bytes taken from other places of the folder (moved or shared blocks)
    qint64 checkBytes = 0; // bytes kept where they are, read once to check them
    qint64 writeBytes = 0; // bytes written into game or staging files
    qint64 stagedBytes = 0; // size of the files built beside the game and moved over it at the end
    qint64 diskBytes = 0; // disk space the run takes beyond what the folder holds, at its peak
    qint64 targetBytes = 0; // size of the target version
    qint64 deleteFiles = 0; // files of the installed version that the target lacks
    qint64 patchChainBytes = -1; // the caller's figure for the patch chain; -1: none
    // True when blocks cost no more than the patch chain (or there is none).
    bool preferBlocks = true;
};

} // namespace Morvaniel
