#include "UpdateFlow.h"

#include "FlowSession.h"
#include "GameUpdater.h"
#include "InstallCheck.h"
#include "LauncherUpdate.h"
#include "SignedRelease.h"

#include "core/GameUpdateContext.h"
#include "settings/SettingKeys.h"

UpdateFlow::UpdateFlow(QObject *parent)
    : QObject(parent)
    , m_session(new FlowSession(*this))
{
    qRegisterMetaType<TransferProgress>();
    qRegisterMetaType<Morvaniel::RemoteInfo>();
}

UpdateFlow::~UpdateFlow() = default;

int UpdateFlow::finish(int result)
{
    emit finished(result);
    return result;
}

int UpdateFlow::update()
{
    GameUpdater updater(*m_session, m_options);
    const int result = updater.run();
    m_report = updater.report();
    return finish(result);
}

int UpdateFlow::check()
{
    m_badFiles.clear();
    GameUpdater updater(*m_session, m_options);
    {
        const SignedRelease::RunScope signedRun;
        if (updater.prepare(false) != GameUpdater::Ok)
            return finish(Failed);
    }
    const Morvaniel::UpdateSetting &s = context().setting;
    // An install that claims the newest version, with no step left half done,
    // is what a check by MD5 can find damaged.
    if (s.CurrentGameVersion.isEmpty() || s.CurrentGameVersion != updater.newest() || s.CurrentStage == PATCH_STAGE)
        return finish(Ok);
    const int result = checkInstall(*m_session, m_options, false, m_badFiles);
    // Bad files are what the check found, not a failure of it.
    return finish(result == Ok || !m_badFiles.isEmpty() ? Ok : Failed);
}

int UpdateFlow::verify(bool repair)
{
    m_badFiles.clear();
    return finish(checkInstall(*m_session, m_options, repair, m_badFiles));
}

int UpdateFlow::checkLauncher()
{
    LauncherUpdate launcher(*m_session, m_options);
    return finish(launcher.check());
}

int UpdateFlow::updateLauncher()
{
    LauncherUpdate launcher(*m_session, m_options);
    const int result = launcher.run();
    m_launcherReached = launcher.reached();
    return finish(result);
}

void UpdateFlow::pause()
{
    m_pauseRequested = true;
    m_session->pauseDownload();
}

void UpdateFlow::answerFilesInUse(bool retry)
{
    m_session->answerFilesInUse(retry);
}

void UpdateFlow::setSpeedLimit(int kib)
{
    m_session->setSpeedLimit(kib);
}

qint64 UpdateFlow::bytesDownloaded() const
{
    return m_session->bytesDownloaded();
}

int UpdateFlow::releasesAccepted() const
{
    return m_session->releasesAccepted();
}

Morvaniel::GameUpdateContext &UpdateFlow::context()
{
    return m_session->ctx();
}

void UpdateFlow::stage(const QString &name, const QString &detail)
{
    emit stageChanged(name, detail);
}

void UpdateFlow::info(const QString &text, const QJsonObject &fields)
{
    emit message(text, fields);
}

void UpdateFlow::warning(const QString &text)
{
    emit warningRaised(text);
}

void UpdateFlow::error(const QString &text)
{
    emit errorRaised(text);
}
