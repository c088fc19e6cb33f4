#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace Morvaniel {

class ReleaseDocument;
struct AcceptedRelease;

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

// Judges a fetched document with JudgeRelease (ReleasePolicy.h), the trusted
// keys and the current time. Accepted, it becomes the run's document: accepted
// holds it, the workers check files against it, and remember is what the
// caller keeps with the install once the run has succeeded. Refused, the run
// has no document (every later check fails), error says why and remember is
// before.
MORVANIEL_EXPORT bool Accept(const QByteArray &document, const QByteArray &signature, const QString &channel,
    const AcceptedRelease &before, AcceptedRelease &remember, ReleaseDocument &accepted, QString &error);
// True when signed releases are off, or when the run's document lists path
// (below the server's root, or an address below Global::Var::Host) with
// exactly these bytes. CheckBytes takes the bytes as fetched and records them
// as checked; CheckText takes a decoded text and also requires that its bytes
// were fetched and checked so (decoding may drop a byte-order mark).
MORVANIEL_EXPORT bool CheckText(const QString &path, const QString &text, QString &error);
MORVANIEL_EXPORT bool CheckBytes(const QString &path, const QByteArray &bytes, QString &error);

// The run goes on from another server that holds the same publication (a
// mirror): the accepted document stays, its paths are now read below host.
MORVANIEL_EXPORT void ServerMoved(const QString &host);

// Ends the run: the accepted document is forgotten.
MORVANIEL_EXPORT void EndRun();

} // namespace ReleaseTrust

} // namespace Morvaniel
