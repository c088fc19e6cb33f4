#include "trust/ReleaseKeys.h"

#include <QFile>
#include <QFileInfo>

#include <sodium.h>

namespace Morvaniel {
namespace ReleaseKeys {

namespace {

const QByteArray PublicPrefix = QByteArrayLiteral("ed25519:");
const QByteArray SecretPrefix = QByteArrayLiteral("ed25519-secret:");

bool ready()
{
    return sodium_init() >= 0;
}

const unsigned char *bytes(const QByteArray &a)
{
    return reinterpret_cast<const unsigned char *>(a.constData());
}

unsigned char *bytes(QByteArray &a)
{
    return reinterpret_cast<unsigned char *>(a.data());
}

// Strict base64: anything that does not decode to exactly size bytes is refused.
QByteArray decodeExact(const QByteArray &text, int size)
{
    const auto decoded = QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != size)
        return QByteArray();
    return decoded.decoded;
}

bool writeFile(const QString &path, const QByteArray &content, bool secret, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    // Narrowed before the secret is written, so it is never readable by others.
    if (secret && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        error = QStringLiteral("cannot restrict the permissions of %1").arg(path);
        file.remove();
        return false;
    }
    if (file.write(content) != content.size() || !file.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.close();
        file.remove();
        return false;
    }
    return true;
}

} // namespace

bool GenerateKeyFiles(const QString &secretPath, const QString &publicPath, QString &error)
{
    if (!ready()) {
        error = QStringLiteral("libsodium cannot be initialised");
        return false;
    }
    if (QFileInfo::exists(secretPath)) {
        error = QStringLiteral("%1 exists; a secret key is never overwritten").arg(secretPath);
        return false;
    }
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    QByteArray secretKey(crypto_sign_SECRETKEYBYTES, Qt::Uninitialized);
    crypto_sign_keypair(bytes(publicKey), bytes(secretKey));
    const QByteArray seed = secretKey.left(crypto_sign_SEEDBYTES);
    const bool ok = writeFile(secretPath, SecretPrefix + seed.toBase64() + '\n', true, error)
        && writeFile(publicPath, PublicKeyText(secretKey).toLatin1() + '\n', false, error);
    sodium_memzero(secretKey.data(), size_t(secretKey.size()));
    return ok;
}

bool ReadSecretKeyFile(const QString &path, QByteArray &secretKey, QString &error)
{
    if (!ready()) {
        error = QStringLiteral("libsodium cannot be initialised");
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    const QByteArray text = file.read(4096).trimmed();
    const QByteArray seed = text.startsWith(SecretPrefix)
        ? decodeExact(text.mid(SecretPrefix.size()), crypto_sign_SEEDBYTES)
        : QByteArray();
    if (seed.isEmpty()) {
        error = QStringLiteral("%1 is no secret key file (ed25519-secret:<base64>)").arg(path);
        return false;
    }
    QByteArray publicKey(crypto_sign_PUBLICKEYBYTES, Qt::Uninitialized);
    secretKey = QByteArray(crypto_sign_SECRETKEYBYTES, Qt::Uninitialized);
    crypto_sign_seed_keypair(bytes(publicKey), bytes(secretKey), bytes(seed));
    return true;
}

QString PublicKeyText(const QByteArray &secretKey)
{
    if (secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return QString();
    // The public half is the second half of libsodium's secret key.
    return QString::fromLatin1(PublicPrefix + secretKey.mid(crypto_sign_SEEDBYTES).toBase64());
}

QByteArray ParsePublicKey(const QString &text)
{
    const QByteArray latin = text.trimmed().toLatin1();
    if (!latin.startsWith(PublicPrefix))
        return QByteArray();
    return decodeExact(latin.mid(PublicPrefix.size()), crypto_sign_PUBLICKEYBYTES);
}

QByteArray Sign(const QByteArray &message, const QByteArray &secretKey)
{
    if (!ready() || secretKey.size() != crypto_sign_SECRETKEYBYTES)
        return QByteArray();
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    crypto_sign_detached(
        bytes(signature), nullptr, bytes(message), static_cast<unsigned long long>(message.size()), bytes(secretKey));
    return signature.toBase64() + '\n';
}

bool Verify(const QByteArray &message, const QByteArray &signatureText, const QByteArray &publicKey)
{
    if (!ready() || publicKey.size() != crypto_sign_PUBLICKEYBYTES)
        return false;
    const QByteArray signature = decodeExact(signatureText, crypto_sign_BYTES);
    if (signature.isEmpty())
        return false;
    return crypto_sign_verify_detached(
               bytes(signature), bytes(message), static_cast<unsigned long long>(message.size()), bytes(publicKey))
        == 0;
}

} // namespace ReleaseKeys
} // namespace Morvaniel
