#include "core/DownloadComponent.h"

#include "core/ComponentLookup.h"
#include "download/DownloaderManager.h"
#include "util/Logger.h"

namespace Morvaniel {

DownloadComponent::DownloadComponent()
    : m_manager(DownloaderManager::GetInstance())
{
}

DownloadComponent::~DownloadComponent() = default;

void DownloadComponent::RegistCallbackFunc(std::function<void(DownloadCallbackInfo &)> fn)
{
    if (m_manager)
        m_manager->RegistCallbackFunc(std::move(fn));
}

void DownloadComponent::StartDownload(GameUpdateContext &ctx)
{
    if (m_manager)
        m_manager->StartDownload(ctx);
}

void DownloadComponent::PauseDownload(GameUpdateContext &ctx)
{
    if (m_manager)
        m_manager->PauseDownload(ctx);
}

void DownloadComponent::ResumeDownload(GameUpdateContext &ctx)
{
    if (m_manager)
        m_manager->ResumeDownload(ctx);
}

void DownloadComponent::SetSpeedLimit()
{
    if (m_manager)
        m_manager->SetSpeedLimit();
}

void DownloadComponent::GetContentByUrl(
    QString url, std::function<void(const QString &, int)> callback, const QString &postData, bool bWait)
{
    if (m_manager)
        m_manager->GetContentByUrl(std::move(url), std::move(callback), postData, bWait);
}

void DownloadComponent::GetContentBytesByUrl(
    QString url, qint64 maxBytes, std::function<void(const QByteArray &, int)> callback)
{
    if (m_manager)
        m_manager->GetContentBytesByUrl(std::move(url), maxBytes, std::move(callback));
}

void DownloadComponent::AbortContentRequests()
{
    if (m_manager)
        m_manager->AbortContentRequests();
}

void DownloadComponent::GetImage(QString url, std::function<void(const QByteArray &)> callback)
{
    if (m_manager)
        m_manager->GetImage(std::move(url), std::move(callback));
}

void DownloadComponent::GetImageByUrl(QString url, std::function<void(const char *, int)> callback)
{
    if (m_manager)
        m_manager->GetImageByUrl(std::move(url), std::move(callback));
}

void DownloadComponent::ShowMsg()
{
    Logger::LogInfo("download", "showMsg");
}

std::shared_ptr<DownloadComponent> GetDownloadComponent()
{
    return ComponentOf<DownloadComponent>(EComponentType::Download);
}

} // namespace Morvaniel
