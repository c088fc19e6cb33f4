#pragma once

#include "blocks/BlockCost.h"
#include "blocks/BlockIndex.h"
#include "blocks/BundleRequests.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Morvaniel {

// The folder as the planner sees it: the size of every file it asks about
// (the paths of both indexes), -1 for a missing one.
struct LocalFolderState
{
    QHash<QString, qint64> sizes;
    qint64 sizeOf(const QString &path) const { return sizes.value(path, -1); }
};

enum class PieceSource : quint8 {
    Keep, // already in place: only read to check it
    Copy, // read from another place of the folder (a moved or shared block)
    Fetch, // from the server
};

// One place of a target file that needs work.
struct PlanPiece
{
    quint32 ref = 0; // the target index's ref: file, offset and block
    PieceSource source = PieceSource::Fetch;
    quint32 sourceFile = 0; // Copy: index into BlockPlan::sources
    qint64 sourceOffset = 0; // Copy: where the block lies in that file
};

struct PlanFile
{
    quint32 file = 0; // the target index's file
    bool exists = false; // something is at its path now
    // Built in the staging folder and moved over the game file at the end,
    // because its present bytes are read for other places while it changes.
    bool staged = false;
    QVector<PlanPiece> pieces; // in file order
};

struct PlanOptions
{
    // Read the blocks a written file keeps in place, so that the whole file is
    // checked at the end. Off: an update trusts the installed index for them.
    bool checkInPlace = true;
    // Repair: only these target files, every block of them checked where it is.
    QStringList repairFiles;
    RequestShape shape;
    qint64 patchChainBytes = -1;
};

// What a block run does: which files it writes and how, which blocks come
// from the server, what goes at the end.
struct BlockPlan
{
    QVector<PlanFile> files;
    QStringList sources; // folder files read for Copy pieces
    QVector<quint32> fetchBlocks; // target blocks fetched, each once, by bundle and offset
    QStringList obsolete; // installed files the target lacks: deleted at the end
    QStringList caseTwins; // installed spellings of a target path in other letter case
    QStringList inTheWay; // installed files where a target folder or file must go: deleted first
    BlockCost cost;
};

// Plans a run that brings the folder to target. installed (may be null) is
// the index of what the folder holds; its claims are used only for files
// whose size matches and are checked again when read.
BlockPlan PlanBlocks(
    const BlockIndex &target, const BlockIndex *installed, const LocalFolderState &local, const PlanOptions &options);

// The paths whose sizes PlanBlocks needs.
QStringList PlannedPaths(const BlockIndex &target, const BlockIndex *installed);

} // namespace Morvaniel
