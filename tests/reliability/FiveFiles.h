#pragma once

// The five packages every reliability case downloads: seeded random bytes of
// a few hundred KB to a few MB, served by the test server, with their MD5s.

#include "HttpServer.h"

#include "core/Records.h"

#include "../support/TestSupport.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <QVector>

namespace Reliability {

using TestSupport::md5Of;
using TestSupport::readFile;

struct Package
{
    QString name;
    QByteArray bytes;
    QString md5;
};

// Sizes are deliberately uneven and not multiples of any buffer size.
inline QVector<Package> fivePackages(quint32 seed)
{
    const int sizes[5] = { 300 * 1024 + 7, 700 * 1024 + 311, 1200 * 1024 + 5, 450 * 1024 + 1023, 2048 * 1024 + 77 };
    QVector<Package> out;
    for (int i = 0; i < 5; ++i) {
        Package p;
        p.name = QStringLiteral("pack%1.7z").arg(i);
        p.bytes = TestSupport::randomBytes(sizes[i], seed * 31u + quint32(i));
        p.md5 = md5Of(p.bytes);
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

// A file with the expected size passes the verifier's size check; such a file
// must never hold wrong bytes. Returns the names that break this rule.
inline QStringList sizeRightBytesWrong(const QVector<Package> &packages, const QString &folder)
{
    QStringList bad;
    for (const Package &p : packages) {
        const QString path = folder + QLatin1Char('/') + p.name;
        if (QFileInfo(path).size() == p.bytes.size() && md5Of(readFile(path)) != p.md5)
            bad.append(p.name);
    }
    return bad;
}

// Every file on disk is a prefix of its package (a resume can continue it).
inline QStringList notAPrefix(const QVector<Package> &packages, const QString &folder)
{
    QStringList bad;
    for (const Package &p : packages) {
        const QByteArray have = readFile(folder + QLatin1Char('/') + p.name);
        if (!p.bytes.startsWith(have))
            bad.append(p.name);
    }
    return bad;
}

} // namespace Reliability
