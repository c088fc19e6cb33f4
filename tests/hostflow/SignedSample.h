#pragma once

#include "../support/TestSupport.h"

#include "Publisher.h"

#include "trust/ReleaseKeys.h"

#include <QString>
#include <QStringList>

// The flow tests' signed sample: a release key made for the test and the
// options that publish <work>/versions into a folder of work, signed with it.
namespace SignedSample {

// release.key and release.pub in work; the public key goes to trusted as a
// host passes it.
inline bool makeKey(const QString &work, QString &secretFile, QStringList &trusted, QString &error)
{
    secretFile = work + QStringLiteral("/release.key");
    const QString pub = work + QStringLiteral("/release.pub");
    if (!Morvaniel::ReleaseKeys::GenerateKeyFiles(secretFile, pub, error))
        return false;
    trusted << QString::fromLatin1(TestSupport::readFile(pub)).trimmed();
    return true;
}

// At the fastest compression: the tests' archives are small.
inline Publisher::PublishOptions options(const QString &work, const QString &www, const QString &secretFile)
{
    Publisher::PublishOptions o;
    o.inputDir = work + QStringLiteral("/versions");
    o.outputDir = work + QLatin1Char('/') + www;
    o.compressionLevel = 1;
    o.signing.secretKeyFile = secretFile;
    return o;
}

} // namespace SignedSample
