#include "blocks/BlockDigest.h"

#include "util/Sha256.h"

namespace Morvaniel {

BlockDigest BlockDigest::of(const void *data, std::size_t length)
{
    BlockDigest d;
    Sha256::hash(data, length, d.bytes.data());
    return d;
}

BlockDigest BlockDigest::fromRaw(const char *raw)
{
    BlockDigest d;
    std::memcpy(d.bytes.data(), raw, d.bytes.size());
    return d;
}

QString BlockDigest::hex() const
{
    return QString::fromLatin1(
        QByteArray::fromRawData(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex());
}

} // namespace Morvaniel
