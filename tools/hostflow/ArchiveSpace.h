#pragma once

#include "util/FreeSpace.h"

#include <QVector>

namespace Morvaniel {
class GameUpdateContext;
}

// What the archive path writes, for the room check before its download
// starts (FreeSpace::check, the words the block path uses too).
namespace HostFlow::ArchiveSpace {

// The full pack: what is left to download of its two largest archives into
// the cache (no more are on disk at once: each goes once extracted), and its
// files into the game folder beyond the bytes that files at their paths
// already hold (extraction writes over them).
QVector<Morvaniel::FreeSpace::Need> fullPack(const Morvaniel::GameUpdateContext &ctx);

// One patch step: what is left to download of its archives, and the patch
// unpacked beside the game. The unpacked size is not published: the
// archives' own size stands for it (patches are stored nearly incompressible).
QVector<Morvaniel::FreeSpace::Need> patchStep(const Morvaniel::GameUpdateContext &ctx);

} // namespace HostFlow::ArchiveSpace
