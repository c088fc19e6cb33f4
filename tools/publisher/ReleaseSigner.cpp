#include "ReleaseSigner.h"

#include "FileWriter.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "util/Blake2b.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

using Morvaniel::Blake2b;
using Morvaniel::ReleaseDocument;
using Morvaniel::ReleaseFile;
namespace ReleaseKeys = Morvaniel::ReleaseKeys;

namespace Publisher {

namespace {

const QString DocumentName = QStringLiteral("release.json");
const QString SignatureName = QStringLiteral("release.json.sig");

bool listChannel(const QString &outputDir, const QString &channel, ReleaseDocument &doc, QString &error)
{
    const QString channelDir = outputDir + QLatin1Char('/') + channel;
    QDirIterator it(channelDir, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(channelDir).relativeFilePath(path);
        if (relative == DocumentName || relative == SignatureName)
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

bool writeSignedRelease(const QString &outputDir, const QString &channel, const QString &newestVersion,
    const SigningOptions &options, const QDateTime &now, const QString &previousDocument, QString &error)
{
    QByteArray secretKey;
    if (!ReleaseKeys::ReadSecretKeyFile(options.secretKeyFile, secretKey, error))
        return false;
    ReleaseDocument doc;
    doc.channel = channel;
    doc.newestVersion = newestVersion;
    doc.expires = now.toUTC().addSecs(options.validSeconds);
    // Whole seconds: the document carries ISO 8601 without fractions.
    doc.expires.setTime(QTime(doc.expires.time().hour(), doc.expires.time().minute(), doc.expires.time().second()));
    doc.serial = options.serial;
    if (doc.serial < 0) {
        ReleaseDocument previous;
        QString ignored;
        const qint64 after = QFileInfo::exists(previousDocument)
                && ReleaseDocument::parse(QFileUtils::ReadBytes(previousDocument), previous, ignored)
            ? previous.serial + 1
            : 0;
        doc.serial = qMax(after, now.toSecsSinceEpoch());
    }
    if (!options.nextKeyFile.isEmpty()) {
        doc.nextKey = QString::fromLatin1(QFileUtils::ReadBytes(options.nextKeyFile)).trimmed();
        if (ReleaseKeys::ParsePublicKey(doc.nextKey).isEmpty()) {
            error = QStringLiteral("%1 is no public key file (ed25519:<base64>)").arg(options.nextKeyFile);
            return false;
        }
    }
    if (!listChannel(outputDir, channel, doc, error))
        return false;
    const QByteArray json = doc.toJson();
    const QString dir = outputDir + QLatin1Char('/') + channel + QLatin1Char('/');
    return writeFileAtomically(dir + DocumentName, json, error)
        && writeFileAtomically(dir + SignatureName, ReleaseKeys::Sign(json, secretKey), error);
}

} // namespace Publisher
