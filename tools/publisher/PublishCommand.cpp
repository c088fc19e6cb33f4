#include "PublishCommand.h"

#include "Publisher.h"
#include "ReleaseSigner.h"
#include "trust/ReleaseKeys.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>
#include <limits>

namespace Publisher {

long long parseByteSize(const QString &text)
{
    QString digits = text.trimmed();
    int shift = 0;
    if (!digits.isEmpty()) {
        const QChar unit = digits.back().toUpper();
        shift = unit == QLatin1Char('K') ? 10 : unit == QLatin1Char('M') ? 20 : unit == QLatin1Char('G') ? 30 : 0;
        if (shift)
            digits.chop(1);
    }
    bool ok = false;
    const qlonglong value = digits.toLongLong(&ok);
    if (!ok || value < 0 || value > (std::numeric_limits<qlonglong>::max() >> shift))
        return -1;
    return value << shift;
}

int runPublishCommand(const QStringList &args, QTextStream &out, QTextStream &err)
{
    err.setCodec("UTF-8");
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Builds the update server's layout from a folder of versions."));
    parser.addPositionalArgument(QStringLiteral("input"),
        QStringLiteral("folder of version folders (1.0.0.1, ...); left out with --add and with --keep alone"));
    parser.addPositionalArgument(
        QStringLiteral("output"), QStringLiteral("empty or absent output folder, or the published layout"));
    const QCommandLineOption channel(QStringLiteral("channel"), QStringLiteral("game folder below the host"),
        QStringLiteral("name"), QStringLiteral("game"));
    const QCommandLineOption patches(QStringLiteral("patches"),
        QStringLiteral("\"next\" (each version to the next), \"none\", or a list "
                       "such as 1.0.0.1:1.0.0.3,1.0.0.2:1.0.0.3"),
        QStringLiteral("pairs"), QStringLiteral("next"));
    const QCommandLineOption split(QStringLiteral("split-size"),
        QStringLiteral("largest file total per full-pack archive (K, M, G; 0: one archive)"), QStringLiteral("size"),
        QStringLiteral("1G"));
    const QCommandLineOption launcher(QStringLiteral("launcher"),
        QStringLiteral("folder of launcher version folders to publish as well"), QStringLiteral("dir"));
    const QCommandLineOption launcherChannel(QStringLiteral("launcher-channel"),
        QStringLiteral("launcher folder below the host"), QStringLiteral("name"), QStringLiteral("Launcher"));
    const QCommandLineOption info(QStringLiteral("info"),
        QStringLiteral("remote-information JSON to publish instead of the sample"), QStringLiteral("file"));
    const QCommandLineOption level(QStringLiteral("level"), QStringLiteral("7-Zip compression level 0-9"),
        QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption signKey(QStringLiteral("sign-key"),
        QStringLiteral("secret key file: also write a signed release.json for each channel"), QStringLiteral("file"));
    const QCommandLineOption expires(QStringLiteral("expires"),
        QStringLiteral("how long the signed release stays valid (30d, 12h, 90m, seconds)"), QStringLiteral("time"),
        QStringLiteral("30d"));
    const QCommandLineOption serial(QStringLiteral("serial"),
        QStringLiteral("serial of the signed release, above the published one (default: the published one plus "
                       "one; for a new channel the current Unix time)"),
        QStringLiteral("n"));
    const QCommandLineOption nextKey(QStringLiteral("next-key"),
        QStringLiteral("public key file the next publications will be signed with"), QStringLiteral("file"));
    const QCommandLineOption noBlocks(
        QStringLiteral("no-blocks"), QStringLiteral("write no block store (<channel>/blocks/): archives only"));
    const QCommandLineOption blockLevel(QStringLiteral("block-level"),
        QStringLiteral("zstd level of the block store's blocks (1-19)"), QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption generateKey(QStringLiteral("generate-key"),
        QStringLiteral("write a new key pair (<file> secret, <file>.pub public) and stop"), QStringLiteral("file"));
    const QCommandLineOption add(QStringLiteral("add"),
        QStringLiteral("add this version folder to the layout published at <output>"), QStringLiteral("dir"));
    const QCommandLineOption oldVersions(QStringLiteral("old-versions"),
        QStringLiteral("with --add: folder of published version folders to make patches from (else they are "
                       "unpacked from the published full packs)"),
        QStringLiteral("dir"));
    const QCommandLineOption keep(QStringLiteral("keep"),
        QStringLiteral("remove what the newest n versions and the patches into them do not need"), QStringLiteral("n"));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"), QStringLiteral("with --keep: print what would be removed, change nothing"));
    const QCommandLineOption upload(QStringLiteral("upload"),
        QStringLiteral("then hand what changed to this rclone destination (remote:bucket/path) in the safe order; "
                       "alone with <output>: the whole layout"),
        QStringLiteral("destination"));
    parser.addOptions({ channel, patches, split, launcher, launcherChannel, info, level, signKey, expires, serial,
        nextKey, noBlocks, blockLevel, generateKey, add, oldVersions, keep, dryRun, upload });
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Prints the version."));
    parser.addOption(version);

    if (!parser.parse(QStringList{ QStringLiteral("morvaniel publish") } + args)) {
        err << parser.errorText() << '\n';
        return 2;
    }
    if (parser.isSet(version)) {
        out << QCoreApplication::applicationName() << ' ' << QCoreApplication::applicationVersion() << '\n';
        return 0;
    }
    if (parser.isSet(help)) {
        out << parser.helpText();
        return 0;
    }
    const QStringList positional = parser.positionalArguments();
    PublishOptions options;
    QString error;
    if (parser.isSet(generateKey)) {
        const QString secret = parser.value(generateKey);
        if (!Morvaniel::ReleaseKeys::GenerateKeyFiles(secret, secret + QStringLiteral(".pub"), error)) {
            err << "key generation failed: " << error << '\n';
            return 1;
        }
        out << "wrote " << secret << " (secret) and " << secret << ".pub (public)\n";
        return 0;
    }
    options.signing.secretKeyFile = parser.value(signKey);
    options.signing.validSeconds = parseDuration(parser.value(expires));
    options.signing.nextKeyFile = parser.value(nextKey);
    bool serialOk = true;
    if (parser.isSet(serial))
        options.signing.serial = parser.value(serial).toLongLong(&serialOk);
    bool levelOk = false;
    options.compressionLevel = parser.value(level).toInt(&levelOk);
    bool blockLevelOk = false;
    options.blocks = !parser.isSet(noBlocks);
    options.blockStore.level = parser.value(blockLevel).toInt(&blockLevelOk);
    options.splitSize = parseByteSize(parser.value(split));
    bool keepOk = true;
    if (parser.isSet(keep))
        options.keep = parser.value(keep).toInt(&keepOk);
    options.dryRun = parser.isSet(dryRun);
    // Growing or pruning a published layout names only the layout.
    const bool onLayout = parser.isSet(add) || parser.isSet(keep) || (parser.isSet(upload) && positional.size() == 1);
    if (positional.size() != (onLayout ? 1 : 2))
        error = onLayout ? QStringLiteral("--add, --keep and a lone --upload take only the published layout's folder")
                         : QStringLiteral("publish needs an input and an output folder");
    else if (!keepOk || (parser.isSet(keep) && options.keep < 1))
        error = QStringLiteral("bad --keep %1: the number of newest versions to keep, at least 1")
                    .arg(parser.value(keep));
    else if (options.dryRun && !parser.isSet(keep))
        error = QStringLiteral("--dry-run goes with --keep");
    else if (parser.isSet(oldVersions) && !parser.isSet(add))
        error = QStringLiteral("--old-versions goes with --add");
    else if (onLayout && (parser.isSet(launcher) || parser.isSet(info)))
        error = QStringLiteral("--launcher and --info go with a publication from scratch");
    else if (options.splitSize < 0)
        error = QStringLiteral("bad --split-size %1").arg(parser.value(split));
    else if (!levelOk || options.compressionLevel < 0 || options.compressionLevel > 9)
        error = QStringLiteral("bad --level %1").arg(parser.value(level));
    else if (!blockLevelOk || options.blockStore.level < 1 || options.blockStore.level > 19)
        error = QStringLiteral("bad --block-level %1").arg(parser.value(blockLevel));
    else if (options.signing.validSeconds < 0)
        error = QStringLiteral("bad --expires %1").arg(parser.value(expires));
    else if (!serialOk || (parser.isSet(serial) && options.signing.serial < 0))
        error = QStringLiteral("bad --serial %1").arg(parser.value(serial));
    else if (options.signing.secretKeyFile.isEmpty() && (parser.isSet(nextKey) || parser.isSet(serial)))
        error = QStringLiteral("--serial and --next-key need --sign-key");
    else
        parsePatchPairs(parser.value(patches), options, error);
    if (!error.isEmpty()) {
        err << error << "\n\n" << parser.helpText();
        return 2;
    }
    options.inputDir = onLayout ? QString() : positional[0];
    options.outputDir = positional.last();
    options.addVersionDir = parser.value(add);
    options.oldVersionsDir = parser.value(oldVersions);
    options.uploadDestination = parser.value(upload);
    options.channel = parser.value(channel);
    options.launcherInputDir = parser.value(launcher);
    options.launcherChannel = parser.value(launcherChannel);
    options.infoJson = parser.value(info);

    PublishReport report;
    const bool ok = publish(options, report, [&out](const QString &line) {
        out << line << '\n';
        out.flush();
    });
    for (const QString &w : qAsConst(report.warnings))
        err << "warning: " << w << '\n';
    if (!ok) {
        err << "publish failed: " << report.error << '\n';
        return 1;
    }
    if (!options.uploadDestination.isEmpty())
        out << "uploaded " << report.written.size() << " files to " << options.uploadDestination << '\n';
    if (options.dryRun)
        out << "dry run: " << report.removed.size() << " files (" << report.freedBytes << " bytes) would be removed\n";
    else
        out << "published " << report.versions.size() << " versions, " << report.archives.size() << " new archives, to "
            << options.outputDir << '\n';
    return 0;
}

} // namespace Publisher
