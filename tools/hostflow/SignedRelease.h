#pragma once

#include "trust/ReleasePolicy.h"

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

// ReleaseTrust::Accept against what the install folder's state file keeps of
// the channel (rather than config.ini: installs driven from one program folder
// may follow different servers). remember is what to keep once the run has
// succeeded; nothing is written here.
bool accept(const QByteArray &document, const QByteArray &signature, const QString &channel, const QString &installDir,
    Morvaniel::AcceptedRelease &remember, QString &error);

// Keeps remember as what installDir accepted of channel; false with error when
// the state file could not be written.
bool remember(
    const QString &channel, const QString &installDir, const Morvaniel::AcceptedRelease &remember, QString &error);

} // namespace HostFlow::SignedRelease
