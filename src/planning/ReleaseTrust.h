#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Morvaniel {

class ReleaseDocument;
class Serializer;

// Signed releases. Off until the host gives trusted keys; then, per run:
//   1. fetch <Host>/<channel>/release.json and release.json.sig and Accept them;
//   2. fetch manifests with DownloadComponent::GetContentByUrl (which holds
//      the bytes it receives against the document) and pass every manifest
//      text through CheckText before a planner sees it; planners refuse a text
//      whose bytes were never checked;
//   3. plan, download, verify and install as before: the download manager
//      fetches only listed files and never more than their listed size, and the
//      archive check requires each archive's listed BLAKE2b digest.
// Every file of the run is checked against the one document accepted last.
namespace ReleaseTrust {

// Public key texts ("ed25519:<base64>"). An empty list switches signed
// releases off again; a list whose keys are all malformed trusts nothing.
MORVANIEL_EXPORT void SetTrustedKeys(const QStringList &publicKeys);
MORVANIEL_EXPORT QStringList TrustedKeys();
MORVANIEL_EXPORT bool IsEnabled();

// "<channel>/release.json" and "<channel>/release.json.sig", below the server's root.
MORVANIEL_EXPORT QString DocumentPath(const QString &channel);
MORVANIEL_EXPORT QString SignaturePath(const QString &channel);

// Checks a fetched document: signed by a trusted key (the key a previous
// document handed over to, once there is one, which must itself be trusted),
// for this channel, not expired, a serial no lower than the last accepted one
// and, at the same serial, the same bytes. On success it becomes the
// run's document, its serial and next key are kept in the settings and
// accepted holds it. On failure the run has no document (every later check
// fails) and error says why.
MORVANIEL_EXPORT bool Accept(const QByteArray &document, const QByteArray &signature, const QString &channel,
    Serializer &settings, ReleaseDocument &accepted, QString &error);

// True when signed releases are off, or when the run's document lists path
// (below the server's root, or an address below Global::Var::Host) with
// exactly these bytes. CheckBytes takes the bytes as fetched and records them
// as checked; CheckText takes a decoded text and also requires that its bytes
// were fetched and checked so (decoding may drop a byte-order mark).
MORVANIEL_EXPORT bool CheckText(const QString &path, const QString &text, QString &error);
MORVANIEL_EXPORT bool CheckBytes(const QString &path, const QByteArray &bytes, QString &error);

// Ends the run: the accepted document is forgotten.
MORVANIEL_EXPORT void EndRun();

} // namespace ReleaseTrust

} // namespace Morvaniel
