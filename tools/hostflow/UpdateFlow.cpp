#include "UpdateFlow.h"

#include "GameUpdater.h"
#include "InstallCheck.h"
#include "InstallLock.h"
#include "LauncherUpdate.h"
#include "StageRunner.h"

#include "core/GameUpdateContext.h"
#include "download/DownloaderManager.h"
#include "trust/ReleaseTrust.h"

#include <QTimer>

namespace HostFlow {

UpdateFlow::UpdateFlow(QObject *parent)
    : QObject(parent)
    , m_reporter(new FlowReporter(this))
    , m_runner(new StageRunner(*m_reporter, this))
    , m_lock(new InstallLock)
{
    m_runner->setStoppedHandler([this](const StageEnd &) {
        // A stage that finished beside the stopped ones may have ended the
        // run already (failed or done): it was not paused then.
        if (m_ending)
            return;
        if (m_part)
            m_part->stopped();
        end(Paused);
    });
}

UpdateFlow::~UpdateFlow()
{
    // The runner goes first (it is a child): it stops the stage under way and
    // gives the library's callbacks back before the part they lead to goes.
    delete m_runner;
    m_part.reset();
    if (m_running)
        Morvaniel::ReleaseTrust::EndRun();
}

bool UpdateFlow::update()
{
    return begin(std::make_unique<GameUpdater>(*m_runner, m_options, [this](int result) { end(result); }));
}

bool UpdateFlow::check()
{
    return begin(std::make_unique<InstallCheck>(
        *m_runner, m_options, [this](int result) { end(result); }, InstallCheck::Mode::Check));
}

bool UpdateFlow::verify(bool repair)
{
    return begin(std::make_unique<InstallCheck>(
        *m_runner, m_options, [this](int result) { end(result); },
        repair ? InstallCheck::Mode::Repair : InstallCheck::Mode::Verify));
}

bool UpdateFlow::checkLauncher()
{
    return begin(std::make_unique<LauncherUpdate>(
        *m_runner, m_options, [this](int result) { end(result); }, true));
}

bool UpdateFlow::updateLauncher()
{
    return begin(std::make_unique<LauncherUpdate>(
        *m_runner, m_options, [this](int result) { end(result); }, false));
}

bool UpdateFlow::begin(std::unique_ptr<FlowPart> part)
{
    if (m_running)
        return false;
    m_running = true;
    m_ending = false;
    m_reporter->reset();
    m_runner->reset(m_options);
    // The keys of this run's options, whichever view set them: none, no signed releases.
    Morvaniel::ReleaseTrust::SetTrustedKeys(m_options.trustedKeys);
    Morvaniel::DownloaderManager::GetInstance()->SetSplit(m_options.split);
    m_part = std::move(part);
    QString error;
    bool busy = false;
    if (!m_lock->acquire(m_options.installDir, error, busy)) {
        FlowError e;
        e.kind = busy ? Failure::Busy : Failure::NotWritable;
        e.path = m_options.installDir;
        e.message = error;
        m_reporter->fail(e);
        end(Failed);
        return true;
    }
    m_part->start();
    return true;
}

void UpdateFlow::end(int result)
{
    if (m_ending)
        return;
    m_ending = true;
    // From the event loop: the part that ended the run is still on the stack.
    QTimer::singleShot(0, this, [this, result]() {
        m_part.reset();
        m_lock->release();
        Morvaniel::ReleaseTrust::EndRun();
        m_running = false;
        emit finished(result);
    });
}

void UpdateFlow::stop()
{
    if (m_running && !m_ending)
        m_runner->stop();
}

bool UpdateFlow::stopping() const
{
    return m_running && m_runner->stopping();
}

void UpdateFlow::answerFilesInUse(bool retry)
{
    m_runner->answerFilesInUse(retry);
}

void UpdateFlow::setSpeedLimit(int kib)
{
    m_options.limitKiB = kib < 1 ? -1 : kib;
    m_runner->setSpeedLimit(kib);
}

qint64 UpdateFlow::bytesDownloaded() const
{
    return m_runner->bytesDownloaded();
}

Morvaniel::GameUpdateContext &UpdateFlow::context()
{
    return m_runner->context();
}

} // namespace HostFlow
