#include "FetchStage.h"

#include "StageRunner.h"

#include "core/DownloadComponent.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

using namespace Morvaniel;

namespace HostFlow {

FetchStage::FetchStage(StageRunner &runner)
    : StageHandler(runner)
    , m_network(new QNetworkAccessManager(&runner))
{
}

FetchStage::~FetchStage() = default;

void FetchStage::setRequest(const QString &url, qint64 maxBytes)
{
    m_url = url;
    m_maxBytes = maxBytes;
}

void FetchStage::start(GameUpdateContext &)
{
    const quint64 request = ++m_request;
    m_stopped = false;
    QPointer<StageRunner> runner(&m_runner);
    if (m_maxBytes <= 0) {
        GetDownloadComponent()->GetContentByUrl(
            m_url,
            [this, runner, request](const QString &text, int code) {
                if (runner)
                    answered(request, text, QByteArray(), code, QString());
            },
            QString(), false);
        return;
    }
    QNetworkRequest get{ QUrl(m_url) };
    get.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    get.setTransferTimeout(30000);
    QNetworkReply *reply = m_network->get(get);
    m_reply = reply;
    const qint64 maxBytes = m_maxBytes;
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply, [reply, maxBytes](qint64 received, qint64) {
        if (received > maxBytes)
            reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply, request, maxBytes]() {
        reply->deleteLater();
        const QByteArray bytes = reply->readAll();
        if (bytes.size() > maxBytes)
            answered(request, QString(), QByteArray(), int(QNetworkReply::UnknownContentError),
                QStringLiteral("more than %1 bytes").arg(maxBytes));
        else
            answered(request, QString(), bytes, int(reply->error()), reply->errorString());
    });
}

void FetchStage::stop()
{
    m_stopped = true;
    if (m_reply)
        m_reply->abort();
    else
        answered(m_request, QString(), QByteArray(), int(QNetworkReply::OperationCanceledError), QString());
}

void FetchStage::answered(quint64 request, const QString &text, const QByteArray &bytes, int code, const QString &why)
{
    // An answer to a request that already ended (stopped before the library answered).
    if (request != m_request)
        return;
    ++m_request;
    StageEnd end;
    end.stage = Stage::Fetch;
    end.ok = code == 0 && !m_stopped;
    end.text = text;
    end.bytes = bytes;
    if (!end.ok)
        end.error = networkError(QStringLiteral("could not fetch %1").arg(m_url), m_url, code, why);
    finish(end);
}

} // namespace HostFlow
