#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The host's side of signed releases (--trust, the window's key files): the trusted keys read
// from their files, and a channel's release document accepted against what
// this install accepted before.
namespace HostFlow::SignedRelease {

// The public key of each file: one line, "ed25519:<base64>". False with error
// when a file cannot be read or holds no valid key.
bool readPublicKeys(const QStringList &files, QStringList &keys, QString &error);

// ReleaseTrust::Accept, with the accepted serial and the handed-over key of
// the channel kept in the install folder's state file rather than config.ini:
// installs driven from one program folder may follow different servers.
bool accept(const QByteArray &document, const QByteArray &signature, const QString &channel, const QString &installDir,
    QString &error);

} // namespace HostFlow::SignedRelease
