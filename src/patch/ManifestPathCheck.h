#pragma once

#include "core/MorvanielGlobal.h"

#include <QString>
#include <QStringList>

namespace Morvaniel {

// Manifest paths come from the server and are joined to local folders. A path
// is safe when it names something strictly inside the folder it is relative
// to: not empty, not absolute, no drive letter or other colon, no ".."
// segment, and not the folder itself ("." or "./").
MORVANIEL_AUTOTEST_EXPORT bool IsSafeManifestPath(const QString &path);

// True when some path of the list is unsafe; the first one goes to bad.
bool FindUnsafeManifestPath(const QStringList &paths, QString &bad);

// The error text of a stage that refused a manifest.
QString UnsafeManifestPathError(const QString &path);

} // namespace Morvaniel
