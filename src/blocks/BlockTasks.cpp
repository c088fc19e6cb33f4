#include "blocks/BlockTasks.h"

#include <zstd.h>

namespace Morvaniel {
namespace BlockTasks {

namespace {

Outcome failed(Outcome::Code code, const PositionalFile::Error &error)
{
    Outcome o;
    o.code = code;
    o.diskFull = error.diskFull;
    o.error = error.text;
    return o;
}

Outcome writeTo(FileTable &files, const Destination &to, const char *data, quint32 size)
{
    PositionalFile::Error error;
    const FileTable::Handle file = files.acquire(to.path, true, to.fileSize, error);
    if (!file || !file->writeAt(to.offset, data, size, error))
        return failed(Outcome::WriteFailed, error);
    return Outcome();
}

} // namespace

Outcome check(
    FileTable &files, TaskScratch &scratch, const QString &path, qint64 offset, quint32 size, const BlockDigest &digest)
{
    PositionalFile::Error error;
    const FileTable::Handle file = files.acquire(path, false, -1, error);
    char *data = scratch.buffer(size);
    if (!file || !file->readAt(offset, data, size, error))
        return failed(Outcome::ReadFailed, error);
    Outcome o;
    if (BlockDigest::of(data, size) != digest)
        o.code = Outcome::Mismatch;
    return o;
}

Outcome copy(FileTable &files, TaskScratch &scratch, const QString &source, qint64 sourceOffset, const Destination &to,
    quint32 size, const BlockDigest &digest)
{
    PositionalFile::Error error;
    const FileTable::Handle file = files.acquire(source, false, -1, error);
    char *data = scratch.buffer(size);
    if (!file || !file->readAt(sourceOffset, data, size, error))
        return failed(Outcome::ReadFailed, error);
    if (BlockDigest::of(data, size) != digest) {
        Outcome o;
        o.code = Outcome::Mismatch;
        return o;
    }
    return writeTo(files, to, data, size);
}

Outcome decode(FileTable &files, TaskScratch &scratch, const QByteArray &packed, quint32 size,
    const BlockDigest &digest, const QVector<Destination> &to)
{
    char *data = scratch.buffer(size);
    // The frame must say it holds exactly the block, and unpack to exactly that.
    const unsigned long long declared = ZSTD_getFrameContentSize(packed.constData(), std::size_t(packed.size()));
    const std::size_t n = declared == size
        ? ZSTD_decompressDCtx(scratch.unpacker(), data, size, packed.constData(), std::size_t(packed.size()))
        : 0;
    Outcome o;
    if (declared != size || ZSTD_isError(n) || n != size || BlockDigest::of(data, size) != digest) {
        o.code = Outcome::Mismatch;
        return o;
    }
    for (const Destination &d : to) {
        o = writeTo(files, d, data, size);
        if (o.code != Outcome::Ok)
            return o;
    }
    return o;
}

Outcome finalize(FileTable &files, const QString &path, qint64 size)
{
    PositionalFile::Error error;
    const FileTable::Handle file = files.acquire(path, true, size, error);
    if (!file || (file->size() != size && !file->resize(size, error)))
        return failed(Outcome::WriteFailed, error);
    return Outcome();
}

Outcome sync(FileTable &files, const QStringList &paths)
{
    for (const QString &path : paths) {
        PositionalFile::Error error;
        const FileTable::Handle file = files.acquire(path, true, -1, error);
        if (!file || !file->sync(error))
            return failed(Outcome::WriteFailed, error);
    }
    return Outcome();
}

} // namespace BlockTasks
} // namespace Morvaniel
