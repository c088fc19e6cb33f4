#include "planning/ReleaseTrust.h"

#include "core/Global.h"
#include "planning/ReleaseDocument.h"
#include "settings/Serializer.h"
#include "settings/SettingKeys.h"
#include "util/Logger.h"
#include "util/ReleaseKeys.h"
#include "util/TrustedRelease.h"

#include <QMutex>
#include <QMutexLocker>

namespace Morvaniel {
namespace ReleaseTrust {

namespace {

const QString Tag = QStringLiteral("ReleaseTrust");
// A release document lists file names and digests; anything this large is not one.
constexpr int MaxDocumentSize = 16 * 1024 * 1024;

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
    if (document.size() > MaxDocumentSize)
        return refuse(QStringLiteral("release document of channel %1 is too large").arg(channel), error);

    // Once a document handed over to a next key, only that key signs this channel.
    const QString handedOver = settings.GetValueByKey(settingsKey(KEY_RELEASE_KEY, channel));
    const QStringList keys = handedOver.isEmpty() ? TrustedKeys() : QStringList{ handedOver };
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
    if (!doc.nextKey.isEmpty() && ReleaseKeys::ParsePublicKey(doc.nextKey).isEmpty())
        return refuse(QStringLiteral("release document of channel %1 names a malformed next key").arg(channel), error);

    if (doc.serial > acceptedSerial)
        settings.SetValueByKey(settingsKey(KEY_ACCEPTED_RELEASE_SERIAL, channel), QString::number(doc.serial));
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
    return true;
}

bool CheckText(const QString &path, const QString &text, QString &error)
{
    return CheckBytes(path, text.toUtf8(), error);
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
