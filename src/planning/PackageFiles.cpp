#include "planning/PackageFiles.h"

#include "core/Global.h"
#include "core/Records.h"
#include "manifest/GuideManifest.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <limits>

namespace Morvaniel {
namespace PackageFiles {

QString fileNameOf(const QString &path)
{
    return path.section(QLatin1Char('/'), -1);
}

bool isSafeFileName(const QString &name)
{
    bool onlyDotsAndBlanks = true;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':') || c.unicode() < 0x20)
            return false;
        if (c != QLatin1Char('.') && c != QLatin1Char(' '))
            onlyDotsAndBlanks = false;
    }
    // Windows strips trailing dots and blanks, so "..." or " . " name the folder itself.
    return !onlyDotsAndBlanks;
}

qint64 toByteCount(quint64 size)
{
    const quint64 max = static_cast<quint64>(std::numeric_limits<qint64>::max());
    return static_cast<qint64>(size > max ? max : size);
}

PackageInfo packageFrom(const GuidePackage &package)
{
    PackageInfo info;
    info.md5 = package.md5;
    info.path = package.path;
    info.size = toByteCount(package.size);
    info.url = QFileUtils::CombinePath(Global::Var::Host, package.path);
    info.fileName = fileNameOf(package.path);
    return info;
}

bool appendDownload(QVector<DownloadFile> &list, const PackageInfo &p, const QString &cachePath)
{
    if (!isSafeFileName(p.fileName)) {
        Logger::LogWarning(QStringLiteral("StdUtil"),
            QStringLiteral("the package %1 has the unsafe file name \"%2\", it is left out of the download list")
                .arg(p.url, p.fileName));
        return false;
    }
    DownloadFile file;
    file.fileName = p.fileName;
    file.localPath = QFileUtils::CombinePath(cachePath, p.fileName);
    file.size = p.size;
    file.url = p.url;
    file.md5 = p.md5;
    list.append(file);
    return true;
}

} // namespace PackageFiles
} // namespace Morvaniel
