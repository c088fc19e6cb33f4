#pragma once

#include "VersionTree.h"

namespace Publisher {

// What a patch from one version to another must do, before any file is made.
struct PatchPlan
{
    QVector<TreeFile> deleted; // files, and whole folders (empty MD5, size 0) the target no longer has
    QVector<TreeFile> added; // paths the older version lacks (letter case counts): shipped whole
    QVector<TreeFile> changed; // same path, other content: candidates for a binary patch
    // Why the step cannot be written as a patch at all (a file turning into a
    // folder or back: the merge stage adds before it deletes). Empty when it can.
    QString blocker;
};

PatchPlan planPatch(const VersionTree &from, const VersionTree &to);

// The name of the binary patch of a game file inside the patch folder. The
// merge stage cuts a patch name before its first ".patch" to find the game
// file, so a path that already holds ".patch" has no usable patch name.
QString patchFileName(const QString &path);
bool hasUsablePatchName(const QString &path);

} // namespace Publisher
