#include "trust/ReleasePolicy.h"

#include "trust/ReleaseKeys.h"
#include "util/Blake2b.h"
#include "util/DocumentLimits.h"

#include <algorithm>

namespace Morvaniel {

namespace {

ReleaseVerdict refused(const AcceptedRelease &before, const QString &why)
{
    ReleaseVerdict v;
    v.error = why;
    v.remember = before;
    return v;
}

bool sameKey(const QString &a, const QString &b)
{
    const QByteArray key = ReleaseKeys::ParsePublicKey(a);
    return !key.isEmpty() && key == ReleaseKeys::ParsePublicKey(b);
}

} // namespace

ReleaseVerdict JudgeRelease(const QByteArray &document, const QByteArray &signature, const QString &channel,
    const QStringList &trustedKeys, const AcceptedRelease &before, const QDateTime &now)
{
    if (trustedKeys.isEmpty())
        return refused(before, QStringLiteral("signed releases are off: no trusted keys"));
    if (document.size() > MaxReleaseDocumentBytes)
        return refused(before, QStringLiteral("release document of channel %1 is too large").arg(channel));

    // The host's keys bound what is accepted. Once a document handed over to a
    // next key, only that key of them signs this channel; a host that does not
    // trust the named key gets told, rather than the hand-over overriding it.
    QStringList keys = trustedKeys;
    if (!before.nextKey.isEmpty()) {
        if (std::none_of(keys.cbegin(), keys.cend(), [&](const QString &k) { return sameKey(k, before.nextKey); }))
            return refused(before,
                QStringLiteral("release key of channel %1 was handed over to %2, which is not a trusted key")
                    .arg(channel, before.nextKey));
        keys = QStringList{ before.nextKey };
    }
    const auto signer = std::find_if(keys.cbegin(), keys.cend(),
        [&](const QString &key) { return ReleaseKeys::Verify(document, signature, ReleaseKeys::ParsePublicKey(key)); });
    if (signer == keys.cend())
        return refused(
            before, QStringLiteral("release document of channel %1 is not signed by a trusted key").arg(channel));

    ReleaseDocument doc;
    QString parseError;
    if (!ReleaseDocument::parse(document, doc, parseError))
        return refused(before, parseError);
    if (doc.channel != channel)
        return refused(before, QStringLiteral("release document is for channel %1, not %2").arg(doc.channel, channel));
    if (doc.expires <= now)
        return refused(before,
            QStringLiteral("release document of channel %1 expired at %2")
                .arg(channel, doc.expires.toString(Qt::ISODate)));
    if (doc.serial < before.serial)
        return refused(before,
            QStringLiteral("release document of channel %1 has serial %2, older than the accepted %3")
                .arg(channel, QString::number(doc.serial), QString::number(before.serial)));
    // A serial names one document: the same serial with other bytes is a
    // second document a key holder signed, or a replay of parts of one.
    const QString digest = QString::fromLatin1(Blake2b::hash(document).toHex());
    if (doc.serial == before.serial && !before.digest.isEmpty() && before.digest != digest)
        return refused(before,
            QStringLiteral("release document of channel %1 has the accepted serial %2 but other content")
                .arg(channel, QString::number(doc.serial)));
    if (!doc.nextKey.isEmpty() && ReleaseKeys::ParsePublicKey(doc.nextKey).isEmpty())
        return refused(
            before, QStringLiteral("release document of channel %1 names a malformed next key").arg(channel));

    ReleaseVerdict v;
    v.accepted = true;
    v.document = doc;
    v.remember.serial = qMax(doc.serial, before.serial);
    v.remember.digest = digest;
    v.remember.nextKey = !doc.nextKey.isEmpty() && !sameKey(doc.nextKey, *signer) ? doc.nextKey : before.nextKey;
    return v;
}

} // namespace Morvaniel
