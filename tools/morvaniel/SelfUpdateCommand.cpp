#include "SelfUpdateCommand.h"

#include "HostOptions.h"
#include "HostSession.h"
#include "InstallState.h"
#include "ProgressPrinter.h"
#include "SignedRelease.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/ReleaseTrust.h"
#include "planning/SolveLauncherGuideManifest.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QSettings>
#include <QTextStream>

using namespace Morvaniel;

namespace {

QString stateFile(const QString &dir)
{
    return QFileUtils::CombinePath(dir, InstallState::stateFileName());
}

// The MD5 that the guide manifest gives for the archive at url (the planner
// hands on only the address and the size).
QString guideMd5For(const QString &guide, const QString &url)
{
    for (const QString &line : guide.split(QLatin1Char('\n'))) {
        const QStringList parts = line.trimmed().split(QLatin1Char('|'));
        if (parts.size() >= 4 && !parts.at(1).isEmpty() && url.endsWith(QLatin1Char('/') + parts.at(1)))
            return parts.at(2);
    }
    return QString();
}

} // namespace

int selfUpdate(HostSession &session, const HostOptions &options, QString &reached)
{
    GameUpdateContext &ctx = session.ctx();
    ProgressPrinter &out = session.printer();
    options.applyServer();
    InstallState::load(options.installDir, ctx, -1);
    ctx.bGameUpdate = false; // no speed limit for the launcher's own files
    const QString dir = ctx.setting.InstallPath;
    QSettings state(stateFile(dir), QSettings::IniFormat);
    LauncherUpdateInfo &info = ctx.launcherInfo;
    info.currentVersion
        = options.launcherVersion.isEmpty() ? state.value(KEY_LAUNCHER_VERSION).toString() : options.launcherVersion;
    info.baseUrl = QFileUtils::CombinePath(Global::Var::Host, options.launcherChannel);
    reached = info.currentVersion;

    QString guide;
    QString error;
    const SignedRelease::RunScope signedRun;
    if (!session.acceptRelease(options.launcherChannel, error)) {
        out.error(error);
        return 1;
    }
    if (!session.fetchManifest(QFileUtils::CombinePath(info.baseUrl, Global::Var::GuideManifestName), guide, error)) {
        out.error(error);
        return 1;
    }
    SolveLauncherGuideManifest(guide, ctx);
    if (info.newestVersion.isEmpty() || info.fullPackSize <= 0) {
        out.error(QStringLiteral("the launcher's guide manifest offers no full pack of its newest version"));
        return 1;
    }
    if (info.newestVersion == info.currentVersion) {
        out.info(QStringLiteral("the launcher is up to date (%1)").arg(info.currentVersion));
        return 0;
    }
    out.info(
        QStringLiteral("launcher %1 -> %2")
            .arg(info.currentVersion.isEmpty() ? QStringLiteral("none") : info.currentVersion, info.newestVersion));

    QString newManifest;
    if (!session.fetchManifest(info.newestManifestUrl, newManifest, error)) {
        out.error(error);
        return 1;
    }
    // What the folder holds now: nothing to delete when no version is known.
    QString oldManifest;
    if (!info.currentVersion.isEmpty() && !session.fetchManifest(info.currentManifestUrl, oldManifest, error))
        out.warning(QStringLiteral("no manifest of the installed launcher (%1): nothing will be deleted").arg(error));

    DownloadFile pack;
    pack.url = info.fullPackUrl;
    pack.fileName = info.fullPackUrl.section(QLatin1Char('/'), -1);
    pack.localPath = QFileUtils::CombinePath(ctx.setting.CachePath, pack.fileName);
    pack.size = info.fullPackSize;
    pack.md5 = guideMd5For(guide, info.fullPackUrl);
    ctx.downloadList = { pack };
    out.stage(QStringLiteral("download"), pack.fileName);
    const HostSession::DownloadEnd end = session.download(QFileUtils::IsFileExist(pack.localPath), error);
    if (end != HostSession::DownloadEnd::Done) {
        out.error(end == HostSession::DownloadEnd::Paused ? QStringLiteral("paused; run again to resume") : error);
        return end == HostSession::DownloadEnd::Paused ? 130 : 1;
    }
    // With signed releases on, the archive must pass the check that asks for its signed digest.
    if (!pack.md5.isEmpty() || ReleaseTrust::IsEnabled()) {
        out.stage(QStringLiteral("verify-archives"));
        if (!session.verifyArchives(error)) {
            out.error(error);
            return 1;
        }
    }
    out.stage(QStringLiteral("extract"), ctx.setting.UnZipPath);
    if (!session.extract({ pack.localPath }, ctx.setting.UnZipPath, false, error)) {
        out.error(error);
        return 1;
    }
    out.stage(QStringLiteral("update"), dir);
    if (!session.updateFiles(dir, ctx.setting.UnZipPath, oldManifest, newManifest, error)) {
        out.error(error);
        return 1;
    }
    QFileUtils::DeleteFileOrFolder(ctx.setting.CachePath);
    state.setValue(KEY_LAUNCHER_VERSION, info.newestVersion);
    state.sync();
    reached = info.newestVersion;
    out.event(QStringLiteral("done"), { { QStringLiteral("version"), reached } });
    if (!out.json())
        out.info(QStringLiteral("launcher updated to %1").arg(reached));
    return 0;
}

int runSelfUpdateCommand(const QCommandLineParser &parser, QTextStream &out, QTextStream &err)
{
    return HostSession::runCommand(
        QStringLiteral("self-update"), parser, out, err, [](HostSession &session, const HostOptions &options) {
            QString reached;
            return selfUpdate(session, options, reached);
        });
}
