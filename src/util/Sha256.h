#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace Morvaniel {

// SHA-256, the strong digest that names every delivery block. On processors
// with the SHA extensions (most x86-64 since 2017) the compression runs on
// them, at about twice BLAKE2b's speed and above a gigabyte a second per core;
// elsewhere a portable implementation gives the same digest more slowly.
class MORVANIEL_EXPORT Sha256
{
public:
    static constexpr int DigestSize = 32;

    Sha256();
    void addData(const void *data, std::size_t length);
    // Writes the digest; the object is spent afterwards.
    void result(unsigned char digest[DigestSize]);

    static void hash(const void *data, std::size_t length, unsigned char digest[DigestSize]);
    static QByteArray hash(const QByteArray &bytes);

    // "sha-ni" or "portable": what this process uses.
    static const char *implementation();
    // Tests and benchmarks compare both paths on one machine; hashing threads
    // must not run while this is switched.
    static void allowAcceleration(bool allowed);

private:
    void compress(const unsigned char *blocks, std::size_t count);

    std::uint32_t m_state[8];
    unsigned char m_buffer[64];
    std::size_t m_buffered = 0;
    std::uint64_t m_length = 0;
};

} // namespace Morvaniel
