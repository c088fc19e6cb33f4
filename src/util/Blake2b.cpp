#include "util/Blake2b.h"

#include <QFile>

#include <sodium.h>

namespace Morvaniel {

namespace {

crypto_generichash_state *state(unsigned char *storage)
{
    return reinterpret_cast<crypto_generichash_state *>(storage);
}

} // namespace

// The state is kept in place so that the public header needs no sodium.h.
static_assert(sizeof(crypto_generichash_state) <= 384, "BLAKE2b state does not fit");

Blake2b::Blake2b()
{
    // Initialisation only picks the fastest implementation; it cannot fail on
    // a usable system and is cheap after the first call.
    if (sodium_init() < 0)
        qFatal("libsodium cannot be initialised");
    crypto_generichash_init(state(m_state), nullptr, 0, DigestSize);
}

Blake2b::~Blake2b()
{
    sodium_memzero(m_state, sizeof m_state);
}

void Blake2b::addData(const char *data, qint64 length)
{
    if (length > 0)
        crypto_generichash_update(
            state(m_state), reinterpret_cast<const unsigned char *>(data), static_cast<unsigned long long>(length));
}

QByteArray Blake2b::result()
{
    QByteArray digest(DigestSize, Qt::Uninitialized);
    crypto_generichash_final(state(m_state), reinterpret_cast<unsigned char *>(digest.data()), DigestSize);
    return digest;
}

QByteArray Blake2b::hash(const QByteArray &bytes)
{
    Blake2b b;
    b.addData(bytes.constData(), bytes.size());
    return b.result();
}

QString Blake2b::fileHex(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Blake2b b;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (;;) {
        const qint64 got = file.read(chunk.data(), chunk.size());
        if (got < 0)
            return QString();
        if (got == 0)
            break;
        b.addData(chunk.constData(), got);
    }
    return QString::fromLatin1(b.result().toHex());
}

} // namespace Morvaniel
