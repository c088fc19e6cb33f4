#include "planning/ReleaseDocument.h"

#include "core/Global.h"
#include "manifest/ManifestPathCheck.h"
#include "util/Blake2b.h"
#include "util/TrustedRelease.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <vector>

namespace Morvaniel {

namespace {

// Integers a JSON number carries exactly.
constexpr double MaxExactInteger = 9007199254740992.0; // 2^53

bool exactInteger(const QJsonValue &v, qint64 &out)
{
    if (!v.isDouble())
        return false;
    const double d = v.toDouble();
    if (!(d >= 0 && d <= MaxExactInteger) || std::floor(d) != d)
        return false;
    out = static_cast<qint64>(d);
    return true;
}

bool isDigestHex(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^[0-9a-f]{64}$"));
    return re.match(text).hasMatch();
}

QString serverPath(const QString &path)
{
    return TrustedRelease::relativePath(Global::Var::Host, path);
}

// A key token as written ("..." with its quotes), decoded.
QString keyText(const QByteArray &token)
{
    if (!token.contains('\\'))
        return QString::fromUtf8(token.mid(1, token.size() - 2));
    return QJsonDocument::fromJson("[" + token + "]").array().at(0).toString();
}

// The first key written twice in one object of a valid JSON text, or a null
// string. A reader keeps one of the two silently, and which one differs from
// reader to reader: a signed document must not say two things.
QString duplicateKey(const QByteArray &json)
{
    struct Frame
    {
        bool object = false;
        bool expectKey = false;
        QSet<QString> keys;
    };
    std::vector<Frame> stack;
    for (int i = 0; i < json.size(); ++i) {
        const char c = json.at(i);
        if (c == '{' || c == '[') {
            stack.push_back(Frame{ c == '{', c == '{', {} });
        } else if ((c == '}' || c == ']') && !stack.empty()) {
            stack.pop_back();
        } else if (c == ',' && !stack.empty()) {
            stack.back().expectKey = stack.back().object;
        } else if (c == '"') {
            int end = i + 1;
            while (end < json.size() && json.at(end) != '"')
                end += json.at(end) == '\\' ? 2 : 1;
            if (!stack.empty() && stack.back().expectKey) {
                const QString key = keyText(json.mid(i, end - i + 1));
                if (stack.back().keys.contains(key))
                    return key;
                stack.back().keys.insert(key);
                stack.back().expectKey = false;
            }
            i = end;
        }
    }
    return QString();
}

} // namespace

bool ReleaseDocument::parse(const QByteArray &json, ReleaseDocument &out, QString &error)
{
    out = ReleaseDocument();
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("release document is no JSON object");
        return false;
    }
    const QString duplicate = duplicateKey(json);
    if (!duplicate.isNull()) {
        error = QStringLiteral("release document has a duplicate key \"%1\"").arg(duplicate);
        return false;
    }
    const QJsonObject o = doc.object();
    qint64 format = 0;
    if (!exactInteger(o.value(QStringLiteral("format")), format) || format != Format) {
        error = QStringLiteral("release document has an unknown format");
        return false;
    }
    out.channel = o.value(QStringLiteral("channel")).toString();
    out.newestVersion = o.value(QStringLiteral("newestVersion")).toString();
    const QString expires = o.value(QStringLiteral("expires")).toString();
    out.expires = QDateTime::fromString(expires, Qt::ISODate);
    if (out.channel.isEmpty() || out.newestVersion.isEmpty()
        || !exactInteger(o.value(QStringLiteral("serial")), out.serial) || !expires.endsWith(QLatin1Char('Z'))
        || !out.expires.isValid()) {
        error = QStringLiteral("release document lacks its channel, serial, expiry (UTC) or newest version");
        return false;
    }
    out.expires = out.expires.toUTC();
    const QJsonValue nextKey = o.value(QStringLiteral("nextKey"));
    if (!nextKey.isUndefined()) {
        out.nextKey = nextKey.toString();
        if (out.nextKey.isEmpty()) {
            error = QStringLiteral("release document names an empty next key");
            return false;
        }
    }
    const QJsonValue files = o.value(QStringLiteral("files"));
    if (!files.isObject()) {
        error = QStringLiteral("release document lists no files");
        return false;
    }
    const QString prefix = out.channel + QLatin1Char('/');
    const QJsonObject list = files.toObject();
    for (auto it = list.constBegin(); it != list.constEnd(); ++it) {
        // Paths come from the network: only plain paths inside the channel's folder.
        const QString &path = it.key();
        if (!IsSafeManifestPath(path) || path.contains(QLatin1Char('\\')) || !path.startsWith(prefix)) {
            error = QStringLiteral("release document lists %1 outside its channel's folder").arg(path);
            return false;
        }
        const QJsonObject entry = it.value().toObject();
        ReleaseFile file;
        file.blake2b = entry.value(QStringLiteral("blake2b")).toString();
        if (!exactInteger(entry.value(QStringLiteral("size")), file.size) || !isDigestHex(file.blake2b)) {
            error = QStringLiteral("release document gives %1 no size or digest").arg(path);
            return false;
        }
        out.files.insert(path, file);
    }
    return true;
}

QByteArray ReleaseDocument::toJson() const
{
    QJsonObject list;
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        list.insert(it.key(),
            QJsonObject{ { QStringLiteral("size"), double(it.value().size) },
                { QStringLiteral("blake2b"), it.value().blake2b } });
    QJsonObject o{ { QStringLiteral("format"), Format }, { QStringLiteral("channel"), channel },
        { QStringLiteral("serial"), double(serial) },
        { QStringLiteral("expires"), expires.toUTC().toString(Qt::ISODate) },
        { QStringLiteral("newestVersion"), newestVersion }, { QStringLiteral("files"), list } };
    if (!nextKey.isEmpty())
        o.insert(QStringLiteral("nextKey"), nextKey);
    return QJsonDocument(o).toJson(QJsonDocument::Indented);
}

bool ReleaseDocument::lists(const QString &path) const
{
    return files.contains(serverPath(path));
}

qint64 ReleaseDocument::expectedSize(const QString &path) const
{
    const auto it = files.constFind(serverPath(path));
    return it == files.constEnd() ? -1 : it.value().size;
}

bool ReleaseDocument::check(const QString &path, const QByteArray &bytes, QString &error) const
{
    const QString relative = serverPath(path);
    const auto it = files.constFind(relative);
    if (it == files.constEnd()) {
        error = QStringLiteral("%1 is not listed in the signed release of channel %2").arg(relative, channel);
        return false;
    }
    if (bytes.size() != it.value().size) {
        error = QStringLiteral("%1 has %2 bytes, the signed release lists %3")
                    .arg(relative, QString::number(bytes.size()), QString::number(it.value().size));
        return false;
    }
    if (QString::fromLatin1(Blake2b::hash(bytes).toHex()) != it.value().blake2b) {
        error = QStringLiteral("%1 does not match the digest of the signed release").arg(relative);
        return false;
    }
    return true;
}

} // namespace Morvaniel
