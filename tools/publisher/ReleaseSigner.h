#pragma once

#include <QDateTime>
#include <QString>

namespace Publisher {

// What signing a publication needs.
struct SigningOptions
{
    QString secretKeyFile; // empty: no signed release is written
    qint64 validSeconds = 30 * 24 * 3600;
    qint64 serial = -1; // -1: one more than the channel's previous document, at least the current Unix time
    QString nextKeyFile; // optional public key file the next publications will be signed with
};

// Writes <outputDir>/<channel>/release.json listing every file below the
// channel's folder (size and BLAKE2b digest), and release.json.sig, the
// detached signature over its exact bytes. previousDocument, when it exists,
// is the channel's earlier release.json, whose serial the new one exceeds.
bool writeSignedRelease(const QString &outputDir, const QString &channel, const QString &newestVersion,
    const SigningOptions &options, const QDateTime &now, const QString &previousDocument, QString &error);

// "30d", "12h", "90m", "3600s" or plain seconds; -1 when malformed.
qint64 parseDuration(const QString &text);

} // namespace Publisher
