#include "FetchStage.h"

#include "StageRunner.h"

#include "core/DownloadComponent.h"
#include "download/ContentRequest.h"
#include "trust/ReleaseTrust.h"

#include <QPointer>

using namespace Morvaniel;

namespace HostFlow {

void FetchStage::setRequest(const QString &url, qint64 maxBytes)
{
    m_url = url;
    m_maxBytes = maxBytes;
}

void FetchStage::start(GameUpdateContext &)
{
    const quint64 request = ++m_request;
    // The library keeps the callback until the request ends; the runner may be gone by then.
    QPointer<StageRunner> runner(&m_runner);
    if (m_maxBytes > 0) {
        GetDownloadComponent()->GetContentBytesByUrl(
            m_url, m_maxBytes, [this, runner, request](const QByteArray &bytes, int code) {
                if (runner)
                    answered(request, QString(), bytes, code);
            });
        return;
    }
    GetDownloadComponent()->GetContentByUrl(
        m_url,
        [this, runner, request](const QString &text, int code) {
            if (runner)
                answered(request, text, QByteArray(), code);
        },
        QString(), false);
}

void FetchStage::stop()
{
    GetDownloadComponent()->AbortContentRequests();
}

void FetchStage::answered(quint64 request, const QString &text, const QByteArray &bytes, int code)
{
    // An answer to a request of a stage that already ended.
    if (request != m_request)
        return;
    ++m_request;
    StageEnd end;
    end.stage = Stage::Fetch;
    end.ok = code == 0;
    end.text = text;
    end.bytes = bytes;
    if (!end.ok)
        end.error = networkError(QStringLiteral("could not fetch %1").arg(m_url), m_url, code, QString());
    // Signed, a document past its listed size is not the one the publisher signed.
    if (!end.ok && code == ContentTooLargeCode && ReleaseTrust::IsEnabled())
        end.error.kind = Failure::Refused;
    finish(end);
}

} // namespace HostFlow
