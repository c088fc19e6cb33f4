#include "ManifestText.h"

namespace Publisher {

namespace {

void appendEntries(QString &text, const QVector<TreeFile> &files)
{
    for (const TreeFile &f : files)
        text += f.path + QLatin1Char('|') + f.md5 + QLatin1Char('|') + QString::number(f.size) + QLatin1Char('\n');
}

} // namespace

QString fileManifestText(const QVector<TreeFile> &files)
{
    QString text;
    appendEntries(text, files);
    return text;
}

QString guideManifestText(const QVector<GuideLine> &lines, const QString &lastVersion)
{
    QString text = QStringLiteral("--download_version--\n");
    for (const GuideLine &l : lines)
        text += l.fromVersion + QLatin1String("->") + l.toVersion + QLatin1Char('|') + l.path + QLatin1Char('|') + l.md5
            + QLatin1Char('|') + QString::number(l.size) + QLatin1Char('\n');
    text += QStringLiteral("--last_version--\n") + lastVersion + QLatin1Char('\n');
    return text;
}

QString patchManifestText(
    const QVector<TreeFile> &deleted, const QVector<TreeFile> &added, const QVector<TreeFile> &patches)
{
    QString text = QStringLiteral("--del_file--\n");
    appendEntries(text, deleted);
    text += QStringLiteral("--new_file--\n");
    appendEntries(text, added);
    text += QStringLiteral("--patch_file--\n");
    appendEntries(text, patches);
    return text;
}

QString repairManifestText(const QVector<RepairGroup> &groups)
{
    QString text;
    for (const RepairGroup &g : groups)
        text += g.archivePath + QLatin1Char(':') + g.files.join(QLatin1Char('|')) + QLatin1Char('\n');
    return text;
}

} // namespace Publisher
