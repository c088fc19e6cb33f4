#include "util/Md5.h"

#include <QtEndian>

#include <cstring>

namespace Morvaniel {

namespace {

inline quint32 rotl(quint32 v, int s)
{
    return (v << s) | (v >> (32 - s));
}

inline quint32 word(const unsigned char *p, int i)
{
    return qFromLittleEndian<quint32>(p + 4 * i);
}

// One step each; the message word and the constant are added before the round
// function's value is known, off the chain of dependent operations.
#define MD5_F(a, b, c, d, x, t, s) a = b + rotl(a + (x) + (t) + ((d) ^ ((b) & ((c) ^ (d)))), s)
// G(b,c,d) = (b & d) | (c & ~d): the two halves never overlap, so they can be
// added one at a time, each as soon as it is ready.
#define MD5_G(a, b, c, d, x, t, s) a = b + rotl(a + (x) + (t) + ((c) & ~(d)) + ((b) & (d)), s)
#define MD5_H(a, b, c, d, x, t, s) a = b + rotl(a + (x) + (t) + ((b) ^ (c) ^ (d)), s)
#define MD5_I(a, b, c, d, x, t, s) a = b + rotl(a + (x) + (t) + ((c) ^ ((b) | ~(d))), s)

} // namespace

Md5::Md5()
    : m_state{ 0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u }
{
}

void Md5::blocks(const unsigned char *p, qint64 count)
{
    quint32 a = m_state[0];
    quint32 b = m_state[1];
    quint32 c = m_state[2];
    quint32 d = m_state[3];
    for (; count > 0; --count, p += 64) {
        const quint32 aa = a, bb = b, cc = c, dd = d;

        MD5_F(a, b, c, d, word(p, 0), 0xd76aa478u, 7);
        MD5_F(d, a, b, c, word(p, 1), 0xe8c7b756u, 12);
        MD5_F(c, d, a, b, word(p, 2), 0x242070dbu, 17);
        MD5_F(b, c, d, a, word(p, 3), 0xc1bdceeeu, 22);
        MD5_F(a, b, c, d, word(p, 4), 0xf57c0fafu, 7);
        MD5_F(d, a, b, c, word(p, 5), 0x4787c62au, 12);
        MD5_F(c, d, a, b, word(p, 6), 0xa8304613u, 17);
        MD5_F(b, c, d, a, word(p, 7), 0xfd469501u, 22);
        MD5_F(a, b, c, d, word(p, 8), 0x698098d8u, 7);
        MD5_F(d, a, b, c, word(p, 9), 0x8b44f7afu, 12);
        MD5_F(c, d, a, b, word(p, 10), 0xffff5bb1u, 17);
        MD5_F(b, c, d, a, word(p, 11), 0x895cd7beu, 22);
        MD5_F(a, b, c, d, word(p, 12), 0x6b901122u, 7);
        MD5_F(d, a, b, c, word(p, 13), 0xfd987193u, 12);
        MD5_F(c, d, a, b, word(p, 14), 0xa679438eu, 17);
        MD5_F(b, c, d, a, word(p, 15), 0x49b40821u, 22);

        MD5_G(a, b, c, d, word(p, 1), 0xf61e2562u, 5);
        MD5_G(d, a, b, c, word(p, 6), 0xc040b340u, 9);
        MD5_G(c, d, a, b, word(p, 11), 0x265e5a51u, 14);
        MD5_G(b, c, d, a, word(p, 0), 0xe9b6c7aau, 20);
        MD5_G(a, b, c, d, word(p, 5), 0xd62f105du, 5);
        MD5_G(d, a, b, c, word(p, 10), 0x02441453u, 9);
        MD5_G(c, d, a, b, word(p, 15), 0xd8a1e681u, 14);
        MD5_G(b, c, d, a, word(p, 4), 0xe7d3fbc8u, 20);
        MD5_G(a, b, c, d, word(p, 9), 0x21e1cde6u, 5);
        MD5_G(d, a, b, c, word(p, 14), 0xc33707d6u, 9);
        MD5_G(c, d, a, b, word(p, 3), 0xf4d50d87u, 14);
        MD5_G(b, c, d, a, word(p, 8), 0x455a14edu, 20);
        MD5_G(a, b, c, d, word(p, 13), 0xa9e3e905u, 5);
        MD5_G(d, a, b, c, word(p, 2), 0xfcefa3f8u, 9);
        MD5_G(c, d, a, b, word(p, 7), 0x676f02d9u, 14);
        MD5_G(b, c, d, a, word(p, 12), 0x8d2a4c8au, 20);

        MD5_H(a, b, c, d, word(p, 5), 0xfffa3942u, 4);
        MD5_H(d, a, b, c, word(p, 8), 0x8771f681u, 11);
        MD5_H(c, d, a, b, word(p, 11), 0x6d9d6122u, 16);
        MD5_H(b, c, d, a, word(p, 14), 0xfde5380cu, 23);
        MD5_H(a, b, c, d, word(p, 1), 0xa4beea44u, 4);
        MD5_H(d, a, b, c, word(p, 4), 0x4bdecfa9u, 11);
        MD5_H(c, d, a, b, word(p, 7), 0xf6bb4b60u, 16);
        MD5_H(b, c, d, a, word(p, 10), 0xbebfbc70u, 23);
        MD5_H(a, b, c, d, word(p, 13), 0x289b7ec6u, 4);
        MD5_H(d, a, b, c, word(p, 0), 0xeaa127fau, 11);
        MD5_H(c, d, a, b, word(p, 3), 0xd4ef3085u, 16);
        MD5_H(b, c, d, a, word(p, 6), 0x04881d05u, 23);
        MD5_H(a, b, c, d, word(p, 9), 0xd9d4d039u, 4);
        MD5_H(d, a, b, c, word(p, 12), 0xe6db99e5u, 11);
        MD5_H(c, d, a, b, word(p, 15), 0x1fa27cf8u, 16);
        MD5_H(b, c, d, a, word(p, 2), 0xc4ac5665u, 23);

        MD5_I(a, b, c, d, word(p, 0), 0xf4292244u, 6);
        MD5_I(d, a, b, c, word(p, 7), 0x432aff97u, 10);
        MD5_I(c, d, a, b, word(p, 14), 0xab9423a7u, 15);
        MD5_I(b, c, d, a, word(p, 5), 0xfc93a039u, 21);
        MD5_I(a, b, c, d, word(p, 12), 0x655b59c3u, 6);
        MD5_I(d, a, b, c, word(p, 3), 0x8f0ccc92u, 10);
        MD5_I(c, d, a, b, word(p, 10), 0xffeff47du, 15);
        MD5_I(b, c, d, a, word(p, 1), 0x85845dd1u, 21);
        MD5_I(a, b, c, d, word(p, 8), 0x6fa87e4fu, 6);
        MD5_I(d, a, b, c, word(p, 15), 0xfe2ce6e0u, 10);
        MD5_I(c, d, a, b, word(p, 6), 0xa3014314u, 15);
        MD5_I(b, c, d, a, word(p, 13), 0x4e0811a1u, 21);
        MD5_I(a, b, c, d, word(p, 4), 0xf7537e82u, 6);
        MD5_I(d, a, b, c, word(p, 11), 0xbd3af235u, 10);
        MD5_I(c, d, a, b, word(p, 2), 0x2ad7d2bbu, 15);
        MD5_I(b, c, d, a, word(p, 9), 0xeb86d391u, 21);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    m_state[0] = a;
    m_state[1] = b;
    m_state[2] = c;
    m_state[3] = d;
}

void Md5::addData(const char *data, qint64 length)
{
    if (length <= 0)
        return;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(data);
    m_length += quint64(length);
    if (m_pendingSize > 0) {
        const int take = int(qMin<qint64>(64 - m_pendingSize, length));
        std::memcpy(m_pending + m_pendingSize, p, size_t(take));
        m_pendingSize += take;
        p += take;
        length -= take;
        if (m_pendingSize < 64)
            return;
        blocks(m_pending, 1);
        m_pendingSize = 0;
    }
    const qint64 whole = length / 64;
    blocks(p, whole);
    p += whole * 64;
    length -= whole * 64;
    std::memcpy(m_pending, p, size_t(length));
    m_pendingSize = int(length);
}

QByteArray Md5::result()
{
    const quint64 bits = m_length * 8;
    unsigned char tail[72] = { 0x80 };
    const int padding = m_pendingSize < 56 ? 56 - m_pendingSize : 120 - m_pendingSize;
    qToLittleEndian<quint64>(bits, tail + padding);
    addData(reinterpret_cast<const char *>(tail), padding + 8);
    QByteArray digest(16, Qt::Uninitialized);
    for (int i = 0; i < 4; ++i)
        qToLittleEndian<quint32>(m_state[i], digest.data() + 4 * i);
    return digest;
}

#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

} // namespace Morvaniel
