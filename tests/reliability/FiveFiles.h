#pragma once

// The five packages every reliability case downloads: seeded random bytes of
// a few hundred KB to a few MB, served by the test server, with their MD5s.

#include "HttpServer.h"

#include "core/Records.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Reliability {

struct Package
{
    QString name;
    QByteArray bytes;
    QString md5;
};

inline QString md5Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

inline QByteArray seededBytes(quint32 seed, int size)
{
    QRandomGenerator gen(seed);
    QByteArray out(size, Qt::Uninitialized);
    for (int i = 0; i + 4 <= size; i += 4) {
        const quint32 v = gen.generate();
        memcpy(out.data() + i, &v, 4);
    }
    for (int i = size & ~3; i < size; ++i)
        out[i] = char(gen.generate());
    return out;
}

// Sizes are deliberately uneven and not multiples of any buffer size.
inline QVector<Package> fivePackages(quint32 seed)
{
    const int sizes[5] = { 300 * 1024 + 7, 700 * 1024 + 311, 1200 * 1024 + 5, 450 * 1024 + 1023, 2048 * 1024 + 77 };
    QVector<Package> out;
    for (int i = 0; i < 5; ++i) {
        Package p;
        p.name = QStringLiteral("pack%1.7z").arg(i);
        p.bytes = seededBytes(seed * 31u + quint32(i), sizes[i]);
        p.md5 = md5Hex(p.bytes);
        out.append(p);
    }
    return out;
}

inline QString serverPath(const Package &p)
{
    return QStringLiteral("/pkg/") + p.name;
}

inline Morvaniel::DownloadFile entryFor(const Package &p, const QString &url, const QString &folder)
{
    Morvaniel::DownloadFile entry;
    entry.fileName = p.name;
    entry.localPath = folder + QLatin1Char('/') + p.name;
    entry.size = p.bytes.size();
    entry.url = url;
    entry.md5 = p.md5;
    return entry;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A file with the expected size passes the verifier's size check; such a file
// must never hold wrong bytes. Returns the names that break this rule.
inline QStringList sizeRightBytesWrong(const QVector<Package> &packages, const QString &folder)
{
    QStringList bad;
    for (const Package &p : packages) {
        const QString path = folder + QLatin1Char('/') + p.name;
        if (QFileInfo(path).size() == p.bytes.size() && md5Hex(fileBytes(path)) != p.md5)
            bad.append(p.name);
    }
    return bad;
}

// Every file on disk is a prefix of its package (a resume can continue it).
inline QStringList notAPrefix(const QVector<Package> &packages, const QString &folder)
{
    QStringList bad;
    for (const Package &p : packages) {
        const QByteArray have = fileBytes(folder + QLatin1Char('/') + p.name);
        if (!p.bytes.startsWith(have))
            bad.append(p.name);
    }
    return bad;
}

} // namespace Reliability
