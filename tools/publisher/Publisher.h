#pragma once

#include "BlockStoreWriter.h"
#include "ReleaseSigner.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace Publisher {

struct PublishOptions
{
    // A folder of version folders, each a full game tree named by its version ("1.0.0.1").
    QString inputDir;
    // Where the server layout goes; must be absent or empty.
    QString outputDir;
    // The game's folder below the host: Global::Var::HostAndChannel = <host>/<channel>.
    QString channel = QStringLiteral("game");
    // Patch archives to make. With defaultPairs each version gets a patch to
    // the next one; otherwise patchPairs lists the (from, to) versions.
    bool defaultPairs = true;
    QVector<QPair<QString, QString>> patchPairs;
    // Largest sum of file sizes per full-pack archive; a bigger file gets an archive to itself.
    qint64 splitSize = qint64(2) << 30;
    // Optional: a folder of launcher version folders, published below launcherChannel.
    QString launcherInputDir;
    QString launcherChannel = QStringLiteral("Launcher");
    // Optional remote-information document to publish instead of the built-in sample.
    QString infoJson;
    // Empty: 7z beside the program or on PATH, hdiffz beside the program.
    QString sevenZip;
    QString diffTool;
    int compressionLevel = 5;
    // The block store beside the archives (<channel>/blocks/): off, the layout is the archives' alone.
    bool blocks = true;
    BlockStoreOptions blockStore;
    // With a secret key: a signed release document for each published channel.
    SigningOptions signing;
};

// One archive that was published.
struct PublishedArchive
{
    QString kind; // "full", "patch" or "launcher"
    QString fromVersion;
    QString toVersion;
    QString path; // relative to the output folder, "/"-separated
    QString md5;
    qint64 size = 0;
};

struct PublishReport
{
    QStringList versions;
    QVector<PublishedArchive> archives;
    QStringList warnings;
    BlockStoreFigures blocks; // zero without a block store
    QString error; // empty on success
};

using ProgressFn = std::function<void(const QString &line)>;

// Builds the whole server layout (see docs/server-layout.md). Returns false with
// report.error set when the input cannot be published; the output folder may
// then hold a partial layout.
bool publish(const PublishOptions &options, PublishReport &report, const ProgressFn &progress = {});

// Parses "next", "none" or "A:B,C:D" into the pair fields of options.
bool parsePatchPairs(const QString &text, PublishOptions &options, QString &error);

} // namespace Publisher
