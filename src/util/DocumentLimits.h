#pragma once

#include <QtGlobal>

namespace Morvaniel {

// Bounds on what the library reads from a server into memory. A server is
// hostile until its bytes are checked: an endless or inflated reply must end
// the request, not the process.

// A signed release document lists one line per published file; anything larger
// is not one.
constexpr qint64 MaxReleaseDocumentBytes = 16 * 1024 * 1024;
// A document the signed release does not bound (remote information, manifests
// of an unsigned server): room for the file manifest of a game of some
// hundred thousand files.
constexpr qint64 MaxUnsignedDocumentBytes = 64 * 1024 * 1024;
// A picture for the launcher's window.
constexpr qint64 MaxImageBytes = 32 * 1024 * 1024;

} // namespace Morvaniel
