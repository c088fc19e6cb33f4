#include "download/DownloadPieces.h"

#include "util/QFileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace Morvaniel {

namespace {

const QString kPieceSuffix = QStringLiteral(".piece");

// The offset a piece file's name gives, or -1 when the name is not one of file's pieces.
qint64 pieceOffset(const QString &pieceName, const QString &fileName)
{
    if (!pieceName.startsWith(fileName + QLatin1Char('.')) || !pieceName.endsWith(kPieceSuffix))
        return -1;
    const int from = fileName.size() + 1;
    const QString digits = pieceName.mid(from, pieceName.size() - from - kPieceSuffix.size());
    bool ok = false;
    const qint64 offset = digits.toLongLong(&ok);
    // Digits only: "+5" or " 5" would name the same offset twice.
    if (!ok || digits.isEmpty() || digits.size() > 18)
        return -1;
    for (const QChar c : digits) {
        if (!c.isDigit())
            return -1;
    }
    return offset;
}

} // namespace

QString PieceGroup::piecePath(const QString &localPath, qint64 offset)
{
    return localPath + QLatin1Char('.') + QString::number(offset) + kPieceSuffix;
}

QStringList PieceGroup::pieceFiles(const QString &localPath)
{
    const QFileInfo info(localPath);
    const QDir dir = info.dir();
    QStringList paths;
    const QStringList names
        = dir.entryList({ info.fileName() + QStringLiteral(".*") + kPieceSuffix }, QDir::Files | QDir::Hidden);
    for (const QString &name : piecesAmong(names, info.fileName()))
        paths << dir.filePath(name);
    return paths;
}

QStringList PieceGroup::piecesAmong(const QStringList &names, const QString &fileName)
{
    QStringList pieces;
    for (const QString &name : names) {
        if (pieceOffset(name, fileName) > 0)
            pieces << name;
    }
    return pieces;
}

bool PieceGroup::started(const DownloadFile &file)
{
    return QFileUtils::IsFileExist(file.localPath) || !pieceFiles(file.localPath).isEmpty();
}

qint64 PieceGroup::bytesOnDisk(const DownloadFile &file)
{
    qint64 bytes = QFileUtils::GetFileSize(file.localPath);
    for (const QString &path : pieceFiles(file.localPath))
        bytes += QFileUtils::GetFileSize(path);
    return qBound<qint64>(0, bytes, file.size);
}

PieceGroup PieceGroup::plan(const DownloadFile &file, const DownloadSplit &split)
{
    PieceGroup group;
    group.whole = file;
    const qint64 size = file.size;
    qint64 head = QFileUtils::GetFileSize(file.localPath);

    struct Found
    {
        QString path;
        qint64 offset;
        qint64 bytes;
    };
    QVector<Found> found;
    const QString fileName = QFileInfo(file.localPath).fileName();
    for (const QString &path : pieceFiles(file.localPath)) {
        const qint64 offset = pieceOffset(QFileInfo(path).fileName(), fileName);
        const qint64 bytes = QFileUtils::GetFileSize(path);
        // Outside the file, or wholly appended to it already.
        if (head >= size || offset >= size || offset + bytes <= head)
            group.stale << path;
        else
            found.append({ path, offset, bytes });
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) { return a.offset < b.offset; });
    QVector<Found> alive;
    for (const Found &piece : qAsConst(found)) {
        // A piece whose bytes run into the next one's start leaves that one no room.
        const bool overrun = !alive.isEmpty() && alive.last().offset + alive.last().bytes > piece.offset;
        const bool tooLong = piece.offset + piece.bytes > size;
        if (overrun || tooLong)
            group.stale << piece.path;
        else
            alive.append(piece);
    }

    // A join cut short has appended part of the first piece already: those
    // bytes go from the file (the piece still holds them), so that every
    // byte is counted once and the join simply starts that piece again.
    if (!alive.isEmpty() && head > alive.first().offset) {
        if (QFile::resize(file.localPath, alive.first().offset)) {
            head = alive.first().offset;
        } else {
            group.stale << alive.first().path;
            alive.removeFirst();
        }
    }

    if (alive.isEmpty()) {
        const qint64 rest = size - head;
        const qint64 count = head >= size || split.connections <= 1
            ? 1
            : qBound<qint64>(1, rest / qMax<qint64>(1, split.minPieceBytes), split.connections);
        for (qint64 k = 0; k < count; ++k) {
            Piece piece;
            piece.offset = k == 0 ? 0 : head + rest * k / count;
            piece.end = k + 1 == count ? size : head + rest * (k + 1) / count;
            piece.path = k == 0 ? file.localPath : piecePath(file.localPath, piece.offset);
            group.pieces.append(piece);
        }
    } else {
        // The file itself fills up to the first piece.
        group.pieces.append({ file.localPath, 0, alive.first().offset });
        for (int k = 0; k < alive.size(); ++k) {
            const qint64 end = k + 1 < alive.size() ? alive.at(k + 1).offset : size;
            group.pieces.append({ alive.at(k).path, alive.at(k).offset, end });
        }
    }
    group.unfinished = group.pieces.size();
    return group;
}

bool PieceGroup::joined() const
{
    return m_next >= pieces.size();
}

bool PieceGroup::joinStep(qint64 maxBytes, QString &error)
{
    if (joined())
        return true;
    const Piece &piece = pieces.at(m_next);
    const qint64 head = QFileUtils::GetFileSize(whole.localPath);
    if (head < piece.offset) {
        error = QStringLiteral("%1 ends at %2, before its piece at %3")
                    .arg(whole.localPath, QString::number(head), QString::number(piece.offset));
        return false;
    }
    QByteArray bytes;
    if (head < piece.end) {
        QFile in(piece.path);
        if (!in.open(QIODevice::ReadOnly) || !in.seek(head - piece.offset)) {
            error = QStringLiteral("cannot read %1: %2").arg(piece.path, in.errorString());
            return false;
        }
        bytes = in.read(qMin(maxBytes, piece.end - head));
        if (bytes.isEmpty()) {
            error = QStringLiteral("%1 ends short of %2 bytes")
                        .arg(piece.path, QString::number(piece.end - piece.offset));
            return false;
        }
        QFile out(whole.localPath);
        // Unbuffered: a full disk shows in this write, not in a later flush.
        if (!out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)
            || out.write(bytes) != bytes.size()) {
            error = QStringLiteral("cannot append to %1: %2").arg(whole.localPath, out.errorString());
            return false;
        }
    }
    if (head + bytes.size() >= piece.end) {
        QFile::remove(piece.path);
        ++m_next;
    }
    return true;
}

} // namespace Morvaniel
