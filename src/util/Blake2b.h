#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace Morvaniel {

// BLAKE2b with a 32-byte digest (libsodium's generic hash): the strong digest
// of the signed release document. MD5 only catches accidents; this one an
// attacker cannot match, and it is fast in software on any x86-64.
class MORVANIEL_EXPORT Blake2b
{
public:
    static constexpr int DigestSize = 32;

    Blake2b();
    ~Blake2b();
    Blake2b(const Blake2b &) = delete;
    Blake2b &operator=(const Blake2b &) = delete;

    void addData(const char *data, qint64 length);
    // The raw digest; the object is spent afterwards.
    QByteArray result();

    static QByteArray hash(const QByteArray &bytes);
    // Lower-case hex of a file's digest, or a null string when it cannot be read.
    static QString fileHex(const QString &path);

private:
    alignas(64) unsigned char m_state[384];
};

} // namespace Morvaniel
