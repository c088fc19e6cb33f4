#pragma once

#include "MorvanielGlobal.h"
#include "core/ICoreComponent.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

namespace Morvaniel {

class DownloaderManager;
class GameUpdateContext;
struct DownloadCallbackInfo;

// The download subsystem as a registry component: forwards to the
// DownloaderManager singleton while it lives and does nothing afterwards.
class MORVANIEL_EXPORT DownloadComponent : public ICoreComponent
{
public:
    DownloadComponent();
    ~DownloadComponent() override;

    void Setup(EComponentType) override { }
    virtual void RegistCallbackFunc(std::function<void(DownloadCallbackInfo &)> fn);
    virtual void StartDownload(GameUpdateContext &ctx);
    virtual void PauseDownload(GameUpdateContext &ctx);
    virtual void ResumeDownload(GameUpdateContext &ctx);

    void SetSpeedLimit();
    void GetContentByUrl(
        QString url, std::function<void(const QString &, int)> callback, const QString &postData, bool bWait);
    // See DownloaderManager.
    void GetContentBytesByUrl(QString url, qint64 maxBytes, std::function<void(const QByteArray &, int)> callback);
    void AbortContentRequests();
    void GetImage(QString url, std::function<void(const QByteArray &)> callback);
    void GetImageByUrl(QString url, std::function<void(const char *, int)> callback);
    void ShowMsg();

private:
    QPointer<DownloaderManager> m_manager;
};

MORVANIEL_EXPORT std::shared_ptr<DownloadComponent> GetDownloadComponent();

} // namespace Morvaniel
