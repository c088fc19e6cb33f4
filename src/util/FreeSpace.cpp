#include "util/FreeSpace.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>

namespace Morvaniel::FreeSpace {

namespace {

QString existingFolder(const QString &folder)
{
    QString existing = QDir::cleanPath(QDir(folder).absolutePath());
    while (!QFileInfo::exists(existing) && existing != QFileInfo(existing).absolutePath())
        existing = QFileInfo(existing).absolutePath();
    return existing;
}

} // namespace

QString sizeText(qint64 bytes)
{
    return bytes >= (qint64(1) << 30) ? QStringLiteral("%1 GiB").arg(double(bytes) / double(qint64(1) << 30), 0, 'f', 2)
                                      : QStringLiteral("%1 MiB").arg(double(bytes) / double(1 << 20), 0, 'f', 1);
}

QString volumeOf(const QString &folder)
{
    return QStorageInfo(existingFolder(folder)).rootPath();
}

bool check(const QVector<Need> &needs, QString &error)
{
    struct Volume
    {
        QStorageInfo info;
        qint64 needed = 0;
    };
    QVector<Volume> volumes;
    for (const Need &need : needs) {
        if (need.bytes <= 0)
            continue;
        const QStorageInfo info(existingFolder(need.folder));
        if (!info.isValid())
            continue;
        auto same = std::find_if(
            volumes.begin(), volumes.end(), [&](const Volume &v) { return v.info.rootPath() == info.rootPath(); });
        if (same == volumes.end())
            volumes.append({ info, need.bytes });
        else
            same->needed += need.bytes;
    }
    for (const Volume &v : qAsConst(volumes)) {
        const qint64 available = v.info.bytesAvailable();
        if (available >= 0 && available < v.needed) {
            error = QStringLiteral("needs %1, has %2 free on %3")
                        .arg(sizeText(v.needed), sizeText(available), QDir::toNativeSeparators(v.info.rootPath()));
            return false;
        }
    }
    return true;
}

} // namespace Morvaniel::FreeSpace
