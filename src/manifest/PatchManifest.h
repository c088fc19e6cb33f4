#pragma once

#include "MorvanielGlobal.h"
#include "manifest/FileManifest.h"

namespace Morvaniel {

// What an unpacked patch does to the installed files.
struct PatchManifest
{
    FileManifest newFiles; // brought whole; same relative path in patch and target folder
    FileManifest delFiles; // removed from the target folder
    FileManifest patchFiles; // binary patches; the patched file's path is cut before the first ".patch"
};

// Never fails. A file that is both deleted and brought new (also when the lines
// differ only in letter case, and however many delete lines name it) is kept off
// delFiles: the new copy stands.
PatchManifest parsePatchManifest(const QString &text);

} // namespace Morvaniel
