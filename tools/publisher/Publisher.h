#pragma once

#include "BlockStoreWriter.h"
#include "ReleaseSigner.h"

#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

namespace Publisher {

// The states a publication passes through, each a consistent layout that a
// reader may find: the new archives and bundles are in place; the new
// versions' manifests and block indexes are; the guide manifest names the new
// version; the signed release lists it all; files no longer listed are gone.
enum class PublishStep { Files, VersionDocuments, Guide, Release, Removed };

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
    // 1 GiB: a host extracts each archive while the next downloads, so the
    // first download and the last extraction are what the player waits for
    // alone, and an archive repair fetches whole archives; installs measured
    // no slower than with 2 GiB, and publishing slower below 1 GiB
    // (docs/server-layout.md, "The full pack's split").
    qint64 splitSize = qint64(1) << 30;
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

    // Adds this version folder to the layout already published at outputDir
    // (its name is the version) instead of publishing inputDir from scratch.
    // Patches come from the versions patchPairs names (with defaultPairs: the
    // published newest); their trees are taken from oldVersionsDir when it
    // holds them, else unpacked from the published full packs.
    QString addVersionDir;
    QString oldVersionsDir;
    // Retention: keep the newest keep versions (0 keeps all); dryRun only reports.
    int keep = 0;
    bool dryRun = false;
    // Afterwards hand what changed to this rclone destination, in the safe
    // order (see Uploader.h); alone, without input, keep or addVersionDir, the
    // whole layout (rclone skips what the server holds already).
    QString uploadDestination;
    QString rclone; // empty: "rclone" on PATH
    // Called at each consistent state, in order (tests read the layout there).
    std::function<void(PublishStep)> onStep;
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
    // Files written or rewritten, relative to the output folder, in the order
    // they were made (an upload follows it), and the files retention removed.
    QStringList written;
    QStringList removed;
    qint64 freedBytes = 0;
    QString error; // empty on success
};

using ProgressFn = std::function<void(const QString &line)>;

// Builds the whole server layout (see docs/server-layout.md), or with
// addVersionDir grows a published one, or with only keep set prunes one.
// Returns false with report.error set when the input cannot be published; a
// new output folder may then hold a partial layout, a published one still
// serves its previous publication (at most with unlisted new files).
bool publish(const PublishOptions &options, PublishReport &report, const ProgressFn &progress = {});

// Parses "next", "none" or "A:B,C:D" into the pair fields of options.
bool parsePatchPairs(const QString &text, PublishOptions &options, QString &error);

} // namespace Publisher
