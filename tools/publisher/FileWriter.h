#pragma once

#include <QByteArray>
#include <QString>

namespace Publisher {

// Writes bytes to path (creating its folder) through a temporary file and a
// rename, so a reader never sees half a document; false with error set on any
// failure, a short write included.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString &error);

} // namespace Publisher
