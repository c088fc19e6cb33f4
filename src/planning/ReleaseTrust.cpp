#include "planning/ReleaseTrust.h"

#include "core/Global.h"
#include "planning/ReleaseDocument.h"
#include "settings/Serializer.h"
#include "settings/SettingKeys.h"
#include "util/Blake2b.h"
#include "util/DocumentLimits.h"
#include "util/Logger.h"
#include "util/ReleaseKeys.h"
#include "util/TrustedRelease.h"

#include <QMutex>
#include <QMutexLocker>

#include <algorithm>

namespace Morvaniel {
namespace ReleaseTrust {

namespace {

const QString Tag = QStringLiteral("ReleaseTrust");

struct State
{
    QMutex mutex;
    QStringList keys;
    ReleaseDocument document;
    bool accepted = false;
};

State &state()
{
    static State s;
    return s;
}

QString settingsKey(const QString &key, const QString &channel)
{
    return key + QLatin1Char('/') + channel;
}

bool refuse(const QString &text, QString &error)
{
    error = text;
    Logger::LogInfo(Tag, text);
    return false;
}

QHash<QString, ListedFile> listing(const ReleaseDocument &doc)
{
    QHash<QString, ListedFile> files;
    for (auto it = doc.files.cbegin(); it != doc.files.cend(); ++it)
        files.insert(it.key(), ListedFile{ it.value().size, QByteArray::fromHex(it.value().blake2b.toLatin1()) });
    return files;
}

} // namespace

void SetTrustedKeys(const QStringList &publicKeys)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.keys = publicKeys;
    s.accepted = false;
    s.document = ReleaseDocument();
    TrustedRelease::clear();
    TrustedRelease::setRequired(!publicKeys.isEmpty());
    for (const QString &key : publicKeys)
        if (ReleaseKeys::ParsePublicKey(key).isEmpty())
            Logger::LogInfo(Tag, QStringLiteral("trusted key %1 is malformed and trusts nothing").arg(key));
}

QStringList TrustedKeys()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    return s.keys;
}

bool IsEnabled()
{
    return TrustedRelease::required();
}

QString DocumentPath(const QString &channel)
{
    return channel + QStringLiteral("/release.json");
}

QString SignaturePath(const QString &channel)
{
    return channel + QStringLiteral("/release.json.sig");
}

