#include "PatchBuilder.h"

#include "DiffTool.h"
#include "FileWriter.h"
#include "ManifestText.h"
#include "core/Global.h"
#include "util/QFileUtils.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace Publisher {

namespace {

void sortByPath(QVector<TreeFile> &files)
{
    std::sort(files.begin(), files.end(), [](const TreeFile &a, const TreeFile &b) { return a.path < b.path; });
}

} // namespace

bool buildPatchFolder(const PatchPlan &plan, const VersionTree &from, const VersionTree &to, const QString &diffTool,
    const QString &folder, PatchFolder &out, QString &error)
{
    out = PatchFolder();
    out.deleted = plan.deleted;
    const QString manifestName = Global::Var::PatchManifestName;

    QVector<TreeFile> whole = plan.added;
    QVector<TreeFile> candidates;
    for (const TreeFile &f : plan.changed)
        (hasUsablePatchName(f.path) ? candidates : whole) << f;
    // The patch folder is unpacked on a case-insensitive file system, so its
    // names must stay apart in any letter case.
    QSet<QString> taken{ manifestName.toLower() };
    for (const TreeFile &f : qAsConst(whole))
        taken.insert(f.path.toLower());

    for (const TreeFile &f : qAsConst(candidates)) {
        const QString name = patchFileName(f.path);
        if (taken.contains(name.toLower())) {
            whole << f;
            continue;
        }
        const QString patchPath = folder + QLatin1Char('/') + name;
        if (!createBinaryPatch(
                diffTool, from.root + QLatin1Char('/') + f.path, to.root + QLatin1Char('/') + f.path, patchPath, error))
            return false;
        const qint64 patchSize = QFileInfo(patchPath).size();
        if (patchSize >= f.size) {
            QFile::remove(patchPath);
            whole << f;
            continue;
        }
        out.patches << TreeFile{ name, QFileUtils::GetFileMD5(patchPath), patchSize };
    }

    for (const TreeFile &f : qAsConst(whole)) {
        if (f.path.compare(manifestName, Qt::CaseInsensitive) == 0) {
            error = QStringLiteral("\"%1\" would overwrite the patch manifest").arg(f.path);
            return false;
        }
        const QString dest = folder + QLatin1Char('/') + f.path;
        QDir().mkpath(QFileInfo(dest).absolutePath());
        if (!QFile::copy(to.root + QLatin1Char('/') + f.path, dest)) {
            error = QStringLiteral("cannot copy %1 into the patch folder").arg(f.path);
            return false;
        }
    }
    sortByPath(whole);
    out.added = whole;

    if (!writeFileAtomically(folder + QLatin1Char('/') + manifestName,
            patchManifestText(out.deleted, out.added, out.patches).toUtf8(), error))
        return false;

    out.entries << manifestName;
    QStringList rest;
    for (const TreeFile &f : qAsConst(out.added))
        rest << f.path;
    for (const TreeFile &f : qAsConst(out.patches))
        rest << f.path;
    rest.sort();
    out.entries << rest;
    return true;
}

} // namespace Publisher
