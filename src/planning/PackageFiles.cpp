#include "planning/PackageFiles.h"

#include "core/Global.h"
#include "core/Records.h"
#include "manifest/GuideManifest.h"
#include "manifest/ManifestPathCheck.h"
#include "util/Logger.h"
#include "util/QFileUtils.h"

#include <limits>

namespace Morvaniel {
namespace PackageFiles {

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
    info.fileName = PackageFileNameOf(package.path);
    return info;
}

bool appendDownload(QVector<DownloadFile> &list, const PackageInfo &p, const QString &cachePath)
{
    if (!IsSafePackageFileName(p.fileName)) {
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
