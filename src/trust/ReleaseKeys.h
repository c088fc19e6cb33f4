#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QString>

namespace Morvaniel {

// Ed25519 keys and detached signatures of the signed release document.
// A public key is one line of text, "ed25519:<base64 of 32 bytes>"; a secret
// key file holds "ed25519-secret:<base64 of the 32-byte seed>"; a signature
// file holds the base64 of the 64-byte signature over the document's bytes.
namespace ReleaseKeys {

// Writes a new key pair: the secret file readable by its owner only, the public
// file as one line. Refuses to overwrite an existing secret key.
MORVANIEL_EXPORT bool GenerateKeyFiles(const QString &secretPath, const QString &publicPath, QString &error);

// The 64-byte secret key (seed and public half) of a secret key file.
MORVANIEL_EXPORT bool ReadSecretKeyFile(const QString &path, QByteArray &secretKey, QString &error);

// The public key text of a 64-byte secret key.
MORVANIEL_EXPORT QString PublicKeyText(const QByteArray &secretKey);

// The 32 raw bytes of a public key text, or an empty array when it is malformed.
MORVANIEL_EXPORT QByteArray ParsePublicKey(const QString &text);

// The signature file's content (base64 and a line end) for message.
MORVANIEL_EXPORT QByteArray Sign(const QByteArray &message, const QByteArray &secretKey);

// True when signatureText (surrounding white space ignored) is a valid
// signature of message by the 32-byte public key.
MORVANIEL_EXPORT bool Verify(const QByteArray &message, const QByteArray &signatureText, const QByteArray &publicKey);

} // namespace ReleaseKeys

} // namespace Morvaniel
