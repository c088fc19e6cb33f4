#pragma once

#include "StageHandler.h"

#include <QString>

namespace HostFlow {

// A document from the server through the library's content requests: as text,
// or as raw bytes (the signed release's document and signature, whose bytes
// are what was signed). Both are bounded in bytes and in time by the library.
class FetchStage : public StageHandler
{
public:
    using StageHandler::StageHandler;

    // maxBytes > 0: raw bytes, at most that many.
    void setRequest(const QString &url, qint64 maxBytes);
    QString url() const { return m_url; }
    qint64 maxBytes() const { return m_maxBytes; }

    void start(Morvaniel::GameUpdateContext &ctx) override;
    // Every content request in flight ends at once, through its callback.
    void stop() override;

private:
    void answered(quint64 request, const QString &text, const QByteArray &bytes, int code);

    QString m_url;
    qint64 m_maxBytes = 0;
    quint64 m_request = 0;
};

} // namespace HostFlow
