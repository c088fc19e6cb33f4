#pragma once

#include "MorvanielGlobal.h"
#include "core/Records.h"
#include "download/DownloadSplit.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace Morvaniel {

// One file fetched as several pieces at once. The first piece is the file
// itself, growing from its start as an unsplit download would; every other
// piece is a file of its own beside it, "<name>.<offset>.piece", holding the
// bytes from that offset on. Its size on disk is its progress, so a stopped
// or killed run resumes every piece from what it has. Once all pieces are
// complete they are appended to the file in order, each deleted once
// appended; the file is therefore always a true prefix of the whole, and a
// join cut short goes on from the file's size.
struct MORVANIEL_EXPORT PieceGroup
{
    struct Piece
    {
        QString path;
        qint64 offset = 0; // of its first byte in the whole file
        qint64 end = 0; // one past its last byte; the next piece's offset
    };

    DownloadFile whole;
    QVector<Piece> pieces; // by offset; pieces[0] is the file itself
    QStringList stale; // piece files that no longer count, to delete
    int unfinished = 0; // pieces still being fetched
    bool joining = false;

    bool split() const { return pieces.size() > 1; }
    // Works out the pieces of file from what is on disk: the pieces an
    // earlier run left are taken up again (their boundaries stay), a file
    // without any is cut afresh into pieces of the remaining bytes.
    static PieceGroup plan(const DownloadFile &file, const DownloadSplit &split);
    static QString piecePath(const QString &localPath, qint64 offset);
    // Every piece file beside localPath.
    static QStringList pieceFiles(const QString &localPath);
    // Those of names (a folder's file names) that are pieces of fileName.
    static QStringList piecesAmong(const QStringList &names, const QString &fileName);
    // Whether anything of file is on disk, its pieces included.
    static bool started(const DownloadFile &file);
    // The bytes of file on disk, its pieces included (at most its size).
    static qint64 bytesOnDisk(const DownloadFile &file);

    // Appends at most maxBytes of the next piece to the file; deletes a piece
    // once it is appended. False with error set when a read or write failed.
    bool joinStep(qint64 maxBytes, QString &error);
    bool joined() const;

private:
    int m_next = 1; // the next piece to append (the first is the file itself)
};

} // namespace Morvaniel
