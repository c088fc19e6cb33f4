#include "LauncherUpdate.h"

#include "FlowOptions.h"
#include "FlowSession.h"
#include "InstallState.h"
#include "SignedRelease.h"
#include "UpdateFlow.h"

#include "core/GameUpdateContext.h"
#include "core/Global.h"
#include "planning/ReleaseTrust.h"
#include "planning/SolveLauncherGuideManifest.h"
#include "settings/SettingKeys.h"
#include "util/QFileUtils.h"

#include <QSettings>

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

LauncherUpdate::LauncherUpdate(FlowSession &session, const FlowOptions &options)
    : m_session(session)
    , m_options(options)
{
}

bool LauncherUpdate::plan()
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    m_options.applyServer();
    InstallState::load(m_options.installDir, ctx, -1);
    ctx.bGameUpdate = false; // no speed limit for the launcher's own files
    const QString dir = ctx.setting.InstallPath;
    QSettings state(stateFile(dir), QSettings::IniFormat);
    LauncherUpdateInfo &info = ctx.launcherInfo;
    info.currentVersion = m_options.launcherVersion.isEmpty() ? state.value(KEY_LAUNCHER_VERSION).toString()
                                                              : m_options.launcherVersion;
    info.baseUrl = QFileUtils::CombinePath(Global::Var::Host, m_options.launcherChannel);
    m_reached = info.currentVersion;

    QString error;
    if (!m_session.acceptRelease(m_options.launcherChannel, error)) {
        out.error(error);
        return false;
    }
    if (!m_session.fetchManifest(
            QFileUtils::CombinePath(info.baseUrl, Global::Var::GuideManifestName), m_guide, error)) {
        out.error(error);
        return false;
    }
    SolveLauncherGuideManifest(m_guide, ctx);
    if (info.newestVersion.isEmpty() || info.fullPackSize <= 0) {
        out.error(QStringLiteral("the launcher's guide manifest offers no full pack of its newest version"));
        return false;
    }
    return true;
}

int LauncherUpdate::check()
{
    const SignedRelease::RunScope signedRun;
    if (!plan())
        return 1;
    const LauncherUpdateInfo &info = m_session.ctx().launcherInfo;
    emit m_session.flow().launcherChecked(info.currentVersion, info.newestVersion);
    return 0;
}

int LauncherUpdate::run()
{
    GameUpdateContext &ctx = m_session.ctx();
    UpdateFlow &out = m_session.flow();
    const SignedRelease::RunScope signedRun;
    if (!plan())
        return 1;
    const QString dir = ctx.setting.InstallPath;
    const LauncherUpdateInfo &info = ctx.launcherInfo;
    if (info.newestVersion == info.currentVersion) {
        out.info(QStringLiteral("the launcher is up to date (%1)").arg(info.currentVersion));
        return 0;
    }
    out.info(
        QStringLiteral("launcher %1 -> %2")
            .arg(info.currentVersion.isEmpty() ? QStringLiteral("none") : info.currentVersion, info.newestVersion));

    QString newManifest;
    QString error;
    if (!m_session.fetchManifest(info.newestManifestUrl, newManifest, error)) {
        out.error(error);
        return 1;
    }
    // What the folder holds now: nothing to delete when no version is known.
    QString oldManifest;
    if (!info.currentVersion.isEmpty() && !m_session.fetchManifest(info.currentManifestUrl, oldManifest, error))
        out.warning(QStringLiteral("no manifest of the installed launcher (%1): nothing will be deleted").arg(error));

    DownloadFile pack;
    pack.url = info.fullPackUrl;
    pack.fileName = info.fullPackUrl.section(QLatin1Char('/'), -1);
    pack.localPath = QFileUtils::CombinePath(ctx.setting.CachePath, pack.fileName);
    pack.size = info.fullPackSize;
    pack.md5 = guideMd5For(m_guide, info.fullPackUrl);
    ctx.downloadList = { pack };
    out.stage(QStringLiteral("download"), pack.fileName);
    const FlowSession::DownloadEnd end = m_session.download(QFileUtils::IsFileExist(pack.localPath), error);
    if (end != FlowSession::DownloadEnd::Done) {
        out.error(end == FlowSession::DownloadEnd::Paused ? QStringLiteral("paused; run again to resume") : error);
        return end == FlowSession::DownloadEnd::Paused ? 130 : 1;
    }
    // With signed releases on, the archive must pass the check that asks for its signed digest.
    if (!pack.md5.isEmpty() || ReleaseTrust::IsEnabled()) {
        out.stage(QStringLiteral("verify-archives"));
        if (!m_session.verifyArchives(error)) {
            out.error(error);
            return 1;
        }
    }
    out.stage(QStringLiteral("extract"), ctx.setting.UnZipPath);
    if (!m_session.extract({ pack.localPath }, ctx.setting.UnZipPath, false, error)) {
        out.error(error);
        return 1;
    }
    out.stage(QStringLiteral("update"), dir);
    if (!m_session.updateFiles(dir, ctx.setting.UnZipPath, oldManifest, newManifest, error)) {
        out.error(error);
        return 1;
    }
    // The update stage took the unpacked package and the download cache with it.
    QSettings state(stateFile(dir), QSettings::IniFormat);
    state.setValue(KEY_LAUNCHER_VERSION, info.newestVersion);
    state.sync();
    m_reached = info.newestVersion;
    emit out.launcherUpdated(m_reached);
    return 0;
}
