#include "LauncherUpdate.h"

#include "FlowOptions.h"
#include "FlowReporter.h"
#include "InstallState.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/SolveLauncherGuideManifest.h"
#include "settings/SettingKeys.h"
#include "trust/ReleaseTrust.h"
#include "util/QFileUtils.h"

#include <QSettings>

using namespace Morvaniel;

namespace HostFlow {

namespace {

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

LauncherUpdate::LauncherUpdate(StageRunner &runner, const FlowOptions &options, Finish finish, bool checkOnly)
    : FlowPart(runner, options, std::move(finish))
    , m_checkOnly(checkOnly)
{
}

void LauncherUpdate::stopped()
{
    out().info(QStringLiteral("paused; run again to resume"));
}

void LauncherUpdate::plan(std::function<void()> then)
{
    GameUpdateContext &c = ctx();
    runner().servers().apply();
    InstallState::load(options().installDir, c, -1);
    c.bGameUpdate = false; // no speed limit for the launcher's own files
    const QSettings state(InstallState::statePath(c.setting.InstallPath), QSettings::IniFormat);
    LauncherUpdateInfo &info = c.launcherInfo;
    info.currentVersion = options().launcherVersion.isEmpty() ? state.value(KEY_LAUNCHER_VERSION).toString()
                                                              : options().launcherVersion;
    info.baseUrl = QFileUtils::CombinePath(Global::Var::Host, options().launcherChannel);
    out().setLauncherVersionReached(info.currentVersion);

    acceptRelease(options().launcherChannel, [this, then = std::move(then)]() {
        const QString url = QFileUtils::CombinePath(ctx().launcherInfo.baseUrl, Global::Var::GuideManifestName);
        fetchManifest(url, [this, then](const QString &guide) {
            m_guide = guide;
            GameUpdateContext &c = ctx();
            SolveLauncherGuideManifest(guide, c);
            if (c.launcherInfo.newestVersion.isEmpty() || c.launcherInfo.fullPackSize <= 0) {
                fail(QStringLiteral("the launcher's guide manifest offers no full pack of its newest version"));
                return;
            }
            then();
        });
    });
}

void LauncherUpdate::start()
{
    plan([this]() {
        const LauncherUpdateInfo &info = ctx().launcherInfo;
        if (m_checkOnly) {
            emit out().launcherChecked(info.currentVersion, info.newestVersion);
            finish(Ok);
            return;
        }
        if (info.newestVersion == info.currentVersion) {
            out().info(QStringLiteral("the launcher is up to date (%1)").arg(info.currentVersion));
            finish(Ok);
            return;
        }
        out().info(
            QStringLiteral("launcher %1 -> %2")
                .arg(info.currentVersion.isEmpty() ? QStringLiteral("none") : info.currentVersion, info.newestVersion));
        fetchManifest(info.newestManifestUrl, [this](const QString &newManifest) {
            const LauncherUpdateInfo &info = ctx().launcherInfo;
            // What the folder holds now: nothing to delete when no version is known.
            if (info.currentVersion.isEmpty()) {
                update(newManifest, QString());
                return;
            }
            runner().fetchText(info.currentManifestUrl, [this, newManifest](const StageEnd &end) {
                QString error;
                if (!end.ok)
                    error = end.error.message;
                else
                    ReleaseTrust::CheckText(ctx().launcherInfo.currentManifestUrl, end.text, error);
                if (!error.isEmpty())
                    out().warning(QStringLiteral("no manifest of the installed launcher (%1): nothing will be deleted")
                                      .arg(error));
                update(newManifest, error.isEmpty() ? end.text : QString());
            });
        });
    });
}

void LauncherUpdate::update(const QString &newManifest, const QString &oldManifest)
{
    GameUpdateContext &c = ctx();
    const LauncherUpdateInfo &info = c.launcherInfo;
    DownloadFile pack;
    pack.url = info.fullPackUrl;
    pack.fileName = info.fullPackUrl.section(QLatin1Char('/'), -1);
    pack.localPath = QFileUtils::CombinePath(c.setting.CachePath, pack.fileName);
    pack.size = info.fullPackSize;
    pack.md5 = guideMd5For(m_guide, info.fullPackUrl);
    c.downloadList = { pack };
    runner().download(QFileUtils::IsFileExist(pack.localPath), pack.fileName,
        onDone([this, pack, newManifest, oldManifest](const StageEnd &) {
            // With signed releases on, the archive must pass the check that asks for its signed digest.
            if (pack.md5.isEmpty() && !ReleaseTrust::IsEnabled()) {
                install(pack.localPath, newManifest, oldManifest);
                return;
            }
            runner().checkArchives(onDone([this, pack, newManifest, oldManifest](const StageEnd &) {
                install(pack.localPath, newManifest, oldManifest);
            }));
        }));
}

void LauncherUpdate::install(const QString &archive, const QString &newManifest, const QString &oldManifest)
{
    const QString unpacked = ctx().setting.UnZipPath;
    runner().extract({ archive }, unpacked, false, onDone([this, unpacked, newManifest, oldManifest](const StageEnd &) {
        const QString dir = ctx().setting.InstallPath;
        runner().updateFiles(dir, unpacked, oldManifest, newManifest, onDone([this, dir](const StageEnd &) {
            const QString version = ctx().launcherInfo.newestVersion;
            // The update stage took the unpacked package and the download cache with it.
            QSettings state(InstallState::statePath(dir), QSettings::IniFormat);
            state.setValue(KEY_LAUNCHER_VERSION, version);
            state.sync();
            if (!stateWritten(state.status() == QSettings::NoError,
                    QStringLiteral("cannot write the install state %1").arg(state.fileName())))
                return;
            out().setLauncherVersionReached(version);
            emit out().launcherUpdated(version);
            finish(Ok);
        }));
    }));
}

} // namespace HostFlow
