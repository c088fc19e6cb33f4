#pragma once

#include "MorvanielGlobal.h"

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>

namespace Morvaniel {

// One file a signed release lists: its exact size and BLAKE2b-256 digest.
struct ReleaseFile
{
    qint64 size = 0;
    QString blake2b; // 64 lower-case hex digits
};

// <channel>/release.json: what the publisher signed for one channel. It lists
// every published file of the channel (guide manifest, file and repair
// manifests, archives) by its path below the server's root, the same form the
// guide manifest uses ("game/1.0.0.2/full_1.0.0.2.7z"). The serial only grows
// from one publication to the next; nextKey, when present, is the public key
// the following publications will be signed with.
class MORVANIEL_EXPORT ReleaseDocument
{
public:
    static constexpr int Format = 1;

    QString channel;
    qint64 serial = 0;
    QDateTime expires; // UTC
    QString newestVersion;
    QMap<QString, ReleaseFile> files;
    QString nextKey;

    // Refuses anything but a complete document of this format whose paths stay
    // inside the channel's folder (no absolute path, drive letter or "..").
    static bool parse(const QByteArray &json, ReleaseDocument &out, QString &error);
    // The document's bytes as the publisher signs them.
    QByteArray toJson() const;

    // path: below the server's root, or an address below Global::Var::Host.
    bool lists(const QString &path) const;
    // -1 when the path is not listed.
    qint64 expectedSize(const QString &path) const;
    // True when the path is listed and bytes have exactly its size and digest.
    bool check(const QString &path, const QByteArray &bytes, QString &error) const;
};

} // namespace Morvaniel
