#pragma once

#include <QString>

namespace Publisher {

// The patch-creating counterpart of the merge stage's hpatchz: "hdiffz" beside
// the running program.
QString defaultDiffTool();

// Runs "<tool> <old> <new> <patch>" and expects exit code 0 and the patch file.
bool createBinaryPatch(
    const QString &tool, const QString &oldPath, const QString &newPath, const QString &patchPath, QString &error);

} // namespace Publisher
