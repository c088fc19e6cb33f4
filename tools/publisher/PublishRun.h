#pragma once

#include "ManifestText.h"
#include "Publisher.h"
#include "VersionTree.h"
#include "blocks/BlockIndex.h"

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

// The pieces a publication is made of, shared by a publication from scratch
// and by adding a version to a published layout. Every writer keeps the safe
// order: archives and bundles first, then the documents of each version, then
// the guide manifest, then the signed release (docs/server-layout.md).
namespace Publisher {

struct Run
{
    Run(const PublishOptions &o, PublishReport &r, const ProgressFn &p)
        : options(o)
        , report(r)
        , progress(p)
    {
    }

    const PublishOptions &options;
    PublishReport &report;
    const ProgressFn &progress;
    QString outputDir;
    QString workDir;
    QString sevenZip;
    QString diffTool;
    bool workCreated = false;
    // The serial of the channel's published release; -1 when there is none.
    qint64 publishedSerial = -1;
    // Documents of versions (file and repair manifests) waiting until every
    // archive they describe is in place: path relative to outputDir, bytes.
    QVector<QPair<QString, QByteArray>> versionDocuments;

    void say(const QString &line) const;
    bool fail(const QString &text);
    // Tells the step hook that the layout reached a consistent state.
    void reached(PublishStep step) const;
};

bool isVersionName(const QString &name);
// Retried briefly: on Windows a file stays locked for a moment after its tool ended.
void removeTree(const QString &folder);

// Every version folder of inputDir, sorted by version.
bool scanVersions(Run &run, const QString &inputDir, QVector<VersionTree> &trees);
// The full pack's archives; its file (and repair) manifest go to run.versionDocuments.
bool publishFullPack(Run &run, const VersionTree &tree, const QString &channel, qint64 splitSize, const QString &kind,
    bool withRepair, QVector<GuideLine> &guide);
bool publishPatch(Run &run, const VersionTree &from, const VersionTree &to, QVector<GuideLine> &guide);
// With blocks, the game channel's block store of trees (stored newest first)
// beside the published indexes, whose bundles stay as they are; then
// every version document waiting in run.versionDocuments.
bool finishVersions(
    Run &run, const QVector<VersionTree> &trees, const QVector<Morvaniel::BlockIndex> &published, bool blocks);
// Full packs in version order, then patches by (from, to): equal sets, equal bytes.
void sortGuide(QVector<GuideLine> &guide);
bool writeGuide(Run &run, const QString &channel, const QVector<GuideLine> &guide, const QString &lastVersion);
// Checks the serial and expiry the channel's next release gets, before anything is written.
bool checkSigning(Run &run);
// leaving: files (below the output folder) retention removes next, left unlisted.
bool signChannel(Run &run, const QString &channel, const QString &newestVersion, const QStringList &leaving = {});

} // namespace Publisher
