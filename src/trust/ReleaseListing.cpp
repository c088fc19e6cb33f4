#include "trust/ReleaseListing.h"

#include "util/Blake2b.h"
#include "util/Logger.h"

#include <QMutex>
#include <QMutexLocker>
#include <QSet>

namespace Morvaniel {
namespace ReleaseListing {

namespace {

struct State
{
    QMutex mutex;
    bool required = false;
    bool installed = false;
    QString host;
    QHash<QString, ListedFile> files;
    QSet<QByteArray> checked; // BLAKE2b digests of bytes that matched a listed file
};

State &state()
{
    static State s;
    return s;
}

QString lastSegment(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

void setRequired(bool on)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.required = on;
}

bool required()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    return s.required;
}

void install(const QString &host, const QHash<QString, ListedFile> &files)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.installed = true;
    s.host = host;
    s.files = files;
    s.checked.clear();
}

void setHost(const QString &host)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    if (s.installed)
        s.host = host;
}

void clear()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.installed = false;
    s.host.clear();
    s.files.clear();
    s.checked.clear();
}

bool hasListing()
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    return s.installed;
}

QString relativePath(const QString &host, const QString &pathOrUrl)
{
    QString path = pathOrUrl;
    QString base = host;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    if (!base.isEmpty() && path.startsWith(base + QLatin1Char('/')))
        path = path.mid(base.size() + 1);
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // "host//game/x" and "./game/x" name what "game/x" names.
    while (path.startsWith(QLatin1Char('/')) || path.startsWith(QLatin1String("./")))
        path = path.mid(path.startsWith(QLatin1Char('/')) ? 1 : 2);
    return path;
}

bool lookup(const QString &pathOrUrl, ListedFile &out)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.installed)
        return false;
    const auto it = s.files.constFind(relativePath(s.host, pathOrUrl));
    if (it == s.files.constEnd())
        return false;
    out = it.value();
    return true;
}

bool listsArchive(const QString &fileName, const QByteArray &blake2b)
{
    State &s = state();
    QMutexLocker lock(&s.mutex);
    if (!s.installed)
        return false;
    for (auto it = s.files.cbegin(); it != s.files.cend(); ++it)
        if (it.value().blake2b == blake2b && lastSegment(it.key()) == fileName)
            return true;
    return false;
}

FetchCheck checkFetched(const QString &pathOrUrl, const QByteArray &bytes)
{
    ListedFile listed;
    if (!lookup(pathOrUrl, listed))
        return FetchCheck::Unlisted;
    const QByteArray digest = Blake2b::hash(bytes);
    if (bytes.size() != listed.size || digest != listed.blake2b)
        return FetchCheck::Differs;
    State &s = state();
    QMutexLocker lock(&s.mutex);
    s.checked.insert(digest);
    return FetchCheck::Matches;
}

void recordChecked(const QByteArray &bytes)
{
    const QByteArray digest = Blake2b::hash(bytes);
    State &s = state();
    QMutexLocker lock(&s.mutex);
    if (s.installed)
        s.checked.insert(digest);
}

bool isChecked(const QByteArray &bytes)
{
    const QByteArray digest = Blake2b::hash(bytes);
    State &s = state();
    QMutexLocker lock(&s.mutex);
    return s.installed && s.checked.contains(digest);
}

bool textUsable(const QString &text, const QString &what, const QString &tag)
{
    if (!required() || isChecked(text.toUtf8()))
        return true;
    Logger::LogInfo(tag, QStringLiteral("%1 was not checked against the signed release, refused").arg(what));
    return false;
}

} // namespace ReleaseListing
} // namespace Morvaniel
