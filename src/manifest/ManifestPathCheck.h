#pragma once

#include "MorvanielGlobal.h"

#include <QString>
#include <QStringList>

namespace Morvaniel {

// Manifest paths come from the server and are joined to local folders. A path
// is safe when it names something strictly inside the folder it is relative
// to: not empty, not absolute, no drive letter or other colon, no ".."
// segment, and not the folder itself ("." or "./").
bool IsSafeManifestPath(const QString &path);

// True when some path of the list is unsafe; the first one goes to bad.
bool FindUnsafeManifestPath(const QStringList &paths, QString &bad);

// The last "/"-separated section of a server package path.
QString PackageFileNameOf(const QString &path);

// False for a package file name that would not stay a plain file inside the
// cache folder: empty, only dots and blanks ("." and ".." among them), a path
// separator, a drive letter or stream colon, or a control character.
bool IsSafePackageFileName(const QString &name);

// The error text of a stage that refused a manifest.
QString UnsafeManifestPathError(const QString &path);

} // namespace Morvaniel
