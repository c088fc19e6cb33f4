#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace Publisher {

// What signing a publication needs.
struct SigningOptions
{
    QString secretKeyFile; // empty: no signed release is written
    qint64 validSeconds = 30 * 24 * 3600;
    qint64 serial = -1; // -1: the published serial plus one; for a new channel the current Unix time
    QString nextKeyFile; // optional public key file the next publications will be signed with
};

// The largest serial a host accepts: a JSON number carries integers exactly up to 2^53.
constexpr qint64 MaxSerial = qint64(1) << 53;

// The serial of the published release.json at documentPath: -1 when there is
// none, false with error set when it cannot be read.
bool readPublishedSerial(const QString &documentPath, qint64 &serial, QString &error);

// The serial and expiry of a channel's next release. Serials only rise: the
// published one plus one unless options name one, which must exceed it;
// publishedSerial -1 (a new channel) starts at the current Unix time. Refuses
// a serial above MaxSerial and an expiry past the year 9999 (ISO 8601 has
// four digits for it).
bool nextRelease(const SigningOptions &options, qint64 publishedSerial, const QDateTime &now, qint64 &serial,
    QDateTime &expires, QString &error);

// Writes <outputDir>/<channel>/release.json listing every file below the
// channel's folder (size and BLAKE2b digest), and release.json.sig, the
// detached signature over its exact bytes, under the serial nextRelease gives.
// Files in leaving (paths below outputDir) are about to be removed and are not listed.
bool writeSignedRelease(const QString &outputDir, const QString &channel, const QString &newestVersion,
    const SigningOptions &options, const QDateTime &now, qint64 publishedSerial, QString &error,
    const QStringList &leaving = {});
// The same, above the serial of previousDocument (the channel's earlier release.json) when it exists.
bool writeSignedRelease(const QString &outputDir, const QString &channel, const QString &newestVersion,
    const SigningOptions &options, const QDateTime &now, const QString &previousDocument, QString &error);

// "30d", "12h", "90m", "3600s" or plain seconds; -1 when malformed.
qint64 parseDuration(const QString &text);

} // namespace Publisher
