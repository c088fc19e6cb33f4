#pragma once

// Patches of real files for the tests: made with the library's own patch
// maker, between a file and an edited copy of it.

#include "HPatch.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace TestSupport {

inline bool makePatch(
    const QString &oldPath, const QString &newPath, const QString &diff, const hpatch::CreateOptions &options = {})
{
    QDir().mkpath(QFileInfo(diff).absolutePath());
    return hpatch::createPatch(QFile::encodeName(oldPath).toStdString(), QFile::encodeName(newPath).toStdString(),
        QFile::encodeName(diff).toStdString(), options)
        .ok();
}

// A new version of bytes: a few regions changed, a block inserted, a tail added.
inline QByteArray edited(QByteArray bytes, quint32 seed)
{
    if (bytes.size() > 4096) {
        bytes.replace(100, 50, randomBytes(60, seed));
        bytes.insert(bytes.size() / 2, randomBytes(3000, seed + 1));
        bytes.replace(bytes.size() - 2000, 10, QByteArray(10, 'x'));
    }
    return bytes + randomBytes(777, seed + 2);
}

} // namespace TestSupport
