#include "util/Sha256.h"

#include "util/Sha256Ni.h"

#include <atomic>
#include <cstring>

namespace Morvaniel {

namespace {

const std::uint32_t K[64] = { 0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
    0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152,
    0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138,
    0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b, 0xc24b8b70,
    0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5,
    0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3, 0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa,
    0xa4506ceb, 0xbef9a3f7, 0xc67178f2 };

inline std::uint32_t rotr(std::uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

void compressPortable(std::uint32_t state[8], const unsigned char *data, std::size_t blocks)
{
    for (; blocks > 0; --blocks, data += 64) {
        std::uint32_t w[64];
        for (int i = 0; i < 16; ++i)
            w[i] = std::uint32_t(data[4 * i]) << 24 | std::uint32_t(data[4 * i + 1]) << 16
                | std::uint32_t(data[4 * i + 2]) << 8 | std::uint32_t(data[4 * i + 3]);
        for (int i = 16; i < 64; ++i) {
            const std::uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            const std::uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        for (int i = 0; i < 64; ++i) {
            const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
            const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            h = g;
            g = f;
            f = e;
            e = d + t1;
            d = c;
            c = b;
            b = a;
            a = t1 + t2;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

std::atomic<bool> &accelerationAllowed()
{
    static std::atomic<bool> allowed{ true };
    return allowed;
}

bool useNi()
{
    static const bool available = Sha256Ni::available();
    return available && accelerationAllowed().load(std::memory_order_relaxed);
}

} // namespace

Sha256::Sha256()
    : m_state{ 0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19 }
{
}

void Sha256::compress(const unsigned char *blocks, std::size_t count)
{
    if (useNi())
        Sha256Ni::compress(m_state, blocks, count);
    else
        compressPortable(m_state, blocks, count);
}

void Sha256::addData(const void *data, std::size_t length)
{
    const unsigned char *in = static_cast<const unsigned char *>(data);
    m_length += length;
    if (m_buffered > 0) {
        const std::size_t take = std::min(length, sizeof m_buffer - m_buffered);
        std::memcpy(m_buffer + m_buffered, in, take);
        m_buffered += take;
        in += take;
        length -= take;
        if (m_buffered < sizeof m_buffer)
            return;
        compress(m_buffer, 1);
        m_buffered = 0;
    }
    if (length >= 64) {
        compress(in, length / 64);
        in += length / 64 * 64;
        length %= 64;
    }
    if (length > 0) {
        std::memcpy(m_buffer, in, length);
        m_buffered = length;
    }
}

void Sha256::result(unsigned char digest[DigestSize])
{
    const std::uint64_t bits = m_length * 8;
    unsigned char tail[128] = { 0x80 };
    const std::size_t padding = (m_buffered < 56 ? 56 : 120) - m_buffered;
    for (int i = 0; i < 8; ++i)
        tail[padding + std::size_t(i)] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    addData(tail, padding + 8);
    for (int i = 0; i < 8; ++i)
        for (int b = 0; b < 4; ++b)
            digest[4 * i + b] = static_cast<unsigned char>(m_state[i] >> (24 - 8 * b));
}

void Sha256::hash(const void *data, std::size_t length, unsigned char digest[DigestSize])
{
    Sha256 h;
    h.addData(data, length);
    h.result(digest);
}

QByteArray Sha256::hash(const QByteArray &bytes)
{
    QByteArray out(DigestSize, Qt::Uninitialized);
    hash(bytes.constData(), std::size_t(bytes.size()), reinterpret_cast<unsigned char *>(out.data()));
    return out;
}

const char *Sha256::implementation()
{
    return useNi() ? "sha-ni" : "portable";
}

void Sha256::allowAcceleration(bool allowed)
{
    accelerationAllowed().store(allowed);
}

} // namespace Morvaniel
