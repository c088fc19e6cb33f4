#include "trust/ReleaseTrust.h"

#include "core/Global.h"
#include "trust/ReleaseDocument.h"
#include "trust/ReleaseKeys.h"
#include "trust/ReleaseListing.h"
#include "trust/ReleasePolicy.h"
#include "util/Logger.h"

#include <QMutex>
#include <QMutexLocker>

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
    ReleaseListing::clear();
    ReleaseListing::setRequired(!publicKeys.isEmpty());
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
    return ReleaseListing::required();
}

QString DocumentPath(const QString &channel)
{
    return channel + QStringLiteral("/release.json");
}

QString SignaturePath(const QString &channel)
{
    return channel + QStringLiteral("/release.json.sig");
}

bool Accept(const QByteArray &document, const QByteArray &signature, const QString &channel,
    const AcceptedRelease &before, AcceptedRelease &remember, ReleaseDocument &accepted, QString &error)
{
    EndRun();
    const ReleaseVerdict verdict
        = JudgeRelease(document, signature, channel, TrustedKeys(), before, QDateTime::currentDateTimeUtc());
    remember = verdict.remember;
    if (!verdict.accepted)
        return refuse(verdict.error, error);
    const ReleaseDocument &doc = verdict.document;
    {
        State &s = state();
        QMutexLocker lock(&s.mutex);
        s.document = doc;
        s.accepted = true;
    }
    ReleaseListing::install(Global::Var::Host, listing(doc));
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
    ReleaseListing::recordChecked(bytes);
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
    if (!ReleaseListing::isChecked(text.toUtf8()))
        return refuse(
            QStringLiteral("%1 refused: the bytes fetched for it differ from the signed release").arg(path), error);
    return true;
}

void ServerMoved(const QString &host)
{
    ReleaseListing::setHost(host);
}

void EndRun()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.accepted = false;
    s.document = ReleaseDocument();
    ReleaseListing::clear();
}

} // namespace ReleaseTrust
} // namespace Morvaniel
