#pragma once

#include "StageHandler.h"

#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

namespace HostFlow {

// A document from the server through the library's content requests: as text,
// or as raw bytes (the signed release's document and signature, whose bytes
// are what was signed).
class FetchStage : public StageHandler
{
public:
    explicit FetchStage(StageRunner &runner);
    ~FetchStage() override;

    // maxBytes > 0: raw bytes, at most that many.
    void setRequest(const QString &url, qint64 maxBytes);

    void start(Morvaniel::GameUpdateContext &ctx) override;
    // Every content request in flight ends; its end follows.
    void stop() override;

private:
    void answered(quint64 request, const QString &text, const QByteArray &bytes, int code, const QString &why);

    QString m_url;
    qint64 m_maxBytes = 0;
    quint64 m_request = 0;
    bool m_stopped = false;
    QNetworkAccessManager *m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
};

} // namespace HostFlow