bool Accept(const QByteArray &document, const QByteArray &signature, const QString &channel, Serializer &settings,
    ReleaseDocument &accepted, QString &error)
{
    EndRun();
    if (!IsEnabled())
        return refuse(QStringLiteral("signed releases are off: no trusted keys"), error);
    if (document.size() > MaxReleaseDocumentBytes)
        return refuse(QStringLiteral("release document of channel %1 is too large").arg(channel), error);

    // The host's keys bound what is accepted. Once a document handed over to a
    // next key, only that key of them signs this channel; a host that does not
    // trust the named key gets told, rather than the hand-over overriding it.
    const QString handedOver = settings.GetValueByKey(settingsKey(KEY_RELEASE_KEY, channel));
    QStringList keys = TrustedKeys();
    if (!handedOver.isEmpty()) {
        const QByteArray next = ReleaseKeys::ParsePublicKey(handedOver);
        const bool trusted = std::any_of(keys.cbegin(), keys.cend(),
            [&next](const QString &key) { return !next.isEmpty() && ReleaseKeys::ParsePublicKey(key) == next; });
        if (!trusted)
            return refuse(QStringLiteral("release key of channel %1 was handed over to %2, which is not a trusted key")
                              .arg(channel, handedOver),
                error);
        keys = QStringList{ handedOver };
    }
    QString signer;
    for (const QString &key : keys) {
        if (ReleaseKeys::Verify(document, signature, ReleaseKeys::ParsePublicKey(key))) {
            signer = key;
            break;
        }
    }
    if (signer.isEmpty())
        return refuse(
            QStringLiteral("release document of channel %1 is not signed by a trusted key").arg(channel), error);

    ReleaseDocument doc;
    QString parseError;
    if (!ReleaseDocument::parse(document, doc, parseError))
        return refuse(parseError, error);
    if (doc.channel != channel)
        return refuse(QStringLiteral("release document is for channel %1, not %2").arg(doc.channel, channel), error);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (doc.expires <= now)
        return refuse(QStringLiteral("release document of channel %1 expired at %2")
                          .arg(channel, doc.expires.toString(Qt::ISODate)),
            error);
    const qint64 acceptedSerial
        = settings.GetValueByKey(settingsKey(KEY_ACCEPTED_RELEASE_SERIAL, channel)).toLongLong();
    if (doc.serial < acceptedSerial)
        return refuse(QStringLiteral("release document of channel %1 has serial %2, older than the accepted %3")
                          .arg(channel, QString::number(doc.serial), QString::number(acceptedSerial)),
            error);
    // A serial names one document: the same serial with other bytes is a
    // second document a key holder signed, or a replay of parts of one.
    const QString digest = QString::fromLatin1(Blake2b::hash(document).toHex());
    const QString acceptedDigest = settings.GetValueByKey(settingsKey(KEY_ACCEPTED_RELEASE_DIGEST, channel));
    if (doc.serial == acceptedSerial && !acceptedDigest.isEmpty() && acceptedDigest != digest)
        return refuse(QStringLiteral("release document of channel %1 has the accepted serial %2 but other content")
                          .arg(channel, QString::number(doc.serial)),
            error);
    if (!doc.nextKey.isEmpty() && ReleaseKeys::ParsePublicKey(doc.nextKey).isEmpty())
        return refuse(QStringLiteral("release document of channel %1 names a malformed next key").arg(channel), error);

    if (doc.serial > acceptedSerial)
        settings.SetValueByKey(settingsKey(KEY_ACCEPTED_RELEASE_SERIAL, channel), QString::number(doc.serial));
    settings.SetValueByKey(settingsKey(KEY_ACCEPTED_RELEASE_DIGEST, channel), digest);
    if (!doc.nextKey.isEmpty() && doc.nextKey != signer)
        settings.SetValueByKey(settingsKey(KEY_RELEASE_KEY, channel), doc.nextKey);

    {
        State &s = state();
        QMutexLocker lock(&s.mutex);
        s.document = doc;
        s.accepted = true;
    }
    TrustedRelease::install(Global::Var::Host, listing(doc));
    Logger::LogInfo(Tag,
        QStringLiteral("accepted release %1 of channel %2 (newest version %3, %4 files, expires %5)")
            .arg(QString::number(doc.serial), channel, doc.newestVersion, QString::number(doc.files.size()),
                doc.expires.toString(Qt::ISODate)));
    accepted = doc;
    return true;
}

bool CheckBytes(const QString &path, const QByteArray &bytes, QString &error)
{
    if (!IsEnabled())
        return true;
    ReleaseDocument doc;
    {
        State &s = state();
        QMutexLocker lock(&s.mutex);
        if (!s.accepted)
            return refuse(QStringLiteral("%1 refused: no signed release was accepted").arg(path), error);
        doc = s.document;
    }
    QString why;
    if (!doc.check(path, bytes, why))
        return refuse(why, error);
    TrustedRelease::recordChecked(bytes);
    return true;
}

bool CheckText(const QString &path, const QString &text, QString &error)
{
    if (!IsEnabled())
        return true;
    QString why;
    {
        State &s = state();
        QMutexLocker lock(&s.mutex);
        if (!s.accepted)
            return refuse(QStringLiteral("%1 refused: no signed release was accepted").arg(path), error);
        if (!s.document.check(path, text.toUtf8(), why))
            return refuse(why, error);
    }
    // Decoding drops what the signature covers (a byte-order mark, a bad
    // sequence): the bytes as fetched must have been the signed ones.
    if (!TrustedRelease::isChecked(text.toUtf8()))
        return refuse(
            QStringLiteral("%1 refused: the bytes fetched for it differ from the signed release").arg(path), error);
    return true;
}

void EndRun()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.accepted = false;
    s.document = ReleaseDocument();
    TrustedRelease::clear();
}

} // namespace ReleaseTrust
} // namespace Morvaniel
