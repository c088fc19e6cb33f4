#pragma once

#include "PatchPlan.h"

#include <QStringList>

namespace Publisher {

// The unpacked content of one patch archive, as written to its folder.
struct PatchFolder
{
    QVector<TreeFile> deleted;
    QVector<TreeFile> added; // whole files, under their game paths
    QVector<TreeFile> patches; // binary patches, "<game path>.patch"
    QStringList entries; // every file of the folder, the manifest first
};

// Fills folder (which must be empty) with what the merge stage reads: the patch
// manifest at its root, whole files and binary patches made with diffTool. A
// changed file goes whole when its patch would not be smaller, when its path has
// no usable patch name, or when the patch name would clash with another entry.
bool buildPatchFolder(const PatchPlan &plan, const VersionTree &from, const VersionTree &to, const QString &diffTool,
    const QString &folder, PatchFolder &out, QString &error);

} // namespace Publisher
