#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QVector>

namespace Morvaniel {

// The resume journal of a block run: a header naming the run (a digest of its
// target, installed index and options) and fixed 16-byte records appended as
// work lands. A piece is recorded once its checked bytes are written. A
// checkpoint says that the first n piece records were flushed to disk: the
// files they wrote were synced after those records and before the
// checkpoint. After a crash the pieces it covers are taken as done, the later
// ones are read and checked again (a killed process loses nothing it wrote,
// a machine that lost power may have), and a torn last record is dropped.
class BlockJournal
{
public:
    enum Record : quint32 {
        PieceDone = 1, // value: the piece's number in the plan
        Checkpoint = 2, // value: how many piece records it covers
        CommitBegun = 3, // every piece is done; staged files are being moved into place
    };

    struct State
    {
        QVector<quint32> done; // up to the last checkpoint
        QVector<quint32> unsure; // after it
        bool commitBegun = false;
    };

    BlockJournal() = default;
    BlockJournal(const BlockJournal &) = delete;
    BlockJournal &operator=(const BlockJournal &) = delete;

    // Opens or creates the journal at path. When it belongs to another run,
    // or holds no valid header, resumed is false and it starts empty.
    bool open(const QString &path, const QByteArray &runDigest, State &state, bool &resumed, QString &error);
    // True when the journal at path was written by the run runDigest names.
    static bool belongsTo(const QString &path, const QByteArray &runDigest);
    // Buffered until flush().
    void append(Record kind, quint32 value = 0);
    bool flush(QString &error);
    void close();
    bool isOpen() const { return m_file.isOpen(); }
    // Piece records so far, the ones still buffered included.
    quint32 pieceRecords() const { return m_pieceRecords; }

    static constexpr int RecordSize = 16;
    static constexpr int HeaderSize = 48;

private:
    QFile m_file;
    QByteArray m_buffer;
    quint32 m_pieceRecords = 0;
};

} // namespace Morvaniel
