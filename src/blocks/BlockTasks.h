#pragma once

#include "blocks/BlockDigest.h"
#include "blocks/FileTable.h"
#include "blocks/TaskScratch.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Morvaniel {

// The work a block run's pool threads do. Each function reads, checks and
// writes one thing and says how it went; nothing is written that did not
// match its digest.
namespace BlockTasks {

struct Outcome
{
    enum Code {
        Ok,
        Mismatch, // the bytes read, or unpacked, are not the block
        ReadFailed, // the bytes to read are not there (missing or short file)
        WriteFailed,
    };
    Code code = Ok;
    bool diskFull = false;
    QString error;
};

struct Destination
{
    QString path;
    qint64 offset = 0;
    qint64 fileSize = 0; // the size the file gets when it is first opened
};

// Reads size bytes at offset of path and compares their digest.
Outcome check(FileTable &files, TaskScratch &scratch, const QString &path, qint64 offset, quint32 size,
    const BlockDigest &digest);
// Reads a block from one place of the folder, checks it and writes it to another.
Outcome copy(FileTable &files, TaskScratch &scratch, const QString &source, qint64 sourceOffset, const Destination &to,
    quint32 size, const BlockDigest &digest);
// Unpacks a block's frame (never into more than size bytes), checks it and
// writes it to every destination.
Outcome decode(FileTable &files, TaskScratch &scratch, const QByteArray &packed, quint32 size,
    const BlockDigest &digest, const QVector<Destination> &to);
// The file created or brought to its exact size.
Outcome finalize(FileTable &files, const QString &path, qint64 size);
// Everything written to paths on disk.
Outcome sync(FileTable &files, const QStringList &paths);

} // namespace BlockTasks

} // namespace Morvaniel
