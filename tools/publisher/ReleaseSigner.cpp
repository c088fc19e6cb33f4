#include "ReleaseSigner.h"

#include "FileWriter.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "util/Blake2b.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>

using Morvaniel::Blake2b;
using Morvaniel::ReleaseDocument;
using Morvaniel::ReleaseFile;
namespace ReleaseKeys = Morvaniel::ReleaseKeys;

namespace Publisher {

namespace {

const QString DocumentName = QStringLiteral("release.json");
const QString SignatureName = QStringLiteral("release.json.sig");

bool listChannel(
    const QString &outputDir, const QString &channel, const QStringList &leaving, ReleaseDocument &doc, QString &error)
{
    const QString channelDir = outputDir + QLatin1Char('/') + channel;
    const QSet<QString> skipped(leaving.begin(), leaving.end());
    QDirIterator it(channelDir, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(channelDir).relativeFilePath(path);
        if (relative == DocumentName || relative == SignatureName
            || skipped.contains(channel + QLatin1Char('/') + relative))
            continue;
        ReleaseFile file;
        file.size = QFileInfo(path).size();
        file.blake2b = Blake2b::fileHex(path);
        if (file.blake2b.isEmpty()) {
            error = QStringLiteral("cannot read %1").arg(path);
            return false;
        }
        doc.files.insert(channel + QLatin1Char('/') + relative, file);
    }
    return true;
}

} // namespace

qint64 parseDuration(const QString &text)
{
    QString digits = text.trimmed();
    qint64 unit = 1;
    if (!digits.isEmpty()) {
        const QChar last = digits.back().toLower();
        unit = last == QLatin1Char('d') ? 86400 : last == QLatin1Char('h') ? 3600 : last == QLatin1Char('m') ? 60 : 1;
        if (last.isLetter() && last != QLatin1Char('d') && last != QLatin1Char('h') && last != QLatin1Char('m')
            && last != QLatin1Char('s'))
            return -1;
        if (last.isLetter())
            digits.chop(1);
    }
    bool ok = false;
    const qint64 value = digits.toLongLong(&ok);
    if (!ok || value <= 0 || value > (qint64(1) << 40) / unit)
        return -1;
    return value * unit;
}

bool readPublishedSerial(const QString &documentPath, qint64 &serial, QString &error)
{
    serial = -1;
    if (!QFileInfo::exists(documentPath))
        return true;
    ReleaseDocument previous;
    QString why;
    if (!ReleaseDocument::parse(QFileUtils::ReadBytes(documentPath), previous, why)) {
        error = QStringLiteral("the published %1 cannot be read: %2").arg(documentPath, why);
        return false;
    }
    serial = previous.serial;
    return true;
}

bool nextRelease(const SigningOptions &options, qint64 publishedSerial, const QDateTime &now, qint64 &serial,
    QDateTime &expires, QString &error)
{
    serial = options.serial >= 0 ? options.serial : publishedSerial >= 0 ? publishedSerial + 1 : now.toSecsSinceEpoch();
    if (options.serial >= 0 && options.serial <= publishedSerial) {
        error = QStringLiteral("--serial %1 is not above the published serial %2: hosts that accepted it would "
                               "refuse the new release")
                    .arg(options.serial)
                    .arg(publishedSerial);
        return false;
    }
    if (serial > MaxSerial) {
        error = QStringLiteral("serial %1 is above 2^53 (%2), the largest a host reads exactly")
                    .arg(serial)
                    .arg(MaxSerial);
        return false;
    }
    expires = now.toUTC().addSecs(options.validSeconds);
    // Whole seconds: the document carries ISO 8601 without fractions.
    expires.setTime(QTime(expires.time().hour(), expires.time().minute(), expires.time().second()));
    if (!expires.isValid() || expires.date().year() > 9999) {
        error = QStringLiteral("the release would expire after the year 9999; choose a shorter --expires");
        return false;
    }
    return true;
}

bool writeSignedRelease(const QString &outputDir, const QString &channel, const QString &newestVersion,
    const SigningOptions &options, const QDateTime &now, qint64 publishedSerial, QString &error,
    const QStringList &leaving)
{
    QByteArray secretKey;
    if (!ReleaseKeys::ReadSecretKeyFile(options.secretKeyFile, secretKey, error))
        return false;
    ReleaseDocument doc;
    doc.channel = channel;
    doc.newestVersion = newestVersion;
    if (!nextRelease(options, publishedSerial, now, doc.serial, doc.expires, error))
        return false;
    if (!options.nextKeyFile.isEmpty()) {
        doc.nextKey = QString::fromLatin1(QFileUtils::ReadBytes(options.nextKeyFile)).trimmed();
        if (ReleaseKeys::ParsePublicKey(doc.nextKey).isEmpty()) {
            error = QStringLiteral("%1 is no public key file (ed25519:<base64>)").arg(options.nextKeyFile);
            return false;
        }
    }
    if (!listChannel(outputDir, channel, leaving, doc, error))
        return false;
    const QByteArray json = doc.toJson();
    const QString dir = outputDir + QLatin1Char('/') + channel + QLatin1Char('/');
    return writeFileAtomically(dir + DocumentName, json, error)
        && writeFileAtomically(dir + SignatureName, ReleaseKeys::Sign(json, secretKey), error);
}

bool writeSignedRelease(const QString &outputDir, const QString &channel, const QString &newestVersion,
    const SigningOptions &options, const QDateTime &now, const QString &previousDocument, QString &error)
{
    qint64 published = -1;
    return readPublishedSerial(previousDocument, published, error)
        && writeSignedRelease(outputDir, channel, newestVersion, options, now, published, error);
}

} // namespace Publisher
