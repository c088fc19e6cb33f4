#pragma once

#include "blocks/BlockCallbackInfo.h"
#include "blocks/BlockRun.h"

namespace Morvaniel {

// Everything a block run checks before it writes a byte: the indexes parse
// and keep their rules, with signed releases on they and every bundle are
// listed as published, the staging folder is the run's own. Then the folder
// is looked at (file sizes) and the run planned; when the staging folder
// holds the journal of this same job, the sizes it saw first are taken, so
// the plan comes out as before and the journal's piece numbers still fit.
// Reads only; on failure code and error say why.
bool PrepareBlockRun(const BlockJob &job, BlockRunSetup &setup, BlockError &code, QString &error);

// Creates the staging folder and what a fresh run keeps there (the sizes it
// saw), and deletes what stands in the target's way. The first writing step.
bool OpenBlockRun(BlockRunSetup &setup, BlockError &code, QString &error);

} // namespace Morvaniel
