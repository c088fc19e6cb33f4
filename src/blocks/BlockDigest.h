#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QHashFunctions>
#include <QString>

#include <array>
#include <cstring>

namespace Morvaniel {

// The SHA-256 digest that names a block (of its bytes before compression) or
// a bundle (of the bundle file's bytes).
struct MORVANIEL_EXPORT BlockDigest
{
    std::array<unsigned char, 32> bytes{};

    static BlockDigest of(const void *data, std::size_t length);
    static BlockDigest fromRaw(const char *raw); // 32 bytes
    QString hex() const;

    bool operator==(const BlockDigest &o) const { return bytes == o.bytes; }
    bool operator!=(const BlockDigest &o) const { return bytes != o.bytes; }
    bool operator<(const BlockDigest &o) const { return bytes < o.bytes; }
};

inline uint qHash(const BlockDigest &d, uint seed = 0)
{
    // The digest is uniform already: its first bytes make a hash.
    uint v;
    std::memcpy(&v, d.bytes.data(), sizeof v);
    return v ^ seed;
}

} // namespace Morvaniel
