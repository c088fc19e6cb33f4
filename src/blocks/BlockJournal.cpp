#include "blocks/BlockJournal.h"

#include <QSaveFile>
#include <QtEndian>

#include <zlib.h>

namespace Morvaniel {

namespace {

const char Magic[8] = { 'M', 'V', 'B', 'L', 'K', 'J', 'N', '\1' };
constexpr quint32 RecordSeal = 0x4d56424a;

quint32 sealOf(const char *record)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef *>(record), 12)) ^ RecordSeal;
}

QByteArray header(const QByteArray &runDigest)
{
    QByteArray h(Magic, 8);
    h += runDigest.leftJustified(32, '\0', true);
    h += QByteArray(BlockJournal::HeaderSize - h.size(), '\0');
    return h;
}

} // namespace

bool BlockJournal::open(const QString &path, const QByteArray &runDigest, State &state, bool &resumed, QString &error)
{
    close();
    state = State();
    resumed = false;
    m_pieceRecords = 0;
    m_buffer.clear();
    const QByteArray wanted = header(runDigest);
    QByteArray bytes;
    {
        QFile old(path);
        if (old.open(QIODevice::ReadOnly))
            bytes = old.readAll();
    }
    if (bytes.startsWith(wanted)) {
        resumed = true;
        QVector<quint32> pieces;
        quint32 sure = 0;
        for (int at = HeaderSize; at + RecordSize <= bytes.size(); at += RecordSize) {
            const char *r = bytes.constData() + at;
            if (qFromLittleEndian<quint32>(r + 12) != sealOf(r))
                break;
            const quint32 kind = qFromLittleEndian<quint32>(r);
            const quint32 value = qFromLittleEndian<quint32>(r + 4);
            if (kind == PieceDone)
                pieces.append(value);
            else if (kind == Checkpoint && value <= quint32(pieces.size()))
                sure = qMax(sure, value);
            else if (kind == CommitBegun)
                state.commitBegun = true;
            else
                break;
        }
        state.done = pieces.mid(0, int(sure));
        state.unsure = pieces.mid(int(sure));
    }
    // Written anew through a temporary file: the header, the pieces known to
    // be on disk and a checkpoint for them. Records after the last checkpoint
    // go (their pieces are checked again and recorded anew), a torn one included.
    for (quint32 piece : qAsConst(state.done))
        append(PieceDone, piece);
    if (!state.done.isEmpty())
        append(Checkpoint, quint32(state.done.size()));
    if (state.commitBegun)
        append(CommitBegun);
    QSaveFile fresh(path);
    if (!fresh.open(QIODevice::WriteOnly) || fresh.write(wanted + m_buffer) != wanted.size() + m_buffer.size()
        || !fresh.commit()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, fresh.errorString());
        m_buffer.clear();
        return false;
    }
    m_buffer.clear();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = QStringLiteral("cannot open %1: %2").arg(path, m_file.errorString());
        return false;
    }
    return true;
}

bool BlockJournal::belongsTo(const QString &path, const QByteArray &runDigest)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(HeaderSize) == header(runDigest);
}

void BlockJournal::append(Record kind, quint32 value)
{
    if (kind == PieceDone)
        ++m_pieceRecords;
    char r[RecordSize] = {};
    qToLittleEndian(quint32(kind), r);
    qToLittleEndian(value, r + 4);
    qToLittleEndian(sealOf(r), r + 12);
    m_buffer.append(r, RecordSize);
}

bool BlockJournal::flush(QString &error)
{
    if (m_buffer.isEmpty())
        return true;
    if (!m_file.isOpen() || m_file.write(m_buffer) != m_buffer.size()) {
        error = QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString());
        return false;
    }
    m_buffer.clear();
    return true;
}

void BlockJournal::close()
{
    if (m_file.isOpen()) {
        QString ignored;
        flush(ignored);
        m_file.close();
    }
    m_buffer.clear();
}

} // namespace Morvaniel
