#pragma once

#include "MorvanielGlobal.h"

#include <QString>

namespace Morvaniel {

// Rules for folders that a stage is about to delete or empty. Folder names
// reach these stages from settings files and from the host, so a bad one must
// never take the disk, the program or the game with it.
namespace FolderGuard {

// The cleaned absolute form of path, with "/" separators, in which two names
// of one file are the same text (letter case folded where file names ignore it).
MORVANIEL_EXPORT QString ComparablePath(const QString &path);

// True when path is folder itself or lies anywhere below it. Both are compared
// as cleaned absolute paths (either separator, letter case as the system's file
// names compare); "Game2" is not inside "Game".
bool IsSameOrInside(const QString &path, const QString &folder);

// True for a folder that is never deleted or emptied as a whole: an empty
// name, one with a ".." segment, a file-system root or share, the application
// folder or a folder that holds it - by its spelling, or by what the file
// system resolves it to (links, and on Windows short names, trailing dots,
// "\\?\" prefixes and administrative shares).
MORVANIEL_EXPORT bool IsProtectedFolder(const QString &folder);

// Deletes a folder named by the settings or the host, unless it is protected:
// then it logs "refusing to delete <folder>" under tag and returns false. A
// folder that does not exist is no failure.
MORVANIEL_EXPORT bool DeleteConfiguredFolder(const QString &folder, const QString &tag);

} // namespace FolderGuard
} // namespace Morvaniel
